#include "dsp/PreDelayBuffer.h"

#include <algorithm>
#include <cstring>

PreDelayBuffer::PreDelayBuffer (uint32_t sampleRate)
    : length ((int32_t) lengthFor (sampleRate, 20u)),
      data ((size_t) length, 0.0f),
      readIndex (0),
      writeIndex (length - 1),
      lengthMs (20)
{
}

void PreDelayBuffer::resize (uint32_t sampleRate)
{
    length = (int32_t) lengthFor (sampleRate, (uint32_t) lengthMs);
    data.assign ((size_t) length, 0.0f);
    readIndex = 0;
    writeIndex = length - 1;
}

namespace
{
    // Copies n samples starting at a ring position, wrapping at the end.
    void copyFromRing (const float* ring, int32_t length, int32_t from, float* to, int n) noexcept
    {
        const int first = std::min (n, length - from);
        std::memcpy (to, ring + from, sizeof (float) * (size_t) first);
        std::memcpy (to + first, ring, sizeof (float) * (size_t) (n - first));
    }

    void copyToRing (const float* from, float* ring, int32_t length, int32_t to, int n) noexcept
    {
        const int first = std::min (n, length - to);
        std::memcpy (ring + to, from, sizeof (float) * (size_t) first);
        std::memcpy (ring, from + first, sizeof (float) * (size_t) (n - first));
    }
}

void PreDelayBuffer::process (const float* input, float* output, int n) noexcept
{
    // The write position trails the read position by one, so step s writes
    // position readIndex + s and reads readIndex + s + 1 (modulo length):
    // the first length - 1 results come from the ring as it is, the rest
    // are this block's own input, length - 1 samples back.
    const int delay = length - 1;
    const int fromRing = std::min (n, delay);
    float* const ring = data.data();

    copyFromRing (ring, length, readIndex + 1 == length ? 0 : readIndex + 1, output, fromRing);
    std::memcpy (output + fromRing, input, sizeof (float) * (size_t) (n - fromRing));

    // The ring keeps the last `length` inputs.
    const int kept = std::min (n, length);
    copyToRing (input + (n - kept), ring, length, wrap (readIndex + (n - kept)), kept);

    readIndex = wrap (readIndex + n);
    writeIndex = readIndex == 0 ? length - 1 : readIndex - 1;
}
