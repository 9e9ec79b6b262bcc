#pragma once

#include <cstdint>

/**
    The chorus voice's per-sample arithmetic done a block at a time in vector
    lanes. Every lane performs exactly the IEEE operations, in the same order
    and precision, that ChorusVoice::processSample performs for one sample, so
    the results are the same to the last bit; only the order of independent
    work differs.

    The kernels are compiled once for each instruction set the build knows
    (SSSE3, SSE4, AVX2, AVX-512 and a portable fallback) and the best one the
    processor supports is chosen at run time.
*/
namespace ChorusKernels
{
    /** The most samples one vector holds; a voice may only be processed in
        blocks while its delay is at least this long. */
    constexpr int maxLanes = 16;

    /** What the delay time of a voice is computed from. */
    struct SweepSettings
    {
        float minDelayMs;
        float rangeMs;           // maxDelayMs - minDelayMs
        float depthPercent;
        double samplesPerMs;
    };

    /** Delay in samples for oscillator phases phase0 + k * step, k from 0 to
        numSamples - 1, reading the plain unipolar triangle: the phase sums
        must be exact (the caller sees to it). Writes whole vectors, so
        `delaySamples` needs room for maxLanes - 1 values past the end. */
    void sweep (const SweepSettings&, float phase0, float step, int numSamples, float* delaySamples) noexcept;

    /** How a voice's wet signal w meets the dry signal x. */
    enum class Mix : int32_t
    {
        add,              // out0 = w * mix + x
        subtract,         // out0 = x - w * mix
        addAndSubtract    // out0 = mix * w + x, out1 = x - mix * w
    };

    struct Line
    {
        float* buffer;
        int32_t length;
        int32_t writeIndex;      // writeIndex + numSamples must not pass length
        float feedbackGain;
    };

    /** One voice's reads and writes for a block, with the line's wet gain 1:
        for each sample the interpolated read at its delay (at least maxLanes
        samples), the write of the pre-delayed input plus the fed-back delayed
        sample, and the output. `dry` may be `out0` or `out1`. Returns the
        last delayed sample read. */
    float readWrite (const Line&, const float* delaySamples, const float* input, const float* dry,
                     float mix, float* out0, float* out1, int numSamples, Mix) noexcept;

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
