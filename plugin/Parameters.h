#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

/** Parameter IDs, in creation order (which is also their index). */
namespace ParameterIDs
{
    inline constexpr const char* chorusOn    = "chorus_on";
    inline constexpr const char* chorusDepth = "chorus_depth";
    inline constexpr const char* chorusSpeed = "chorus_speed";
    inline constexpr const char* chorusMix   = "chorus_mix";
    inline constexpr const char* stereoProc  = "stereo_proc";

    inline constexpr const char* all[] = { chorusOn, chorusDepth, chorusSpeed, chorusMix, stereoProc };
}

/**
    One automatable parameter of the plug-in: a linear range with an interval,
    a default, and a pair of text conversions.

    Whatever a host or a saved document hands it, its value stays legal: a
    non-finite value gives the default and anything else is clamped into the
    range and snapped to the interval.
*/
class ChorusParameter final : public juce::RangedAudioParameter
{
public:
    /** Text from a normalised (0..1) value. */
    using TextFromValue = std::function<juce::String (const ChorusParameter&, float normalisedValue)>;
    /** Normalised value from text. */
    using ValueFromText = std::function<float (const ChorusParameter&, const juce::String&)>;

    ChorusParameter (const juce::String& parameterID,
                     const juce::String& parameterName,
                     juce::NormalisableRange<float> range,
                     float defaultPlainValue,
                     TextFromValue textFromValue,
                     ValueFromText valueFromText);

    float getValue() const override                 { return convertTo0to1 (plainValue.load()); }
    void setValue (float newNormalisedValue) override;
    float getDefaultValue() const override          { return range.convertTo0to1 (defaultPlainValue); }
    juce::String getText (float normalisedValue, int maximumStringLength) const override;
    float getValueForText (const juce::String& text) const override;
    const juce::NormalisableRange<float>& getNormalisableRange() const override { return range; }

    float getDefaultPlainValue() const noexcept     { return defaultPlainValue; }
    float getPlainValue() const noexcept            { return plainValue.load(); }

    /** The plain value itself, for readers that keep a reference (the
        listener engine): it changes the moment setValue() stores, before
        any listener hears of it. */
    const std::atomic<float>& plainValueSource() const noexcept { return plainValue; }

    /** A legal plain value for any plain value: the default for a non-finite
        one, otherwise clamped into the range (before it is narrowed to float,
        so that values beyond the float range clamp too) and snapped to the
        interval. */
    float legalPlainValue (double plain) const noexcept;

private:
    const juce::NormalisableRange<float> range;
    const float defaultPlainValue;
    std::atomic<float> plainValue;
    const TextFromValue textFromValue;
    const ValueFromText valueFromText;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ChorusParameter)
};

/** The five parameters, in creation order. */
juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout();
