#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/*
    Film-strip controls.

    A film strip is one picture holding every frame of a control, stacked from
    top to bottom with frame 0 at the top. All frames are as wide as the
    picture and (picture height / frame count) tall, so frame i is the source
    rectangle (0, i * frameHeight, frameWidth, frameHeight). A knob's strip
    may instead hold its frames side by side from the left: frame i is then
    (i * frameWidth, 0, frameWidth, frameHeight), each (picture width / frame
    count) wide and as tall as the picture.

    A missing or undecodable picture gives a 0 x 0 frame: the control then
    draws nothing but still reacts to the mouse and stays attached to its
    parameter. Painting takes no memory of its own. Message thread only.
*/

//==============================================================================
/**
    A slider drawn as one frame of a film strip, chosen in proportion to where
    the value sits between the slider's minimum and maximum. The strip is not
    owned; without one the knob paints nothing.

    Besides the slider's own handling of the mouse, a drag made with Shift
    held turns the knob ten times more finely from where it is (pressing or
    releasing Shift during a drag never makes it jump), and each notch of a
    mouse wheel moves it by a twentieth of its range to the next multiple of
    that, or by a hundredth with Shift. Each wheel notch is one change
    gesture, like a drag.
*/
class FilmStripKnob : public juce::Slider
{
public:
    explicit FilmStripKnob (const juce::String& name);
    ~FilmStripKnob() override;

    /** Uses the given strip (not owned, may be null) cut into the given number
        of frames, stacked or side by side, and hides the slider's text box. */
    void setFilmStrip (juce::Image* strip, int frames, bool framesAcross = false);

    /** The frame paint() shows for the slider's current value. */
    int getFrameIndex() const noexcept;

    void paint (juce::Graphics&) override;

    /** Deliberately empty: the whole component shows the frame, so the
        slider's own layout of track and text box is never needed. */
    void resized() override;

    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;

    /** How much more finely a drag with Shift turns the knob. */
    static constexpr double fineDragDivisor = 10.0;

    /** Parts of the range one wheel notch moves, without and with Shift. */
    static constexpr double wheelStep = 0.05;
    static constexpr double fineWheelStep = 0.01;

protected:
    void startedDragging() override;
    void stoppedDragging() override;

    juce::Image* filmStrip = nullptr;
    int frameCount = 0;
    int frameWidth = 0;
    int frameHeight = 0;
    bool framesSideBySide = false;

private:
    // A drag once Shift has been held in it: where the knob's proportion of
    // its range would be without the end stops, and where the mouse was last.
    bool dragging = false;
    bool fineDragSeen = false;
    double unclampedProportion = 0.0;
    juce::Point<float> lastDragPosition;

    double wheelNotches = 0.0;
    juce::Time lastWheelTime;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FilmStripKnob)
};

//==============================================================================
/** A film-strip knob that owns its picture; it starts with the depth knob's
    65-frame strip, or with the 65-frame strip it is given. An owner may put
    another picture into stripImage and call setFilmStrip (&stripImage,
    frames) again. */
class Knob_frames : public FilmStripKnob
{
public:
    explicit Knob_frames (const juce::String& name);
    Knob_frames (const juce::String& name, const juce::Image& strip, bool framesAcross);
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

    A strip may hold more than one pixel per unit of the component's
    coordinates (for larger windows and denser screens); its natural size is
    then its pixel size divided by that scale.
*/
class FilmStripToggle : public juce::ToggleButton
{
public:
    explicit FilmStripToggle (const juce::String& name);
    ~FilmStripToggle() override;

    /** Uses the given strip (not owned, may be null), which holds `scale`
        pixels per unit in each direction. A toggle strip always holds two
        frames, off above on. */
    void setFilmStrip (juce::Image* strip, int frames, int scale = 1);

    void paintButton (juce::Graphics&, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

protected:
    int textGap = 10;
    juce::Image* filmStrip = nullptr;
    int frameCount = 2;
    int frameWidth = 0;
    int frameHeight = 0;
    int pictureScale = 1;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FilmStripToggle)
};

//==============================================================================
/** A film-strip toggle that owns its picture; it starts with the input-mode
    switch's strip, or with the two-frame strip (at the given scale) it is
    given. */
class Toggle_frames : public FilmStripToggle
{
public:
    explicit Toggle_frames (const juce::String& name);
    Toggle_frames (const juce::String& name, const juce::Image& strip, int scale);
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
    ToggleClick_frames (const juce::String& name, const juce::Image& strip, int scale);
    ~ToggleClick_frames() override;

    void mouseDown (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;

private:
    bool pressed = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ToggleClick_frames)
};
