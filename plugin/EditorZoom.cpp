#include "plugin/EditorZoom.h"

#include "plugin/DecimalText.h"

juce::String EditorZoom::toText (double zoom)
{
    const auto tenths = juce::roundToInt (juce::jlimit (minimum, maximum, zoom) * 1000.0);

    if (tenths % 10 == 0)
        return juce::String (tenths / 10);

    return juce::String (tenths / 10) + "." + juce::String (tenths % 10);
}

std::optional<double> EditorZoom::fromText (const juce::String& text)
{
    const auto percent = DecimalText::read (text.toRawUTF8());

    if (! (percent > 0.0))
        return {};

    return juce::jlimit (minimum, maximum, percent / 100.0);
}
