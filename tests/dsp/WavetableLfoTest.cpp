#include "dsp/WavetableLfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{
    float valueAt (WavetableLfo& lfo, float phase)
    {
        lfo.phase = phase;
        return lfo.tick();
    }

    WavetableLfo runningTriangle (int unipolar, bool inverted = false)
    {
        WavetableLfo lfo;
        lfo.waveform = Triangle;
        lfo.unipolar = unipolar;
        lfo.inverted = inverted;
        lfo.increment = 0.0f;
        lfo.running = true;
        return lfo;
    }
}

TEST (WavetableLfo, StoppedOscillatorYieldsZeroAndHoldsItsPhase)
{
    WavetableLfo lfo;
    EXPECT_EQ (lfo.frequency, 440.0f);
    EXPECT_EQ (lfo.increment, 10.216779708862305f);

    for (int i = 0; i < 100; ++i)
        ASSERT_EQ (lfo.tick(), 0.0f);

    EXPECT_EQ (lfo.phase, 0.0f);
}

TEST (WavetableLfo, TriangleValuesAtKnownPhases)
{
    struct Case { int unipolar; bool inverted; float phase; float expected; };

    const Case cases[] = {
        { 0, false, 256.0f,  1.0f },
        { 0, false, 768.0f, -1.0f },
        { 0, false, 1023.5f, -0.001953125f },   // halfway between point 1023 and point 0
        { 1, false, 0.0f,    0.5f },
        { 1, false, 256.0f,  1.0f },
        { 1, false, 768.0f,  0.0f },
        { 1, true,  256.0f,  0.0f },            // 0.5 - v / 2
        { 1, true,  128.0f,  0.25f },
        { 1, true,  768.0f,  1.0f },
        { 2, false, 768.0f, -1.0f },            // only exactly 1 means unipolar
    };

    for (const auto& c : cases)
    {
        auto lfo = runningTriangle (c.unipolar, c.inverted);
        EXPECT_EQ (valueAt (lfo, c.phase), c.expected)
            << "unipolar " << c.unipolar << " inverted " << c.inverted << " phase " << c.phase;
    }
}

TEST (WavetableLfo, TickReturnsTheValueBeforeAdvancingAndWrapsOnce)
{
    auto lfo = runningTriangle (0);
    lfo.phase = 1020.0f;
    lfo.increment = 10.0f;

    const float first = lfo.tick();
    EXPECT_EQ (first, lfo.tables[WavetableLfo::triangleTable][1020]);
    EXPECT_EQ (lfo.phase, 6.0f);
}

TEST (WavetableLfo, IncrementForChorusRates)
{
    EXPECT_NEAR (WavetableLfo::incrementFor (5.0f, 44100.0), 0.1161, 0.0001);
    EXPECT_NEAR (WavetableLfo::incrementFor (0.02f, 44100.0), 0.000464, 0.000001);
    EXPECT_EQ (WavetableLfo::incrementFor (440.0f, 44100.0), 10.216779708862305f);
    EXPECT_EQ (WavetableLfo::incrementFor (5.0f, 48000.0), (float) (5.0 * 1024.0 / 48000.0));
}

TEST (WavetableLfo, TableSelection)
{
    struct Case { int32_t waveform; int32_t bandLimited; int table; };

    const Case cases[] = {
        { Sine, 0, WavetableLfo::sineTable },
        { Sine, 1, WavetableLfo::sineTable },
        { 7, 0, WavetableLfo::sineTable },
        { -1, 1, WavetableLfo::sineTable },
        { Saw, 0, WavetableLfo::sawTable },
        { Saw, 5, WavetableLfo::bandLimitedSawTable },
        { Triangle, 0, WavetableLfo::triangleTable },
        { Triangle, 1, WavetableLfo::bandLimitedTriangleTable },
        { Square, 0, WavetableLfo::squareTable },
        { Square, 1, WavetableLfo::bandLimitedSquareTable },
    };

    WavetableLfo lfo;
    lfo.running = true;
    lfo.increment = 0.0f;

    for (const auto& c : cases)
    {
        lfo.waveform = c.waveform;
        lfo.bandLimited = c.bandLimited;
        EXPECT_EQ (lfo.currentTable(), c.table) << c.waveform << "/" << c.bandLimited;

        const auto& t = lfo.tables[c.table];
        EXPECT_EQ (valueAt (lfo, 100.25f), 0.25f * t[101] + 0.75f * t[100]);
    }
}

TEST (WavetableLfo, PlainTables)
{
    WavetableLfo lfo;
    const auto& sine = lfo.tables[WavetableLfo::sineTable];
    const auto& saw = lfo.tables[WavetableLfo::sawTable];
    const auto& triangle = lfo.tables[WavetableLfo::triangleTable];
    const auto& square = lfo.tables[WavetableLfo::squareTable];

    EXPECT_EQ (sine[0], 0.0f);
    EXPECT_EQ (sine[256], 1.0f);
    EXPECT_EQ (sine[100], (float) std::sin ((100.0 / 1024.0) * (double) 6.2831855f));

    EXPECT_EQ (saw[0], 0.0f);
    EXPECT_EQ (saw[1023], 0.0f);
    EXPECT_EQ (saw[511], 511.0f / 512.0f);
    EXPECT_EQ (saw[512], -511.0f / 512.0f);
    EXPECT_EQ (*std::max_element (std::begin (saw), std::end (saw)), 511.0f / 512.0f);

    EXPECT_EQ (triangle[0], 0.0f);
    EXPECT_EQ (triangle[128], 0.5f);
    EXPECT_EQ (triangle[256], 1.0f);
    EXPECT_EQ (triangle[512], 0.0f);
    EXPECT_EQ (triangle[768], -1.0f);
    EXPECT_EQ (triangle[1023], -1.0f / 256.0f);

    EXPECT_EQ (square[511], 1.0f);
    EXPECT_EQ (square[512], -1.0f);
}

TEST (WavetableLfo, BandLimitedTablesPeakAtExactlyOne)
{
    WavetableLfo lfo;

    struct Case { int table; int peakIndex; };
    const Case cases[] = {
        { WavetableLfo::bandLimitedSawTable, 427 },
        { WavetableLfo::bandLimitedTriangleTable, 256 },
        { WavetableLfo::bandLimitedSquareTable, 85 },
    };

    for (const auto& c : cases)
    {
        const auto& t = lfo.tables[c.table];
        EXPECT_EQ (*std::max_element (std::begin (t), std::end (t)), 1.0f) << c.table;
        EXPECT_EQ (t[c.peakIndex], 1.0f) << c.table;
    }

    EXPECT_EQ (lfo.tables[WavetableLfo::bandLimitedTriangleTable][768], -1.0f);
    EXPECT_EQ (lfo.tables[WavetableLfo::bandLimitedSawTable][0], 0.0f);
}

// Each band-limited table is its few harmonics over one cycle, divided by
// the sum's largest value: the saw's first five (amplitude 1/j, alternating
// in sign), the triangle's first four odd ones (1/k^2, alternating), the
// square's first three odd ones (1/k). The sums here are formed in double
// with the exact 2 pi; the tables accumulate in float with 2 pi rounded to
// float, which stays well within the tolerance, while a missing or extra
// harmonic, a wrong sign or amplitude, or a wrong scale is far outside it.
TEST (WavetableLfo, BandLimitedTablesAreTheirHarmonicsScaledToOne)
{
    struct Harmonic { int number; double amplitude; };
    struct Case { const char* name; int table; std::vector<Harmonic> harmonics; };

    const Case cases[] = {
        { "saw", WavetableLfo::bandLimitedSawTable, { { 1, 1.0 }, { 2, -1.0 / 2 }, { 3, 1.0 / 3 }, { 4, -1.0 / 4 }, { 5, 1.0 / 5 } } },
        { "triangle", WavetableLfo::bandLimitedTriangleTable, { { 1, 1.0 }, { 3, -1.0 / 9 }, { 5, 1.0 / 25 }, { 7, -1.0 / 49 } } },
        { "square", WavetableLfo::bandLimitedSquareTable, { { 1, 1.0 }, { 3, 1.0 / 3 }, { 5, 1.0 / 5 } } },
    };

    const double twoPi = 2.0 * 3.14159265358979323846;
    const WavetableLfo lfo;

    for (const auto& c : cases)
    {
        std::vector<double> sum (WavetableLfo::tableSize);

        for (int i = 0; i < WavetableLfo::tableSize; ++i)
            for (const auto& h : c.harmonics)
                sum[(size_t) i] += h.amplitude * std::sin (h.number * twoPi * i / WavetableLfo::tableSize);

        const auto largest = *std::max_element (sum.begin(), sum.end());
        const auto& table = lfo.tables[c.table];

        for (int i = 0; i < WavetableLfo::tableSize; ++i)
            ASSERT_NEAR (table[i], sum[(size_t) i] / largest, 2.0e-5) << c.name << " at point " << i;
    }
}
