#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <X11/Xlib.h>

#include <cstdlib>

namespace
{
    // On a bare X server (xvfb-run starts one without a window manager) the
    // window manager's atoms do not exist yet, and the framework's X11 code
    // sets window properties with some of them unchecked when it opens a
    // window. Create them first, as a window manager would. The connection
    // stays open while the tests run: the server forgets its atoms when its
    // last client leaves.
    Display* createWindowManagerAtoms()
    {
        auto* display = XOpenDisplay (nullptr);

        if (display != nullptr)
        {
            for (auto* name : { "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "_NET_WM_PING", "WM_CHANGE_STATE",
                                "WM_STATE", "_NET_WM_WINDOW_TYPE", "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN" })
                XInternAtom (display, name, False);

            XSync (display, False);
        }

        return display;
    }
}

// The parameter tree and the editor need the framework's message-thread
// support to exist; the tests drive it from this thread.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    auto* display = createWindowManagerAtoms();
    int result = 0;

    {
        juce::ScopedJuceInitialiser_GUI framework;

        // The editor's remembered zoom goes to a settings folder of the run's
        // own, never the user's, and the desktop's scale is 1 unless a test
        // says otherwise.
        const auto settings = juce::File::createTempFile ("-settings");
        settings.createDirectory();
        setenv ("XDG_CONFIG_HOME", settings.getFullPathName().toRawUTF8(), 1);
        setenv ("GDK_SCALE", "1", 1);

        result = RUN_ALL_TESTS();
        settings.deleteRecursively();
    }

    if (display != nullptr)
        XCloseDisplay (display);

    return result;
}
