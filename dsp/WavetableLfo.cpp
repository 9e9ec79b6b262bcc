#include "dsp/WavetableLfo.h"

#include <cmath>
#include <cstring>
#include <limits>

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

    if (! (phase >= std::numeric_limits<float>::min()) || ! (increment > 0.0f))
        return 0;

    // The phase is a whole number of units `spacing` = 2^e apart, from 2^23
    // to 2^24 - 1 of them within its power-of-two range, whose top (at most
    // 1024) is 2^24 units.
    uint32_t bits = 0;
    std::memcpy (&bits, &phase, sizeof (bits));
    const int e = (int) (bits >> 23) - 150;
    const uint32_t units = (bits & 0x7fffffu) | 0x800000u;

    // The increment in units (exact: a power-of-two scaling), rounded to
    // nearest; exactly half way rounds by the parity of the phase.
    const auto powerOfTwo = [] (int exponent)
    {
        const uint64_t b = (uint64_t) (1023 + exponent) << 52;
        double d = 0.0;
        std::memcpy (&d, &b, sizeof (d));
        return d;
    };

    const double increase = (double) increment * powerOfTwo (-e);

    if (increase >= 16777216.0)
        return 0;

    const double below = (double) (int64_t) increase;

    if (increase - below == 0.5)
        return 0;

    const auto rounded = (uint32_t) (increase - below > 0.5 ? below + 1.0 : below);

    step = (float) ((double) rounded * powerOfTwo (e));

    // Less than half a unit: every tick leaves the phase as it is.
    if (rounded == 0)
        return wanted;

    // A tick from p adds exactly `rounded` units while the exact sum stays
    // below the top of the range, which p + rounded + 1 <= top guarantees.
    const uint32_t room = 16777216u - 1u - units;

    if ((uint64_t) wanted * rounded <= room)
        return wanted;

    return (int) (room / rounded);
}
