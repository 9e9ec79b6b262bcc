#include "ui/FilmStrip.h"

#include <BinaryData.h>

//==============================================================================
FilmStripKnob::FilmStripKnob (const juce::String& name)
    : juce::Slider (name)
{
}

FilmStripKnob::~FilmStripKnob() = default;

void FilmStripKnob::setFilmStrip (juce::Image* strip, int frames)
{
    filmStrip = strip;
    frameCount = frames;
    setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);

    const auto stripHeight = strip != nullptr ? strip->getHeight() : 0;
    frameHeight = frames > 0 ? stripHeight / frames : 0;
    frameWidth = strip != nullptr ? strip->getWidth() : 0;
}

int FilmStripKnob::getFrameIndex() const noexcept
{
    const auto value = getValue();
    const auto minimum = getMinimum();
    const auto maximum = getMaximum();

    if (frameCount < 2 || ! (maximum > minimum))
        return 0;

    // Linear in the slider's own units, whatever mapping its range uses for
    // dragging. Truncating means the last frame shows only at the maximum.
    const auto position = (value - minimum) / (maximum - minimum) * (double) (frameCount - 1);
    return juce::jlimit (0, frameCount - 1, (int) position);
}

void FilmStripKnob::paint (juce::Graphics& g)
{
    if (filmStrip == nullptr || frameWidth <= 0 || frameHeight <= 0)
        return;

    const auto index = getFrameIndex();

    // The frame fills the whole component, scaled if the sizes differ.
    g.drawImage (*filmStrip,
                 0, 0, getWidth(), getHeight(),
                 0, index * frameHeight, frameWidth, frameHeight);
}

void FilmStripKnob::resized()
{
}

//==============================================================================
Knob_frames::Knob_frames (const juce::String& name)
    : FilmStripKnob (name)
{
    stripImage = juce::ImageCache::getFromMemory (BinaryData::knob_depth_png, BinaryData::knob_depth_pngSize);
    setFilmStrip (&stripImage, 65);
}

Knob_frames::~Knob_frames() = default;

//==============================================================================
FilmStripToggle::FilmStripToggle (const juce::String& name)
    : juce::ToggleButton (name)
{
}

FilmStripToggle::~FilmStripToggle() = default;

void FilmStripToggle::setFilmStrip (juce::Image* strip, int frames)
{
    filmStrip = strip;
    frameCount = frames;

    // Off above on, whatever count is passed.
    frameHeight = strip != nullptr ? strip->getHeight() / 2 : 0;
    frameWidth = strip != nullptr ? strip->getWidth() : 0;
}

void FilmStripToggle::paintButton (juce::Graphics& g, bool, bool)
{
    const auto fontHeight = juce::jmin (15.0f, (float) getHeight() * 0.75f);
    const auto state = getToggleState() ? 1 : 0;

    if (filmStrip != nullptr && frameWidth > 0 && frameHeight > 0)
    {
        // At natural size in the top-left corner, never dimmed.
        g.setOpacity (1.0f);
        g.drawImage (*filmStrip,
                     0, 0, frameWidth, frameHeight,
                     0, state * frameHeight, frameWidth, frameHeight);
    }

    g.setColour (findColour (juce::ToggleButton::textColourId));
    g.setFont (fontHeight);

    if (! isEnabled())
        g.setOpacity (0.5f);

    const auto textX = frameWidth + textGap;

    g.drawFittedText (getButtonText(),
                      textX, 0,
                      juce::jmax (0, getWidth() - textX) - 2, getHeight(),
                      juce::Justification::centredLeft, 10, 0.0f);
}

//==============================================================================
Toggle_frames::Toggle_frames (const juce::String& name)
    : FilmStripToggle (name)
{
    stripImage = juce::ImageCache::getFromMemory (BinaryData::toggle_stereo_png, BinaryData::toggle_stereo_pngSize);
    setFilmStrip (&stripImage, 2);
}

Toggle_frames::~Toggle_frames() = default;

//==============================================================================
ToggleClick_frames::ToggleClick_frames (const juce::String& name)
    : Toggle_frames (name)
{
    // A foot switch is pressed with the mouse only. With keyboard focus, the
    // Return key would click it without a release and leave it showing "on".
    setWantsKeyboardFocus (false);
}

ToggleClick_frames::~ToggleClick_frames() = default;

void ToggleClick_frames::mouseDown (const juce::MouseEvent& e)
{
    pressed = true;
    juce::Button::mouseDown (e);

    // Shows the "on" frame while held; nobody is told, the press is not a
    // click yet.
    setToggleState (pressed, juce::dontSendNotification);
}

void ToggleClick_frames::mouseUp (const juce::MouseEvent& e)
{
    pressed = false;

    // Released over the switch, the framework's click turns the state back
    // off with a notification: that is the one buttonClicked per press.
    // Dragged off first, there is no click.
    juce::Button::mouseUp (e);

    // Off after every release, silently if the click has not already done it.
    setToggleState (pressed, juce::dontSendNotification);
}
