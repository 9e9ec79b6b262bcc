#pragma once

#include <juce_core/juce_core.h>

#include <optional>

namespace render
{
    /** What the command line asks for. Settings left out keep what the
        plug-in (or a loaded state) has. */
    struct Options
    {
        enum class Format { f32, s24, s16 };

        juce::String input;                  // empty: the built-in demo
        juce::String output;
        std::optional<float> depth, speed, mix;   // knob positions 0 to 10
        std::optional<bool> stereoMode;
        bool off = false;
        bool bypass = false;
        bool monoOut = false;
        juce::String preset;                 // a factory preset's name as the table gives it; empty: none
        juce::String stateIn, stateOut, plot;
        int block = 512;
        Format format = Format::f32;
        bool quiet = false;
        bool help = false;
        bool listPresets = false;
        bool version = false;

        int bitsPerSample() const { return format == Format::s16 ? 16 : format == Format::s24 ? 24 : 32; }
    };

    /** Parses the arguments after the program name. On a mistake returns false
        and puts a one-line description of it into error. */
    bool parse (const juce::StringArray& args, Options& options, juce::String& error);

    const char* usage();

    constexpr int maxBlock = 65536;
}
