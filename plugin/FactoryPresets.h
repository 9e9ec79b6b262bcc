#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>

/**
    The factory presets: the one table that the LV2 bundle's presets, the
    VST3 preset files, the panel's menu and the renderer's --preset all come
    from.

    A preset holds a plain value for each of the five parameters, in the
    order of ParameterIDs::all, each one the parameter can take (switches 0
    or 1, knobs on tenths from 0 to 10). The first preset is the plug-in's
    defaults.
*/
namespace FactoryPresets
{
    struct Preset
    {
        const char* name;     // what hosts and menus show
        const char* symbol;   // lower-case, letters, digits and '_': URIs and file names
        std::array<float, 5> values;   // plain values, in the order of ParameterIDs::all
    };

    const std::array<Preset, 10>& all();

    /** The preset of a name (case-insensitive), or nullptr. */
    const Preset* find (const juce::String& name);

    /** The known names, comma-separated, for messages. */
    juce::String names();

    /** The preset whose values are the processor's current ones, or nullptr. */
    const Preset* matching (const juce::AudioProcessor&);

    /** Sets the processor's five parameters to the preset's values as one
        change a host can record: a gesture opened on each, the values set
        and the host told, then the gestures closed. Only parameters change;
        nothing of the state-loading path runs. */
    void apply (const Preset&, juce::AudioProcessor&);
}
