// Compiled once per instruction set: foreach_target.h includes this file
// again for every target.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "dsp/ChorusKernels.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include "dsp/ChorusKernels.h"

#include <cmath>
#include <cpuid.h>
#include <iterator>

HWY_BEFORE_NAMESPACE();
namespace ChorusKernels
{
namespace HWY_NAMESPACE
{
namespace hn = hwy::HWY_NAMESPACE;

// The arithmetic below must stay plain IEEE operations: no MulAdd (fused,
// rounds once) and no reciprocal estimates. The library is built with
// -ffp-contract=off, so the compiler fuses nothing either.

namespace Full
{
using DF = hn::ScalableTag<float>;
#undef TESSAMUNE_KERNEL_256_BITS
#define TESSAMUNE_KERNEL_256_BITS 0
#include "dsp/ChorusKernels-inl.h"
}

#if HWY_TARGET == HWY_AVX3
// AVX-512's instructions on 256-bit vectors: on processors that lower their
// clock, or power up the wider units with a delay, while 512-bit ones run.
namespace Narrow
{
using DF = hn::CappedTag<float, 8>;
#undef TESSAMUNE_KERNEL_256_BITS
#define TESSAMUNE_KERNEL_256_BITS 1
#include "dsp/ChorusKernels-inl.h"
}

LastDelay ProcessNarrow (const SweepSettings& settings, float phase0, float step, const float* given, int numSamples,
                         Voice* voices, int numVoices)
{
    return Narrow::Process (settings, phase0, step, given, numSamples, voices, numVoices);
}

void DelaysNarrow (const SweepSettings& settings, float phase0, float step, int numSamples, float* out)
{
    Narrow::Delays (settings, phase0, step, numSamples, out);
}
#endif

LastDelay Process (const SweepSettings& settings, float phase0, float step, const float* given, int numSamples,
                   Voice* voices, int numVoices)
{
    return Full::Process (settings, phase0, step, given, numSamples, voices, numVoices);
}

void Delays (const SweepSettings& settings, float phase0, float step, int numSamples, float* out)
{
    Full::Delays (settings, phase0, step, numSamples, out);
}

}  // namespace HWY_NAMESPACE
}  // namespace ChorusKernels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#if HWY_IS_DEBUG_BUILD
// In sanitizer and debug builds Highway checks its operations and reports a
// failed check through hwy::Abort, which lives in its run-time library. The
// plug-in does not link that library (loading it costs milliseconds at
// start-up), so the report is made here.
namespace hwy
{
    HWY_NORETURN void HWY_FORMAT (3, 4) Abort (const char* file, int line, const char* format, ...)
    {
        va_list args;
        va_start (args, format);
        std::fprintf (stderr, "Highway check failed at %s:%d: ", file, line);
        std::vfprintf (stderr, format, args);
        va_end (args);
        std::fputc ('\n', stderr);
        std::abort();
    }
}
#endif

namespace ChorusKernels
{
    namespace
    {
        // Run-time choice among the compiled kernels. Highway's own
        // dispatch lives in its shared library, whose start-up (a timer
        // calibration of several milliseconds) would be paid by every host
        // that loads the plug-in; the choice here needs only the
        // processor's feature flags.
        struct Kernels
        {
            int64_t target;
            decltype (&HWY_STATIC_DISPATCH (Process)) process;
            decltype (&HWY_STATIC_DISPATCH (Delays)) delays;
        };

        // Best first; the last one runs on any processor.
        const Kernels compiled[] = {
#if HWY_TARGETS & HWY_AVX3
            { HWY_AVX3, &N_AVX3::Process, &N_AVX3::Delays },
            { avx3On256Bits, &N_AVX3::ProcessNarrow, &N_AVX3::DelaysNarrow },
#endif
#if HWY_TARGETS & HWY_AVX2
            { HWY_AVX2, &N_AVX2::Process, &N_AVX2::Delays },
#endif
#if HWY_TARGETS & HWY_SSE4
            { HWY_SSE4, &N_SSE4::Process, &N_SSE4::Delays },
#endif
#if HWY_TARGETS & HWY_SSSE3
            { HWY_SSSE3, &N_SSSE3::Process, &N_SSSE3::Delays },
#endif
            { HWY_STATIC_TARGET, &HWY_STATIC_DISPATCH (Process), &HWY_STATIC_DISPATCH (Delays) },
        };

        /** F16C, from CPUID leaf 1 (not every compiler's
            __builtin_cpu_supports knows it). */
        bool hasF16c() noexcept
        {
            unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
            return __get_cpuid (1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_F16C) != 0;
        }

        /** The instruction sets the processor and the operating system
            support, with the same features Highway compiles each for. */
        int64_t detectTargets() noexcept
        {
            __builtin_cpu_init();
            const bool ssse3 = __builtin_cpu_supports ("ssse3");
            const bool sse4 = ssse3 && __builtin_cpu_supports ("sse4.1") && __builtin_cpu_supports ("sse4.2")
                           && __builtin_cpu_supports ("pclmul") && __builtin_cpu_supports ("aes");
            const bool avx2 = sse4 && __builtin_cpu_supports ("avx") && __builtin_cpu_supports ("avx2")
                           && __builtin_cpu_supports ("bmi") && __builtin_cpu_supports ("bmi2")
                           && __builtin_cpu_supports ("fma") && hasF16c();
            const bool avx3 = avx2 && __builtin_cpu_supports ("avx512f") && __builtin_cpu_supports ("avx512vl")
                           && __builtin_cpu_supports ("avx512dq") && __builtin_cpu_supports ("avx512bw");

            return HWY_STATIC_TARGET | (ssse3 ? HWY_SSSE3 : 0) | (sse4 ? HWY_SSE4 : 0)
                 | (avx2 ? HWY_AVX2 : 0) | (avx3 ? HWY_AVX3 | avx3On256Bits : 0);
        }

        /** Intel's processors lower their clock while 512-bit instructions
            run (for the whole core, for a while after the last one), and
            power the wider units up only after they are first used again:
            a plug-in that runs a short burst per block, with other work in
            between, would pay for that in every block and make the host's
            other work slower. There, AVX-512 runs on 256-bit vectors. AMD's
            processors run 512-bit instructions on 256-bit units at a steady
            clock. */
        bool prefersNarrowVectors() noexcept
        {
            unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
            return __get_cpuid (0, &eax, &ebx, &ecx, &edx) != 0
                && ebx == 0x756e6547u && edx == 0x49656e69u && ecx == 0x6c65746eu;   // "GenuineIntel"
        }

        std::atomic<int64_t> restriction { 0 };
        std::atomic<const Kernels*> chosen { nullptr };

        const Kernels& choose() noexcept
        {
            const int64_t only = restriction.load();
            const int64_t preferred = prefersNarrowVectors() ? ~int64_t { HWY_AVX3 } : ~int64_t { 0 };
            const int64_t allowed = detectTargets() & (only != 0 ? only : preferred);

            for (const auto& k : compiled)
                if ((k.target & allowed) != 0)
                    return k;

            return compiled[std::size (compiled) - 1];
        }

        /** Lock-free: whichever thread comes first makes the choice; any
            other that races it makes the same one. */
        const Kernels& kernels() noexcept
        {
            if (const auto* k = chosen.load (std::memory_order_acquire))
                return *k;

            const auto* k = &choose();
            chosen.store (k, std::memory_order_release);
            return *k;
        }
    }

    LastDelay process (const SweepSettings& settings, float phase0, float step, int numSamples, Voice* voices, int numVoices) noexcept
    {
        return kernels().process (settings, phase0, step, nullptr, numSamples, voices, numVoices);
    }

    LastDelay processAt (const SweepSettings& settings, const float* phases, int numSamples, Voice* voices, int numVoices) noexcept
    {
        return kernels().process (settings, 0.0f, 0.0f, phases, numSamples, voices, numVoices);
    }

    void delays (const SweepSettings& settings, float phase0, float step, int numSamples, float* delaySamples) noexcept
    {
        kernels().delays (settings, phase0, step, numSamples, delaySamples);
    }

    int64_t compiledTargets() noexcept
    {
        int64_t targets = 0;
        for (const auto& k : compiled)
            targets |= k.target;
        return targets;
    }

    int64_t supportedTargets() noexcept { return detectTargets(); }
    const char* targetName (int64_t target) noexcept
    {
        return target == avx3On256Bits ? "AVX3_256" : hwy::TargetName (target);
    }

    void useOnly (int64_t target) noexcept
    {
        restriction.store (target);
        chosen.store (nullptr);
    }

    const char* activeTarget() noexcept { return targetName (kernels().target); }
}
#endif
