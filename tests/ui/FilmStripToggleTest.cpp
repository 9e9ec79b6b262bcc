#include "ui/FilmStrip.h"
#include "ui/UiTestSupport.h"

#include <BinaryData.h>

namespace
{
    constexpr int frameWidth = 31;
    constexpr int frameHeight = 20;

    // The toggle sits in a component larger than its frame, so anything
    // drawn outside the frame's natural size would show.
    const juce::Rectangle<int> componentArea { 0, 0, 90, 32 };
    const juce::Rectangle<int> frameOnScreen { 0, 0, frameWidth, frameHeight };

    struct ToggleFixture
    {
        ToggleFixture() : strip (uitest::makeStrip (frameWidth, frameHeight, 2))
        {
            toggle.setFilmStrip (&strip, 2);
            toggle.setBounds (componentArea);
            toggle.setVisible (true);
        }

        testing::AssertionResult showsFrame (const juce::Image& painted, int index) const
        {
            return uitest::sameRegion (painted, frameOnScreen, strip, uitest::frameArea (strip, frameHeight, index));
        }

        juce::Image strip;
        FilmStripToggle toggle { "toggle" };
    };

    // Everything of the component except the frame.
    std::vector<juce::Rectangle<int>> outsideTheFrame()
    {
        return { componentArea.withTrimmedLeft (frameWidth), componentArea.withTrimmedTop (frameHeight) };
    }
}

TEST (FilmStripToggle, ShowsOffAndOnFramesAtNaturalSizeAndNothingElse)
{
    struct Case { bool state; int frame; };

    for (auto c : { Case { false, 0 }, Case { true, 1 } })
    {
        SCOPED_TRACE (c.state ? "on" : "off");
        ToggleFixture f;
        f.toggle.setButtonText ({});
        f.toggle.setToggleState (c.state, juce::dontSendNotification);

        const auto painted = uitest::paint (f.toggle);
        EXPECT_TRUE (f.showsFrame (painted, c.frame));

        for (auto area : outsideTheFrame())
            EXPECT_TRUE (uitest::isBlank (painted, area));
    }
}

TEST (FilmStripToggle, AStripAtTwiceTheScaleHasTheSameNaturalSize)
{
    // Two pixels per unit: the frame covers 31 x 20 units, and a window
    // drawing at twice the pixels shows the strip's own pixels.
    const auto strip = uitest::makeStrip (2 * frameWidth, 2 * frameHeight, 2);
    auto picture = strip;
    FilmStripToggle toggle ("toggle");
    toggle.setFilmStrip (&picture, 2, 2);
    toggle.setButtonText ({});
    toggle.setBounds (componentArea);
    toggle.setToggleState (true, juce::dontSendNotification);

    juce::Image painted (juce::Image::ARGB, componentArea.getWidth() * 2, componentArea.getHeight() * 2, true);

    {
        juce::Graphics g (painted);
        g.addTransform (juce::AffineTransform::scale (2.0f));
        toggle.paintEntireComponent (g, false);
    }

    EXPECT_TRUE (uitest::sameRegion (painted, { 0, 0, 2 * frameWidth, 2 * frameHeight },
                                     strip, uitest::frameArea (strip, 2 * frameHeight, 1)));
    EXPECT_TRUE (uitest::isBlank (painted, painted.getBounds().withTrimmedLeft (2 * frameWidth)));
    EXPECT_TRUE (uitest::isBlank (painted, painted.getBounds().withTrimmedTop (2 * frameHeight)));
}

TEST (FilmStripToggle, StartsWithItsNameAsText)
{
    FilmStripToggle toggle ("Stereo");
    EXPECT_EQ (toggle.getButtonText(), "Stereo");
    EXPECT_TRUE (toggle.getClickingTogglesState());
}

TEST (FilmStripToggle, OddStripHeightGivesTruncatedFrames)
{
    // 41 rows: frames of 20, the last row unused.
    auto strip = uitest::makeStrip (frameWidth, frameHeight, 2);
    juce::Image odd (juce::Image::ARGB, frameWidth, 2 * frameHeight + 1, true);
    {
        juce::Graphics g (odd);
        g.drawImageAt (strip, 0, 0);
    }

    FilmStripToggle toggle ("toggle");
    toggle.setButtonText ({});
    toggle.setFilmStrip (&odd, 2);
    toggle.setBounds (componentArea);
    toggle.setToggleState (true, juce::dontSendNotification);

    const auto painted = uitest::paint (toggle);
    EXPECT_TRUE (uitest::sameRegion (painted, frameOnScreen, strip, uitest::frameArea (strip, frameHeight, 1)));
    EXPECT_TRUE (uitest::isBlank (painted, componentArea.withTrimmedTop (frameHeight)));
}

TEST (FilmStripToggle, DisabledDimsTheTextButNeverTheFrame)
{
    enum class Enablement { enabled, disabled, parentDisabled };

    struct Result { juce::Image painted; int textAlpha; };

    const auto paintWith = [] (Enablement enablement)
    {
        ToggleFixture f;
        juce::Component parent;
        parent.setBounds (componentArea);
        parent.addAndMakeVisible (f.toggle);
        f.toggle.setButtonText ("Stereo");
        f.toggle.setColour (juce::ToggleButton::textColourId, juce::Colours::white);
        f.toggle.setToggleState (true, juce::dontSendNotification);

        if (enablement == Enablement::disabled)
            f.toggle.setEnabled (false);
        else if (enablement == Enablement::parentDisabled)
            parent.setEnabled (false);

        auto painted = uitest::paint (f.toggle);
        EXPECT_TRUE (f.showsFrame (painted, 1));

        // The text starts a gap of ten pixels after the frame.
        EXPECT_TRUE (uitest::isBlank (painted, { frameWidth, 0, 10, componentArea.getHeight() }));

        const auto textArea = componentArea.withTrimmedLeft (frameWidth + 10);
        return Result { painted, uitest::maxAlpha (painted, textArea) };
    };

    const auto enabled = paintWith (Enablement::enabled);
    EXPECT_GT (enabled.textAlpha, 200);

    for (auto enablement : { Enablement::disabled, Enablement::parentDisabled })
    {
        SCOPED_TRACE (enablement == Enablement::disabled ? "disabled" : "parent disabled");
        const auto dimmed = paintWith (enablement);
        EXPECT_GT (dimmed.textAlpha, 0);
        EXPECT_LE (dimmed.textAlpha, 128);
    }
}

TEST (FilmStripToggle, WithoutAUsablePictureDrawsNothingButStillToggles)
{
    struct Case { const char* name; bool nullStrip; juce::Image picture; };
    const Case cases[] =
    {
        { "no strip",            true,  {} },
        { "undecodable picture", false, juce::ImageFileFormat::loadFrom ("not a png", 9) },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto picture = c.picture;
        FilmStripToggle toggle ("toggle");
        toggle.setButtonText ({});
        toggle.setFilmStrip (c.nullStrip ? nullptr : &picture, 2);
        toggle.setBounds (componentArea);
        toggle.setVisible (true);
        uitest::ClickCounter counter (toggle);

        for (auto state : { false, true })
        {
            toggle.setToggleState (state, juce::dontSendNotification);
            EXPECT_TRUE (uitest::isBlank (uitest::paint (toggle), componentArea));
        }

        toggle.setToggleState (false, juce::dontSendNotification);
        uitest::Mouse mouse (toggle);
        mouse.click (mouse.centre());
        EXPECT_TRUE (toggle.getToggleState());
        EXPECT_EQ (counter.clicks, 1);
    }
}

TEST (ToggleFrames, StartsWithTheInputModeStrip)
{
    Toggle_frames toggle ("toggle_stereo");
    const auto expected = juce::ImageFileFormat::loadFrom (BinaryData::toggle_stereo_png, BinaryData::toggle_stereo_pngSize);

    ASSERT_TRUE (expected.isValid());
    EXPECT_TRUE (uitest::sameRegion (toggle.stripImage, toggle.stripImage.getBounds(), expected, expected.getBounds()));

    toggle.setButtonText ({});
    toggle.setBounds (expected.getBounds());
    toggle.setToggleState (true, juce::dontSendNotification);
    const auto frameHeightOfStrip = expected.getHeight() / 2;
    const auto painted = uitest::paint (toggle);
    EXPECT_TRUE (uitest::sameRegion (painted, { 0, 0, expected.getWidth(), frameHeightOfStrip },
                                     expected, uitest::frameArea (expected, frameHeightOfStrip, 1)));
}

//==============================================================================
namespace
{
    /** A momentary switch over a made-up strip, with a listener counting its
        clicks. */
    struct FootswitchFixture
    {
        FootswitchFixture() : strip (uitest::makeStrip (frameWidth, frameHeight, 2))
        {
            footswitch.stripImage = strip;
            footswitch.setFilmStrip (&footswitch.stripImage, 2);
            footswitch.setButtonText ({});
            footswitch.setBounds (0, 0, frameWidth, frameHeight);
            footswitch.setVisible (true);
        }

        testing::AssertionResult showsFrame (int index)
        {
            const auto painted = uitest::paint (footswitch);
            return uitest::sameRegion (painted, frameOnScreen, strip, uitest::frameArea (strip, frameHeight, index));
        }

        juce::Image strip;
        ToggleClick_frames footswitch { "chorus_on" };
        uitest::ClickCounter counter { footswitch };
        uitest::Mouse mouse { footswitch };
    };
}

TEST (Footswitch, ShowsOnOnlyWhileHeldWithoutClicking)
{
    FootswitchFixture f;
    EXPECT_TRUE (f.showsFrame (0));

    f.mouse.press (f.mouse.centre());
    EXPECT_TRUE (f.footswitch.getToggleState());
    EXPECT_TRUE (f.showsFrame (1));
    EXPECT_EQ (f.counter.clicks, 0);

    f.mouse.release (f.mouse.centre());
    EXPECT_FALSE (f.footswitch.getToggleState());
    EXPECT_TRUE (f.showsFrame (0));
}

TEST (Footswitch, EachCompletedPressIsOneClick)
{
    struct Case { const char* name; bool dragOffBeforeRelease; int expectedClicks; };
    const Case cases[] =
    {
        { "released over the switch", false, 1 },
        { "dragged off, then released", true, 0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        FootswitchFixture f;

        for (int press = 1; press <= 3; ++press)
        {
            f.mouse.press (f.mouse.centre());

            if (c.dragOffBeforeRelease)
            {
                f.mouse.drag ({ 200.0f, 200.0f });
                EXPECT_EQ (f.counter.clicks, 0);
                f.mouse.release ({ 200.0f, 200.0f });
            }
            else
            {
                f.mouse.release (f.mouse.centre());
            }

            EXPECT_EQ (f.counter.clicks, press * c.expectedClicks);
            EXPECT_FALSE (f.footswitch.getToggleState());
            EXPECT_TRUE (f.showsFrame (0));
        }
    }
}

TEST (Footswitch, DoesNotTakeKeyboardFocus)
{
    // A key press would click it without a release and leave it on.
    ToggleClick_frames footswitch ("chorus_on");
    EXPECT_FALSE (footswitch.getWantsKeyboardFocus());
}
