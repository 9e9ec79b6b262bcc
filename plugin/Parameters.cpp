#include "plugin/Parameters.h"

#include "plugin/DecimalText.h"

#include <cmath>

ChorusParameter::ChorusParameter (const juce::String& parameterID,
                                  const juce::String& parameterName,
                                  juce::NormalisableRange<float> r,
                                  float defaultPlain,
                                  TextFromValue toText,
                                  ValueFromText fromText)
    : RangedAudioParameter (juce::ParameterID { parameterID, 1 }, parameterName),
      range (r),
      defaultPlainValue (defaultPlain),
      plainValue (defaultPlain),
      textFromValue (std::move (toText)),
      valueFromText (std::move (fromText))
{
}

float ChorusParameter::legalPlainValue (double plain) const noexcept
{
    if (! std::isfinite (plain))
        return defaultPlainValue;

    return range.snapToLegalValue ((float) juce::jlimit ((double) range.start, (double) range.end, plain));
}

void ChorusParameter::setValue (float newNormalisedValue)
{
    if (! std::isfinite (newNormalisedValue))
        newNormalisedValue = getDefaultValue();

    plainValue = convertFrom0to1 (juce::jlimit (0.0f, 1.0f, newNormalisedValue));
}

juce::String ChorusParameter::getText (float normalisedValue, int) const
{
    return textFromValue (*this, normalisedValue);
}

float ChorusParameter::getValueForText (const juce::String& text) const
{
    const auto normalised = valueFromText (*this, text);
    return std::isfinite (normalised) ? normalised : getDefaultValue();
}

namespace
{
    // A two-state parameter shown as one of two words; only the exact first
    // word switches it to 0, any other text gives 1.
    std::unique_ptr<ChorusParameter> makeSwitch (const char* id, const char* name, float defaultValue,
                                                 const char* offText, const char* onText)
    {
        const juce::String off (offText), on (onText);

        return std::make_unique<ChorusParameter> (
            id, name, juce::NormalisableRange<float> (0.0f, 1.0f, 1.0f, 1.0f), defaultValue,
            [off, on] (const ChorusParameter& p, float normalised)
            {
                return p.convertFrom0to1 (normalised) < 0.5f ? off : on;
            },
            [off] (const ChorusParameter& p, const juce::String& text)
            {
                return p.getNormalisableRange().convertTo0to1 (text == off ? 0.0f : 1.0f);
            });
    }

    // A knob from 0 to 10 in steps of 0.1. Its text is the plain value with
    // one decimal, as the panel's 0 to 10 scale reads ("5.0"), and typed
    // text is read as a plain value too, so that what a host shows can be
    // typed back. The text is built from whole tenths rather than by a
    // number formatter, so that it has a point whatever the locale.
    std::unique_ptr<ChorusParameter> makeKnob (const char* id, const char* name, float defaultValue)
    {
        return std::make_unique<ChorusParameter> (
            id, name, juce::NormalisableRange<float> (0.0f, 10.0f, 0.1f, 1.0f), defaultValue,
            [] (const ChorusParameter& p, float normalised)
            {
                const auto plain = p.legalPlainValue (p.convertFrom0to1 (normalised));
                const auto tenths = (int) std::lround ((double) plain * 10.0);
                return juce::String (tenths / 10) + "." + juce::String (tenths % 10);
            },
            [] (const ChorusParameter& p, const juce::String& text)
            {
                // Clamped in double first: text beyond the float range would
                // otherwise become infinite on the way.
                const auto& range = p.getNormalisableRange();
                const auto plain = DecimalText::read (text.toRawUTF8());
                return range.convertTo0to1 ((float) juce::jlimit ((double) range.start, (double) range.end, plain));
            });
    }
}

juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout()
{
    juce::AudioProcessorValueTreeState::ParameterLayout layout;
    layout.add (makeSwitch (ParameterIDs::chorusOn, "Chorus", 1.0f, "Off", "On"));
    layout.add (makeKnob (ParameterIDs::chorusDepth, "Chorus Depth", 0.0f));
    layout.add (makeKnob (ParameterIDs::chorusSpeed, "Chorus Speed", 0.0f));
    layout.add (makeKnob (ParameterIDs::chorusMix, "Chorus Mix", 10.0f));
    layout.add (makeSwitch (ParameterIDs::stereoProc, "Processing Mode", 1.0f, "Mono", "Stereo"));
    return layout;
}
