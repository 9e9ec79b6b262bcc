#pragma once

#include <juce_graphics/juce_graphics.h>
#include <juce_audio_basics/juce_audio_basics.h>

#include <vector>

namespace render
{
    /**
        Collects what the plot shows while the audio streams through, in a
        fixed number of time columns (so its memory does not grow with the
        length of the input): the lowest and highest sample of each input and
        output channel, and the delay time of each chorus voice as the engine
        reports it after every block. Then draws it all into one picture.
    */
    class Plot
    {
    public:
        static constexpr int width = 1200, height = 800;

        struct Setup
        {
            juce::String title, settings;
            double sampleRate = 48000.0;
            juce::int64 length = 0;
            int inputs = 2, outputs = 2;
            juce::String silentVoicesNote;   // shown when no voice runs
        };

        explicit Plot (Setup);

        /** Samples [start, start + n) of the input or the output. */
        void addInput (const juce::AudioBuffer<float>&, juce::int64 start, int n);
        void addOutput (const juce::AudioBuffer<float>&, juce::int64 start, int n);

        /** The delay of a voice in milliseconds at one sample. */
        void addDelay (int voice, juce::int64 sample, float milliseconds);

        /** Draws the picture. Needs the fonts (see Fonts). */
        juce::Image draw (const juce::Typeface::Ptr& regular, const juce::Typeface::Ptr& bold) const;

    private:
        struct Range
        {
            float lo = 0, hi = 0;
            bool seen = false;

            void add (float v) noexcept
            {
                lo = seen ? std::min (lo, v) : v;
                hi = seen ? std::max (hi, v) : v;
                seen = true;
            }
        };

        struct DelayColumn
        {
            Range range;
            float first = 0, last = 0;
        };

        void addSamples (std::vector<Range> (&into)[2], const juce::AudioBuffer<float>&, int channels,
                         juce::int64 start, int n);
        int columnOf (juce::int64 sample) const noexcept;

        Setup setup;
        int columns;
        std::vector<Range> input[2], output[2];
        std::vector<DelayColumn> delay[2];
    };
}
