#pragma once

#include "dsp/DelayLine.h"
#include "dsp/WavetableLfo.h"

#include <cmath>

/**
    One channel's chorus voice: a delay line whose delay time the oscillator
    sweeps between a minimum and a maximum, read with linear interpolation.

    Settings are plain fields that the owner writes. `depthPercent`,
    `minDelayMs` and `maxDelayMs` act at the next sample; speed, waveform,
    feedback and mix act once the owner copies them into the oscillator and
    the line (ChorusEngine does) or at the next prepare(); `mode` at the next
    prepare().
*/
class ChorusVoice
{
public:
    /** Delay ranges applied by prepare(). */
    enum Mode : int32_t
    {
        shortMode = 0,          // 0.1 to 7 ms
        shortNoFeedbackMode = 1,// 0 to 7 ms, feedback held at 0
        chorusMode = 2          // 5 to 30 ms
    };

    ChorusVoice();

    /** Sizes and clears the line for a rate in hertz (at least 1), restarts
        the oscillator and applies the mode and settings. Only while the audio
        thread is not processing. Allocates. With lineIsZero the caller
        vouches that the line's store holds nothing but zeros nothing wrote,
        and it is not cleared again. */
    void prepare (int32_t sampleRate, bool lineIsZero = false);

    /** One step of the voice. Audio thread only, after a prepare(). */
    inline float processSample (float input) noexcept;

    /** The delay time in milliseconds for an oscillator output l. */
    float delayMsFor (float l) const noexcept
    {
        // The sweep is formed in float; scaling by depth and the offset in double.
        const float sweep = (maxDelayMs - minDelayMs) * l;
        return (float) ((double) minDelayMs + (double) sweep * (double) depthPercent / 100.0);
    }

    /** Whether the engine may run this voice's steps in vector runs
        (ChorusKernels): the settings the engine gives it (plain unipolar
        triangle, wet gain 1), a delay of at least one vector, the
        oscillator within its limits. */
    bool processesInBlocks() const noexcept;

    /** Whether the other voice's oscillator and delay go exactly the same
        way as this one's, so that one sweep serves both. */
    bool sweepsLike (const ChorusVoice& other) const noexcept;

    WavetableLfo lfo;
    DelayLine line;
    float minDelayMs = 0.0f;
    float maxDelayMs = 0.0f;
    float mixPercent = 100.0f;     // the owner sets it before the first prepare
    float depthPercent = 50.0f;
    float speedHz = 0.18f;
    float feedbackPercent = 0.0f;
    int32_t mode = shortMode;
    int32_t waveform = Sine;
};

inline float ChorusVoice::processSample (float x) noexcept
{
    const float l = lfo.tick();
    line.delayMs = delayMsFor (l);
    line.updateReadPosition();

    const auto delayWhole = (int32_t) line.delaySamples;
    const float frac = line.delaySamples - (float) delayWhole;

    // Below one sample of delay the newest sample is the input itself, which
    // is not stored yet.
    const float cur = (line.readIndex == line.writeIndex && line.delaySamples < 1.0f)
                          ? x
                          : line.buffer[(size_t) line.readIndex];
    const int32_t prevIndex = line.readIndex == 0 ? line.length - 1 : line.readIndex - 1;
    const float prev = line.buffer[(size_t) prevIndex];

    const float y = frac * prev + (1.0f - frac) * cur;
    line.lastOutput = y;

    // A delayed sample that is not finite is not fed back: y * 0 is NaN for an
    // infinite y, so one bad input sample would otherwise circulate in the
    // line for ever and silence the voice until the next prepare. For every
    // finite y this stores exactly y * feedbackGain + x.
    const float fedBack = std::isfinite (y) ? y * line.feedbackGain : 0.0f;
    line.buffer[(size_t) line.writeIndex] = fedBack + x;

    if (++line.writeIndex == line.length)
        line.writeIndex = 0;

    if (++line.readIndex == line.length)
        line.readIndex = 0;

    return (float) ((1.0 - (double) line.wetGain) * (double) x + (double) (line.wetGain * y));
}
