#include "dsp/ChorusVoice.h"

#include "dsp/ChorusKernels.h"

#include <algorithm>
#include <cstring>

ChorusVoice::ChorusVoice()
{
    lfo.frequency = 0.0f;
}

void ChorusVoice::prepare (int32_t sampleRate, bool lineIsZero)
{
    lfo.phase = 0.0f;

    line.sampleRate = sampleRate;
    line.length = 2 * sampleRate;
    // Sized, then cleared whole at memory speed: a store's elements made by
    // resize() hold whatever its memory held (DelayLine.h). A caller who
    // knows the store holds zeros nothing wrote (a fresh one) saves the
    // clearing.
    line.buffer.resize ((size_t) line.length);

    if (! lineIsZero)
        std::fill (line.buffer.begin(), line.buffer.end(), 0.0f);
    line.readIndex = 0;
    line.writeIndex = 0;
    line.lastOutput = 0.0f;

    lfo.unipolar = 1;
    lfo.bandLimited = 0;

    switch (mode)
    {
        case shortNoFeedbackMode:
            minDelayMs = 0.0f;
            maxDelayMs = 7.0f;
            line.feedbackPercent = 0.0f;
            break;

        case chorusMode:
            minDelayMs = 5.0f;
            maxDelayMs = 30.0f;
            line.feedbackPercent = feedbackPercent;
            break;

        default:
            minDelayMs = 0.1f;
            maxDelayMs = 7.0f;
            line.feedbackPercent = feedbackPercent;
            break;
    }

    lfo.frequency = speedHz;
    lfo.waveform = waveform;
    lfo.increment = WavetableLfo::incrementFor (speedHz, (double) sampleRate);

    line.mixPercent = mixPercent;
    line.update();

    lfo.running = true;
}

bool ChorusVoice::processesInBlocks() const noexcept
{
    // The plain unipolar triangle, running.
    if (! lfo.running || lfo.waveform != Triangle || lfo.bandLimited != 0 || lfo.unipolar != 1 || lfo.inverted)
        return false;

    // The oscillator and the settings within their limits (each comparison
    // false for NaN), the wet gain 1. The delay grows with the oscillator's
    // output (0 to 1) from exactly minDelayMs: each vector must read only
    // what earlier ones wrote, and reads stay inside the line (twice the
    // longest delay is a generous bound).
    const float size = (float) WavetableLfo::tableSize;
    return (lfo.increment >= 0.0f) & (lfo.increment < size) & (lfo.phase >= 0.0f) & (lfo.phase < size)
         & (depthPercent >= 0.0f) & (depthPercent <= 100.0f)
         & (minDelayMs >= 0.0f) & (maxDelayMs >= minDelayMs)
         & (line.wetGain == 1.0f)
         & (line.delaySamplesFor (minDelayMs) >= (float) ChorusKernels::maxLanes)
         & (2.0 * (double) maxDelayMs * line.samplesPerMs < (double) (line.length - 2));
}

bool ChorusVoice::sweepsLike (const ChorusVoice& other) const noexcept
{
    const auto same = [] (const auto& a, const auto& b) { return std::memcmp (&a, &b, sizeof (a)) == 0; };

    return same (lfo.phase, other.lfo.phase) && same (lfo.increment, other.lfo.increment)
        && same (minDelayMs, other.minDelayMs) && same (maxDelayMs, other.maxDelayMs)
        && same (depthPercent, other.depthPercent) && same (line.samplesPerMs, other.line.samplesPerMs);
}
