#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

/** Zeroed memory of at least this many bytes, or nullptr; and its release
    (with the same size). */
void* zeroedMemory (std::size_t bytes) noexcept;
void releaseZeroedMemory (void*, std::size_t bytes) noexcept;

/**
    An allocator for sample stores that must start at zero. A large store
    (a delay line) is mapped fresh from the system, which gives zero pages
    and takes no page until something is written there, and is handed back
    to the system when freed; a small one comes from calloc. Elements made
    without a value are left as that memory gave them. So a store made and
    replaced before it is used (as the engine does, building its voices for
    44100 Hz and then for the host's rate) costs no page faults, in every
    instance: memory from the heap would have to be cleared on allocation.

    Growing a store with resize() keeps whatever its memory held:
    ChorusVoice::prepare clears it right after, at memory speed, where
    filling element by element through an allocator of one's own would not.
*/
template <typename T>
struct ZeroedAllocator
{
    using value_type = T;

    ZeroedAllocator() noexcept = default;
    template <typename U> ZeroedAllocator (const ZeroedAllocator<U>&) noexcept {}

    T* allocate (std::size_t n)
    {
        if (n > std::size_t (-1) / sizeof (T))
            throw std::bad_alloc();

        if (void* p = zeroedMemory (n * sizeof (T)))
            return static_cast<T*> (p);

        throw std::bad_alloc();
    }

    void deallocate (T* p, std::size_t n) noexcept { releaseZeroedMemory (p, n * sizeof (T)); }

    template <typename U> void construct (U*) noexcept {}

    template <typename U, typename... Args>
    void construct (U* p, Args&&... args) { ::new ((void*) p) U (std::forward<Args> (args)...); }

    template <typename U> bool operator== (const ZeroedAllocator<U>&) const noexcept { return true; }
    template <typename U> bool operator!= (const ZeroedAllocator<U>&) const noexcept { return false; }
};

using SampleStore = std::vector<float, ZeroedAllocator<float>>;

/**
    A circular sample store read at a fractional delay. The owning voice
    writes `delayMs` every sample, calls update(), then reads and writes one
    step (ChorusVoice::processSample).
*/
class DelayLine
{
public:
    static constexpr int32_t initialCapacity = 88200; // two seconds at 44100 Hz

    DelayLine();

    /** Recomputes the gains, the delay in samples and the read position from
        the settings, the sample rate and the write position. */
    void update() noexcept
    {
        feedbackGain = (float) ((double) feedbackPercent / 100.0);
        wetGain = (float) ((double) mixPercent / 100.0);
        samplesPerMs = (double) (float) sampleRate / 1000.0;
        updateReadPosition();
    }

    /** The part of update() that depends on `delayMs`: what the voice needs
        every sample. The gains and the samples per millisecond only change
        when update() runs. */
    void updateReadPosition() noexcept
    {
        delaySamples = delaySamplesFor (delayMs);
        readIndex = writeIndex - (int32_t) delaySamples;

        if (readIndex < 0)
            readIndex += length;
    }

    /** The delay in samples for a delay in milliseconds. */
    float delaySamplesFor (float milliseconds) const noexcept
    {
        return (float) (samplesPerMs * (double) milliseconds);
    }

    float delayMs = 0.0f;
    float feedbackPercent = 0.0f;
    float mixPercent = 50.0f;
    float delaySamples = 0.0f;       // derived
    float feedbackGain = 0.0f;       // derived: feedbackPercent / 100
    float wetGain = 0.5f;            // derived: mixPercent / 100
    float lastOutput = 0.0f;
    SampleStore buffer;              // two seconds at the prepared rate
    int32_t readIndex = 0;
    int32_t writeIndex = 0;
    int32_t length = 0;
    int32_t sampleRate = 0;
    double samplesPerMs = 0.0;       // derived: sampleRate (as float) / 1000
};
