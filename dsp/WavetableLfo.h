#pragma once

#include <cstddef>
#include <cstdint>

/** Waveforms of the oscillator. Any other value reads the sine. */
enum LfoWaveform : int32_t
{
    Sine = 0,
    Saw = 1,
    Triangle = 2,
    Square = 3
};

/**
    A low-frequency oscillator that reads precomputed single-cycle tables of
    1024 points with linear interpolation, one value per audio sample.

    The tables are computed once per process, when the first oscillator is
    constructed, so tick() never evaluates a trigonometric function. The
    owner configures the oscillator by writing its fields directly; whoever
    changes `frequency` or the sample rate also sets `increment` (see
    incrementFor).
*/
class WavetableLfo
{
public:
    static constexpr int tableSize = 1024;
    static constexpr int numTables = 7;

    /** Table numbers: the plain shapes, then the band-limited ones. */
    enum TableIndex
    {
        sineTable = 0,
        sawTable = 1,
        triangleTable = 2,
        squareTable = 3,
        bandLimitedSawTable = 4,
        bandLimitedTriangleTable = 5,
        bandLimitedSquareTable = 6
    };

    WavetableLfo();

    /** Returns this sample's value and advances the phase. Audio thread. */
    inline float tick() noexcept;

    /** The value tick() returns at a phase (0 <= at < 1024) while running. */
    inline float valueAt (float at) const noexcept;

    /** The phase after one tick from `at`: the increment added, and 1024
        taken off once if the sum reaches it. */
    static float advance (float at, float increment) noexcept
    {
        const float next = at + increment;
        return next >= (float) tableSize ? next - (float) tableSize : next;
    }

    /** How many ticks from `phase` in a row, up to `wanted` (at least 1),
        each add exactly `step` (set here), so that the phase after k of them
        is phase + k * step, exact in float: while the sum stays within one
        power-of-two range and below 1024, each tick adds the increment
        rounded to that range's spacing, unless the increment lies exactly
        halfway between two spacings (then the rounding goes by the parity
        of the phase). Returns 0 where the next tick must be taken on its
        own. For 0 <= phase < 1024 and increment >= 0. */
    static int uniformSteps (float phase, float increment, float& step, int wanted) noexcept;

    /** The table that tick() reads for the current waveform settings. */
    int currentTable() const noexcept;

    /** Table points per sample for a rate in hertz at a sample rate: the
        frequency widened to double, the sample rate rounded to float and
        widened, the quotient rounded to float. */
    static float incrementFor (float frequencyHz, double sampleRate) noexcept
    {
        return (float) ((double) frequencyHz * 1024.0 / (double) (float) sampleRate);
    }

    /** Fills the seven tables. */
    static void computeTables (float (&tables)[numTables][tableSize]) noexcept;

    /** The seven tables, computed once per process and shared read-only
        by every oscillator (they are the same for all). */
    const float (*tables)[tableSize];
    float phase = 0.0f;            // read position in table points, 0 <= phase < 1024
    bool inverted = false;
    float increment = 10.216779708862305f; // 440 Hz at 44100 Hz
    bool running = false;
    float frequency = 440.0f;
    int32_t waveform = Sine;
    int32_t bandLimited = 0;
    int32_t unipolar = 0;          // exactly 1 maps the output from -1..1 to 0..1
};

inline int WavetableLfo::currentTable() const noexcept
{
    switch (waveform)
    {
        case Saw:      return bandLimited != 0 ? bandLimitedSawTable : sawTable;
        case Triangle: return bandLimited != 0 ? bandLimitedTriangleTable : triangleTable;
        case Square:   return bandLimited != 0 ? bandLimitedSquareTable : squareTable;
        default:       return sineTable;
    }
}

inline float WavetableLfo::tick() noexcept
{
    if (! running)
        return 0.0f;

    const float v = valueAt (phase);
    phase = advance (phase, increment);
    return v;
}

inline float WavetableLfo::valueAt (float at) const noexcept
{
    const int n = (int) at;
    const int next = n + 1 > tableSize - 1 ? 0 : n + 1;
    const float frac = at - (float) n;

    const float* table = tables[currentTable()];
    float v = frac * table[next] + (1.0f - frac) * table[n];

    if (inverted)
        v = -v;

    if (unipolar == 1)
        v = (float) ((double) v * 0.5 + 0.5);

    return v;
}
