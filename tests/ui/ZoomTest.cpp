// The panel at every zoom: its size, where the controls are and how the mouse
// reaches them, the pictures it draws from, the menu, resizing by the host,
// the host's scale, and the value shown while a knob turns.

#include "plugin/Processor.h"
#include "ui/Editor.h"
#include "ui/Pictures.h"
#include "ui/UiTestSupport.h"

#include <stdexcept>

namespace
{
    struct Control
    {
        const char* name;
        juce::Rectangle<int> bounds;   // in panel units
    };

    const Control controls[] =
    {
        { "depth",         {  91,  71, 76, 73 } },
        { "speed",         { 149, 168, 73, 73 } },
        { "mix",           { 206,  71, 73, 73 } },
        { "chorus_led",    { 167, 296, 39, 41 } },
        { "chorus_on",     { 160, 349, 51, 50 } },
        { "toggle_stereo", {  32,  14, 31, 20 } },
    };

    juce::Rectangle<int> boundsOf (const char* name)
    {
        for (const auto& c : controls)
            if (juce::String (c.name) == name)
                return c.bounds;

        throw std::invalid_argument (name);
    }

    /** Where a point of the panel (in panel units) is in the window at a zoom. */
    juce::Point<float> onWindow (juce::Point<float> panelPoint, double zoom)
    {
        return panelPoint * (float) zoom;
    }

    juce::Point<float> centreOf (const char* name)
    {
        return boundsOf (name).toFloat().getCentre();
    }

    juce::Rectangle<int> scaled (juce::Rectangle<int> r, int scale)
    {
        return { r.getX() * scale, r.getY() * scale, r.getWidth() * scale, r.getHeight() * scale };
    }

    /** What the whole panel must look like with the pictures at a scale,
        pixel for pixel: the background, with each control's frame where the
        parameters put it. */
    juce::Image expectedPanel (int scale, int mixFrame, bool lampLit, bool stereo)
    {
        auto panel = Pictures::get (Pictures::background, scale).createCopy();
        juce::Graphics g (panel);

        const auto drawFrame = [&g, scale] (Pictures::Id id, const char* name, int frames, int frame)
        {
            const auto strip = Pictures::get (id, scale);
            const auto place = scaled (boundsOf (name), scale);
            const auto across = Pictures::framesAcross (id, scale);
            const auto frameWidth = across ? strip.getWidth() / frames : strip.getWidth();
            const auto frameHeight = across ? strip.getHeight() : strip.getHeight() / frames;
            const auto source = across ? juce::Rectangle<int> (frame * frameWidth, 0, frameWidth, frameHeight)
                                       : juce::Rectangle<int> (0, frame * frameHeight, frameWidth, frameHeight);
            g.drawImageAt (strip.getClippedImage (source), place.getX(), place.getY());
        };

        drawFrame (Pictures::knobMix, "mix", 65, mixFrame);
        drawFrame (Pictures::chorusLed, "chorus_led", 2, lampLit ? 1 : 0);
        drawFrame (Pictures::toggleStereo, "toggle_stereo", 2, stereo ? 1 : 0);
        return panel;
    }

    class ZoomTest : public testing::Test
    {
    protected:
        ZoomTest() { open(); }

        void open()   { editor = std::make_unique<Editor> (processor, processor.parameters); }

        /** A new window, as if no zoom had ever been chosen. */
        void reopenWithNothingChosen()
        {
            editor.reset();   // the last editor: its choice is written now
            settings.settingsFile().deleteFile();
            processor.editorZoom = 0.0;
            open();
        }

        juce::RangedAudioParameter& parameter (const char* id)
        {
            auto* p = processor.parameters.getParameter (id);

            if (p == nullptr)
                throw std::invalid_argument (id);

            return *p;
        }

        float plainValue (const char* id)
        {
            auto& p = parameter (id);
            return p.convertFrom0to1 (p.getValue());
        }

        void setFromHost (const char* id, float plainValue)
        {
            auto& p = parameter (id);
            p.setValueNotifyingHost (p.convertTo0to1 (plainValue));
        }

        juce::Component& child (const char* name)
        {
            auto* c = uitest::findChild<juce::Component> (*editor, name);

            if (c == nullptr)
                throw std::invalid_argument (name);

            return *c;
        }

        uitest::ScopedSettingsFolder settings;
        Processor processor;
        std::unique_ptr<Editor> editor;
    };
}

//==============================================================================
TEST_F (ZoomTest, EveryMenuZoomScalesThePanelAndItsControlsAlike)
{
    struct Case { double zoom; int width, height, pictureScale; };
    const Case cases[] =
    {
        { 1.0,   370,  476, 1 },
        { 1.25,  463,  595, 2 },
        { 1.5,   555,  714, 2 },
        { 2.0,   740,  952, 2 },
        { 2.5,   925, 1190, 3 },
        { 3.0,  1110, 1428, 3 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.zoom);
        editor->setZoom (c.zoom);

        EXPECT_EQ (editor->getZoom(), c.zoom);
        EXPECT_EQ (editor->getWidth(), c.width);
        EXPECT_EQ (editor->getHeight(), c.height);
        EXPECT_EQ (editor->getPictureScale(), c.pictureScale);
        EXPECT_TRUE (editor->getTransform().isIdentity());

        // Each control keeps its panel units and covers its place times the zoom.
        for (const auto& control : controls)
        {
            SCOPED_TRACE (control.name);
            auto& component = child (control.name);
            EXPECT_EQ (component.getBounds(), control.bounds);

            const auto onEditor = editor->getLocalArea (&component, component.getLocalBounds().toFloat());
            const auto expected = control.bounds.toFloat() * (float) c.zoom;
            EXPECT_NEAR (onEditor.getX(), expected.getX(), 1.0e-3);
            EXPECT_NEAR (onEditor.getY(), expected.getY(), 1.0e-3);
            EXPECT_NEAR (onEditor.getWidth(), expected.getWidth(), 1.0e-3);
            EXPECT_NEAR (onEditor.getHeight(), expected.getHeight(), 1.0e-3);
        }
    }
}

TEST_F (ZoomTest, At200And300PercentThePanelIsTheGeneratorsPicturesPixelForPixel)
{
    // With the defaults: depth and speed at 0, mix at 10, chorus on, stereo.
    const auto pictureFolder = juce::SystemStats::getEnvironmentVariable ("TESSAMUNE_PANEL_PICTURES", {});

    for (const auto scale : { 1, 2, 3 })
    {
        SCOPED_TRACE (scale);
        editor->setZoom (scale);
        ASSERT_EQ (editor->getPictureScale(), scale);

        const auto painted = uitest::paint (*editor);
        const auto expected = expectedPanel (scale, 64, true, true);
        ASSERT_EQ (painted.getBounds(), expected.getBounds());
        EXPECT_TRUE (uitest::sameRegion (painted, painted.getBounds(), expected, expected.getBounds()));

        // Written out on request, for looking at (the README's picture).
        if (pictureFolder.isNotEmpty())
        {
            const auto file = juce::File (pictureFolder).getChildFile ("panel-" + juce::String (scale * 100) + ".png");
            file.deleteFile();
            juce::FileOutputStream out (file);
            juce::PNGImageFormat().writeImageToStream (painted, out);
        }
    }
}

TEST_F (ZoomTest, OnADenserScreenThePanelDrawsFromTheDenserPictures)
{
    // At 100% on a screen the window system draws at twice the pixels, the
    // panel is the 200% one.
    const auto expected = expectedPanel (2, 64, true, true);
    juce::Image painted (juce::Image::ARGB, expected.getWidth(), expected.getHeight(), true);

    {
        juce::Graphics g (painted);
        g.addTransform (juce::AffineTransform::scale (2.0f));
        editor->paintEntireComponent (g, false);
    }

    EXPECT_EQ (editor->getZoom(), 1.0);
    EXPECT_EQ (editor->getPictureScale(), 2);
    EXPECT_TRUE (uitest::sameRegion (painted, painted.getBounds(), expected, expected.getBounds()));
}

TEST_F (ZoomTest, MousePositionsReachTheSameControlsAtEveryZoom)
{
    uitest::DesktopWindow window (*editor);

    if (! window.isOpen())
        GTEST_SKIP() << "no display";

    for (const auto zoom : { 1.0, 1.25, 2.0, 3.0 })
    {
        SCOPED_TRACE (zoom);
        editor->setZoom (zoom);
        setFromHost ("chorus_depth", 0.0f);
        setFromHost ("chorus_mix", 3.0f);

        // A drag of the same fraction of the knob's size turns it as far:
        // half its range for 125 panel units up.
        const auto depth = onWindow (centreOf ("depth"), zoom);
        window.press (depth);
        window.drag (depth.translated (0.0f, -62.5f * (float) zoom));
        window.drag (depth.translated (0.0f, -125.0f * (float) zoom));
        window.release (depth.translated (0.0f, -125.0f * (float) zoom));
        window.leave();
        EXPECT_FLOAT_EQ (plainValue ("chorus_depth"), 5.0f);

        // A double click on the mix knob returns it to its default.
        window.doubleClick (onWindow (centreOf ("mix"), zoom));
        window.leave();
        EXPECT_FLOAT_EQ (plainValue ("chorus_mix"), 10.0f);

        // A click on the foot switch flips the chorus, one on the input-mode
        // rings the mode.
        const auto chorusWas = plainValue ("chorus_on");
        window.click (onWindow (centreOf ("chorus_on"), zoom));
        window.leave();
        EXPECT_EQ (plainValue ("chorus_on"), 1.0f - chorusWas);

        const auto stereoWas = plainValue ("stereo_proc");
        window.click (onWindow (centreOf ("toggle_stereo"), zoom));
        window.leave();
        EXPECT_EQ (plainValue ("stereo_proc"), 1.0f - stereoWas);
    }

    // Where the foot switch is at 100%, the larger panel shows its paint:
    // a click there changes nothing.
    editor->setZoom (2.0);
    const auto chorusWas = plainValue ("chorus_on");
    window.click (centreOf ("chorus_on"));
    window.leave();
    EXPECT_EQ (plainValue ("chorus_on"), chorusWas);
}

TEST_F (ZoomTest, ShiftDragTurnsAKnobTenTimesMoreFinelyWithoutJumping)
{
    uitest::DesktopWindow window (*editor);

    if (! window.isOpen())
        GTEST_SKIP() << "no display";

    for (const auto zoom : { 1.0, 2.0 })
    {
        SCOPED_TRACE (zoom);
        editor->setZoom (zoom);
        setFromHost ("chorus_speed", 0.0f);
        uitest::ParameterRecorder recorder (parameter ("chorus_speed"));

        const auto start = onWindow (centreOf ("speed"), zoom);
        const auto up = [&] (float panelUnits) { return start.translated (0.0f, -panelUnits * (float) zoom); };

        window.press (start);
        window.drag (up (100.0f));                                   // 4.0
        EXPECT_FLOAT_EQ (plainValue ("chorus_speed"), 4.0f);

        window.drag (up (150.0f), juce::ModifierKeys::shiftModifier); // + 50 / 10 units: 4.2
        EXPECT_NEAR (plainValue ("chorus_speed"), 4.2f, 1.0e-5);

        window.drag (up (175.0f));                                   // Shift up again: + 25 units, 5.2
        EXPECT_NEAR (plainValue ("chorus_speed"), 5.2f, 1.0e-5);

        window.release (up (175.0f));
        window.leave();
        EXPECT_TRUE (recorder.oneGestureAroundChanges());
    }
}

TEST_F (ZoomTest, TheWheelTurnsAKnobAtEveryZoom)
{
    uitest::DesktopWindow window (*editor);

    if (! window.isOpen())
        GTEST_SKIP() << "no display";

    for (const auto zoom : { 1.0, 3.0 })
    {
        SCOPED_TRACE (zoom);
        editor->setZoom (zoom);
        setFromHost ("chorus_mix", 3.0f);
        uitest::ParameterRecorder recorder (parameter ("chorus_mix"));

        const auto mix = onWindow (centreOf ("mix"), zoom);
        window.wheel (mix, 1.0f);
        EXPECT_NEAR (plainValue ("chorus_mix"), 3.5f, 1.0e-5);
        window.wheel (mix, -2.0f);
        EXPECT_NEAR (plainValue ("chorus_mix"), 2.5f, 1.0e-5);
        window.wheel (mix, 1.0f, juce::ModifierKeys::shiftModifier);
        EXPECT_NEAR (plainValue ("chorus_mix"), 2.6f, 1.0e-5);
        window.leave();

        EXPECT_EQ (recorder.count (uitest::ParameterRecorder::Event::begin), 3);
        EXPECT_TRUE (recorder.changesInsideGestures());
    }
}

//==============================================================================
TEST_F (ZoomTest, AnySizeFromTheHostBecomesTheLargestZoomThatFits)
{
    struct Case { const char* name; int width, height; double zoom; int expectedWidth, expectedHeight; };
    const Case cases[] =
    {
        { "a 200% size",              740,  952, 2.0,              740,  952 },
        { "square, height limits",    800,  800, 800.0 / 476.0,    622,  800 },
        { "wide, height limits",     2000,  714, 1.5,              555,  714 },
        { "tall, width limits",       555, 2000, 1.5,              555,  714 },
        { "smaller than 100%",        100,   50, 1.0,              370,  476 },
        { "larger than 300%",        5000, 5000, 3.0,             1110, 1428 },
        { "one pixel over 200%",      741,  953, 953.0 / 476.0,    741,  953 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);

        {
            // Nothing chosen yet, the host alone: the window shows the zoom,
            // nothing keeps it.
            reopenWithNothingChosen();
            editor->setSize (1000, 1000);
            editor->setSize (c.width, c.height);

            EXPECT_DOUBLE_EQ (editor->getZoom(), juce::jlimit (1.0, 3.0, c.zoom));
            EXPECT_EQ (editor->getWidth(), c.expectedWidth);
            EXPECT_EQ (editor->getHeight(), c.expectedHeight);
            EXPECT_EQ (processor.editorZoom.load(), 0.0);
        }

        {
            // The user dragging the edge of the host's window: a choice, kept
            // for the instance.
            editor->setSize (1000, 1000);
            const uitest::ScopedButtonHeldOutside dragging;
            editor->setSize (c.width, c.height);

            EXPECT_EQ (editor->getWidth(), c.expectedWidth);
            EXPECT_EQ (editor->getHeight(), c.expectedHeight);
            EXPECT_DOUBLE_EQ (processor.editorZoom.load(), editor->getZoom());
        }

        {
            // Once chosen, the host alone changes nothing: a host answering a
            // new zoom with its window's old size, or fitting its window,
            // leaves the panel at the chosen zoom and size.
            const auto chosen = editor->getZoom();
            const auto chosenSize = editor->getBounds();
            editor->setSize (1000, 1000);
            EXPECT_EQ (editor->getZoom(), chosen);
            EXPECT_EQ (editor->getBounds(), chosenSize);
            editor->setSize (380, 490);
            EXPECT_EQ (editor->getZoom(), chosen);
            EXPECT_EQ (editor->getBounds(), chosenSize);
            EXPECT_EQ (processor.editorZoom.load(), chosen);
        }
    }

    // The last choice, for the next window.
    editor.reset();
    EXPECT_NEAR (RememberedZoom().recall().value_or (0.0), 2.002, 1.0e-9);
}

TEST_F (ZoomTest, DraggingThePanelsCornerZoomsItAndIsAChoice)
{
    {
        uitest::DesktopWindow window (*editor);

        if (! window.isOpen())
            GTEST_SKIP() << "no display";

        // The corner shows only while the mouse is over it: at rest the panel
        // is the picture it always was.
        const auto atRest = expectedPanel (1, 64, true, true);
        EXPECT_TRUE (uitest::sameRegion (uitest::paint (*editor), { 0, 0, 370, 476 }, atRest, atRest.getBounds()));

        // Half as large again: 185 more across, 238 more down.
        // Half way, the host answers with its window's size as it was,
        // which the drag does not let undo it.
        const juce::Point<float> corner { 365.0f, 471.0f };
        window.press (corner);
        window.drag (corner.translated (90.0f, 120.0f));
        const auto halfWay = editor->getZoom();
        EXPECT_GT (halfWay, 1.2);
        editor->setSize (370, 476);
        EXPECT_EQ (editor->getZoom(), halfWay);
        window.drag (corner.translated (185.0f, 238.0f));
        window.release (corner.translated (185.0f, 238.0f));
        window.leave();

        EXPECT_EQ (editor->getZoom(), 1.5);
        EXPECT_EQ (editor->getWidth(), 555);
        EXPECT_EQ (processor.editorZoom.load(), 1.5);

        // Nor after the drag.
        editor->setSize (370, 476);
        EXPECT_EQ (editor->getZoom(), 1.5);
        EXPECT_EQ (editor->getWidth(), 555);
    }

    // And the user's, for the next window.
    editor.reset();
    EXPECT_EQ (RememberedZoom().recall(), 1.5);
}

TEST_F (ZoomTest, DraggingAnEdgeOrTheCornerKeepsTheAspectRatio)
{
    auto* constrainer = editor->getConstrainer();
    ASSERT_NE (constrainer, nullptr);

    struct Case { const char* name; juce::Rectangle<int> dragged; bool top, left, bottom, right; juce::Rectangle<int> expected; };
    const Case cases[] =
    {
        { "right edge to 555",     { 10, 20, 555, 476 },  false, false, false, true,  { 10, 20, 555, 714 } },
        { "bottom edge to 714",    { 10, 20, 370, 714 },  false, false, true,  false, { 10, 20, 555, 714 } },
        { "bottom right corner",   { 10, 20, 900, 760 },  false, false, true,  true,  { 10, 20, 591, 760 } },
        { "top left corner",       { -90, -110, 470, 606 }, true, true, false, false, { -90, -109, 470, 605 } },
        { "beyond 300%",           { 10, 20, 3000, 3000 }, false, false, true, true,  { 10, 20, 1110, 1428 } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto bounds = c.dragged;
        constrainer->checkBounds (bounds, { 10, 20, 370, 476 }, {}, c.top, c.left, c.bottom, c.right);
        EXPECT_EQ (bounds, c.expected);
    }
}

TEST_F (ZoomTest, TheMenuOffersTheZoomsAndTicksTheCurrentOne)
{
    editor->setZoom (1.5);
    auto menu = editor->createZoomMenu();

    juce::StringArray texts, ticked, offered;
    std::function<void()> choose250;

    for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
    {
        auto& item = it.getItem();

        if (item.isSectionHeader)
            continue;

        texts.add (item.text);

        if (item.isTicked)
            ticked.add (item.text);

        if (item.isEnabled)
            offered.add (item.text);

        if (item.text == "250%")
            choose250 = item.action;
    }

    EXPECT_EQ (texts, juce::StringArray ({ "100%", "125%", "150%", "200%", "250%", "300%" }));
    EXPECT_EQ (ticked, juce::StringArray ({ "150%" }));

    // A zoom too large for the screen is not offered: on the tests' virtual
    // screen (1280 x 1024), 250% and 300%.
    if (const auto* screen = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay();
        screen != nullptr && screen->userArea.getHeight() == 1024)
        EXPECT_EQ (offered, juce::StringArray ({ "100%", "125%", "150%", "200%" }));
    else
        EXPECT_TRUE (offered.contains ("100%") && offered.contains ("150%"));

    ASSERT_TRUE (choose250 != nullptr);
    choose250();
    EXPECT_EQ (editor->getZoom(), 2.5);
    EXPECT_EQ (editor->getWidth(), 925);
    EXPECT_EQ (processor.editorZoom.load(), 2.5);

    // And the user's, for the next window.
    editor.reset();
    EXPECT_EQ (RememberedZoom().recall(), 2.5);
}

TEST_F (ZoomTest, ZoomingTouchesNeitherTheParametersNorTheirTree)
{
    struct TreeWatcher : juce::ValueTree::Listener
    {
        void valueTreePropertyChanged (juce::ValueTree&, const juce::Identifier&) override { ++changes; }
        void valueTreeChildAdded (juce::ValueTree&, juce::ValueTree&) override             { ++changes; }
        void valueTreeChildRemoved (juce::ValueTree&, juce::ValueTree&, int) override      { ++changes; }
        int changes = 0;
    } watcher;

    processor.parameters.state.addListener (&watcher);
    std::vector<std::unique_ptr<uitest::ParameterRecorder>> recorders;

    for (auto* id : { "chorus_on", "chorus_depth", "chorus_speed", "chorus_mix", "stereo_proc" })
        recorders.push_back (std::make_unique<uitest::ParameterRecorder> (parameter (id)));

    editor->setZoom (2.0);
    editor->setSize (900, 900);
    editor->setZoom (3.0);
    editor->setScaleFactor (2.0f);
    uitest::pumpMessages (50);

    processor.parameters.state.removeListener (&watcher);
    EXPECT_EQ (watcher.changes, 0);

    for (const auto& recorder : recorders)
        EXPECT_TRUE (recorder->events.empty()) << recorder->parameter.getName (100);
}

//==============================================================================
TEST_F (ZoomTest, TheHostsScaleIsTheFirstZoomButNeverOverridesAChoice)
{
    // Nothing chosen yet: the host's scale becomes the zoom, a moment later
    // (a host's wrapper may set the old size back first), without a
    // transform, and it is not kept as a choice.
    editor->setScaleFactor (2.0f);
    uitest::pumpMessages (50);
    EXPECT_EQ (editor->getZoom(), 2.0);
    EXPECT_EQ (editor->getWidth(), 740);
    EXPECT_TRUE (editor->getTransform().isIdentity());
    EXPECT_EQ (processor.editorZoom.load(), 0.0);

    // A host telling 1 changes nothing.
    editor->setScaleFactor (1.0f);
    uitest::pumpMessages (50);
    EXPECT_EQ (editor->getZoom(), 2.0);

    // Once the user has chosen, the host's scale no longer changes the zoom.
    editor->setZoom (1.5);
    editor->setScaleFactor (2.5f);
    uitest::pumpMessages (50);
    EXPECT_EQ (editor->getZoom(), 1.5);

    // Nor in a window that opens at a zoom chosen before.
    editor.reset();
    open();
    EXPECT_EQ (editor->getZoom(), 1.5);
    editor->setScaleFactor (2.0f);
    uitest::pumpMessages (50);
    EXPECT_EQ (editor->getZoom(), 1.5);
}

TEST_F (ZoomTest, WithoutAnyChoiceTheFirstZoomFollowsTheDesktop)
{
    editor.reset();

    {
        const uitest::ScopedEnvironment desktop ("GDK_SCALE", "2");
        open();
        EXPECT_EQ (editor->getZoom(), 2.0);
        EXPECT_EQ (processor.editorZoom.load(), 0.0);
        editor.reset();
    }

    open();
    EXPECT_EQ (editor->getZoom(), 1.0);
}

//==============================================================================
TEST_F (ZoomTest, AKnobsValueShowsWhileItTurnsAsTheHostShowsIt)
{
    uitest::DesktopWindow window (*editor);

    if (! window.isOpen())
        GTEST_SKIP() << "no display";

    const auto& readout = editor->getValueReadout();
    EXPECT_FALSE (readout.isVisible());

    // Changes from the host show nothing.
    setFromHost ("chorus_depth", 2.0f);
    EXPECT_FALSE (readout.isVisible());

    for (const auto zoom : { 1.0, 2.0 })
    {
        SCOPED_TRACE (zoom);
        editor->setZoom (zoom);
        setFromHost ("chorus_depth", 0.0f);

        const auto depth = onWindow (centreOf ("depth"), zoom);
        window.press (depth);
        window.drag (depth.translated (0.0f, -125.0f * (float) zoom));
        EXPECT_TRUE (readout.isVisible());
        EXPECT_EQ (readout.getText(), "5.0");
        EXPECT_EQ (readout.getText(), parameter ("chorus_depth").getCurrentValueAsText());

        // Under the knob, over its printed name, scaled with the panel.
        EXPECT_EQ (readout.getBounds().getY(), boundsOf ("depth").getBottom());
        EXPECT_EQ (readout.getBounds().getCentreX(), boundsOf ("depth").getCentreX());
        EXPECT_TRUE (readout.getTransform() == juce::AffineTransform::scale ((float) zoom));

        window.release (depth.translated (0.0f, -125.0f * (float) zoom));
        window.leave();

        // A moment after the knob stops, it goes.
        EXPECT_TRUE (readout.isVisible());
        uitest::pumpMessages (Editor::readoutHoldMs + 300);
        EXPECT_FALSE (readout.isVisible());
    }

    // The wheel shows it too.
    editor->setZoom (1.0);
    window.wheel (onWindow (centreOf ("mix"), 1.0), -1.0f);
    EXPECT_TRUE (readout.isVisible());
    EXPECT_EQ (readout.getText(), "9.5");
}
