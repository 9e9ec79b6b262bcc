// Compiled once per instruction set: foreach_target.h includes this file
// again for every target.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "dsp/ChorusKernels.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include "dsp/ChorusKernels.h"

#include <cmath>

HWY_BEFORE_NAMESPACE();
namespace ChorusKernels
{
namespace HWY_NAMESPACE
{
namespace hn = hwy::HWY_NAMESPACE;

// The arithmetic below must stay plain IEEE operations: no MulAdd (fused,
// rounds once) and no reciprocal estimates. The library is built with
// -ffp-contract=off, so the compiler fuses nothing either.

/** Widens each lane to double, applies f and rounds the result to float. */
template <class DF, class F>
HWY_INLINE hn::VFromD<DF> InDouble (DF df, hn::VFromD<DF> v, F f)
{
#if HWY_TARGET == HWY_SCALAR
    const hn::Rebind<double, DF> dd;
    return hn::DemoteTo (df, f (hn::PromoteTo (dd, v)));
#else
    const hn::Half<DF> dh;
    const hn::Repartition<double, DF> dd;
    const auto low = f (hn::PromoteTo (dd, hn::LowerHalf (dh, v)));
    const auto high = f (hn::PromoteTo (dd, hn::UpperHalf (dh, v)));
    return hn::Combine (df, hn::DemoteTo (dh, high), hn::DemoteTo (dh, low));
#endif
}

void Sweep (const SweepSettings& s, float phase0, float step, int numSamples, float* out)
{
    const hn::ScalableTag<float> df;
    const hn::RebindToSigned<decltype (df)> di;
    const int lanes = (int) hn::Lanes (df);
    static_assert (HWY_LANES (float) <= maxLanes, "wider than the delay allows");

    const auto phaseStart = hn::Set (df, phase0);
    const auto phaseStep = hn::Set (df, step);
    const auto point = hn::Set (df, 1.0f / 256.0f);
    const auto one = hn::Set (df, 1.0f);
    const auto two = hn::Set (df, 2.0f);
    const auto four = hn::Set (df, 4.0f);
    const auto quarter = hn::Set (df, 256.0f);
    const auto threeQuarters = hn::Set (df, 768.0f);
    const auto half = hn::Set (df, 0.5f);
    const auto range = hn::Set (df, s.rangeMs);
    const double depth = (double) s.depthPercent;
    const double minimum = (double) s.minDelayMs;
    const double perMs = s.samplesPerMs;

    // The triangle table's value at point i (0 to 1024, where 1024 stands
    // for point 0) from t = i / 256; every operation here is exact.
    const auto triangle = [&] (decltype (phaseStart) i, decltype (phaseStart) t)
    {
        return hn::IfThenElse (i < quarter, t, hn::IfThenElse (i < threeQuarters, two - t, t - four));
    };

    auto k = hn::Iota (df, 0.0f);
    const auto lanesAsFloat = hn::Set (df, (float) lanes);

    for (int i = 0; i < numSamples; i += lanes)
    {
        // phase0 + k * step is exact for the runs the caller hands us.
        const auto phase = phaseStart + k * phaseStep;
        k = k + lanesAsFloat;

        // The oscillator: linear interpolation in the triangle table, then
        // mapped to 0..1 (v * 0.5 + 0.5 rounds the same in float as in
        // double: the sum is exact in double wherever the float result is
        // not 0.5).
        const auto n = hn::ConvertTo (df, hn::ConvertTo (di, phase));
        const auto frac = phase - n;
        const auto t = n * point;
        const auto next = n + one;
        const auto v = frac * triangle (next, t + point) + (one - frac) * triangle (n, t);
        const auto l = v * half + half;

        // The delay: sweep in float, depth and offset in double, then samples.
        const auto sweep = range * l;
        const auto ms = InDouble (df, sweep, [&] (auto w)
        {
            const hn::DFromV<decltype (w)> dd;
            return hn::Set (dd, minimum) + w * hn::Set (dd, depth) / hn::Set (dd, 100.0);
        });
        const auto samples = InDouble (df, ms, [&] (auto w) { return w * hn::Set (hn::DFromV<decltype (w)>(), perMs); });

        hn::StoreU (samples, df, out + i);
    }
}

namespace
{
    /** One sample of readWrite, for the samples after the last whole vector. */
    inline float readWriteOne (const Line& line, int32_t position, float delaySamples, float x, float& wet)
    {
        const auto whole = (int32_t) delaySamples;
        const float frac = delaySamples - (float) whole;

        int32_t read = position - whole;
        if (read < 0)
            read += line.length;

        const int32_t previous = read == 0 ? line.length - 1 : read - 1;
        const float y = frac * line.buffer[previous] + (1.0f - frac) * line.buffer[read];

        const float fedBack = std::isfinite (y) ? y * line.feedbackGain : 0.0f;
        line.buffer[position] = fedBack + x;
        wet = 0.0f * x + y;
        return y;
    }
}

float ReadWrite (const Line& line, const float* delaySamples, const float* input, const float* dry,
                 float mix, float* out0, float* out1, int numSamples, Mix how)
{
    const hn::ScalableTag<float> df;
    const hn::RebindToSigned<decltype (df)> di;
    const int lanes = (int) hn::Lanes (df);

    float* const buffer = line.buffer;
    const auto length = hn::Set (di, line.length);
    const auto zeroIndex = hn::Zero (di);
    const auto oneIndex = hn::Set (di, 1);
    const auto feedback = hn::Set (df, line.feedbackGain);
    const auto gain = hn::Set (df, mix);
    const auto one = hn::Set (df, 1.0f);
    const auto zero = hn::Zero (df);

    auto position = hn::Iota (di, line.writeIndex);
    const auto lanesAsIndex = hn::Set (di, lanes);

    float last = 0.0f;
    int i = 0;

    for (; i + lanes <= numSamples; i += lanes)
    {
        const auto delay = hn::LoadU (df, delaySamples + i);
        const auto whole = hn::ConvertTo (di, delay);
        const auto frac = delay - hn::ConvertTo (df, whole);

        auto read = position - whole;
        read = hn::IfThenElse (read < zeroIndex, read + length, read);
        auto previous = read - oneIndex;
        previous = hn::IfThenElse (previous < zeroIndex, previous + length, previous);
        position = position + lanesAsIndex;

        // Every position read was written by an earlier vector or block: the
        // delay is at least one vector long.
        const auto y = frac * hn::GatherIndex (df, buffer, previous) + (one - frac) * hn::GatherIndex (df, buffer, read);

        const auto x = hn::LoadU (df, input + i);
        const auto fedBack = hn::IfThenElseZero (hn::IsFinite (y), y * feedback);
        hn::StoreU (fedBack + x, df, buffer + line.writeIndex + i);

        // The line's output with wet gain 1: 0 * x + y (NaN where x is not
        // finite, and +0 or -0 as the sum of zeros gives it).
        const auto wet = zero * x + y;
        const auto d = hn::LoadU (df, dry + i);

        switch (how)
        {
            case Mix::add:
                hn::StoreU (wet * gain + d, df, out0 + i);
                break;
            case Mix::subtract:
                hn::StoreU (d - wet * gain, df, out0 + i);
                break;
            case Mix::addAndSubtract:
                hn::StoreU (gain * wet + d, df, out0 + i);
                hn::StoreU (d - gain * wet, df, out1 + i);
                break;
        }

        if (i + lanes == numSamples)
            last = hn::GetLane (hn::Reverse (df, y));
    }

    for (; i < numSamples; ++i)
    {
        float wet = 0.0f;
        last = readWriteOne (line, line.writeIndex + i, delaySamples[i], input[i], wet);
        const float d = dry[i];

        switch (how)
        {
            case Mix::add:            out0[i] = wet * mix + d; break;
            case Mix::subtract:       out0[i] = d - wet * mix; break;
            case Mix::addAndSubtract: out0[i] = mix * wet + d; out1[i] = d - mix * wet; break;
        }
    }

    return last;
}

const char* ActiveTarget()
{
    return hwy::TargetName (HWY_TARGET);
}

}  // namespace HWY_NAMESPACE
}  // namespace ChorusKernels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ChorusKernels
{
    HWY_EXPORT (Sweep);
    HWY_EXPORT (ReadWrite);
    HWY_EXPORT (ActiveTarget);

    void sweep (const SweepSettings& s, float phase0, float step, int numSamples, float* delaySamples) noexcept
    {
        HWY_DYNAMIC_DISPATCH (Sweep) (s, phase0, step, numSamples, delaySamples);
    }

    float readWrite (const Line& line, const float* delaySamples, const float* input, const float* dry,
                     float mix, float* out0, float* out1, int numSamples, Mix how) noexcept
    {
        return HWY_DYNAMIC_DISPATCH (ReadWrite) (line, delaySamples, input, dry, mix, out0, out1, numSamples, how);
    }

    int64_t compiledTargets() noexcept { return HWY_TARGETS; }
    int64_t supportedTargets() noexcept { return hwy::SupportedTargets(); }
    const char* targetName (int64_t target) noexcept { return hwy::TargetName (target); }
    void useOnly (int64_t target) noexcept { hwy::SetSupportedTargetsForTest (target); }
    const char* activeTarget() noexcept { return HWY_DYNAMIC_DISPATCH (ActiveTarget)(); }
}
#endif
