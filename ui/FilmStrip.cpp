#include "ui/FilmStrip.h"

#include <BinaryData.h>

//==============================================================================
FilmStripKnob::FilmStripKnob (const juce::String& name)
    : juce::Slider (name)
{
}

FilmStripKnob::~FilmStripKnob() = default;

void FilmStripKnob::setFilmStrip (juce::Image* strip, int frames, bool framesAcross)
{
    filmStrip = strip;
    frameCount = frames;
    framesSideBySide = framesAcross;
    setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);

    const auto stripWidth = strip != nullptr ? strip->getWidth() : 0;
    const auto stripHeight = strip != nullptr ? strip->getHeight() : 0;
    const auto divided = [frames] (int length) { return frames > 0 ? length / frames : 0; };

    frameWidth = framesAcross ? divided (stripWidth) : stripWidth;
    frameHeight = framesAcross ? stripHeight : divided (stripHeight);
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
                 framesSideBySide ? index * frameWidth : 0, framesSideBySide ? 0 : index * frameHeight,
                 frameWidth, frameHeight);
}

void FilmStripKnob::resized()
{
}

void FilmStripKnob::startedDragging()
{
    dragging = true;
}

void FilmStripKnob::stoppedDragging()
{
    dragging = false;
}

void FilmStripKnob::mouseDown (const juce::MouseEvent& e)
{
    lastDragPosition = e.position;
    fineDragSeen = false;

    juce::Slider::mouseDown (e);
}

void FilmStripKnob::mouseDrag (const juce::MouseEvent& e)
{
    // The same measure as the slider's own drag: right and up turn it up,
    // and getMouseDragSensitivity() pixels of both together cover the range.
    const auto moved = (double) ((e.position.x - lastDragPosition.x) + (lastDragPosition.y - e.position.y));
    lastDragPosition = e.position;

    const auto fine = e.mods.isShiftDown();

    // Until Shift is first held this is exactly the slider's drag, which is
    // absolute from the press. From then on the knob moves from where it is,
    // so that it never jumps when Shift goes down or up.
    if (! (fine || fineDragSeen) || ! dragging || ! isEnabled())
    {
        juce::Slider::mouseDrag (e);
        return;
    }

    if (! fineDragSeen)
    {
        fineDragSeen = true;
        unclampedProportion = valueToProportionOfLength (getValue());
    }

    unclampedProportion += moved / (fine ? fineDragDivisor : 1.0) / (double) getMouseDragSensitivity();

    const auto proportion = juce::jlimit (0.0, 1.0, unclampedProportion);
    setValue (snapValue (proportionOfLengthToValue (proportion), absoluteDrag), juce::sendNotificationSync);
}

void FilmStripKnob::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    // One notch of a wheel, as the framework reports it on Linux.
    constexpr double notch = 50.0 / 256.0;

    const auto minimum = getMinimum();
    const auto maximum = getMaximum();

    if (! isEnabled() || ! isScrollWheelEnabled() || ! (maximum > minimum) || e.mods.isAnyMouseButtonDown())
    {
        juce::Slider::mouseWheelMove (e, wheel);
        return;
    }

    // The window system sometimes delivers one wheel event twice.
    if (e.eventTime == lastWheelTime)
        return;

    lastWheelTime = e.eventTime;

    const auto amount = (std::abs (wheel.deltaX) > std::abs (wheel.deltaY) ? -wheel.deltaX : wheel.deltaY)
                      * (wheel.isReversed ? -1.0f : 1.0f);

    // Smooth scrolling sends parts of a notch: they add up to whole ones,
    // as long as the wheel keeps turning the same way.
    if ((amount > 0.0f && wheelNotches < 0.0) || (amount < 0.0f && wheelNotches > 0.0))
        wheelNotches = 0.0;

    wheelNotches += (double) amount / notch;
    const auto notches = (int) wheelNotches;
    wheelNotches -= notches;

    if (notches == 0)
        return;

    // Each notch goes to the next multiple of the step, so that values land
    // on round numbers however the knob was set before.
    const auto step = (maximum - minimum) * (e.mods.isShiftDown() ? fineWheelStep : wheelStep);
    const auto position = (getValue() - minimum) / step;
    constexpr double tolerance = 1.0e-6;
    const auto from = notches > 0 ? std::floor (position + tolerance) : std::ceil (position - tolerance);
    const auto target = juce::jlimit (minimum, maximum, minimum + (from + notches) * step);

    if (target != getValue())
    {
        const ScopedDragNotification gesture (*this);
        setValue (target, juce::sendNotificationSync);
    }
}

//==============================================================================
Knob_frames::Knob_frames (const juce::String& name)
    : Knob_frames (name, juce::ImageCache::getFromMemory (BinaryData::knob_depth_png, BinaryData::knob_depth_pngSize), false)
{
}

Knob_frames::Knob_frames (const juce::String& name, const juce::Image& strip, bool framesAcross)
    : FilmStripKnob (name), stripImage (strip)
{
    setFilmStrip (&stripImage, 65, framesAcross);
}

Knob_frames::~Knob_frames() = default;

//==============================================================================
FilmStripToggle::FilmStripToggle (const juce::String& name)
    : juce::ToggleButton (name)
{
}

FilmStripToggle::~FilmStripToggle() = default;

void FilmStripToggle::setFilmStrip (juce::Image* strip, int frames, int scale)
{
    filmStrip = strip;
    frameCount = frames;
    pictureScale = juce::jmax (1, scale);

    // Off above on, whatever count is passed.
    frameHeight = strip != nullptr ? strip->getHeight() / 2 : 0;
    frameWidth = strip != nullptr ? strip->getWidth() : 0;
}

void FilmStripToggle::paintButton (juce::Graphics& g, bool, bool)
{
    const auto fontHeight = juce::jmin (15.0f, (float) getHeight() * 0.75f);
    const auto state = getToggleState() ? 1 : 0;

    // The frame's natural size, in the component's units.
    const auto naturalWidth = frameWidth / pictureScale;
    const auto naturalHeight = frameHeight / pictureScale;

    if (filmStrip != nullptr && naturalWidth > 0 && naturalHeight > 0)
    {
        // At natural size in the top-left corner, never dimmed.
        g.setOpacity (1.0f);
        g.drawImage (*filmStrip,
                     0, 0, naturalWidth, naturalHeight,
                     0, state * frameHeight, frameWidth, frameHeight);
    }

    g.setColour (findColour (juce::ToggleButton::textColourId));
    g.setFont (fontHeight);

    if (! isEnabled())
        g.setOpacity (0.5f);

    const auto textX = naturalWidth + textGap;

    g.drawFittedText (getButtonText(),
                      textX, 0,
                      juce::jmax (0, getWidth() - textX) - 2, getHeight(),
                      juce::Justification::centredLeft, 10, 0.0f);
}

//==============================================================================
Toggle_frames::Toggle_frames (const juce::String& name)
    : Toggle_frames (name, juce::ImageCache::getFromMemory (BinaryData::toggle_stereo_png, BinaryData::toggle_stereo_pngSize), 1)
{
}

Toggle_frames::Toggle_frames (const juce::String& name, const juce::Image& strip, int scale)
    : FilmStripToggle (name), stripImage (strip)
{
    setFilmStrip (&stripImage, 2, scale);
}

Toggle_frames::~Toggle_frames() = default;

//==============================================================================
ToggleClick_frames::ToggleClick_frames (const juce::String& name)
    : ToggleClick_frames (name, juce::ImageCache::getFromMemory (BinaryData::toggle_stereo_png, BinaryData::toggle_stereo_pngSize), 1)
{
}

ToggleClick_frames::ToggleClick_frames (const juce::String& name, const juce::Image& strip, int scale)
    : Toggle_frames (name, strip, scale)
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
