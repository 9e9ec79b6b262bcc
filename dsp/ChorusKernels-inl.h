// The kernels' body, included by ChorusKernels.cpp once for each
// instruction set and vector width, inside a namespace that defines DF (the
// float vector descriptor) and TESSAMUNE_KERNEL_256_BITS (1 where AVX-512's
// instructions work on 256-bit vectors). No include guard: it is meant to
// be included more than once.

using DI = hn::RebindToSigned<DF>;
using VF = hn::VFromD<DF>;
using VI = hn::VFromD<DI>;

/** Float to int, truncating, for values known to fit: Highway's ConvertTo
    also mends overflow, which costs four more instructions per vector. */
HWY_INLINE VI TruncateToInt (VF v)
{
#if HWY_TARGET == HWY_AVX3 && ! TESSAMUNE_KERNEL_256_BITS
    return VI { _mm512_cvttps_epi32 (v.raw) };
#elif HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX2
    return VI { _mm256_cvttps_epi32 (v.raw) };
#elif HWY_TARGET == HWY_SSE4 || HWY_TARGET == HWY_SSSE3
    return VI { _mm_cvttps_epi32 (v.raw) };
#else
    return hn::ConvertTo (DI(), v);
#endif
}

/** Widens each lane to double, applies f and rounds to float (into
    `between`), widens that again, applies g and rounds again, without
    putting the vector together in between. */
template <class F, class G>
HWY_INLINE VF InDouble (VF v, F f, G g, VF* between = nullptr)
{
    const DF df;
#if HWY_TARGET == HWY_SCALAR
    const hn::Rebind<double, DF> dd;
    const auto first = hn::DemoteTo (df, f (hn::PromoteTo (dd, v)));
    if (between != nullptr)
        *between = first;
    return hn::DemoteTo (df, g (hn::PromoteTo (dd, first)));
#else
    const hn::Half<DF> dh;
    const hn::Repartition<double, DF> dd;
    const auto firstLow = hn::DemoteTo (dh, f (hn::PromoteTo (dd, hn::LowerHalf (dh, v))));
    const auto firstHigh = hn::DemoteTo (dh, f (hn::PromoteTo (dd, hn::UpperHalf (dh, v))));
    if (between != nullptr)
        *between = hn::Combine (df, firstHigh, firstLow);
    return hn::Combine (df, hn::DemoteTo (dh, g (hn::PromoteTo (dd, firstHigh))), hn::DemoteTo (dh, g (hn::PromoteTo (dd, firstLow))));
#endif
}

template <class F>
HWY_INLINE VF InDouble (VF v, F f)
{
    const DF df;
#if HWY_TARGET == HWY_SCALAR
    const hn::Rebind<double, DF> dd;
    return hn::DemoteTo (df, f (hn::PromoteTo (dd, v)));
#else
    const hn::Half<DF> dh;
    const hn::Repartition<double, DF> dd;
    return hn::Combine (df, hn::DemoteTo (dh, f (hn::PromoteTo (dd, hn::UpperHalf (dh, v)))),
                        hn::DemoteTo (dh, f (hn::PromoteTo (dd, hn::LowerHalf (dh, v)))));
#endif
}

/** The delay in samples for a vector of oscillator phases, as
    ChorusVoice::processSample computes it for one. */
class Sweep
{
public:
    explicit Sweep (const SweepSettings& s)
        : range (hn::Set (df, s.rangeMs)),
          toMs { (double) s.minDelayMs, (double) s.depthPercent },
          perMs (s.samplesPerMs)
    {
    }

    /** Whether the samples per millisecond are a float (48 at 48 kHz, not
        44.1 at 44.1 kHz): then their product with a float delay is exact
        in double, and rounding it to float is one float multiplication. */
    bool samplesPerMsIsFloat() const { return (double) (float) perMs == perMs; }

    /** The delay in samples; with `ms`, also in milliseconds. */
    template <bool floatRate>
    HWY_INLINE VF delay (VF phase, VF* ms = nullptr) const
    {
        if (floatRate)
        {
            const auto milliseconds = InDouble (sweep (phase), toMs);
            if (ms != nullptr)
                *ms = milliseconds;
            return milliseconds * perMsAsFloat;
        }

        return InDouble (sweep (phase), toMs, [this] (auto w) { return w * hn::Set (hn::DFromV<decltype (w)>(), perMs); }, ms);
    }

private:
    HWY_INLINE VF sweep (VF phase) const
    {
        // The oscillator: linear interpolation in the triangle table, then
        // mapped to 0..1. v * 0.5 + 0.5 rounds the same in float as in
        // double: the sum is exact in double unless |v| < 2^-28, and then
        // both give 0.5.
        const auto n = hn::Trunc (phase);
        const auto frac = phase - n;
        const auto t = n * point;
        const auto v = frac * triangle (t + point) + (one - frac) * triangle (t);
        const auto l = v * half + half;

        // The sweep is formed in float, depth and offset in double.
        return range * l;
    }

    // The triangle table's value at point i (0 to 1024, where 1024 stands
    // for point 0) from t = i / 256: t up to 1, 2 - t up to 3, then t - 4.
    // Every operation here is exact, and no two candidates tie with zeros
    // of different signs.
    HWY_INLINE VF triangle (VF t) const
    {
        return hn::Max (hn::Min (t, two - t), t - four);
    }

    const DF df;
    const VF point = hn::Set (df, 1.0f / 256.0f);
    const VF one = hn::Set (df, 1.0f);
    const VF two = hn::Set (df, 2.0f);
    const VF four = hn::Set (df, 4.0f);
    const VF half = hn::Set (df, 0.5f);
    /** Milliseconds from the sweep, in double. */
    struct ToMs
    {
        double minimum, depth;

        template <class V>
        HWY_INLINE V operator() (V w) const
        {
            const hn::DFromV<V> dd;
            return hn::Set (dd, minimum) + w * hn::Set (dd, depth) / hn::Set (dd, 100.0);
        }
    };

    const VF range;
    const ToMs toMs;
    const double perMs;
    const VF perMsAsFloat = hn::Set (df, (float) perMs);
};

/** Phases phase0 + k * step, one vector after another, or the phases
    given, a whole vector at a time. */
class Phases
{
public:
    Phases (float phase0, float step, const float* phases)
        : start (hn::Set (df, phase0)), increment (hn::Set (df, step)), given (phases)
    {
    }

    HWY_INLINE VF next()
    {
        if (given != nullptr)
        {
            const auto phase = hn::LoadU (df, given);
            given += hn::Lanes (df);
            return phase;
        }

        // Exact for the runs the caller hands over.
        const auto phase = start + k * increment;
        k = k + lanes;
        return phase;
    }

private:
    const DF df;
    const VF start, increment;
    VF k = hn::Iota (df, 0.0f);
    const VF lanes = hn::Set (df, (float) hn::Lanes (df));
    const float* given;
};

/** Lanes of two consecutive vectors (lo, then hi) picked by index, each
    index from 0 to 2 * lanes - 1. */
HWY_INLINE VF LookupInPair (VF lo, VF hi, VI index)
{
#if HWY_TARGET == HWY_AVX3 && ! TESSAMUNE_KERNEL_256_BITS
    // One instruction picks from both (measured faster than two lookups
    // and a blend).
    return VF { _mm512_permutex2var_ps (lo.raw, index.raw, hi.raw) };
#elif HWY_TARGET == HWY_AVX3
    return VF { _mm256_permutex2var_ps (lo.raw, index.raw, hi.raw) };
#else
    const DF df;
    const DI di;
    const int lanes = (int) hn::Lanes (df);
    const auto within = hn::IndicesFromVec (df, hn::And (index, hn::Set (di, lanes - 1)));
    const auto fromHi = hn::RebindMask (df, index > hn::Set (di, lanes - 1));
    return hn::IfThenElse (fromHi, hn::TableLookupLanes (hi, within), hn::TableLookupLanes (lo, within));
#endif
}

/** The interpolated reads, the write and the output of one voice for the
    vector of samples from offset i. */
HWY_INLINE VF ReadWrite (const Voice& voice, int i, VI whole, VF frac, VF oneMinusFrac)
{
    const DF df;
    const DI di;
    const int lanes = (int) hn::Lanes (df);
    const auto laneIndex = hn::Iota (di, 0);
    const int32_t position = voice.writeIndex + i;

    // Every position read was written by an earlier vector or run: the delay
    // is at least one vector long. As the delay changes little from one
    // sample to the next, the positions a vector reads usually lie within
    // two vectors of the line, starting half a vector before the first one
    // that lane 0 reads.
    const int32_t start = position - hn::GetLane (whole) - 1 - lanes / 2;
    VF previous, current;
    bool inWindow = start >= 0 && start + 2 * lanes <= voice.length;
    VI indexInWindow;

    if (inWindow)
    {
        indexInWindow = laneIndex + hn::Set (di, position - start - 1) - whole;
        const hn::RebindToUnsigned<DI> du;
        inWindow = hn::AllTrue (du, hn::BitCast (du, indexInWindow) < hn::Set (du, 2u * (uint32_t) lanes - 1u));
    }

    if (inWindow)
    {
        const auto lo = hn::LoadU (df, voice.buffer + start);
        const auto hi = hn::LoadU (df, voice.buffer + start + lanes);
        previous = LookupInPair (lo, hi, indexInWindow);
        current = LookupInPair (lo, hi, indexInWindow + hn::Set (di, 1));
    }
    else
    {
        // Anywhere in the line, wrapping at its start.
        const auto zero = hn::Zero (di);
        const auto length = hn::Set (di, voice.length);
        auto read = laneIndex + hn::Set (di, position) - whole;
        read = hn::IfThenElse (read < zero, read + length, read);
        auto before = read - hn::Set (di, 1);
        before = hn::IfThenElse (before < zero, before + length, before);
        previous = hn::GatherIndex (df, voice.buffer, before);
        current = hn::GatherIndex (df, voice.buffer, read);
    }

    const auto y = frac * previous + oneMinusFrac * current;

    // A delayed sample that is not finite is not fed back.
    const auto x = hn::LoadU (df, voice.input + i);
    const auto fedBack = hn::IfThenElseZero (hn::IsFinite (y), y * hn::Set (df, voice.feedbackGain));
    hn::StoreU (fedBack + x, df, voice.buffer + position);

    // The line's output with wet gain 1: 0 * x + y (NaN where x is not
    // finite, and +0 or -0 as the sum of zeros gives it).
    const auto wet = hn::Zero (df) * x + y;
    const auto dry = hn::LoadU (df, voice.dry + i);
    const auto gain = hn::Set (df, voice.mix);

    // After `input` was read: `keep` trails it by one position.
    hn::StoreU (dry, df, voice.keep + i);

    switch (voice.how)
    {
        case Mix::add:
            hn::StoreU (wet * gain + dry, df, voice.out0 + i);
            break;
        case Mix::subtract:
            hn::StoreU (dry - wet * gain, df, voice.out0 + i);
            break;
        case Mix::addAndSubtract:
            hn::StoreU (gain * wet + dry, df, voice.out0 + i);
            hn::StoreU (dry - gain * wet, df, voice.out1 + i);
            break;
    }

    return y;
}

/** The same for one sample, for what is left after the last whole vector. */
HWY_INLINE void ReadWriteOne (Voice& voice, int i, float delaySamples)
{
    const int32_t position = voice.writeIndex + i;
    const auto whole = (int32_t) delaySamples;
    const float frac = delaySamples - (float) whole;

    int32_t read = position - whole;
    if (read < 0)
        read += voice.length;

    const int32_t previous = read == 0 ? voice.length - 1 : read - 1;
    const float y = frac * voice.buffer[previous] + (1.0f - frac) * voice.buffer[read];

    const float x = voice.input[i];
    const float fedBack = std::isfinite (y) ? y * voice.feedbackGain : 0.0f;
    voice.buffer[position] = fedBack + x;

    const float wet = 0.0f * x + y;
    const float dry = voice.dry[i];
    const float mix = voice.mix;
    voice.keep[i] = dry;

    switch (voice.how)
    {
        case Mix::add:            voice.out0[i] = wet * mix + dry; break;
        case Mix::subtract:       voice.out0[i] = dry - wet * mix; break;
        case Mix::addAndSubtract: voice.out0[i] = mix * wet + dry; voice.out1[i] = dry - mix * wet; break;
    }

    voice.lastOutput = y;
}

template <int numVoices, bool floatRate>
HWY_INLINE LastDelay ProcessVoices (const SweepSettings& settings, float phase0, float step, const float* given,
                                    int numSamples, Voice* voicesIn)
{
    // Worked on in a local copy: the compiler then knows that the stores
    // into the signals cannot change it.
    Voice voices[numVoices];
    for (int v = 0; v < numVoices; ++v)
        voices[v] = voicesIn[v];

    const DF df;
    const int lanes = (int) hn::Lanes (df);
    const Sweep sweep (settings);
    Phases phases (phase0, step, given);
    const auto one = hn::Set (df, 1.0f);

    int i = 0;

    VF ms = hn::Zero (df), delay = hn::Zero (df);
    VF nextMs = ms, nextDelay = delay;

    // Each vector's delay is computed one vector ahead, so that its long
    // chain of operations overlaps the reads and writes before it.
    if (lanes <= numSamples)
        nextDelay = sweep.delay<floatRate> (phases.next(), &nextMs);

    for (; i + lanes <= numSamples; i += lanes)
    {
        // The last vector also gives the delay in milliseconds, which the
        // line keeps.
        delay = nextDelay;
        ms = nextMs;

        if (i + 2 * lanes <= numSamples)
            nextDelay = sweep.delay<floatRate> (phases.next(), &nextMs);

        const auto whole = TruncateToInt (delay);
        const auto frac = delay - hn::Trunc (delay);
        const auto oneMinusFrac = one - frac;

        for (int v = 0; v < numVoices; ++v)
        {
            const auto y = ReadWrite (voices[v], i, whole, frac, oneMinusFrac);

            if (i + lanes == numSamples)
                voices[v].lastOutput = hn::GetLane (hn::Reverse (df, y));
        }
    }

    int last = lanes - 1;

    if (i < numSamples)
    {
        HWY_ALIGN float delays[hn::MaxLanes (DF())];
        delay = sweep.delay<floatRate> (phases.next(), &ms);
        hn::Store (delay, df, delays);
        last = numSamples - i - 1;

        for (int k = 0; i < numSamples; ++i, ++k)
            for (int v = 0; v < numVoices; ++v)
                ReadWriteOne (voices[v], i, delays[k]);
    }

    for (int v = 0; v < numVoices; ++v)
        voicesIn[v].lastOutput = voices[v].lastOutput;

    HWY_ALIGN float lastValues[2][hn::MaxLanes (DF())];
    hn::Store (ms, df, lastValues[0]);
    hn::Store (delay, df, lastValues[1]);
    return { lastValues[0][last], lastValues[1][last] };
}

LastDelay Process (const SweepSettings& settings, float phase0, float step, const float* given, int numSamples,
                   Voice* voices, int numVoices)
{
    static_assert (hn::MaxLanes (DF()) <= maxLanes, "wider than the delay allows");

    if (Sweep (settings).samplesPerMsIsFloat())
        return numVoices == 2 ? ProcessVoices<2, true> (settings, phase0, step, given, numSamples, voices)
                              : ProcessVoices<1, true> (settings, phase0, step, given, numSamples, voices);

    return numVoices == 2 ? ProcessVoices<2, false> (settings, phase0, step, given, numSamples, voices)
                          : ProcessVoices<1, false> (settings, phase0, step, given, numSamples, voices);
}

void Delays (const SweepSettings& settings, float phase0, float step, int numSamples, float* out)
{
    const DF df;
    const Sweep sweep (settings);
    Phases phases (phase0, step, nullptr);
    const int lanes = (int) hn::Lanes (df);
    HWY_ALIGN float delay[hn::MaxLanes (DF())];

    for (int i = 0; i < numSamples; i += lanes)
    {
        hn::Store (sweep.samplesPerMsIsFloat() ? sweep.delay<true> (phases.next()) : sweep.delay<false> (phases.next()), df, delay);

        for (int k = 0; k < lanes && i + k < numSamples; ++k)
            out[i + k] = delay[k];
    }
}
