#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    A knob's value, shown as the host shows the parameter's text ("5.0"),
    while the knob turns: a small dark label laid over the knob's printed
    name. It is drawn in panel units from the readout's character pictures
    (the digits and the point, at the scale of the panel's other pictures),
    so it needs no system font; any other character falls back to the
    default font. It takes no mouse clicks.
*/
class ValueReadout : public juce::Component
{
public:
    ValueReadout();
    ~ValueReadout() override;

    /** The character strip (one character a frame, in the order of
        `characters`), holding `scale` pixels per panel unit. */
    void setPictures (const juce::Image& strip, int scale);

    /** Shows the text in a label right under a knob's place on the panel,
        centred across it, over the knob's printed name. */
    void showUnder (const juce::String& text, juce::Rectangle<int> knobArea);

    /** Keeps showing where it is, with other text. */
    void setText (const juce::String& text);

    const juce::String& getText() const noexcept { return text; }

    void paint (juce::Graphics&) override;

    /** The characters of the strip, top to bottom, and their cells. */
    static constexpr const char* characters = "0123456789.";
    static constexpr int cellWidth = 9;
    static constexpr int cellHeight = 11;

    /** The label's size, in panel units. */
    static constexpr int width = 46;
    static constexpr int height = 15;

private:
    static int advanceOf (juce::juce_wchar character) noexcept;

    juce::Image strip;
    int pictureScale = 1;
    juce::String text;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ValueReadout)
};
