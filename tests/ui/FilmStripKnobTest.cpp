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
