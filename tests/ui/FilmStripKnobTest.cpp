#include "ui/FilmStrip.h"
#include "ui/UiTestSupport.h"

#include <BinaryData.h>

namespace
{
    constexpr int knobFrames = 65;
    constexpr int frameSize = 73;

    /** A bare film-strip knob of one frame's size over a made-up strip. */
    struct KnobFixture
    {
        KnobFixture() : strip (uitest::makeStrip (frameSize, frameSize, knobFrames))
        {
            knob.setRange (0.0, 10.0, 0.0);
            knob.setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
            knob.setFilmStrip (&strip, knobFrames);
            knob.setBounds (0, 0, frameSize, frameSize);
        }

        testing::AssertionResult showsFrame (int index)
        {
            const auto painted = uitest::paint (knob);
            return uitest::sameRegion (painted, painted.getBounds(),
                                       strip, uitest::frameArea (strip, frameSize, index));
        }

        juce::Image strip;
        FilmStripKnob knob { "knob" };
    };

    struct FrameCase
    {
        const char* name;
        double minimum, maximum, skew, value;
        int expectedFrame;
    };

    // The frame is the value's linear position between minimum and maximum,
    // truncated: the last frame appears only at the maximum itself.
    const FrameCase frameCases[] =
    {
        { "minimum",                 0.0, 10.0, 1.0, 0.0,    0 },
        { "midpoint",                0.0, 10.0, 1.0, 5.0,   32 },
        { "three eighths",           0.0, 10.0, 1.0, 3.75,  24 },
        { "just below the maximum",  0.0, 10.0, 1.0, 9.99,  63 },
        { "maximum",                 0.0, 10.0, 1.0, 10.0,  64 },
        { "truncates, not rounds",   0.0, 10.0, 1.0, 3.9,   24 },   // 24.96
        { "range not from zero",     2.0, 12.0, 1.0, 7.0,   32 },
        { "negative range",        -10.0, -2.0, 1.0, -4.0,  48 },
        // A skewed range changes how a drag maps to values, not which frame
        // a value shows.
        { "skewed range",            0.0, 10.0, 0.3, 5.0,   32 },
    };
}

TEST (FilmStripKnob, ShowsTheFrameForTheValue)
{
    for (const auto& c : frameCases)
    {
        SCOPED_TRACE (c.name);
        KnobFixture f;
        f.knob.setRange (c.minimum, c.maximum, 0.0);
        f.knob.setSkewFactor (c.skew);
        f.knob.setValue (c.value, juce::dontSendNotification);

        EXPECT_EQ (f.knob.getFrameIndex(), c.expectedFrame);
        EXPECT_TRUE (f.showsFrame (c.expectedFrame));
    }
}

TEST (FilmStripKnob, FollowsEveryValueChange)
{
    KnobFixture f;
    f.knob.setValue (10.0);
    EXPECT_TRUE (f.showsFrame (64));
    f.knob.setValue (0.0);
    EXPECT_TRUE (f.showsFrame (0));
}

TEST (FilmStripKnob, StretchesTheFrameOverALargerComponent)
{
    auto strip = uitest::makePlainStrip (frameSize, frameSize, knobFrames);
    FilmStripKnob knob ("knob");
    knob.setRange (0.0, 10.0, 0.0);
    knob.setFilmStrip (&strip, knobFrames);
    knob.setValue (5.0);
    knob.setBounds (0, 0, 2 * frameSize, frameSize + 30);

    const auto painted = uitest::paint (knob);
    const auto expected = uitest::plainFrameColour (32).getARGB();

    // Away from the edges, where resampling blends with the outside, every
    // pixel is the frame's colour: the frame fills the component rather than
    // sitting at its natural size in the corner.
    for (auto point : { juce::Point<int> (3, 3), { 72, 50 }, { 140, 3 }, { 3, 97 }, { 140, 97 } })
        EXPECT_EQ (painted.getPixelAt (point.x, point.y).getARGB(), expected) << point.toString();
}

TEST (FilmStripKnob, DrawsNothingElse)
{
    // No track, thumb, text box or outline: with a fully transparent strip
    // the knob leaves the image blank at any value and when focused.
    juce::Image clear (juce::Image::ARGB, frameSize, frameSize * knobFrames, true);
    FilmStripKnob knob ("knob");
    knob.setRange (0.0, 10.0, 0.0);
    knob.setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
    knob.setFilmStrip (&clear, knobFrames);
    knob.setBounds (0, 0, frameSize, frameSize);

    for (auto value : { 0.0, 5.0, 10.0 })
    {
        knob.setValue (value);
        EXPECT_TRUE (uitest::isBlank (uitest::paint (knob), knob.getLocalBounds())) << value;
    }

    EXPECT_EQ (knob.getTextBoxPosition(), juce::Slider::NoTextBox);
    EXPECT_EQ (knob.getNumChildComponents(), 0);
}

TEST (FilmStripKnob, WithoutAUsablePictureDrawsNothingButStillWorks)
{
    struct Case { const char* name; bool nullStrip; juce::Image picture; };
    const Case cases[] =
    {
        { "no strip",                  true,  {} },
        { "undecodable picture",       false, juce::ImageFileFormat::loadFrom ("not a png", 9) },
        { "shorter than its frames",   false, juce::Image (juce::Image::ARGB, frameSize, 40, true) },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto picture = c.picture;
        FilmStripKnob knob ("knob");
        knob.setRange (0.0, 10.0, 0.0);
        knob.setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
        knob.setFilmStrip (c.nullStrip ? nullptr : &picture, knobFrames);
        knob.setBounds (0, 0, frameSize, frameSize);
        knob.setVisible (true);

        if (! c.nullStrip)
            picture.clear (picture.getBounds(), juce::Colours::red);   // would show if drawn at all

        EXPECT_TRUE (uitest::isBlank (uitest::paint (knob), knob.getLocalBounds()));

        uitest::Mouse mouse (knob);
        mouse.press ({ 30.0f, 40.0f });
        mouse.drag ({ 30.0f, 40.0f - 125.0f });
        mouse.release ({ 30.0f, 40.0f - 125.0f });
        EXPECT_DOUBLE_EQ (knob.getValue(), 5.0);
    }
}

TEST (KnobFrames, StartsWithTheDepthKnobStrip)
{
    Knob_frames knob ("depth");
    const auto expected = juce::ImageFileFormat::loadFrom (BinaryData::knob_depth_png, BinaryData::knob_depth_pngSize);

    ASSERT_TRUE (expected.isValid());
    EXPECT_EQ (knob.getName(), "depth");
    EXPECT_TRUE (uitest::sameRegion (knob.stripImage, knob.stripImage.getBounds(), expected, expected.getBounds()));
    EXPECT_EQ (knob.getTextBoxPosition(), juce::Slider::NoTextBox);

    // At its own frame size and at the bottom of its range it shows frame 0.
    const auto frameHeight = expected.getHeight() / knobFrames;
    knob.setRange (0.0, 10.0, 0.0);
    knob.setBounds (0, 0, expected.getWidth(), frameHeight);
    const auto painted = uitest::paint (knob);
    EXPECT_TRUE (uitest::sameRegion (painted, painted.getBounds(), expected, uitest::frameArea (expected, frameHeight, 0)));
}

TEST (KnobFrames, TakesAnotherPictureFromItsOwner)
{
    Knob_frames knob ("mix");
    knob.setRange (0.0, 10.0, 0.0);
    knob.setValue (10.0);
    knob.setBounds (0, 0, 40, 30);

    const auto other = uitest::makeStrip (40, 30, knobFrames);
    knob.stripImage = other;
    knob.setFilmStrip (&knob.stripImage, knobFrames);

    const auto painted = uitest::paint (knob);
    EXPECT_TRUE (uitest::sameRegion (painted, painted.getBounds(), other, uitest::frameArea (other, 30, 64)));
}

TEST (FilmStripKnob, ShowsFramesSideBySideAsStackedOnes)
{
    // The same frames, left to right.
    const auto stacked = uitest::makeStrip (frameSize, frameSize, knobFrames);
    juce::Image across (juce::Image::ARGB, frameSize * knobFrames, frameSize, true);

    {
        juce::Graphics g (across);

        for (int frame = 0; frame < knobFrames; ++frame)
            g.drawImageAt (stacked.getClippedImage (uitest::frameArea (stacked, frameSize, frame)), frame * frameSize, 0);
    }

    FilmStripKnob knob ("knob");
    knob.setRange (0.0, 10.0, 0.0);
    knob.setFilmStrip (&across, knobFrames, true);
    knob.setBounds (0, 0, frameSize, frameSize);

    for (const auto& [value, frame] : { std::pair { 0.0, 0 }, { 3.75, 24 }, { 10.0, 64 } })
    {
        SCOPED_TRACE (value);
        knob.setValue (value);
        EXPECT_EQ (knob.getFrameIndex(), frame);
        const auto painted = uitest::paint (knob);
        EXPECT_TRUE (uitest::sameRegion (painted, painted.getBounds(), stacked, uitest::frameArea (stacked, frameSize, frame)));
    }
}

namespace
{
    /** A knob as the editor sets one up: 0 to 10 in tenths. */
    struct TenthsKnob
    {
        TenthsKnob()
        {
            knob.setRange (0.0, 10.0, 0.1);
            knob.setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
            knob.setFilmStrip (&strip, knobFrames);
            knob.setBounds (0, 0, frameSize, frameSize);
            knob.setVisible (true);
        }

        struct GestureCounter : juce::Slider::Listener
        {
            void sliderValueChanged (juce::Slider*) override {}
            void sliderDragStarted (juce::Slider*) override { ++started; }
            void sliderDragEnded (juce::Slider*) override   { ++ended; }
            int started = 0, ended = 0;
        };

        juce::Image strip { uitest::makePlainStrip (frameSize, frameSize, knobFrames) };
        FilmStripKnob knob { "knob" };
        uitest::Mouse mouse { knob };
    };
}

TEST (FilmStripKnob, EachWheelNotchGoesToTheNextTwentieth)
{
    struct Case { const char* name; double start; std::vector<float> notches; int modifiers; double expected; int gestures; };
    const Case cases[] =
    {
        { "up from 0",                   0.0, { 1.0f },           0, 0.5,  1 },
        { "up to the next twentieth",    0.3, { 1.0f },           0, 0.5,  1 },
        { "down to the next twentieth",  0.3, { -1.0f },          0, 0.0,  1 },
        { "three notches at once",       5.0, { -3.0f },          0, 3.5,  1 },
        { "with Shift, hundredths",      0.3, { 1.0f, 1.0f },     juce::ModifierKeys::shiftModifier, 0.5, 2 },
        { "to the top",                  9.8, { 1.0f, 1.0f },     0, 10.0, 1 },
        { "nothing beyond the bottom",   0.0, { -1.0f },          0, 0.0,  0 },
        { "parts of a notch add up",     1.0, { 0.4f, 0.4f, 0.4f }, 0, 1.5, 1 },
        { "a part turned back is gone",  1.0, { 0.6f, -1.0f },    0, 0.5, 1 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        TenthsKnob k;
        k.knob.setValue (c.start);
        TenthsKnob::GestureCounter counter;
        k.knob.addListener (&counter);

        for (const auto notches : c.notches)
            k.mouse.wheel (k.mouse.centre(), notches, c.modifiers);

        k.knob.removeListener (&counter);
        EXPECT_NEAR (k.knob.getValue(), c.expected, 1.0e-9);
        EXPECT_EQ (counter.started, c.gestures);
        EXPECT_EQ (counter.ended, c.gestures);
    }
}

TEST (FilmStripKnob, ShiftDragTurnsTenTimesMoreFinelyFromWhereItIs)
{
    TenthsKnob k;
    const auto start = k.mouse.centre();

    k.mouse.press (start);
    k.mouse.drag (start.translated (0.0f, -100.0f));
    EXPECT_DOUBLE_EQ (k.knob.getValue(), 4.0);

    // Shift held: 50 more pixels are a tenth as far.
    k.mouse.drag (start.translated (0.0f, -150.0f), juce::ModifierKeys::shiftModifier);
    EXPECT_NEAR (k.knob.getValue(), 4.2, 1.0e-9);

    // Released: on from there at the usual rate, without a jump.
    k.mouse.drag (start.translated (25.0f, -150.0f));
    EXPECT_NEAR (k.knob.getValue(), 5.2, 1.0e-9);

    // The end stops hold, and coming back turns it down at once.
    k.mouse.drag (start.translated (25.0f, -400.0f));
    EXPECT_DOUBLE_EQ (k.knob.getValue(), 10.0);
    k.mouse.release (start.translated (25.0f, -400.0f));

    // Shift from the start.
    k.knob.setValue (0.0);
    k.mouse.press (start);
    k.mouse.drag (start.translated (0.0f, -125.0f), juce::ModifierKeys::shiftModifier);
    k.mouse.release (start.translated (0.0f, -125.0f));
    EXPECT_NEAR (k.knob.getValue(), 0.5, 1.0e-9);
}
