#include "plugin/FactoryPresets.h"

#include "plugin/Parameters.h"

#include <cmath>

namespace FactoryPresets
{
    const std::array<Preset, 10>& all()
    {
        //                                                       on   depth speed mix  stereo
        static const std::array<Preset, 10> presets {{
            { "Default",             "default",             { 1.0f, 0.0f,  0.0f, 10.0f, 1.0f } },
            { "Subtle Doubler",      "subtle_doubler",      { 1.0f, 1.5f,  1.0f,  4.0f, 1.0f } },
            { "Classic Chorus",      "classic_chorus",      { 1.0f, 5.0f,  3.0f, 10.0f, 1.0f } },
            { "Gentle Ensemble",     "gentle_ensemble",     { 1.0f, 4.0f,  1.5f,  6.0f, 1.0f } },
            { "Wide Shimmer",        "wide_shimmer",        { 1.0f, 3.0f,  6.0f,  8.0f, 1.0f } },
            { "Slow Deep Sweep",     "slow_deep_sweep",     { 1.0f, 10.0f, 0.5f,  8.0f, 1.0f } },
            { "Fast Warble",         "fast_warble",         { 1.0f, 6.0f, 10.0f, 10.0f, 1.0f } },
            { "Tape Flutter",        "tape_flutter",        { 1.0f, 1.0f,  8.0f,  5.0f, 1.0f } },
            { "Mono Widener",        "mono_widener",        { 1.0f, 2.5f,  2.0f,  6.0f, 0.0f } },
            { "Mono Swirl",          "mono_swirl",          { 1.0f, 8.0f,  1.0f,  7.0f, 0.0f } },
        }};

        return presets;
    }

    const Preset* find (const juce::String& name)
    {
        for (const auto& preset : all())
            if (name.equalsIgnoreCase (preset.name))
                return &preset;

        return nullptr;
    }

    juce::String names()
    {
        juce::StringArray list;

        for (const auto& preset : all())
            list.add (preset.name);

        return list.joinIntoString (", ");
    }

    namespace
    {
        juce::RangedAudioParameter* parameter (const juce::AudioProcessor& processor, const char* id)
        {
            for (auto* p : processor.getParameters())
                if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (p))
                    if (ranged->getParameterID() == id)
                        return ranged;

            return nullptr;
        }
    }

    const Preset* matching (const juce::AudioProcessor& processor)
    {
        for (const auto& preset : all())
        {
            bool same = true;

            for (size_t i = 0; i < preset.values.size() && same; ++i)
            {
                const auto* p = parameter (processor, ParameterIDs::all[i]);
                same = p != nullptr && std::abs (p->convertFrom0to1 (p->getValue()) - preset.values[i]) < 0.01f;
            }

            if (same)
                return &preset;
        }

        return nullptr;
    }

    void apply (const Preset& preset, juce::AudioProcessor& processor)
    {
        std::array<juce::RangedAudioParameter*, 5> parameters {};

        for (size_t i = 0; i < parameters.size(); ++i)
            parameters[i] = parameter (processor, ParameterIDs::all[i]);

        for (auto* p : parameters)
            if (p != nullptr)
                p->beginChangeGesture();

        for (size_t i = 0; i < parameters.size(); ++i)
            if (auto* p = parameters[i])
                p->setValueNotifyingHost (p->convertTo0to1 (preset.values[i]));

        for (auto* p : parameters)
            if (p != nullptr)
                p->endChangeGesture();
    }
}
