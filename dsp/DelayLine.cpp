#include "dsp/DelayLine.h"

#include <cstdlib>

#if defined (__unix__)
 #include <sys/mman.h>
#endif

namespace
{
    // From this size on a store is mapped on its own rather than taken from
    // the heap.
    constexpr std::size_t mappedFrom = 64 * 1024;
}

void* zeroedMemory (std::size_t bytes) noexcept
{
#if defined (__unix__)
    if (bytes >= mappedFrom)
    {
        void* p = mmap (nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return p != MAP_FAILED ? p : nullptr;
    }
#endif

    return std::calloc (bytes == 0 ? 1 : bytes, 1);
}

void releaseZeroedMemory (void* p, std::size_t bytes) noexcept
{
#if defined (__unix__)
    if (bytes >= mappedFrom)
    {
        munmap (p, bytes);
        return;
    }
#endif

    std::free (p);
}

DelayLine::DelayLine()
    : buffer ((size_t) initialCapacity)   // zero, as calloc makes it
{
    update();
}
