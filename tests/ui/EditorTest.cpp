#include "plugin/Processor.h"
#include "ui/Editor.h"
#include "ui/UiTestSupport.h"

#include <BinaryData.h>

#include <stdexcept>

namespace
{
    /** Where each control sits, which picture it shows and which parameter
        it is bound to (none for the foot switch). */
    struct Control
    {
        const char* name;
        const char* pictureData;
        int pictureSize;
        int frames;
        juce::Rectangle<int> bounds;
        const char* parameterID;
        bool isKnob;
        bool drawnOverBackground = false;
    };

    const Control controls[] =
    {
        { "depth",         BinaryData::knob_depth_png,    BinaryData::knob_depth_pngSize,    65, {  91,  71, 76, 73 }, "chorus_depth", true },
        { "speed",         BinaryData::knob_speed_png,    BinaryData::knob_speed_pngSize,    65, { 149, 168, 73, 73 }, "chorus_speed", true },
        { "mix",           BinaryData::knob_mix_png,      BinaryData::knob_mix_pngSize,      65, { 206,  71, 73, 73 }, "chorus_mix",   true },
        { "chorus_led",    BinaryData::chorus_led_png,    BinaryData::chorus_led_pngSize,     2, { 167, 296, 39, 41 }, "chorus_on",    false },
        { "chorus_on",     BinaryData::footswitch_png,    BinaryData::footswitch_pngSize,     2, { 160, 349, 51, 50 }, nullptr,        false },
        { "toggle_stereo", BinaryData::toggle_stereo_png, BinaryData::toggle_stereo_pngSize,  2, {  32,  14, 31, 20 }, "stereo_proc",  false, true },
    };

    const Control& control (const char* name)
    {
        for (auto& c : controls)
            if (juce::String (c.name) == name)
                return c;

        throw std::invalid_argument (name);
    }

    juce::Image decode (const char* data, int size)
    {
        return juce::ImageFileFormat::loadFrom (data, (size_t) size);
    }

    juce::Image decodedBackground()
    {
        return decode (BinaryData::background_png, BinaryData::background_pngSize);
    }

    /** What the panel should look like under a control: the background there,
        with the given frame of the control's strip over it (or nothing, for
        frame -1). */
    juce::Image expectedLook (const Control& c, int frame)
    {
        juce::Image look (juce::Image::ARGB, c.bounds.getWidth(), c.bounds.getHeight(), true);
        juce::Graphics g (look);
        g.fillAll (juce::Colour (0xff323e44));
        g.drawImageAt (decodedBackground(), -c.bounds.getX(), -c.bounds.getY());

        if (frame >= 0)
        {
            const auto strip = decode (c.pictureData, c.pictureSize);
            const auto frameHeight = strip.getHeight() / c.frames;
            g.drawImageAt (strip.getClippedImage (uitest::frameArea (strip, frameHeight, frame)), 0, 0);
        }

        return look;
    }

    class EditorTest : public testing::Test
    {
    protected:
        EditorTest()
        {
            open();
        }

        // No zoom remembered from another test.
        uitest::ScopedSettingsFolder settings;

        void open()   { editor = std::make_unique<Editor> (processor, processor.parameters); }
        void close()  { editor.reset(); }

        juce::RangedAudioParameter& parameter (const char* id)
        {
            auto* p = processor.parameters.getParameter (id);

            if (p == nullptr)
                throw std::invalid_argument (id);

            return *p;
        }

        void setFromHost (const char* id, float plainValue)
        {
            auto& p = parameter (id);
            p.setValueNotifyingHost (p.convertTo0to1 (plainValue));
        }

        float plainValue (const char* id)
        {
            auto& p = parameter (id);
            return p.convertFrom0to1 (p.getValue());
        }

        template <typename T>
        T& child (const char* name)
        {
            auto* c = uitest::findChild<T> (*editor, name);

            if (c == nullptr)
                throw std::invalid_argument (name);

            return *c;
        }

        Knob_frames& knob (const char* name)            { return child<Knob_frames> (name); }
        Toggle_frames& toggle (const char* name)        { return child<Toggle_frames> (name); }

        /** The editor painted, with the control's area compared to the
            background under it plus the given frame (-1: no frame). */
        testing::AssertionResult shows (const char* name, int frame)
        {
            const auto& c = control (name);
            const auto painted = uitest::paint (*editor);
            const auto expected = expectedLook (c, frame);
            return uitest::sameRegion (painted, c.bounds, expected, expected.getBounds());
        }

        Processor processor;
        std::unique_ptr<Editor> editor;
    };

    /** Frame a 65-frame knob shows for a plain value from 0 to 10. */
    int knobFrame (float plain)
    {
        return (int) ((double) plain / 10.0 * 64.0);
    }
}

//==============================================================================
TEST_F (EditorTest, OpensAtThePanelsOwnSizeWithItsControlsInPlace)
{
    EXPECT_EQ (editor->getWidth(), 370);
    EXPECT_EQ (editor->getHeight(), 476);
    EXPECT_EQ (editor->getZoom(), 1.0);
    EXPECT_EQ (editor->getPictureScale(), 1);

    // Hosts may resize it, from 100% to 300% at the panel's aspect ratio.
    EXPECT_TRUE (editor->isResizable());
    auto* constrainer = editor->getConstrainer();
    ASSERT_NE (constrainer, nullptr);
    EXPECT_EQ (constrainer->getMinimumWidth(), 370);
    EXPECT_EQ (constrainer->getMinimumHeight(), 476);
    EXPECT_EQ (constrainer->getMaximumWidth(), 1110);
    EXPECT_EQ (constrainer->getMaximumHeight(), 1428);
    EXPECT_DOUBLE_EQ (constrainer->getFixedAspectRatio(), 370.0 / 476.0);

    for (const auto& c : controls)
    {
        SCOPED_TRACE (c.name);
        auto* component = uitest::findChild<juce::Component> (*editor, c.name);
        ASSERT_NE (component, nullptr);
        EXPECT_EQ (component->getBounds(), c.bounds);
        EXPECT_TRUE (component->isVisible());
        EXPECT_EQ (component->isEnabled(), juce::String (c.name) != "chorus_led");

        if (c.isKnob)
            EXPECT_NE (dynamic_cast<Knob_frames*> (component), nullptr);
        else
            EXPECT_EQ (dynamic_cast<FilmStripToggle*> (component)->getButtonText(), juce::String());
    }

    EXPECT_NE (dynamic_cast<ToggleClick_frames*> (uitest::findChild<juce::Component> (*editor, "chorus_on")), nullptr);
}

TEST_F (EditorTest, IsWhatTheProcessorOpens)
{
    std::unique_ptr<juce::AudioProcessorEditor> opened (processor.createEditor());
    ASSERT_NE (dynamic_cast<Editor*> (opened.get()), nullptr);
    EXPECT_EQ (opened->getWidth(), 370);
    EXPECT_EQ (opened->getHeight(), 476);
}

TEST_F (EditorTest, FrameZeroOfEveryStripIsTheBackgroundUnderIt)
{
    const auto background = decodedBackground();
    ASSERT_EQ (background.getWidth(), 370);
    ASSERT_EQ (background.getHeight(), 476);

    for (const auto& c : controls)
    {
        SCOPED_TRACE (c.name);
        const auto strip = decode (c.pictureData, c.pictureSize);
        ASSERT_TRUE (strip.isValid());

        // One frame is exactly the control's size.
        EXPECT_EQ (strip.getWidth(), c.bounds.getWidth());
        EXPECT_EQ (strip.getHeight() / c.frames, c.bounds.getHeight());

        // The input-mode rings are drawn over the backdrop rather than cut
        // from it: the background has no rings there.
        if (c.drawnOverBackground)
            continue;

        EXPECT_TRUE (uitest::sameRegion (strip, uitest::frameArea (strip, c.bounds.getHeight(), 0), background, c.bounds));
    }
}

TEST_F (EditorTest, WithEverythingAtZeroThePanelIsTheBackgroundAndTheMonoRings)
{
    // Every control on frame 0 lines up with the background, so this only
    // holds if each one is drawn at its place and size.
    for (auto* id : { "chorus_on", "chorus_depth", "chorus_speed", "chorus_mix", "stereo_proc" })
        setFromHost (id, 0.0f);

    const auto painted = uitest::paint (*editor);
    const auto& rings = control ("toggle_stereo");
    auto expected = decodedBackground().createCopy();
    {
        juce::Graphics g (expected);
        g.drawImageAt (expectedLook (rings, 0), rings.bounds.getX(), rings.bounds.getY());
    }

    for (const auto& c : controls)
    {
        SCOPED_TRACE (c.name);
        EXPECT_TRUE (uitest::sameRegion (painted, c.bounds, expected, c.bounds));
    }

    EXPECT_TRUE (uitest::sameRegion (painted, painted.getBounds(), expected, expected.getBounds()));
}

TEST_F (EditorTest, OpensShowingTheDefaults)
{
    // Depth and speed at 0, mix at 10, chorus on, stereo; the foot switch idle.
    EXPECT_TRUE (shows ("depth", 0));
    EXPECT_TRUE (shows ("speed", 0));
    EXPECT_TRUE (shows ("mix", 64));
    EXPECT_TRUE (shows ("chorus_led", 1));
    EXPECT_TRUE (shows ("chorus_on", 0));
    EXPECT_TRUE (shows ("toggle_stereo", 1));
}

TEST_F (EditorTest, HostChangesMoveTheControls)
{
    struct Case { const char* id; const char* controlName; float plain; int frame; };
    const Case cases[] =
    {
        { "chorus_depth", "depth",         3.7f, 23 },
        { "chorus_speed", "speed",        10.0f, 64 },
        { "chorus_mix",   "mix",           0.0f,  0 },
        { "chorus_mix",   "mix",           5.0f, 32 },
        { "chorus_on",    "chorus_led",    0.0f,  0 },
        { "chorus_on",    "chorus_led",    1.0f,  1 },
        { "stereo_proc",  "toggle_stereo", 0.0f,  0 },
        { "stereo_proc",  "toggle_stereo", 1.0f,  1 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (std::string (c.id) + " = " + std::to_string (c.plain));
        setFromHost (c.id, c.plain);

        if (control (c.controlName).isKnob)
            EXPECT_NEAR (knob (c.controlName).getValue(), c.plain, 1.0e-6);
        else
            EXPECT_EQ (toggle (c.controlName).getToggleState(), c.plain >= 0.5f);

        EXPECT_TRUE (shows (c.controlName, c.frame));
    }
}

// A host value between two steps shows as the value the parameter takes:
// a switch the step it falls in, a knob its nearest tenth.
TEST_F (EditorTest, HostValuesBetweenStepsShowTheValueTaken)
{
    struct Case { const char* id; const char* controlName; float normalised; float plain; int frame; };
    const Case cases[] =
    {
        { "chorus_on",    "chorus_led",    0.32f,  0.0f,  0 },
        { "stereo_proc",  "toggle_stereo", 0.436f, 0.0f,  0 },
        { "chorus_depth", "depth",         0.372f, 3.7f, 23 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (std::string (c.id) + " = " + std::to_string (c.normalised));
        parameter (c.id).setValueNotifyingHost (c.normalised);

        if (control (c.controlName).isKnob)
            EXPECT_NEAR (knob (c.controlName).getValue(), c.plain, 1.0e-6);
        else
            EXPECT_EQ (toggle (c.controlName).getToggleState(), c.plain >= 0.5f);

        EXPECT_TRUE (shows (c.controlName, c.frame));
    }
}

TEST_F (EditorTest, KnobDragsReachTheirParametersInOneGesture)
{
    for (auto name : { "depth", "speed", "mix" })
    {
        SCOPED_TRACE (name);
        const auto& c = control (name);
        setFromHost (c.parameterID, 0.0f);

        uitest::ParameterRecorder recorder (parameter (c.parameterID));
        uitest::Mouse mouse (knob (name));
        const auto start = mouse.centre();
        mouse.press (start);
        mouse.drag (start.translated (0.0f, -50.0f));
        mouse.drag (start.translated (0.0f, -125.0f));
        mouse.release (start.translated (0.0f, -125.0f));

        EXPECT_FLOAT_EQ (plainValue (c.parameterID), 5.0f);
        EXPECT_TRUE (recorder.oneGestureAroundChanges());
    }
}

TEST_F (EditorTest, KnobDragIsAbsoluteFromThePressAndClamps)
{
    // 250 pixels cover the whole range; right and up both increase.
    struct Case { const char* name; float startValue; float dx, dy; float expected; };
    const Case cases[] =
    {
        { "up from the minimum",           0.0f,    0.0f, -125.0f,  5.0f },
        { "right from the minimum",        0.0f,  125.0f,    0.0f,  5.0f },
        { "right and up add up",           0.0f,   60.0f,  -65.0f,  5.0f },
        { "beyond the top",                0.0f,    0.0f, -300.0f, 10.0f },
        { "below the bottom",              0.0f,  -20.0f,   50.0f,  0.0f },
        { "down from the maximum",        10.0f,    0.0f,  125.0f,  5.0f },
        { "from the middle",               5.0f,  -25.0f,    0.0f,  4.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        setFromHost ("chorus_mix", c.startValue);

        uitest::Mouse mouse (knob ("mix"));
        const auto start = mouse.centre();
        mouse.press (start);
        mouse.drag (start.translated (c.dx, c.dy));
        mouse.release (start.translated (c.dx, c.dy));

        EXPECT_NEAR (plainValue ("chorus_mix"), c.expected, 1.0e-5);
        EXPECT_TRUE (shows ("mix", knobFrame (c.expected)));
    }
}

TEST_F (EditorTest, DraggingUpFromTheMinimumReachesMidRangeThenTheTop)
{
    uitest::ParameterRecorder recorder (parameter ("chorus_depth"));
    uitest::Mouse mouse (knob ("depth"));
    const auto start = mouse.centre();

    mouse.press (start);
    mouse.drag (start.translated (0.0f, -125.0f));
    EXPECT_DOUBLE_EQ (knob ("depth").getValue(), 5.0);
    EXPECT_FLOAT_EQ (plainValue ("chorus_depth"), 5.0f);
    EXPECT_TRUE (shows ("depth", 32));

    mouse.drag (start.translated (0.0f, -400.0f));
    EXPECT_FLOAT_EQ (plainValue ("chorus_depth"), 10.0f);
    EXPECT_TRUE (shows ("depth", 64));

    mouse.release (start.translated (0.0f, -400.0f));
    EXPECT_TRUE (recorder.oneGestureAroundChanges());
}

TEST_F (EditorTest, DoubleClickRestoresTheDefault)
{
    struct Case { const char* name; float hostValue; float defaultValue; };
    const Case cases[] =
    {
        { "depth", 7.0f,  0.0f },
        { "speed", 2.5f,  0.0f },
        { "mix",   3.0f, 10.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto* id = control (c.name).parameterID;
        setFromHost (id, c.hostValue);

        uitest::ParameterRecorder recorder (parameter (id));
        uitest::Mouse mouse (knob (c.name));
        mouse.doubleClick (mouse.centre());

        EXPECT_FLOAT_EQ (plainValue (id), c.defaultValue);
        EXPECT_TRUE (recorder.changesInsideGestures());
        EXPECT_TRUE (shows (c.name, knobFrame (c.defaultValue)));
    }
}

TEST_F (EditorTest, InputModeClickFlipsStereoInOneGesture)
{
    uitest::Mouse mouse (toggle ("toggle_stereo"));

    for (auto expected : { 0.0f, 1.0f })
    {
        uitest::ParameterRecorder recorder (parameter ("stereo_proc"));
        mouse.click (mouse.centre());

        EXPECT_EQ (plainValue ("stereo_proc"), expected);
        EXPECT_TRUE (recorder.oneGestureAroundChanges());
        EXPECT_TRUE (shows ("toggle_stereo", (int) expected));

        // Only the foot switch works the lamp.
        EXPECT_EQ (plainValue ("chorus_on"), 1.0f);
        EXPECT_TRUE (toggle ("chorus_led").getToggleState());
    }
}

TEST_F (EditorTest, FootswitchClickFlipsChorusOnInOneGesture)
{
    auto& footswitch = toggle ("chorus_on");
    uitest::Mouse mouse (footswitch);
    ASSERT_EQ (plainValue ("chorus_on"), 1.0f);

    for (auto expected : { 0.0f, 1.0f })
    {
        SCOPED_TRACE (expected);
        uitest::ParameterRecorder recorder (parameter ("chorus_on"));

        // Held down: the switch shows pressed, nothing changes yet.
        mouse.press (mouse.centre());
        EXPECT_TRUE (shows ("chorus_on", 1));
        EXPECT_TRUE (recorder.events.empty());

        mouse.release (mouse.centre());
        EXPECT_EQ (plainValue ("chorus_on"), expected);
        EXPECT_TRUE (recorder.oneGestureAroundChanges());
        EXPECT_EQ (recorder.count (uitest::ParameterRecorder::Event::value), 1);
        EXPECT_TRUE (shows ("chorus_led", (int) expected));
        EXPECT_TRUE (shows ("chorus_on", 0));
        EXPECT_FALSE (footswitch.getToggleState());
    }
}

TEST_F (EditorTest, FootswitchPressDraggedOffChangesNothing)
{
    uitest::ParameterRecorder recorder (parameter ("chorus_on"));
    uitest::Mouse mouse (toggle ("chorus_on"));

    mouse.press (mouse.centre());
    mouse.drag ({ -100.0f, -100.0f });
    mouse.release ({ -100.0f, -100.0f });

    EXPECT_EQ (plainValue ("chorus_on"), 1.0f);
    EXPECT_TRUE (recorder.events.empty());
    EXPECT_TRUE (shows ("chorus_on", 0));
    EXPECT_TRUE (shows ("chorus_led", 1));
}

TEST_F (EditorTest, LampIgnoresClicks)
{
    auto& lamp = toggle ("chorus_led");
    uitest::ParameterRecorder recorder (parameter ("chorus_on"));
    uitest::Mouse mouse (lamp);

    mouse.click (mouse.centre());
    mouse.doubleClick (mouse.centre());

    EXPECT_TRUE (lamp.getToggleState());
    EXPECT_EQ (plainValue ("chorus_on"), 1.0f);
    EXPECT_TRUE (recorder.events.empty());
    EXPECT_TRUE (shows ("chorus_led", 1));
}

TEST_F (EditorTest, ReopeningShowsTheCurrentValues)
{
    setFromHost ("chorus_depth", 2.5f);
    setFromHost ("stereo_proc", 0.0f);
    close();

    // Changed while no editor is open.
    setFromHost ("chorus_speed", 7.5f);
    setFromHost ("chorus_mix", 1.0f);
    setFromHost ("chorus_on", 0.0f);
    open();

    EXPECT_EQ (editor->getWidth(), 370);
    EXPECT_EQ (editor->getHeight(), 476);

    struct Case { const char* name; int frame; };
    for (auto c : { Case { "depth", 16 }, Case { "speed", 48 }, Case { "mix", 6 },
                    Case { "chorus_led", 0 }, Case { "chorus_on", 0 }, Case { "toggle_stereo", 0 } })
    {
        SCOPED_TRACE (c.name);
        EXPECT_TRUE (shows (c.name, c.frame));
    }

    EXPECT_NEAR (knob ("depth").getValue(), 2.5, 1.0e-6);
    EXPECT_NEAR (knob ("speed").getValue(), 7.5, 1.0e-6);
    EXPECT_NEAR (knob ("mix").getValue(), 1.0, 1.0e-6);
    EXPECT_FALSE (toggle ("chorus_led").getToggleState());
    EXPECT_FALSE (toggle ("toggle_stereo").getToggleState());
}

TEST_F (EditorTest, AControlWithoutAPictureIsInvisibleButWorks)
{
    const auto undecodable = juce::ImageFileFormat::loadFrom ("not a png", 9);
    ASSERT_FALSE (undecodable.isValid());

    {
        SCOPED_TRACE ("knob");
        auto& depth = knob ("depth");
        depth.stripImage = undecodable;
        depth.setFilmStrip (&depth.stripImage, 65);
        setFromHost ("chorus_depth", 6.0f);
        EXPECT_TRUE (shows ("depth", -1));

        uitest::ParameterRecorder recorder (parameter ("chorus_depth"));
        uitest::Mouse mouse (depth);
        mouse.press (mouse.centre());
        mouse.drag (mouse.centre().translated (0.0f, -25.0f));
        mouse.release (mouse.centre().translated (0.0f, -25.0f));
        EXPECT_NEAR (plainValue ("chorus_depth"), 7.0f, 1.0e-5);
        EXPECT_TRUE (recorder.oneGestureAroundChanges());
        EXPECT_TRUE (shows ("depth", -1));
    }

    {
        SCOPED_TRACE ("input mode switch");
        auto& stereo = toggle ("toggle_stereo");
        stereo.stripImage = undecodable;
        stereo.setFilmStrip (&stereo.stripImage, 2);
        EXPECT_TRUE (shows ("toggle_stereo", -1));

        uitest::Mouse mouse (stereo);
        mouse.click (mouse.centre());
        EXPECT_EQ (plainValue ("stereo_proc"), 0.0f);
        EXPECT_TRUE (shows ("toggle_stereo", -1));

        setFromHost ("stereo_proc", 1.0f);
        EXPECT_TRUE (stereo.getToggleState());
    }

    {
        SCOPED_TRACE ("foot switch");
        auto& footswitch = toggle ("chorus_on");
        footswitch.stripImage = undecodable;
        footswitch.setFilmStrip (&footswitch.stripImage, 2);

        uitest::Mouse mouse (footswitch);
        mouse.press (mouse.centre());
        EXPECT_TRUE (shows ("chorus_on", -1));
        mouse.release (mouse.centre());
        EXPECT_EQ (plainValue ("chorus_on"), 0.0f);
        EXPECT_TRUE (shows ("chorus_led", 0));
    }
}
