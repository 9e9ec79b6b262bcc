#include "Source.h"

#include <cmath>

namespace render
{
    FileSource::FileSource (std::unique_ptr<juce::AudioFormatReader> r, juce::int64 length, juce::String n)
        : reader (std::move (r)), numSamples (length), name (std::move (n))
    {
    }

    bool FileSource::read (juce::AudioBuffer<float>& buffer, int count)
    {
        const auto ok = reader->read (buffer.getArrayOfWritePointers(), numChannels(), position, count);
        position += count;
        return ok;
    }

    //==========================================================================
    namespace
    {
        constexpr double pi = 3.14159265358979323846;

        // Guitar strings from low E to high E; -1: not played in the chord.
        struct Chord { int notes[6]; };
        constexpr Chord aMinor { { -1, 45, 52, 57, 60, 64 } };
        constexpr Chord fMajor { { 41, 48, 53, 57, 60, 65 } };
        constexpr Chord cMajor { { -1, 48, 52, 55, 60, 64 } };
        constexpr Chord gMajor { { 43, 47, 50, 55, 59, 67 } };
        constexpr Chord progression[] = { aMinor, fMajor, cMajor, gMajor };

        constexpr double eighth = 0.25;   // seconds: 120 beats a minute
        constexpr double strumAt = 8.0;
        constexpr double demoLength = 11.0;

        // The picking pattern over one bar of eighths: the bass string of the
        // chord, then up and down the treble strings.
        constexpr int pattern[8] = { -1, 2, 3, 4, 5, 4, 3, 4 };

        double frequencyOf (int midiNote) { return 440.0 * std::pow (2.0, (midiNote - 69) / 12.0); }

        float uniform (juce::uint32& state)
        {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            return (float) ((double) state / 4294967296.0 * 2.0 - 1.0);
        }

        // Keeps the sum of the six strings around -6 dBFS at its loudest.
        constexpr float outputGain = 0.55f;
    }

    void DemoSource::String::pluck (double frequency, float velocity, float brightness, float panPosition,
                                    juce::uint32& noiseState)
    {
        // Loop delay: whole samples, half a sample in the loss filter, and the
        // rest (0.1 to 1.1 samples, where the all-pass is well behaved) in
        // the all-pass.
        const double period = rate / frequency;
        length = (int) std::floor (period - 0.6);
        const double fraction = period - 0.5 - length;
        allpassCoefficient = (float) ((1.0 - fraction) / (1.0 + fraction));
        allpassIn = allpassOut = previous = 0.0f;
        index = 0;

        // Lower notes ring longer; -60 dB after decaySeconds.
        const double decaySeconds = 5.5 - 0.06 * (12.0 * std::log2 (frequency / 82.41));
        loss = (float) std::pow (0.001, 1.0 / (frequency * std::max (1.5, decaySeconds)));

        // The excitation: noise, softened by a one-pole low-pass, with the
        // notch of a pick a seventh of the way along the string.
        loop.assign ((size_t) length, 0.0f);
        float smooth = 0.0f;
        for (auto& s : loop)
        {
            smooth += brightness * (uniform (noiseState) - smooth);
            s = smooth;
        }

        const int pick = std::max (1, length / 7);
        for (int i = length - 1; i >= pick; --i)
            loop[(size_t) i] -= loop[(size_t) (i - pick)];

        float mean = 0.0f, peak = 0.0f;
        for (auto s : loop) mean += s;
        mean /= (float) length;
        for (auto& s : loop) { s -= mean; peak = std::max (peak, std::abs (s)); }
        for (auto& s : loop) s *= velocity / std::max (peak, 1.0e-6f);

        const double angle = (panPosition + 1.0) * pi / 4.0;
        pan[0] = (float) std::cos (angle);
        pan[1] = (float) std::sin (angle);
    }

    float DemoSource::String::next() noexcept
    {
        if (length == 0)
            return 0.0f;

        const float out = loop[(size_t) index];
        const float filtered = loss * 0.5f * (out + previous);
        previous = out;

        const float tuned = allpassCoefficient * filtered + allpassIn - allpassCoefficient * allpassOut;
        allpassIn = filtered;
        allpassOut = tuned;

        loop[(size_t) index] = tuned;
        if (++index == length)
            index = 0;

        return out;
    }

    DemoSource::DemoSource()
        : numSamples ((juce::int64) (demoLength * rate))
    {
        for (auto& s : strings)
            s.loop.reserve ((size_t) (rate / 60.0));

        const auto at = [] (double seconds) { return (juce::int64) std::llround (seconds * rate); };
        for (int bar = 0; bar < 4; ++bar)
        {
            const auto& chord = progression[bar];
            const double barStart = bar * 8 * eighth;
            const int bass = chord.notes[0] >= 0 ? 0 : 1;

            score.push_back ({ at (barStart), -1, bar, 0.0f });

            for (int step = 0; step < 8; ++step)
            {
                const int string = pattern[step] < 0 ? bass : pattern[step];
                const float velocity = step == 0 ? 0.95f : step == 4 ? 0.8f : 0.62f + 0.05f * (float) (step % 3);
                score.push_back ({ at (barStart + step * eighth), string, chord.notes[string], velocity });
            }
        }

        // The last chord strummed downwards, then left to ring.
        score.push_back ({ at (strumAt), -1, 0, 0.0f });
        for (int string = 1; string < 6; ++string)
            score.push_back ({ at (strumAt + 0.014 * (string - 1)), string, aMinor.notes[string], 0.85f - 0.04f * (float) string });
    }

    bool DemoSource::read (juce::AudioBuffer<float>& buffer, int count)
    {
        auto* left = buffer.getWritePointer (0);
        auto* right = buffer.getWritePointer (1);

        for (int i = 0; i < count; ++i, ++position)
        {
            while (nextNote < score.size() && score[nextNote].at <= position)
            {
                const auto& note = score[nextNote++];

                if (note.string < 0)
                {
                    // A chord change: fretting another note (or lifting the
                    // finger) stops what a string was sounding.
                    const auto& chord = progression[note.midiNote];
                    for (int s = 0; s < 6; ++s)
                        if (chord.notes[s] != strings[(size_t) s].note)
                            strings[(size_t) s].damp();
                    continue;
                }

                const float brightness = 0.35f + 0.4f * note.velocity;
                auto& string = strings[(size_t) note.string];
                string.pluck (frequencyOf (note.midiNote), note.velocity, brightness, -0.5f + 0.2f * (float) note.string, noise);
                string.note = note.midiNote;
            }

            float sum[2] {};
            for (auto& s : strings)
            {
                const float v = s.next();
                sum[0] += v * s.pan[0];
                sum[1] += v * s.pan[1];
            }

            // A gentle low-pass (about 7 kHz) for the body's softness.
            for (int c = 0; c < 2; ++c)
                lowpass[c] += 0.6f * (sum[c] - lowpass[c]);

            left[i] = outputGain * lowpass[0];
            right[i] = outputGain * lowpass[1];
        }

        return true;
    }
}
