#include "dsp/ChorusVoice.h"

#include <algorithm>
#include <cstring>

ChorusVoice::ChorusVoice()
{
    lfo.frequency = 0.0f;
}

void ChorusVoice::prepare (int32_t sampleRate)
{
    lfo.phase = 0.0f;

    line.sampleRate = sampleRate;
    line.length = 2 * sampleRate;
    line.buffer.assign ((size_t) line.length, 0.0f);
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
    const bool plainUnipolarTriangle = lfo.running && lfo.currentTable() == WavetableLfo::triangleTable
                                    && lfo.unipolar == 1 && ! lfo.inverted;

    // The oscillator within its limits (false for NaN too).
    const bool oscillatorInRange = lfo.increment >= 0.0f && lfo.increment < (float) WavetableLfo::tableSize
                                && lfo.phase >= 0.0f && lfo.phase < (float) WavetableLfo::tableSize;

    const bool settingsInRange = depthPercent >= 0.0f && depthPercent <= 100.0f
                              && minDelayMs >= 0.0f && maxDelayMs >= minDelayMs
                              && line.wetGain == 1.0f && line.samplesPerMs > 0.0;

    if (! (plainUnipolarTriangle && oscillatorInRange && settingsInRange))
        return false;

    // The delay grows with the oscillator's output (0 to 1). Each vector
    // must read only what earlier ones wrote, and reads stay inside the line
    // (2 is a generous bound on the output).
    return line.delaySamplesFor (delayMsFor (0.0f)) >= (float) ChorusKernels::maxLanes
        && line.delaySamplesFor (delayMsFor (2.0f)) < (float) (line.length - 1);
}

bool ChorusVoice::sweepsLike (const ChorusVoice& other) const noexcept
{
    const auto same = [] (const auto& a, const auto& b) { return std::memcmp (&a, &b, sizeof (a)) == 0; };

    return same (lfo.phase, other.lfo.phase) && same (lfo.increment, other.lfo.increment)
        && same (minDelayMs, other.minDelayMs) && same (maxDelayMs, other.maxDelayMs)
        && same (depthPercent, other.depthPercent) && same (line.samplesPerMs, other.line.samplesPerMs);
}

void ChorusVoice::sweep (float* delaySamples, int n) noexcept
{
    const ChorusKernels::SweepSettings settings { minDelayMs, maxDelayMs - minDelayMs, depthPercent, line.samplesPerMs };

    float phase = lfo.phase;
    float lastPhase = phase;

    for (int done = 0; done < n;)
    {
        float step = 0.0f;
        const int run = std::min (WavetableLfo::uniformSteps (phase, lfo.increment, step), n - done);

        if (run > 0)
        {
            ChorusKernels::sweep (settings, phase, step, run, delaySamples + done);
            lastPhase = phase + (float) (run - 1) * step;
            phase = phase + (float) run * step;
            done += run;
        }
        else
        {
            // A tick that crosses a power of two or wraps, or rounds by
            // parity: taken as tick() takes it.
            ChorusKernels::sweep (settings, phase, 0.0f, 1, delaySamples + done);
            lastPhase = phase;
            phase = WavetableLfo::advance (phase, lfo.increment);
            ++done;
        }
    }

    lfo.phase = phase;
    line.delayMs = delayMsFor (lfo.valueAt (lastPhase));
    line.delaySamples = line.delaySamplesFor (line.delayMs);
}

void ChorusVoice::followSweep (const ChorusVoice& leader) noexcept
{
    lfo.phase = leader.lfo.phase;
    line.delayMs = leader.line.delayMs;
    line.delaySamples = leader.line.delaySamples;
}

void ChorusVoice::readWrite (const float* delaySamples, const float* input, const float* dry, float mix,
                             float* out0, float* out1, int n, ChorusKernels::Mix how) noexcept
{
    for (int done = 0; done < n;)
    {
        // The kernel writes consecutive positions: split where the line wraps.
        const int count = std::min (n - done, line.length - line.writeIndex);
        const ChorusKernels::Line view { line.buffer.data(), line.length, line.writeIndex, line.feedbackGain };

        line.lastOutput = ChorusKernels::readWrite (view, delaySamples + done, input + done, dry + done, mix,
                                                    out0 + done, out1 == nullptr ? nullptr : out1 + done, count, how);

        line.writeIndex += count;
        if (line.writeIndex == line.length)
            line.writeIndex = 0;

        done += count;
    }

    // Where the last step left the read position: its own, advanced by one.
    line.readIndex = line.writeIndex - (int32_t) delaySamples[n - 1];
    if (line.readIndex < 0)
        line.readIndex += line.length;
}
