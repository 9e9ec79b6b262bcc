#pragma once

#include "dsp/ChorusVoice.h"
#include "dsp/PreDelayBuffer.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

/**
    The plug-in's signal path: per channel a 20 ms pre-delay and a chorus
    voice sweeping 5 to 30 ms, mixed into the dry signal by a routing function
    chosen from the channel layout. Blocks are processed in place.

    The routings give, sample for sample and to the last bit, what the
    per-sample steps (PreDelayBuffer::step, ChorusVoice::processSample) give,
    but run them in vector runs wherever the settings allow (ChorusKernels),
    with one sweep for both voices while they are in the same state. The mix
    is read once per block.

    Threads: the control values (`mix`, `depthPercent`, `speedHz`,
    `feedbackPercent`) may be stored from any thread. applyControls() may be
    called from any thread; it hands the values over to the audio thread,
    which copies them into the voices before the next sample it processes, so
    no voice field is ever written by two threads. setSampleRate() and a
    selectRouting() from outside the audio thread need processing to be
    stopped (the processor holds its callback lock around them).
*/
class ChorusEngine
{
public:
    using Routing = void (*) (ChorusEngine&, float* const* channels, int numChannels, int numSamples) noexcept;

    /** Rates outside this range would leave a ring empty or overflow the
        buffer arithmetic; the engine ignores them. */
    static constexpr uint32_t minSampleRate = 50;
    static constexpr uint32_t maxSampleRate = 1536000;
    static constexpr int32_t fallbackSampleRate = 44100;

    static bool isUsableSampleRate (double rate) noexcept
    {
        return rate >= (double) minSampleRate && rate < (double) maxSampleRate + 1.0;
    }

    /** Builds the engine for a rate in hertz (44100 if the rate is unusable).
        Allocates. */
    explicit ChorusEngine (int32_t sampleRate);

    /** Re-prepares both voices and rebuilds both pre-delay rings when the rate
        differs from the current one; does nothing for an unusable rate, and
        for the current one only makes sure that the delay lines' memory is
        mapped in (which the engine leaves until it is first prepared to play,
        so that lines replaced before then never cost a page). If an
        allocation fails, std::bad_alloc reaches the caller and the engine
        stays as it was. Only while processing is stopped. */
    void setSampleRate (uint32_t rate);

    /** Empties the pre-delay rings and the delay lines and restarts the
        oscillators, keeping the rate, the routing and the controls: the
        engine then goes on exactly as one just built and prepared for the
        same rate and settings. Allocates nothing. Only while processing is
        stopped. */
    void reset() noexcept;

    /** Copies depth, speed and feedback into both voices, before the next
        sample that process() handles. Any thread; never blocks. */
    void applyControls() noexcept { controlsPending.store (true, std::memory_order_release); }

    /** Picks the routing for a number of processed channels and output
        channels, each clamped to 0..2. */
    void selectRouting (int32_t processedChannels, int32_t outputChannels) noexcept;

    /** Runs the current routing over a block, in place. Audio thread. A block
        without samples or channels changes nothing. */
    void process (float* const* channels, int numChannels, int numSamples) noexcept;

    /** The same for any buffer with JUCE's AudioBuffer interface. Taking the
        write pointers tells the buffer it is no longer known to be silent. */
    template <typename Buffer>
    void process (Buffer& buffer) noexcept
    {
        if (buffer.getNumSamples() > 0 && buffer.getNumChannels() > 0)
            process (buffer.getArrayOfWritePointers(), buffer.getNumChannels(), buffer.getNumSamples());
    }

    /** Input whose samples are all zero or at least this large in magnitude
        (2^-40, about 9.1e-13 or -241 dBFS) leads to no subnormal number
        anywhere in the arithmetic, as long as nothing is fed back and the
        mix is 0 or at least minimumMixForNormalResults (the mix knob's
        smallest step gives 0.0075): the interpolation weights are zero or
        at least 2^-25, and a sum of values that are zero or at least 2^-m
        is zero or at least 2^-(m + 23). Flushing subnormals to zero then
        changes no output bit. */
    static constexpr float smallInput = 0x1p-40f;
    static constexpr float minimumMixForNormalResults = 0x1p-15f;

    /** Whether the next block is worth running with subnormals flushed to
        zero: the input the voices take is at a level where subnormals arise
        (a channel's first sample is nonzero and below smallInput, as
        throughout a decaying tail that nothing flushed), or was so within
        the time a sample stays in a voice, or the settings give no bound.
        Counts the block as processed: call it right before process() with
        the same buffer. Audio thread.

        A block that starts louder is processed unflushed, with whatever
        subnormals its own samples bring, exactly as IEEE arithmetic has it. */
    template <typename Buffer>
    bool wantsSubnormalsFlushed (const Buffer& buffer) noexcept
    {
        const int numSamples = buffer.getNumSamples();
        const int numChannels = buffer.getNumChannels();

        if (numSamples <= 0 || numChannels <= 0 || routing == processCopy)
            return false;

        const bool small = isSmall (buffer.getReadPointer (0)[0]) || (numChannels > 1 && isSmall (buffer.getReadPointer (1)[0]));

        if (small)
            samplesSinceSmallInput = 0;

        const bool recently = samplesSinceSmallInput < samplesHeld;
        samplesSinceSmallInput = std::min (samplesSinceSmallInput + numSamples, quietForEver);

        const float gain = mix.load (std::memory_order_relaxed);
        const bool unbounded = ! (gain == 0.0f || gain >= minimumMixForNormalResults)
                            || feedbackPercent.load (std::memory_order_relaxed) != 0.0f;

        return small || recently || unbounded;
    }

    static void processCopy (ChorusEngine&, float* const*, int, int) noexcept;
    static void processMono (ChorusEngine&, float* const*, int, int) noexcept;
    static void processMonoToStereo (ChorusEngine&, float* const*, int, int) noexcept;
    static void processStereo (ChorusEngine&, float* const*, int, int) noexcept;

    PreDelayBuffer preDelay[2];
    ChorusVoice voice[2];
    std::atomic<float> mix { 0.75f };             // wet gain, 0 to 0.75
    std::atomic<float> depthPercent { 50.0f };    // 0 to 100
    std::atomic<float> speedHz { 0.0f };          // 0.02 to 5 from the parameters
    std::atomic<float> feedbackPercent { 0.0f };  // no parameter drives it
    uint32_t sampleRate = 0;
    Routing routing = processCopy;

private:
    /** Copies the control values into both voices. Audio thread, or while
        nothing else touches the engine. */
    void copyControlsToVoices() noexcept;

    /** setSampleRate's re-preparation for another rate; lines that hold
        only zeros nothing wrote (as built) are not written again. */
    void resize (uint32_t rate, bool linesAreZero);

    /** Maps in and writes once every page of the delay lines, if that has
        not been done since they were made. */
    void makeLinesResident() noexcept;

    bool linesResident = false;

    std::atomic<bool> controlsPending { false };

    /** Nonzero and below smallInput in magnitude (subnormals included, NaN
        not), on the bits. */
    static bool isSmall (float x) noexcept
    {
        uint32_t bits = 0;
        std::memcpy (&bits, &x, sizeof (bits));
        return (bits & 0x7fffffffu) - 1u < 0x2b800000u - 1u;   // 0x2b800000: 2^-40
    }

    // Samples processed since input was last found small (capped), and how
    // long a sample stays inside a voice: its pre-delay and longest delay.
    static constexpr int32_t quietForEver = 1 << 30;
    int32_t samplesSinceSmallInput = quietForEver;
    int32_t samplesHeld = 0;

public:
    /** Working memory of the block path (ChorusEngine.cpp), audio thread
        only. */
    struct BlockPath
    {
        // Where a pre-delay ring's samples are kept in one piece in blocks
        // where the ring wraps.
        static constexpr int standInFrames = 32;   // two vectors of the widest kernel
        float standInInput[2][standInFrames] {};
        float standInKeep[2][standInFrames] {};

        // How many ticks from `phase` with `increment` add exactly `step`
        // each (WavetableLfo::uniformSteps), or -1: remembered from the
        // last block, which usually ends inside such a run.
        float phase = 0.0f;
        float increment = 0.0f;
        float step = 0.0f;
        int32_t uniformTicks = -1;
    };

private:
    BlockPath blockPath;
};
