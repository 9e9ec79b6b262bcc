// Geometry of the front panel: the panel size, where each control sits and
// how many frames its film strip has. The plug-in's editor places its
// controls at the same rectangles, so frame 0 of each strip lines up with the
// background underneath it.
#pragma once

#include <juce_graphics/juce_graphics.h>

namespace tessamune::artwork
{
constexpr int panelWidth  = 370;
constexpr int panelHeight = 476;

// Every picture is drawn at these scales: 1 is the panel's own pixels, 2 and
// 3 hold two and three pixels per panel pixel in each direction for larger
// windows and denser screens. The drawing is the same at every scale; only
// the pixel grid is finer.
constexpr int pictureScales[] { 1, 2, 3 };

constexpr int knobFrames       = 65;
constexpr int lampFrames       = 2;
constexpr int footswitchFrames = 2;
constexpr int toggleFrames     = 2;

// Control rectangles on the panel (x, y, width, height); each equals one frame.
inline const juce::Rectangle<int> depthKnobArea  { 91,  71, 76, 73 };
inline const juce::Rectangle<int> speedKnobArea  { 149, 168, 73, 73 };
inline const juce::Rectangle<int> mixKnobArea    { 206, 71, 73, 73 };
inline const juce::Rectangle<int> lampArea       { 167, 296, 39, 41 };
inline const juce::Rectangle<int> footswitchArea { 160, 349, 51, 50 };
inline const juce::Rectangle<int> toggleArea     { 32,  14, 31, 20 };

// The pointer sweeps 300 degrees clockwise from about 7 o'clock (frame 0) to
// about 5 o'clock (last frame); 0 is straight up.
constexpr float knobMinDegrees   = -150.0f;
constexpr float knobSweepDegrees = 300.0f;

inline float knobAngle (int frame)
{
    const auto degrees = knobMinDegrees + knobSweepDegrees * (float) frame / (float) (knobFrames - 1);
    return juce::degreesToRadians (degrees);
}

// Knob geometry, shared by the panel (scale dots) and the knob itself.
constexpr float knobSkirtRadius = 25.0f;
constexpr float knobCapRadius   = 16.5f;
constexpr float knobDotRadius   = 32.0f;
constexpr int   knobScaleDots   = 11;

// The knob's centre inside its rectangle: centred, so the wider depth
// rectangle gets the same margins on both sides.
inline juce::Point<float> knobCentre (juce::Rectangle<int> area)
{
    return area.toFloat().getCentre();
}

// The characters a knob's value is shown with while it turns, one per frame
// of the readout strip, each centred in a transparent cell of this size.
inline constexpr const char* readoutCharacters = "0123456789.";
constexpr int readoutCellWidth  = 9;
constexpr int readoutCellHeight = 11;
constexpr float readoutFontHeight = 11.0f;
constexpr float readoutBaseline   = 9.0f;

// The pedal enclosure.
inline const juce::Rectangle<float> pedalBody { 60.0f, 46.0f, 251.0f, 423.0f };
constexpr float pedalCornerRadius = 15.0f;
constexpr float topBarHeight      = 35.0f;

} // namespace tessamune::artwork
