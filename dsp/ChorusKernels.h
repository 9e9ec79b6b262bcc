#pragma once

#include <cstdint>

/**
    The chorus voice's per-sample arithmetic done for a run of samples in
    vector lanes. Every lane performs exactly the IEEE operations, in the
    same order and precision, that ChorusVoice::processSample performs for
    one sample, so the results are the same to the last bit; only the order
    of independent work differs.

    The kernels are compiled once for each instruction set the build knows
    (SSSE3, SSE4, AVX2, AVX-512 on 512-bit and on 256-bit vectors, and a
    portable fallback) and the best one the processor supports is chosen at
    run time.
*/
namespace ChorusKernels
{
    /** The most samples one vector holds; a voice may only be processed in
        runs while its delay is at least this long. */
    constexpr int maxLanes = 16;

    /** What the delay time of a voice is computed from. */
    struct SweepSettings
    {
        float minDelayMs;
        float rangeMs;           // maxDelayMs - minDelayMs
        float depthPercent;
        double samplesPerMs;
    };

    /** How a voice's wet signal w meets the dry signal x. */
    enum class Mix : int32_t
    {
        add,              // out0 = w * mix + x
        subtract,         // out0 = x - w * mix
        addAndSubtract    // out0 = mix * w + x, out1 = x - mix * w
    };

    /** One voice's line and signals for a run. None of the arrays may pass
        the end of its memory within the run (the caller splits runs where
        a ring wraps). */
    struct Voice
    {
        float* buffer;           // the line
        int32_t length;
        int32_t writeIndex;
        float feedbackGain;
        const float* input;      // what processSample would get (from the pre-delay ring)
        float* keep;             // where each dry sample goes (into the pre-delay ring,
                                 // one position behind `input`)
        const float* dry;        // may be out0 or out1
        float* out0;
        float* out1;
        Mix how;
        float mix;
        float lastOutput;        // set: the last delayed sample read
    };

    /** The delay of the last sample of a run, as the line keeps it. */
    struct LastDelay
    {
        float ms;
        float samples;
    };

    /** numSamples steps of one or two voices that share their sweep: the
        oscillator phases are phase0 + k * step (k from 0), which must be
        exact in float (the caller sees to it), reading the plain unipolar
        triangle. Per sample: the delay, the interpolated read (the delay is
        at least maxLanes samples), the write of the input plus the fed-back
        delayed sample, the output with the line's wet gain 1, and the dry
        sample kept. */
    LastDelay process (const SweepSettings&, float phase0, float step, int numSamples, Voice* voices, int numVoices) noexcept;

    /** The same at the phases given, one for each sample; `phases` holds at
        least maxLanes values even when numSamples is smaller. */
    LastDelay processAt (const SweepSettings&, const float* phases, int numSamples, Voice* voices, int numVoices) noexcept;

    /** Only the delay in samples for each of those phases. */
    void delays (const SweepSettings&, float phase0, float step, int numSamples, float* delaySamples) noexcept;

    /** The bit that stands for AVX-512's instructions on 256-bit vectors
        among the instruction sets below (Highway's own bits name the
        others). */
    constexpr int64_t avx3On256Bits = int64_t { 1 } << 20;

    /** The instruction sets compiled in, as a bit set, and a name for each.
        For tests: useOnly() restricts the run-time choice to one of them, and
        useOnly (0) returns to the best one the processor supports. */
    int64_t compiledTargets() noexcept;
    int64_t supportedTargets() noexcept;
    const char* targetName (int64_t target) noexcept;
    void useOnly (int64_t target) noexcept;

    /** The instruction set the kernels run with. Calling it once outside the
        audio thread also makes the run-time choice there. */
    const char* activeTarget() noexcept;
}
