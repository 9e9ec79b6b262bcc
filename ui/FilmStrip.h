#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/*
    Film-strip controls.

    A film strip is one picture holding every frame of a control, stacked from
    top to bottom with frame 0 at the top. All frames are as wide as the
    picture and (picture height / frame count) tall, so frame i is the source
    rectangle (0, i * frameHeight, frameWidth, frameHeight).

    A missing or undecodable picture gives a 0 x 0 frame: the control then
    draws nothing but still reacts to the mouse and stays attached to its
    parameter. Painting takes no memory of its own. Message thread only.
*/

//==============================================================================
/**
    A slider drawn as one frame of a film strip, chosen in proportion to where
    the value sits between the slider's minimum and maximum. The strip is not
    owned; without one the knob paints nothing.
*/
class FilmStripKnob : public juce::Slider
{
public:
    explicit FilmStripKnob (const juce::String& name);
    ~FilmStripKnob() override;

    /** Uses the given strip (not owned, may be null) cut into the given number
        of frames, and hides the slider's text box. */
    void setFilmStrip (juce::Image* strip, int frames);

    /** The frame paint() shows for the slider's current value. */
    int getFrameIndex() const noexcept;

    void paint (juce::Graphics&) override;

    /** Deliberately empty: the whole component shows the frame, so the
        slider's own layout of track and text box is never needed. */
    void resized() override;

protected:
    juce::Image* filmStrip = nullptr;
    int frameCount = 0;
    int frameWidth = 0;
    int frameHeight = 0;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FilmStripKnob)
};

//==============================================================================
/** A film-strip knob that owns its picture; it starts with the depth knob's
    65-frame strip. An owner may put another picture into stripImage and call
    setFilmStrip (&stripImage, frames) again. */
class Knob_frames : public FilmStripKnob
{
public:
    explicit Knob_frames (const juce::String& name);
    ~Knob_frames() override;

    juce::Image stripImage;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Knob_frames)
};

//==============================================================================
/**
    A toggle button drawn as a two-frame film strip (frame 0 off, frame 1 on)
    at its natural size in the top-left corner, followed by the button text.
    The strip is not owned. The frame is always drawn at full opacity; only
    the text is dimmed while the button is disabled.
*/
class FilmStripToggle : public juce::ToggleButton
{
public:
    explicit FilmStripToggle (const juce::String& name);
    ~FilmStripToggle() override;

    /** Uses the given strip (not owned, may be null). A toggle strip always
        holds two frames, off above on. */
    void setFilmStrip (juce::Image* strip, int frames);

    void paintButton (juce::Graphics&, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

protected:
    int textGap = 10;
    juce::Image* filmStrip = nullptr;
    int frameCount = 2;
    int frameWidth = 0;
    int frameHeight = 0;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FilmStripToggle)
};

//==============================================================================
/** A film-strip toggle that owns its picture; it starts with the input-mode
    switch's strip. */
class Toggle_frames : public FilmStripToggle
{
public:
    explicit Toggle_frames (const juce::String& name);
    ~Toggle_frames() override;

    juce::Image stripImage;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Toggle_frames)
};

//==============================================================================
/**
    A momentary switch: it shows its "on" frame only while the mouse holds it
    down and is off again after every release. Releasing it over the switch is
    one click (every Button::Listener gets buttonClicked once); dragging off
    before releasing cancels the press.
*/
class ToggleClick_frames : public Toggle_frames
{
public:
    explicit ToggleClick_frames (const juce::String& name);
    ~ToggleClick_frames() override;

    void mouseDown (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;

private:
    bool pressed = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ToggleClick_frames)
};
