#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <array>
#include <memory>
#include <vector>

namespace render
{
    /** Where the renderer's input comes from, one block at a time. */
    class Source
    {
    public:
        virtual ~Source() = default;

        virtual int numChannels() const = 0;
        virtual double sampleRate() const = 0;
        virtual juce::int64 length() const = 0;           // in samples
        virtual juce::String description() const = 0;     // for the plot's title

        /** Fills the first numChannels() channels of buffer with the next
            numSamples samples. False if the input could not be read. */
        virtual bool read (juce::AudioBuffer<float>& buffer, int numSamples) = 0;
    };

    /** An audio file, read through the framework's basic formats. */
    class FileSource final : public Source
    {
    public:
        FileSource (std::unique_ptr<juce::AudioFormatReader> reader, juce::int64 length, juce::String name);

        int numChannels() const override      { return (int) reader->numChannels; }
        double sampleRate() const override    { return reader->sampleRate; }
        juce::int64 length() const override   { return numSamples; }
        juce::String description() const override { return name; }
        bool read (juce::AudioBuffer<float>& buffer, int count) override;

    private:
        std::unique_ptr<juce::AudioFormatReader> reader;
        juce::int64 numSamples, position = 0;
        juce::String name;
    };

    /**
        The built-in demo: a guitar-like arpeggio over four chords and a final
        strum, synthesised as it is read (plucked strings modelled as damped
        delay-line loops), in stereo at 48 kHz. Always the same samples.
    */
    class DemoSource final : public Source
    {
    public:
        DemoSource();

        int numChannels() const override      { return 2; }
        double sampleRate() const override    { return rate; }
        juce::int64 length() const override   { return numSamples; }
        juce::String description() const override { return "built-in demo (plucked-string arpeggios)"; }
        bool read (juce::AudioBuffer<float>& buffer, int count) override;

        static constexpr double rate = 48000.0;

    private:
        /** One string: a delay loop with a loss filter and an all-pass for
            the fraction of a sample that tunes it. */
        struct String
        {
            std::vector<float> loop;
            int length = 0, index = 0;
            float allpassCoefficient = 0, allpassIn = 0, allpassOut = 0;
            float previous = 0;
            float loss = 0;
            float pan[2] {};
            int note = -1;      // MIDI note it sounds, -1 if never plucked

            void pluck (double frequency, float velocity, float brightness, float panPosition, juce::uint32& noise);
            void damp() { loss *= 0.85f; }
            float next() noexcept;
        };

        struct Note
        {
            juce::int64 at;     // sample
            int string;         // 0 low E to 5 high E, or -1: a chord change
            int midiNote;       // for a chord change: the chord's index
            float velocity;
        };

        std::vector<Note> score;
        size_t nextNote = 0;
        std::array<String, 6> strings;
        juce::int64 numSamples = 0, position = 0;
        juce::uint32 noise = 0x9e3779b9u;
        float lowpass[2] {};
    };
}
