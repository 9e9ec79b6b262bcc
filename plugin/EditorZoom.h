#pragma once

#include <juce_core/juce_core.h>

#include <optional>

/**
    The editor's zoom: its size as a multiple of the panel's own 370 x 476,
    and the text it is kept as, in the saved state and in the user's
    settings: per cent, with at most one decimal ("200", "137.5").
*/
namespace EditorZoom
{
    inline constexpr double minimum = 1.0;
    inline constexpr double maximum = 3.0;

    /** The zoom in per cent, rounded to a tenth, within the range. */
    juce::String toText (double zoom);

    /** The zoom that text in per cent stands for: any decimal text, clamped
        into the range; nothing for text that is not a positive number. */
    std::optional<double> fromText (const juce::String& text);
}
