// The LV2 editor, opened by the suite's own host in an X window on the
// test display: a knob turned with the mouse is written to its control port
// through the host's write function, a port value the host reports moves
// the editor's controls without being written back, and the window's size
// goes both ways between the editor and the host.

#include "Hosting.h"
#include "Lv2TestHost.h"

#include <lv2/atom/atom.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>

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
        // hostScale: the host's ui:scaleFactor option, if it gives one.
        Editor (Plugin& plugin, Recorder& recorder, float hostScale = 0.0f)
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
                            { LV2_INSTANCE_ACCESS_URI, plugin.getHandle() },
                            { LV2_UI__parent, reinterpret_cast<void*> (parent) },
                            { LV2_UI__idleInterface, nullptr },
                            { LV2_UI__touch, &touchFeature },
                            { LV2_UI__resize, &resizeFeature } };

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
            if (handle != nullptr)
                descriptor->cleanup (handle);

            if (display != nullptr)
            {
                XDestroyWindow (display, parent);
                XCloseDisplay (display);
            }
        }

        bool hasDisplay() const { return display != nullptr; }
        bool isOpen() const { return handle != nullptr && idle != nullptr; }

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
    EXPECT_DOUBLE_EQ (plugin.savedValue ("chorus_depth"), written);

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

    // While the host has the plug-in switched off, nothing runs: the
    // editor applies what the host reports itself.
    plugin.deactivate();
    plugin.setControl ("chorus_depth", 3.0f);
    editor->portEvent ((uint32_t) portIndex ("chorus_depth"), 3.0f);
    editor->pump();
    EXPECT_DOUBLE_EQ (plugin.savedValue ("chorus_depth"), 3.0);
    EXPECT_TRUE (recorder.writes.empty());
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
