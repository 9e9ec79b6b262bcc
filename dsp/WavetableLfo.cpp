#include "dsp/WavetableLfo.h"

#include <cmath>
#include <cstring>

namespace
{
    // 2 pi as the single-precision constant, widened: the tables are defined
    // with this value, not with the exact double.
    const double twoPi = (double) 6.2831855f;

    // Sums of sine harmonics accumulate in float: each term is formed in
    // double, added to the widened running sum, and the total rounded again.
    void accumulate (float& sum, double term) noexcept
    {
        sum = (float) ((double) sum + term);
    }

    struct Tables
    {
        Tables() { WavetableLfo::computeTables (values); }
        float values[WavetableLfo::numTables][WavetableLfo::tableSize];
    };

    /** Computed when the first oscillator is constructed (thread-safe). */
    const Tables& sharedTables()
    {
        static const Tables t;
        return t;
    }
}

WavetableLfo::WavetableLfo()
    : tables (sharedTables().values)
{
}

void WavetableLfo::computeTables (float (&tables)[numTables][tableSize]) noexcept
{
    float largest[3] = {};   // band-limited saw, triangle, square

    for (int i = 0; i < tableSize; ++i)
    {
        const double x = (double) i * twoPi / (double) tableSize;

        tables[sineTable][i] = (float) std::sin (((double) i * (1.0 / 1024.0)) * twoPi);

        const float fi = (float) i;
        tables[sawTable][i] = i < 512 ? fi / 512.0f
                                      : (fi - 511.0f) / 512.0f - 1.0f;

        tables[triangleTable][i] = i < 256 ? fi / 256.0f
                                 : i < 768 ? 1.0f - (fi - 256.0f) / 256.0f
                                           : (fi - 768.0f) / 256.0f - 1.0f;

        tables[squareTable][i] = i < 512 ? 1.0f : -1.0f;

        float saw = 0.0f;
        for (int j = 1; j <= 5; ++j)
            accumulate (saw, (double) std::pow (-1.0f, (float) (j + 1)) * (1.0 / (double) j)
                                 * std::sin ((double) j * x));

        float triangle = 0.0f;
        for (int k = 0; k <= 3; ++k)
        {
            const float harmonic = (float) (2 * k + 1);
            accumulate (triangle, (double) std::pow (-1.0f, (float) k) * std::sin ((double) harmonic * x)
                                      / (double) std::pow (harmonic, 2.0f));
        }

        float square = 0.0f;
        accumulate (square, std::sin (x));
        accumulate (square, std::sin (3.0 * x) / 3.0);
        accumulate (square, std::sin (5.0 * x) / 5.0);

        tables[bandLimitedSawTable][i] = saw;
        tables[bandLimitedTriangleTable][i] = triangle;
        tables[bandLimitedSquareTable][i] = square;

        const float values[3] = { saw, triangle, square };
        for (int t = 0; t < 3; ++t)
            if (i == 0 || values[t] > largest[t])
                largest[t] = values[t];
    }

    // Scale each band-limited table so that it peaks at exactly 1.
    for (int t = 0; t < 3; ++t)
        for (auto& value : tables[bandLimitedSawTable + t])
            value = value / largest[t];
}

int WavetableLfo::uniformSteps (float phase, float increment, float& step, int wanted) noexcept
{
    if (increment == 0.0f)
    {
        step = 0.0f;
        return wanted;
    }

    uint32_t p = 0, q = 0;
    std::memcpy (&p, &phase, sizeof (p));
    std::memcpy (&q, &increment, sizeof (q));

    // A phase of 0 or below the normal range, or anything negative, infinite
    // or NaN: one tick at a time.
    if (p < 0x00800000u || p >= 0x7f800000u || q >= 0x7f800000u)
        return 0;

    // The phase is a whole number of units `spacing` = 2^e apart, from 2^23
    // to 2^24 - 1 of them within its power-of-two range, whose top (at most
    // 1024) is 2^24 units.
    const int e = (int) (p >> 23) - 150;
    const uint32_t units = (p & 0x7fffffu) | 0x800000u;

    // The increment is m * 2^(e + shift), that is m * 2^shift units; rounded
    // to whole units, exactly half way rounds by the parity of the phase.
    const uint32_t incrementExponent = q >> 23;
    const uint32_t m = incrementExponent == 0 ? q : (q & 0x7fffffu) | 0x800000u;
    const int shift = (incrementExponent == 0 ? -149 : (int) incrementExponent - 150) - e;
    uint32_t rounded = 0;

    if (shift >= 0)
    {
        if (shift > 24 || ((uint64_t) m << shift) >= 0x1000000u)
            return 0;

        rounded = m << shift;
    }
    else if (shift >= -25)
    {
        const int k = -shift;
        const uint32_t rest = m & ((1u << k) - 1u);
        const uint32_t half = 1u << (k - 1);

        if (rest == half)
            return 0;

        rounded = (m >> k) + (rest > half ? 1u : 0u);
    }

    // 2^e as a float (subnormal below 2^-126), times the units: exact.
    const uint32_t spacingBits = e >= -126 ? (uint32_t) (e + 127) << 23 : 1u << (e + 149);
    float spacing = 0.0f;
    std::memcpy (&spacing, &spacingBits, sizeof (spacing));
    step = (float) rounded * spacing;

    // Less than half a unit: every tick leaves the phase as it is.
    if (rounded == 0)
        return wanted;

    // A tick from p adds exactly `rounded` units while the exact sum stays
    // below the top of the range, which p + rounded + 1 <= top guarantees.
    const uint32_t room = 0x1000000u - 1u - units;

    if ((uint64_t) wanted * rounded <= room)
        return wanted;

    return (int) (room / rounded);
}
