// The painters for the panel and for each control.
#pragma once

#include "Fonts.h"

#include <juce_graphics/juce_graphics.h>

namespace tessamune::artwork
{
// The whole panel without the knobs, the lamp, the footswitch and the
// input-mode toggle: backdrop, top bar, cables and the pedal with its
// lettering, scale dots and name plate. Opaque ARGB, panelWidth x panelHeight
// times scale.
juce::Image renderBasePanel (const Fonts& fonts, int scale);

// Controls, drawn in panel coordinates. Each stays inside its control
// rectangle so it can be painted over a copy of the panel patch underneath.
void drawKnob (juce::Graphics& g, juce::Point<float> centre, float angle);
void drawLamp (juce::Graphics& g, juce::Point<float> centre, bool lit);
void drawFootswitch (juce::Graphics& g, juce::Point<float> centre, bool pressed);
void drawToggle (juce::Graphics& g, juce::Rectangle<float> area, bool stereo);

// One character of a knob's value readout, centred in its cell.
void drawReadoutCharacter (juce::Graphics& g, const Fonts& fonts, juce::juce_wchar character,
                           juce::Rectangle<float> cell);

} // namespace tessamune::artwork
