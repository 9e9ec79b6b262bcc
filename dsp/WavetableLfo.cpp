#include "dsp/WavetableLfo.h"

#include <algorithm>
#include <cmath>
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
}

WavetableLfo::WavetableLfo()
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

int WavetableLfo::uniformSteps (float phase, float increment, float& step) noexcept
{
    constexpr int unlimited = std::numeric_limits<int>::max();

    if (increment == 0.0f)
    {
        step = 0.0f;
        return unlimited;
    }

    if (! (phase >= std::numeric_limits<float>::min()) || ! (increment > 0.0f))
        return 0;

    // The phase lies in [2^(e-1), 2^e), where floats are `spacing` apart.
    int e = 0;
    std::frexp (phase, &e);
    const double spacing = std::ldexp (1.0, e - 24);
    const double top = std::min (std::ldexp (1.0, e), (double) tableSize);

    // The increment in units of the spacing (exact: a power-of-two scaling),
    // rounded to nearest.
    const double units = (double) increment / spacing;
    const double below = std::floor (units);

    if (units - below == 0.5)
        return 0;

    const double rounded = units - below > 0.5 ? below + 1.0 : below;

    if (rounded == 0.0)
    {
        // Less than half a spacing: every tick leaves the phase as it is.
        step = 0.0f;
        return unlimited;
    }

    // A tick from p adds exactly `rounded` units while the exact sum stays
    // below the top of the range, which p + rounded + 1 <= top (in units)
    // guarantees. All these values are integers below 2^25.
    const double steps = std::floor ((top / spacing - 1.0 - (double) phase / spacing) / rounded);

    if (steps < 1.0)
        return 0;

    step = (float) (rounded * spacing);
    return steps >= (double) unlimited ? unlimited : (int) steps;
}
