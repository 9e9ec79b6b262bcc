#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

/**
    The fixed pre-delay in front of each voice: a ring of
    sample rate x 20 / 1000 positions whose write position trails the read
    position by one, so a step returns the input of `length` - 1 steps earlier
    (881 samples at 44100 Hz).
*/
class PreDelayBuffer
{
public:
    /** Builds the ring for a rate in hertz (at least 50, so that it holds at
        least one position). Allocates. */
    explicit PreDelayBuffer (uint32_t sampleRate);

    /** Rebuilds the ring, emptied, for a new rate. Allocates unless the
        ring's storage already holds the rate's length. */
    void resize (uint32_t sampleRate);

    /** One step: stores x and returns the delayed sample. Audio thread. */
    float step (float x) noexcept
    {
        if (++readIndex == length)
            readIndex = 0;

        if (++writeIndex == length)
            writeIndex = 0;

        data[(size_t) writeIndex] = x;
        return data[(size_t) readIndex];
    }

    static uint32_t lengthFor (uint32_t sampleRate, uint32_t milliseconds) noexcept
    {
        return sampleRate * milliseconds / 1000u;
    }

    int32_t length = 0;
    std::vector<float> data;
    int32_t readIndex = 0;
    int32_t writeIndex = 0;
    int32_t lengthMs = 20;
};
