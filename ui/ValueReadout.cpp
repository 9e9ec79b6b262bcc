#include "ui/ValueReadout.h"

namespace
{
    const juce::Colour labelFill { 0xff140c1c };
    const juce::Colour labelEdge { 0x40f3edf8 };
    const juce::Colour ink { 0xfff3edf8 };
    constexpr float cornerSize = 3.0f;
}

ValueReadout::ValueReadout()
{
    setInterceptsMouseClicks (false, false);
    setSize (width, height);
}

ValueReadout::~ValueReadout() = default;

void ValueReadout::setPictures (const juce::Image& newStrip, int scale)
{
    strip = newStrip;
    pictureScale = juce::jmax (1, scale);
    repaint();
}

void ValueReadout::showUnder (const juce::String& newText, juce::Rectangle<int> knobArea)
{
    // On whole panel units, so that the characters sit on the pictures'
    // pixel grid at every zoom that is a whole multiple.
    setTopLeftPosition (knobArea.getX() + (knobArea.getWidth() - width) / 2, knobArea.getBottom());
    setText (newText);
    setVisible (true);
}

void ValueReadout::setText (const juce::String& newText)
{
    if (newText != text)
    {
        text = newText;
        repaint();
    }
}

int ValueReadout::advanceOf (juce::juce_wchar character) noexcept
{
    // The digits are all as wide in the face they are drawn from; the
    // point is narrow. Both odd, so that a cell, which centres its
    // character, starts on a whole unit.
    return character == '.' ? 3 : 7;
}

void ValueReadout::paint (juce::Graphics& g)
{
    const auto area = getLocalBounds().toFloat();
    g.setColour (labelFill);
    g.fillRoundedRectangle (area, cornerSize);
    g.setColour (labelEdge);
    g.drawRoundedRectangle (area.reduced (0.5f), cornerSize, 1.0f);

    const juce::String drawable (characters);
    const auto frameHeight = strip.getHeight() / drawable.length();
    const auto canDraw = strip.getWidth() == cellWidth * pictureScale && frameHeight == cellHeight * pictureScale
                         && text.containsOnly (drawable);

    if (! canDraw)
    {
        g.setColour (ink);
        g.setFont (juce::Font ((float) cellHeight, juce::Font::bold));
        g.drawText (text, getLocalBounds(), juce::Justification::centred, false);
        return;
    }

    int textWidth = 0;

    for (auto character : text)
        textWidth += advanceOf (character);

    auto x = (width - textWidth) / 2;
    const auto y = (height - cellHeight) / 2;

    for (auto character : text)
    {
        const auto advance = advanceOf (character);
        const auto index = drawable.indexOfChar (character);

        g.drawImage (strip,
                     x + (advance - cellWidth) / 2, y, cellWidth, cellHeight,
                     0, index * frameHeight, strip.getWidth(), frameHeight);
        x += advance;
    }
}
