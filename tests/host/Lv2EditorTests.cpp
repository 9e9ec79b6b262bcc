// The LV2 editor, opened by the suite's own host in an X window on the
// test display: a knob turned with the mouse is written to its control port
// through the host's write function, a port value the host reports moves
// the editor's controls without being written back, as does a state the
// plug-in restores, and the window's size goes both ways between the editor
// and the host within the sizes the panel can show. Several editors on one
// plug-in each work on their own, one works without instance access, and a
// closed one leaves no memory behind and no messages piling up.

#include "Hosting.h"
#include "Lv2TestHost.h"

#include <lv2/atom/atom.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <thread>

#include <dirent.h>
#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

// Last: Xlib defines macros (None, Bool, Status...) that other headers use as names.
#include <X11/Xlib.h>

using namespace Lv2TestHost;

namespace
{
    // On a bare X server (xvfb-run starts one without a window manager) the
    // window manager's atoms do not exist, and the framework's X11 code, in
    // the plug-in as anywhere, sets window properties with some of them
    // unchecked when it opens a window; it looks them up once, when it first
    // connects. So they are created before any test runs, as a window
    // manager would, on a connection that stays open (the server forgets its
    // atoms when its last client leaves).
    class WindowManagerAtoms : public testing::Environment
    {
    public:
        void SetUp() override
        {
            display = XOpenDisplay (nullptr);

            if (display == nullptr)
                return;

            for (auto* name : { "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "_NET_WM_PING", "WM_CHANGE_STATE",
                                "WM_STATE", "_NET_WM_WINDOW_TYPE", "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN" })
                XInternAtom (display, name, False);

            XSync (display, False);
        }

        void TearDown() override
        {
            if (display != nullptr)
                XCloseDisplay (display);
        }

    private:
        Display* display = nullptr;
    };

    [[maybe_unused]] testing::Environment* const windowManagerAtoms = testing::AddGlobalTestEnvironment (new WindowManagerAtoms);

    struct Recorder
    {
        std::vector<std::pair<uint32_t, float>> writes;       // port, value
        std::vector<std::pair<uint32_t, bool>> touches;       // port, grabbed
        std::vector<std::pair<int, int>> sizes;               // told through ui:resize
        std::function<void()> answerResize;                   // what the host does then
        int otherWrites = 0;                                  // not a float with protocol 0

        static void write (LV2UI_Controller controller, uint32_t port, uint32_t size, uint32_t protocol, const void* buffer)
        {
            auto& self = *static_cast<Recorder*> (controller);

            if (protocol == 0 && size == sizeof (float))
                self.writes.emplace_back (port, *static_cast<const float*> (buffer));
            else
                ++self.otherWrites;
        }

        static void touch (LV2UI_Feature_Handle handle, uint32_t port, bool grabbed)
        {
            static_cast<Recorder*> (handle)->touches.emplace_back (port, grabbed);
        }

        static int resize (LV2UI_Feature_Handle handle, int width, int height)
        {
            auto& self = *static_cast<Recorder*> (handle);
            self.sizes.emplace_back (width, height);

            if (self.answerResize)
                self.answerResize();

            return 0;
        }
    };

    // The plug-in's editor in a window of our own on the test display.
    class Editor
    {
    public:
        // hostScale: the host's ui:scaleFactor option, if it gives one;
        // instanceAccess: whether the host gives the plug-in's instance.
        Editor (Plugin& plugin, Recorder& recorder, float hostScale = 0.0f, bool instanceAccess = true)
        {
            display = XOpenDisplay (nullptr);

            if (display == nullptr)
                return;

            parent = XCreateSimpleWindow (display, DefaultRootWindow (display), 0, 0, 400, 500, 0, 0, 0);
            XMapWindow (display, parent);
            XSync (display, False);

            if (! library.open (TESSAMUNE_LV2_BINARY))
                return;

            using Entry = const LV2UI_Descriptor* (*) (uint32_t);

            if (auto entry = reinterpret_cast<Entry> (library.getFunction ("lv2ui_descriptor")))
                descriptor = entry (0);

            if (descriptor == nullptr)
                return;

            touchFeature = { &recorder, Recorder::touch };
            resizeFeature = { &recorder, Recorder::resize };
            featureList = { { LV2_URID__map, const_cast<LV2_URID_Map*> (plugin.uridMap().feature()) },
                            { LV2_UI__parent, reinterpret_cast<void*> (parent) },
                            { LV2_UI__idleInterface, nullptr },
                            { LV2_UI__touch, &touchFeature },
                            { LV2_UI__resize, &resizeFeature } };

            if (instanceAccess)
                featureList.push_back ({ LV2_INSTANCE_ACCESS_URI, plugin.getHandle() });

            if (hostScale > 0.0f)
            {
                scale = hostScale;
                auto& urids = plugin.uridMap();
                options = { { LV2_OPTIONS_INSTANCE, 0, urids.map (LV2_UI__scaleFactor), sizeof (float),
                              urids.map (LV2_ATOM__Float), &scale },
                            { LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr } };
                featureList.push_back ({ LV2_OPTIONS__options, options.data() });
            }

            for (auto& f : featureList)
                features.push_back (&f);

            features.push_back (nullptr);

            const auto bundle = Hosting::lv2Bundle().getFullPathName() + "/";
            handle = descriptor->instantiate (descriptor, TESSAMUNE_LV2_URI, bundle.toRawUTF8(),
                                              Recorder::write, &recorder, &widget, features.data());

            if (handle != nullptr)
            {
                idle = static_cast<const LV2UI_Idle_Interface*> (descriptor->extension_data (LV2_UI__idleInterface));
                resizeInterface = static_cast<const LV2UI_Resize*> (descriptor->extension_data (LV2_UI__resize));
            }
        }

        ~Editor()
        {
            close();

            if (display != nullptr)
            {
                XDestroyWindow (display, parent);
                XCloseDisplay (display);
            }
        }

        bool hasDisplay() const { return display != nullptr; }
        bool isOpen() const { return handle != nullptr && idle != nullptr; }

        // The host closes the editor (its window stays).
        void close()
        {
            if (handle != nullptr)
                descriptor->cleanup (handle);

            handle = nullptr;
        }

        const LV2_Options_Interface* optionsInterface() const
        {
            return static_cast<const LV2_Options_Interface*> (descriptor->extension_data (LV2_OPTIONS__interface));
        }

        LV2UI_Handle getHandle() const { return handle; }

        // What a host does between user actions: lets the editor handle its
        // events for a while.
        void pump (int milliseconds = 100)
        {
            for (int elapsed = 0; elapsed < milliseconds; elapsed += 10)
            {
                XSync (display, False);
                idle->idle (handle);
                std::this_thread::sleep_for (std::chrono::milliseconds (10));
            }
        }

        void portEvent (uint32_t port, float value)
        {
            descriptor->port_event (handle, port, sizeof (float), 0, &value);
        }

        // The host sizes the editor's window, as when the user drags the
        // edge of the host's window around it. Hosts pass the UI's handle.
        bool resizeFromHost (int width, int height)
        {
            return resizeInterface != nullptr && resizeInterface->ui_resize (handle, width, height) == 0;
        }

        // A host whose window keeps its size whatever the editor asks, as a
        // GTK 2 window does rather than shrink: each request is answered by
        // sizing the editor's window back to it.
        void keepHostWindowAt (Recorder& recorder, int width, int height)
        {
            recorder.answerResize = [this, width, height]
            {
                XResizeWindow (display, reinterpret_cast<Window> (widget), (unsigned) width, (unsigned) height);
                XFlush (display);
            };
        }

        // The window system sizes the editor's window, as a host does that
        // sizes it with its own.
        void resizeWindow (int width, int height)
        {
            XResizeWindow (display, reinterpret_cast<Window> (widget), (unsigned) width, (unsigned) height);
            XSync (display, False);
        }

        // A host that passes the interface's own handle, which is null.
        bool resizeWithTheInterfacesHandle (int width, int height)
        {
            return resizeInterface != nullptr && resizeInterface->ui_resize (resizeInterface->handle, width, height) == 0;
        }

        std::pair<int, int> widgetSize()
        {
            Window root;
            int x, y;
            unsigned int width = 0, height = 0, border, depth;
            XSync (display, False);
            XGetGeometry (display, reinterpret_cast<Window> (widget), &root, &x, &y, &width, &height, &border, &depth);
            return { (int) width, (int) height };
        }

        // Drags with the left button from a point of the editor, in steps.
        // The events go straight to the editor's window, whatever other
        // windows the display shows meanwhile (other tests run at once).
        void drag (int x, int y, int dx, int dy)
        {
            constexpr int steps = 10;
            sendMouse (ButtonPress, x, y, 0);
            pump (50);

            for (int i = 1; i <= steps; ++i)
            {
                sendMouse (MotionNotify, x + dx * i / steps, y + dy * i / steps, Button1Mask);
                pump (30);
            }

            sendMouse (ButtonRelease, x + dx, y + dy, Button1Mask);
            pump (100);
        }

    private:
        void sendMouse (int type, int x, int y, unsigned int state)
        {
            const auto window = reinterpret_cast<Window> (widget);
            XEvent event {};

            if (type == MotionNotify)
            {
                event.xmotion = { MotionNotify, 0, True, display, window, DefaultRootWindow (display), 0,
                                  time, x, y, x, y, state, NotifyNormal, True };
            }
            else
            {
                event.xbutton = { type, 0, True, display, window, DefaultRootWindow (display), 0,
                                  time, x, y, x, y, state, Button1, True };
            }

            time += 20;
            XSendEvent (display, window, False, 0, &event);
            XFlush (display);
        }

        Display* display = nullptr;
        Time time = 1000;
        Window parent = 0;

        juce::DynamicLibrary library;
        const LV2UI_Descriptor* descriptor = nullptr;
        LV2UI_Handle handle = nullptr;
        LV2UI_Widget widget = nullptr;
        const LV2UI_Idle_Interface* idle = nullptr;
        const LV2UI_Resize* resizeInterface = nullptr;

        LV2UI_Touch touchFeature {};
        LV2UI_Resize resizeFeature {};
        float scale = 0.0f;
        std::vector<LV2_Options_Option> options;
        std::vector<LV2_Feature> featureList;
        std::vector<const LV2_Feature*> features;
    };

    // Each test's editor opens as if no zoom had been chosen before (the
    // run keeps the user's settings in a folder of its own, and a test may
    // choose one).
    void forgetRememberedZoom()
    {
        juce::File (juce::SystemStats::getEnvironmentVariable ("XDG_CONFIG_HOME", {}))
            .getChildFile ("Quorvellin/Tessamune.settings")
            .deleteFile();
    }

    // The zoom an instance keeps in its state ("" for none).
    juce::String keptZoom (Plugin& plugin)
    {
        const auto state = juce::XmlDocument (plugin.savedStateText()).getDocumentElement();

        if (state == nullptr)
            return "no state";

        const auto* element = state->getChildByName ("EDITOR");
        return element != nullptr ? element->getStringAttribute ("zoom") : juce::String();
    }

    // A host reports every control port when an editor opens.
    void reportAllPorts (Editor& editor, Plugin& plugin)
    {
        for (const auto& p : describedPorts())
            if (p.index >= (int) numFrameworkPorts && p.defaultValue.has_value())
                editor.portEvent ((uint32_t) p.index, (float) plugin.savedValue (p.symbol));
    }

    // A state of the plug-in's with other settings, and a zoom kept for its
    // editor where one is given, as a host loads a preset or a project.
    SavedState stateWith (Plugin& plugin, const std::vector<std::pair<juce::String, double>>& values, double zoom = 0.0)
    {
        auto state = plugin.save();
        auto& urids = plugin.uridMap();
        const auto xml = juce::parseXML (stateTextIn (state, urids));

        if (xml == nullptr)
        {
            ADD_FAILURE() << "the plug-in saved no state";
            return state;
        }

        for (auto* parameter : xml->getChildWithTagNameIterator ("PARAM"))
            for (const auto& [id, value] : values)
                if (parameter->getStringAttribute ("id") == id)
                    parameter->setAttribute ("value", value);

        if (zoom > 0.0)
            xml->createNewChildElement ("EDITOR")->setAttribute ("zoom", juce::String (zoom * 100.0));

        juce::MemoryBlock block;
        juce::AudioProcessor::copyXmlToBinary (*xml, block);
        const auto text = block.toBase64Encoding();
        auto& property = state.properties[urids.map ((juce::String (TESSAMUNE_LV2_URI) + ":StateString").toRawUTF8())];
        property.value.assign (text.toRawUTF8(), text.toRawUTF8() + text.getNumBytesAsUTF8() + 1);
        return state;
    }

    const std::vector<std::pair<juce::String, double>> presetValues {
        { "chorus_on", 0.0 }, { "chorus_depth", 7.0 }, { "chorus_speed", 3.0 }, { "chorus_mix", 2.0 }, { "stereo_proc", 0.0 }
    };
}

// Each test starts with the plug-in running and its editor open.
class Lv2Editor : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE (plugin.isReady());
        plugin.connectAll();
        plugin.activate();
        plugin.run (256);

        forgetRememberedZoom();
        editor = std::make_unique<Editor> (plugin, recorder);

        if (! editor->hasDisplay())
            GTEST_SKIP() << "needs an X display";

        ASSERT_TRUE (editor->isOpen());
    }

    Plugin plugin;
    Recorder recorder;
    std::unique_ptr<Editor> editor;
};

TEST_F (Lv2Editor, KnobTurnedInTheEditorIsWrittenToItsPort)
{
    editor->pump (300);

    reportAllPorts (*editor, plugin);
    editor->pump();
    EXPECT_TRUE (recorder.writes.empty()) << "the host's own values were written back";

    // The depth knob (at 91, 71, 76 x 73 in the editor) turns up as the
    // mouse drags up.
    editor->drag (91 + 38, 71 + 36, 0, -60);

    const auto depthPort = (uint32_t) portIndex ("chorus_depth");
    ASSERT_FALSE (recorder.writes.empty()) << "the knob's change was not written to its port";
    EXPECT_EQ (recorder.otherWrites, 0);

    for (const auto& [port, value] : recorder.writes)
        EXPECT_EQ (port, depthPort);

    const auto written = recorder.writes.back().second;
    EXPECT_GT (written, 0.0f);

    // The drag was one gesture, reported through the host's touch feature.
    ASSERT_GE (recorder.touches.size(), 2u);
    EXPECT_EQ (recorder.touches.front(), std::make_pair (depthPort, true));
    EXPECT_EQ (recorder.touches.back(), std::make_pair (depthPort, false));

    // The host takes the value onto the port; the next runs keep it.
    plugin.setControl ("chorus_depth", written);
    plugin.run (256);
    plugin.run (256);
    EXPECT_DOUBLE_EQ (plugin.savedValue ("chorus_depth"), written);
}

TEST_F (Lv2Editor, PortValuesFromTheHostMoveTheControlsWithoutEcho)
{
    editor->pump();
    reportAllPorts (*editor, plugin);

    // The host changes Mix and Processing Mode on its ports (automation or
    // its own controls) and reports it to the editor: the next run applies
    // them, the editor follows, and nothing is written back to the host.
    plugin.setControl ("chorus_mix", 4.0f);
    plugin.setControl ("stereo_proc", 0.0f);
    editor->portEvent ((uint32_t) portIndex ("chorus_mix"), 4.0f);
    editor->portEvent ((uint32_t) portIndex ("stereo_proc"), 0.0f);
    plugin.run (256);
    editor->pump();

    EXPECT_DOUBLE_EQ (plugin.savedValue ("chorus_mix"), 4.0);
    EXPECT_DOUBLE_EQ (plugin.savedValue ("stereo_proc"), 0.0);
    EXPECT_TRUE (recorder.writes.empty()) << "a value from the host was written back to it";

    // A report that arrives late, after the plug-in has run with a newer
    // value, does not hold the processor at the old one.
    plugin.setControl ("chorus_mix", 6.0f);
    plugin.run (256);
    editor->portEvent ((uint32_t) portIndex ("chorus_mix"), 4.5f);
    editor->pump();
    plugin.run (256);
    EXPECT_DOUBLE_EQ (plugin.savedValue ("chorus_mix"), 6.0);
    EXPECT_TRUE (recorder.writes.empty());

    // While the host has the plug-in switched off, nothing runs: what the
    // host reports moves the editor and is not written back either.
    plugin.deactivate();
    plugin.setControl ("chorus_depth", 3.0f);
    editor->portEvent ((uint32_t) portIndex ("chorus_depth"), 3.0f);
    editor->pump();
    EXPECT_TRUE (recorder.writes.empty());

    // The knob turns on from there.
    editor->drag (91 + 38, 71 + 36, 0, -30);
    ASSERT_FALSE (recorder.writes.empty());
    EXPECT_GT (recorder.writes.front().second, 3.0f);
    plugin.activate();
}

TEST_F (Lv2Editor, SizeGoesBothWaysBetweenTheEditorAndTheHost)
{
    editor->pump (300);

    // It opens at 100% (this run remembers no zoom) and says so.
    ASSERT_FALSE (recorder.sizes.empty());
    EXPECT_EQ (recorder.sizes.back(), std::make_pair (370, 476));
    EXPECT_EQ (editor->widgetSize(), std::make_pair (370, 476));

    // The user drags the panel's corner out by half its size: 150%, and
    // the host is told, to fit its window around it.
    editor->drag (370 - 4, 476 - 4, 185, 238);
    EXPECT_EQ (recorder.sizes.back(), std::make_pair (555, 714));
    EXPECT_EQ (editor->widgetSize(), std::make_pair (555, 714));

    // The instance keeps the zoom it was given in its state.
    EXPECT_EQ (keptZoom (plugin), "150");

    // The host sizes its window: the panel takes the largest zoom that
    // fits, and the window follows without telling the host back a size
    // it did not ask for.
    const auto told = recorder.sizes.size();
    ASSERT_TRUE (editor->resizeFromHost (740, 952));
    editor->pump();
    EXPECT_EQ (editor->widgetSize(), std::make_pair (740, 952));
    EXPECT_EQ (recorder.sizes.size(), told);
    EXPECT_EQ (keptZoom (plugin), "150");

    // A host that calls the interface with its null handle is refused.
    EXPECT_FALSE (editor->resizeWithTheInterfacesHandle (370, 476));
    editor->pump();
    EXPECT_EQ (editor->widgetSize(), std::make_pair (740, 952));
}

TEST_F (Lv2Editor, AHostWindowThatKeepsItsSizeDoesNotUndoTheZoom)
{
    editor->pump (300);
    editor->keepHostWindowAt (recorder, 370, 476);

    // The corner dragged out to 150%: each size the editor asks for, the
    // host answers by sizing its window back, while the button is held.
    editor->drag (370 - 4, 476 - 4, 185, 238);
    editor->pump();

    // The zoom is the drag's, kept, and the host was never told the old
    // size back as if the editor had chosen it.
    EXPECT_EQ (keptZoom (plugin), "150");
    ASSERT_GE (recorder.sizes.size(), 2u);
    EXPECT_EQ (recorder.sizes.back(), std::make_pair (555, 714));

    for (size_t i = 1; i < recorder.sizes.size(); ++i)
        EXPECT_NE (recorder.sizes[i], std::make_pair (370, 476)) << "request " << i;
}

// A host that scales its plug-in windows (ui:scaleFactor) opens the editor
// at that zoom, where the user has chosen none yet, and is told the size.
TEST (Lv2EditorScale, OpensAtTheHostsScale)
{
    Plugin plugin;
    ASSERT_TRUE (plugin.isReady());
    plugin.connectAll();
    plugin.activate();

    Recorder recorder;
    forgetRememberedZoom();
    Editor editor (plugin, recorder, 1.5f);

    if (! editor.hasDisplay())
        GTEST_SKIP() << "needs an X display";

    ASSERT_TRUE (editor.isOpen());
    editor.pump (300);

    ASSERT_FALSE (recorder.sizes.empty());
    EXPECT_EQ (recorder.sizes.back(), std::make_pair (555, 714));
    EXPECT_EQ (editor.widgetSize(), std::make_pair (555, 714));
}

// A preset or a project loaded into the plug-in on the host's UI thread
// (as Ardour and jalv load them) while the editor is open: the editor shows
// it, and writes none of it back to the host as if the user had moved it.
TEST_F (Lv2Editor, AStateRestoredWhileOpenIsShownNotWrittenBack)
{
    editor->pump();
    reportAllPorts (*editor, plugin);
    editor->pump();

    ASSERT_EQ (plugin.restore (stateWith (plugin, presetValues)), LV2_STATE_SUCCESS);
    ASSERT_DOUBLE_EQ (plugin.savedValue ("chorus_depth"), 7.0);
    editor->pump (300);
    plugin.run (256);
    editor->pump();

    EXPECT_TRUE (recorder.writes.empty()) << recorder.writes.size() << " values written back";
    EXPECT_TRUE (recorder.touches.empty());

    // The depth knob shows the restored 7 and turns on from there.
    editor->drag (91 + 38, 71 + 36, 0, -30);
    ASSERT_FALSE (recorder.writes.empty());
    EXPECT_GT (recorder.writes.front().second, 7.0f);
}

// The editor gone, a state restored on the same thread afterwards reaches
// neither the host nor the editor: one the host closed, and one whose
// opening failed part of the way (the host's ui:resize, called as it
// opens, running out of memory).
TEST_F (Lv2Editor, AStateRestoredAfterTheEditorIsGoneReachesNothing)
{
    editor->pump();
    reportAllPorts (*editor, plugin);
    editor->pump();
    editor->close();

    ASSERT_EQ (plugin.restore (stateWith (plugin, presetValues)), LV2_STATE_SUCCESS);
    plugin.run (256);
    EXPECT_DOUBLE_EQ (plugin.savedValue ("chorus_mix"), 2.0);

    Recorder failing;
    failing.answerResize = [] { throw std::bad_alloc(); };
    Editor failed (plugin, failing);
    EXPECT_FALSE (failed.isOpen());

    ASSERT_EQ (plugin.restore (stateWith (plugin, { { "chorus_depth", 4.0 }, { "chorus_on", 1.0 } })), LV2_STATE_SUCCESS);
    plugin.run (256);
    EXPECT_DOUBLE_EQ (plugin.savedValue ("chorus_depth"), 4.0);

    for (const auto* r : { &recorder, &failing })
    {
        EXPECT_TRUE (r->writes.empty());
        EXPECT_TRUE (r->touches.empty());
    }
}

// Sizes beyond what the panel can show (100% to 300% of 370 x 476), from
// the host's ui:resize call or its window, are limited to the nearest it
// can, and the editor goes on drawing at the next size.
TEST_F (Lv2Editor, SizesBeyondThePanelsAreLimited)
{
    editor->pump (300);

    const auto withinPanelSizes = [this]
    {
        const auto [width, height] = editor->widgetSize();
        return width >= 370 && width <= 1110 && height >= 476 && height <= 1428;
    };

    struct Case { int width, height; };

    for (const auto [width, height] : { Case { 32768, 32768 }, Case { 100000, 600 }, Case { 2, 3 }, Case { 40000, 1 } })
    {
        SCOPED_TRACE (testing::Message() << width << " x " << height);
        editor->resizeFromHost (width, height);
        editor->pump();
        EXPECT_TRUE (withinPanelSizes());

        ASSERT_TRUE (editor->resizeFromHost (555, 714));
        editor->pump();
        EXPECT_EQ (editor->widgetSize(), std::make_pair (555, 714));
    }

    EXPECT_FALSE (editor->resizeFromHost (0, 476));
    EXPECT_FALSE (editor->resizeFromHost (370, -1));

    for (const auto [width, height] : { Case { 32767, 32767 }, Case { 1, 1 } })
    {
        SCOPED_TRACE (testing::Message() << "window " << width << " x " << height);
        editor->resizeWindow (width, height);
        editor->pump();
        EXPECT_TRUE (withinPanelSizes());

        editor->resizeWindow (555, 714);
        editor->pump();
        EXPECT_EQ (editor->widgetSize(), std::make_pair (555, 714));
    }
}

// The UI's options interface answers what it knows and calls the rest
// unknown: it has no option to give, and takes the host's scale only.
TEST_F (Lv2Editor, OptionsItDoesNotKnowAreUnknown)
{
    const auto* options = editor->optionsInterface();
    ASSERT_NE (options, nullptr);

    auto& urids = plugin.uridMap();
    const auto scaleKey = urids.map (LV2_UI__scaleFactor);
    const auto otherKey = urids.map ("urn:tessamune:test#notAnOption");
    const auto atomFloat = urids.map (LV2_ATOM__Float), atomInt = urids.map (LV2_ATOM__Int);
    float scale = 1.0f, tooLarge = 100.0f;
    int32_t asInt = 1;

    // Asked for, nothing is written and each is unknown.
    LV2_Options_Option asked[] { { LV2_OPTIONS_INSTANCE, 0, scaleKey, 0, 0, nullptr },
                                 { LV2_OPTIONS_INSTANCE, 0, otherKey, 0, 0, nullptr },
                                 { LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr } };
    EXPECT_EQ (options->get (editor->getHandle(), asked), (uint32_t) LV2_OPTIONS_ERR_UNKNOWN);

    for (const auto& o : { asked[0], asked[1] })
    {
        EXPECT_EQ (o.size, 0u);
        EXPECT_EQ (o.type, 0u);
        EXPECT_EQ (o.value, nullptr);
    }

    struct Case { const char* what; LV2_Options_Option option; uint32_t status; };
    const Case cases[] {
        { "scale",            { LV2_OPTIONS_INSTANCE, 0, scaleKey, sizeof (float), atomFloat, &scale }, LV2_OPTIONS_SUCCESS },
        { "unknown option",   { LV2_OPTIONS_INSTANCE, 0, otherKey, sizeof (float), atomFloat, &scale }, LV2_OPTIONS_ERR_UNKNOWN },
        { "scale as an int",  { LV2_OPTIONS_INSTANCE, 0, scaleKey, sizeof (int32_t), atomInt, &asInt }, LV2_OPTIONS_ERR_BAD_VALUE },
        { "scale far beyond", { LV2_OPTIONS_INSTANCE, 0, scaleKey, sizeof (float), atomFloat, &tooLarge }, LV2_OPTIONS_ERR_BAD_VALUE },
    };

    for (const auto& c : cases)
    {
        const LV2_Options_Option given[] { c.option, { LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr } };
        EXPECT_EQ (options->set (editor->getHandle(), given), c.status) << c.what;
    }
}

// Two editors on one plug-in (LV2 lets a host open several UIs on one):
// each draws its own, works on its own, and either may close first.
TEST (Lv2EditorTwice, EachEditorOwnsWhatItDraws)
{
    Plugin plugin;
    ASSERT_TRUE (plugin.isReady());
    plugin.connectAll();
    plugin.activate();
    plugin.run (256);
    forgetRememberedZoom();

    Recorder firstRecorder, secondRecorder;
    auto first = std::make_unique<Editor> (plugin, firstRecorder);

    if (! first->hasDisplay())
        GTEST_SKIP() << "needs an X display";

    Editor second (plugin, secondRecorder);
    ASSERT_TRUE (first->isOpen());
    ASSERT_TRUE (second.isOpen());
    first->pump (200);
    second.pump (200);

    // A knob turned in the second is written through the second's host
    // connection only.
    second.drag (91 + 38, 71 + 36, 0, -60);
    ASSERT_FALSE (secondRecorder.writes.empty());
    EXPECT_TRUE (firstRecorder.writes.empty());
    EXPECT_EQ (secondRecorder.writes.front().first, (uint32_t) portIndex ("chorus_depth"));

    // The first closes; the second goes on, used and sized by the host.
    first.reset();
    secondRecorder.writes.clear();
    second.drag (91 + 38, 71 + 36, 0, -30);
    ASSERT_FALSE (secondRecorder.writes.empty());
    EXPECT_EQ (secondRecorder.writes.back().first, (uint32_t) portIndex ("chorus_depth"));

    ASSERT_TRUE (second.resizeFromHost (740, 952));
    second.pump();
    EXPECT_EQ (second.widgetSize(), std::make_pair (740, 952));
}

// A host that gives no instance access (an LV2 UI may not count on it)
// still gets a working editor.
TEST (Lv2EditorWithoutInstanceAccess, OpensAndWritesTheUsersChanges)
{
    Plugin plugin;
    ASSERT_TRUE (plugin.isReady());
    plugin.connectAll();
    plugin.activate();
    forgetRememberedZoom();

    Recorder recorder;
    Editor editor (plugin, recorder, 0.0f, false);

    if (! editor.hasDisplay())
        GTEST_SKIP() << "needs an X display";

    ASSERT_TRUE (editor.isOpen());
    editor.pump (200);
    reportAllPorts (editor, plugin);
    editor.portEvent ((uint32_t) portIndex ("chorus_depth"), 4.0f);
    editor.pump();
    EXPECT_TRUE (recorder.writes.empty());

    editor.drag (91 + 38, 71 + 36, 0, -30);
    ASSERT_FALSE (recorder.writes.empty());
    EXPECT_GT (recorder.writes.front().second, 4.0f);
}

namespace
{
#if TESSAMUNE_ALLOCATOR_STATISTICS
    // What the allocator has handed out, in all its arenas (the large
    // pictures are decoded on threads of their own).
    int64_t allocatedBytes()
    {
        const auto info = mallinfo2();
        return (int64_t) (info.uordblks + info.hblkhd);
    }
#endif

    // The process's sockets, by descriptor.
    std::set<int> openSockets()
    {
        std::set<int> sockets;

        if (auto* fds = opendir ("/proc/self/fd"))
        {
            while (auto* entry = readdir (fds))
            {
                struct stat info {};
                const auto fd = std::atoi (entry->d_name);

                if (entry->d_name[0] != '.' && fd != dirfd (fds) && fstat (fd, &info) == 0 && S_ISSOCK (info.st_mode))
                    sockets.insert (fd);
            }

            closedir (fds);
        }

        return sockets;
    }

    // Bytes waiting to be read on some sockets.
    int waitingBytes (const std::set<int>& sockets)
    {
        int total = 0;

        for (const auto fd : sockets)
        {
            int waiting = 0;

            if (ioctl (fd, FIONREAD, &waiting) == 0)
                total += waiting;
        }

        return total;
    }
}

#if TESSAMUNE_ALLOCATOR_STATISTICS
// The editor at 300% decodes tens of megabytes of pictures; closing it
// gives them back at once (nothing dispatches the framework's messages
// once it is closed, so nothing may wait for them).
TEST (Lv2EditorClosed, GivesBackItsPictures)
{
    Plugin plugin;
    ASSERT_TRUE (plugin.isReady());
    plugin.connectAll();
    plugin.activate();
    forgetRememberedZoom();
    Recorder recorder;

    {
        // The framework's own first use (fonts, the display) before counting.
        Editor first (plugin, recorder);

        if (! first.hasDisplay())
            GTEST_SKIP() << "needs an X display";

        first.pump (200);
    }

    const auto before = allocatedBytes();
    constexpr int64_t megabyte = 1 << 20;

    {
        Editor editor (plugin, recorder);
        ASSERT_TRUE (editor.isOpen());
        ASSERT_TRUE (editor.resizeFromHost (1110, 1428));
        editor.pump (300);
        ASSERT_GT (allocatedBytes(), before + 30 * megabyte) << "the pictures at 300% were not decoded";
    }

    EXPECT_LT (allocatedBytes(), before + 8 * megabyte);
}
#endif

// No editor open, nobody dispatches the framework's messages in the
// plug-in: nothing in it may go on posting them. (The framework signals
// each message it queues with a byte on a socket pair of its own, which
// the plug-in makes when its first instance starts.)
TEST (Lv2EditorClosed, LeavesNoMessagesPiling)
{
    const auto earlier = openSockets();
    Plugin plugin;
    ASSERT_TRUE (plugin.isReady());

    std::set<int> plugins;

    for (const auto fd : openSockets())
        if (earlier.count (fd) == 0)
            plugins.insert (fd);

    ASSERT_FALSE (plugins.empty()) << "the plug-in's message queue was not found";

    plugin.connectAll();
    plugin.activate();
    plugin.run (256);
    forgetRememberedZoom();

    {
        Recorder recorder;
        Editor editor (plugin, recorder);

        if (! editor.hasDisplay())
            GTEST_SKIP() << "needs an X display";

        ASSERT_TRUE (editor.isOpen());
        editor.pump (300);
        reportAllPorts (editor, plugin);
        editor.pump (300);
    }

    // (A message the framework posted as the editor closed is posted once
    // more after 300 ms, when nobody has taken it.)
    std::this_thread::sleep_for (std::chrono::milliseconds (600));
    const auto afterClosing = waitingBytes (plugins);

    for (int i = 0; i < 10; ++i)
    {
        plugin.run (256);
        std::this_thread::sleep_for (std::chrono::milliseconds (150));
    }

    EXPECT_EQ (waitingBytes (plugins), afterClosing);
}

#if TESSAMUNE_REFUSE_THREADS
// The system refusing threads, as at a limit on processes or memory: while
// a test asks for it, a thread the calling thread would start (the plug-in's
// too, which finds this definition first) is refused as the system refuses
// it. The suite exports this definition to the modules it loads.
namespace
{
    thread_local bool refuseThreads = false;
    std::atomic<int> threadsRefused { 0 };
}

extern "C" int pthread_create (pthread_t* thread, const pthread_attr_t* attributes,
                               void* (*start) (void*), void* argument) noexcept
{
    using Create = int (*) (pthread_t*, const pthread_attr_t*, void* (*) (void*), void*);
    static const auto create = reinterpret_cast<Create> (dlsym (RTLD_NEXT, "pthread_create"));

    if (refuseThreads)
    {
        threadsRefused.fetch_add (1);
        return EAGAIN;
    }

    return create (thread, attributes, start, argument);
}

// The editor decodes its large pictures on threads of their own; where no
// thread can start, it decodes them itself and opens all the same.
TEST (Lv2EditorWithoutThreads, OpensWhenNoThreadCanStart)
{
    Plugin plugin;
    ASSERT_TRUE (plugin.isReady());
    plugin.connectAll();
    plugin.activate();
    forgetRememberedZoom();

    // A zoom of 150% kept with the instance: it opens with the pictures at
    // scale 2, several of them large.
    ASSERT_EQ (plugin.restore (stateWith (plugin, {}, 1.5)), LV2_STATE_SUCCESS);

    Recorder recorder;
    refuseThreads = true;
    Editor editor (plugin, recorder);
    refuseThreads = false;

    if (! editor.hasDisplay())
        GTEST_SKIP() << "needs an X display";

    EXPECT_GT (threadsRefused.load(), 0) << "the editor started no thread";
    ASSERT_TRUE (editor.isOpen());
    editor.pump (200);
    EXPECT_EQ (editor.widgetSize(), std::make_pair (555, 714));
}
#endif
