#pragma once

#include <cstdint>

#if defined (__SSE__) || defined (__x86_64__) || defined (_M_X64)
 #include <xmmintrin.h>
 #define TESSAMUNE_FLUSH_DENORMALS_X86 1
#elif defined (__aarch64__)
 #define TESSAMUNE_FLUSH_DENORMALS_ARM64 1
#endif

/**
    Makes the floating-point unit of this thread treat subnormal (denormal)
    numbers as zero for as long as it lives, and gives the thread back the
    mode it had when it ends.

    Subnormals are the numbers below about 1.2e-38 in magnitude. Arithmetic
    on them takes many times as long as on other numbers on most
    processors, so a signal that decays into that range, or input that is
    already there, can make a block several times dearer. While the mode is
    set, such inputs count as zero and such results come out as zero (on
    x86 the DAZ and FTZ bits of MXCSR, on 64-bit ARM the FZ bit of FPCR).
    Results of other numbers are unchanged unless they would themselves be
    subnormal.

    Cheap where the caller's thread already flushes, as many hosts' audio
    threads do: the mode is read and left alone. Otherwise it is written
    once here and once more at the end.
*/
class ScopedFlushDenormals
{
public:
    ScopedFlushDenormals() noexcept
    {
#if TESSAMUNE_FLUSH_DENORMALS_X86
        saved = _mm_getcsr();
        const unsigned int flushing = saved | flushBits;
        changed = flushing != saved;

        if (changed)
            _mm_setcsr (flushing);
#elif TESSAMUNE_FLUSH_DENORMALS_ARM64
        asm volatile ("mrs %0, fpcr" : "=r" (saved));
        const uint64_t flushing = saved | flushBits;
        changed = flushing != saved;

        if (changed)
            asm volatile ("msr fpcr, %0" : : "r" (flushing));
#endif
    }

    ~ScopedFlushDenormals() noexcept
    {
#if TESSAMUNE_FLUSH_DENORMALS_X86
        if (changed)
            _mm_setcsr (saved);
#elif TESSAMUNE_FLUSH_DENORMALS_ARM64
        if (changed)
            asm volatile ("msr fpcr, %0" : : "r" (saved));
#endif
    }

    ScopedFlushDenormals (const ScopedFlushDenormals&) = delete;
    ScopedFlushDenormals& operator= (const ScopedFlushDenormals&) = delete;

#if TESSAMUNE_FLUSH_DENORMALS_X86
    static constexpr unsigned int flushBits = 0x8040;   // FTZ (bit 15) and DAZ (bit 6)
#elif TESSAMUNE_FLUSH_DENORMALS_ARM64
    static constexpr uint64_t flushBits = uint64_t { 1 } << 24;   // FZ
#endif

private:
#if TESSAMUNE_FLUSH_DENORMALS_X86
    unsigned int saved = 0;
    bool changed = false;
#elif TESSAMUNE_FLUSH_DENORMALS_ARM64
    uint64_t saved = 0;
    bool changed = false;
#endif
};
