/*
    lv2_editor_stress BINARY [SECONDS]

    What a host does when a musician opens and closes the plug-in's window
    while automation plays: one thread runs the LV2 plug-in in blocks of 64
    frames and moves its control ports before every block (the knobs sweep,
    the switches flip), while the main thread opens the editor in a window
    of its own, lets it handle its events, tells it of the ports' values and
    closes it again, over and over, for SECONDS (default 10; the environment
    variable TESSAMUNE_STRESS_SECONDS overrides it). Every other time a
    second editor is open beside the first, and a state is restored on the
    UI thread (as hosts load presets, holding their processing meanwhile)
    while the editors are open and after they close.

    Nothing the editor registers may be reachable from the audio thread once
    it is closed: built with AddressSanitizer or ThreadSanitizer, a use
    after free or a data race stops the program. Exits 0 after at least one
    open and close, 77 (skipped) without an X display, 1 on any failure.

    A host of the program's own, in plain C++ with the LV2 headers and Xlib,
    so that it builds quickly under either sanitizer.
*/

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Last: Xlib defines macros (None, Bool, Status...) that other headers use as names.
#include <X11/Xlib.h>

namespace
{
    // The plug-in's ports: audio, two that carry nothing, latency,
    // free-wheeling, enabled, then the five parameters.
    enum : uint32_t { inL, inR, outL, outR, unusedIn, unusedOut, latency, freeWheeling, enabled, chorusOn,
                      chorusDepth, chorusSpeed, chorusMix, stereoProc, numPorts };

    constexpr uint32_t blockSize = 64;

    class UridMap
    {
    public:
        UridMap() : feature { this, map } {}

        static LV2_URID map (LV2_URID_Map_Handle handle, const char* uri)
        {
            auto& self = *static_cast<UridMap*> (handle);
            const std::lock_guard<std::mutex> lock (self.mutex);

            for (size_t i = 0; i < self.uris.size(); ++i)
                if (self.uris[i] == uri)
                    return (LV2_URID) i + 1;

            self.uris.emplace_back (uri);
            return (LV2_URID) self.uris.size();
        }

        LV2_URID_Map feature;

    private:
        std::mutex mutex;
        std::vector<std::string> uris;
    };

    struct Ports
    {
        float audio[4][blockSize] {};
        // Room for what a message port would hold, should a build still
        // have one there; the plug-in treats these two as control outputs.
        alignas (8) uint8_t unused[2][256] {};
        float controls[numPorts] {};
    };

    // A saved state: one property, as the plug-in stores it.
    struct State
    {
        uint32_t key = 0, type = 0;
        std::vector<char> value;

        static LV2_State_Status store (LV2_State_Handle handle, uint32_t key, const void* value, size_t size,
                                       uint32_t type, uint32_t)
        {
            auto& self = *static_cast<State*> (handle);
            self.key = key;
            self.type = type;
            self.value.assign (static_cast<const char*> (value), static_cast<const char*> (value) + size);
            return LV2_STATE_SUCCESS;
        }

        static const void* retrieve (LV2_State_Handle handle, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags)
        {
            const auto& self = *static_cast<const State*> (handle);

            if (key != self.key || self.value.empty())
                return nullptr;

            *size = self.value.size();
            *type = self.type;
            *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
            return self.value.data();
        }
    };

    void writeLine (const char* text)
    {
        std::fputs (text, stderr);
        std::fputc ('\n', stderr);
    }
}

int main (int argc, char** argv)
{
    if (argc < 2)
    {
        writeLine ("usage: lv2_editor_stress BINARY [SECONDS]");
        return 1;
    }

    double seconds = argc > 2 ? std::atof (argv[2]) : 10.0;

    if (const auto* fromEnvironment = std::getenv ("TESSAMUNE_STRESS_SECONDS"))
        seconds = std::atof (fromEnvironment);

    Display* display = XOpenDisplay (nullptr);

    if (display == nullptr)
    {
        writeLine ("no X display: skipped");
        return 77;
    }

    // A bare X server has none of the window manager's atoms, which the
    // framework's X11 code sets unchecked; they are made here, as a window
    // manager would.
    for (auto* name : { "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "_NET_WM_PING", "WM_CHANGE_STATE",
                        "WM_STATE", "_NET_WM_WINDOW_TYPE", "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN" })
        XInternAtom (display, name, False);

    auto* library = dlopen (argv[1], RTLD_NOW | RTLD_LOCAL);

    if (library == nullptr)
    {
        std::fprintf (stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }

    using PluginEntry = const LV2_Descriptor* (*) (uint32_t);
    using UiEntry = const LV2UI_Descriptor* (*) (uint32_t);
    const auto* plugin = reinterpret_cast<PluginEntry> (dlsym (library, "lv2_descriptor")) (0);
    const auto* ui = reinterpret_cast<UiEntry> (dlsym (library, "lv2ui_descriptor")) (0);

    if (plugin == nullptr || ui == nullptr)
    {
        writeLine ("the binary has no plug-in or no editor");
        return 1;
    }

    // The features a typical host offers.
    UridMap urids;
    int32_t maxBlock = blockSize;
    const LV2_Options_Option options[] {
        { LV2_OPTIONS_INSTANCE, 0, UridMap::map (&urids, LV2_BUF_SIZE__maxBlockLength), sizeof (int32_t),
          UridMap::map (&urids, LV2_ATOM__Int), &maxBlock },
        { LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr }
    };
    const LV2_Feature mapFeature { LV2_URID__map, &urids.feature };
    const LV2_Feature optionsFeature { LV2_OPTIONS__options, const_cast<LV2_Options_Option*> (options) };
    const LV2_Feature boundedFeature { LV2_BUF_SIZE__boundedBlockLength, nullptr };
    const LV2_Feature* const features[] { &mapFeature, &optionsFeature, &boundedFeature, nullptr };

    auto* handle = plugin->instantiate (plugin, 48000.0, "", features);

    if (handle == nullptr)
    {
        writeLine ("the plug-in did not instantiate");
        return 1;
    }

    static Ports ports;
    ports.controls[enabled] = 1.0f;
    ports.controls[chorusOn] = 1.0f;
    ports.controls[chorusMix] = 10.0f;
    ports.controls[stereoProc] = 1.0f;

    for (uint32_t p = 0; p < numPorts; ++p)
    {
        void* buffer = p <= outR ? static_cast<void*> (ports.audio[p])
                     : p == unusedIn || p == unusedOut ? static_cast<void*> (ports.unused[p - unusedIn])
                                                       : static_cast<void*> (&ports.controls[p]);
        plugin->connect_port (handle, p, buffer);
    }

    // A state to restore while the editors come and go.
    const auto* stateInterface = static_cast<const LV2_State_Interface*> (plugin->extension_data (LV2_STATE__interface));
    State saved;

    if (stateInterface == nullptr || stateInterface->save (handle, State::store, &saved, 0, features) != LV2_STATE_SUCCESS)
    {
        writeLine ("the plug-in saved no state");
        return 1;
    }

    plugin->activate (handle);

    // The audio thread: automation on every port of the parameters, and a
    // signal to process. While the UI thread holds it (as a host holds its
    // processing to load a preset), it neither runs the plug-in nor writes
    // its ports.
    std::atomic<bool> stop { false };
    std::atomic<bool> holdRequested { false }, held { false };
    std::atomic<uint32_t> runs { 0 };
    int failures = 0;

    const auto restore = [&]
    {
        // (The hold before is over first, so that it is not taken for this one.)
        while (held.load())
            std::this_thread::yield();

        holdRequested = true;

        while (! held.load())
            std::this_thread::yield();

        if (stateInterface->restore (handle, State::retrieve, &saved, 0, features) != LV2_STATE_SUCCESS)
        {
            writeLine ("the plug-in did not restore its state");
            ++failures;
        }

        holdRequested = false;
    };

    // What the host shows of each port, as its UI thread reads it.
    static std::atomic<float> shown[numPorts];

    std::thread audio ([&]
    {
        for (uint32_t block = 0; ! stop.load(); ++block)
        {
            if (holdRequested.load())
            {
                held = true;

                while (holdRequested.load())
                    std::this_thread::yield();

                held = false;
            }

            for (uint32_t i = 0; i < blockSize; ++i)
                ports.audio[inL][i] = ports.audio[inR][i] = 0.25f * (float) std::sin (0.05 * (double) (block * blockSize + i));

            ports.controls[chorusDepth] = (float) (block % 101) / 10.0f;
            ports.controls[chorusSpeed] = (float) ((block * 7) % 101) / 10.0f;
            ports.controls[chorusMix] = (float) ((block * 3) % 101) / 10.0f;
            ports.controls[chorusOn] = (block / 40) % 5 == 4 ? 0.0f : 1.0f;
            ports.controls[stereoProc] = (float) ((block / 25) % 2);

            // What a message port would be given, as hosts reset them.
            auto* in = reinterpret_cast<LV2_Atom_Sequence*> (ports.unused[0]);
            *in = { { sizeof (LV2_Atom_Sequence_Body), UridMap::map (&urids, LV2_ATOM__Sequence) }, { 0, 0 } };
            auto* out = reinterpret_cast<LV2_Atom*> (ports.unused[1]);
            *out = { sizeof (ports.unused[1]) - sizeof (LV2_Atom), UridMap::map (&urids, LV2_ATOM__Chunk) };

            plugin->run (handle, blockSize);
            runs.fetch_add (1);

            for (uint32_t p = chorusOn; p < numPorts; ++p)
                shown[p].store (ports.controls[p]);
        }
    });

    const auto parent = XCreateSimpleWindow (display, DefaultRootWindow (display), 0, 0, 400, 500, 0, 0, 0);
    XMapWindow (display, parent);
    XSync (display, False);

    const auto write = [] (LV2UI_Controller, uint32_t, uint32_t, uint32_t, const void*) {};
    const LV2_Feature access { LV2_INSTANCE_ACCESS_URI, handle };
    const LV2_Feature parentFeature { LV2_UI__parent, reinterpret_cast<void*> (parent) };
    const LV2_Feature idleFeature { LV2_UI__idleInterface, nullptr };
    const LV2_Feature* const uiFeatures[] { &mapFeature, &access, &parentFeature, &idleFeature, nullptr };

    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double> (seconds);
    int cycles = 0;

    const auto* idle = static_cast<const LV2UI_Idle_Interface*> (ui->extension_data (LV2_UI__idleInterface));

    while (std::chrono::steady_clock::now() < end)
    {
        const bool twoEditors = cycles % 2 == 1;
        std::vector<LV2UI_Handle> editors;

        for (int e = 0; e < (twoEditors ? 2 : 1); ++e)
        {
            LV2UI_Widget widget = nullptr;
            auto* editor = ui->instantiate (ui, "", "", write, nullptr, &widget, uiFeatures);

            if (editor == nullptr || widget == nullptr)
                break;

            editors.push_back (editor);
        }

        if (editors.size() != (twoEditors ? 2u : 1u))
        {
            ++failures;

            for (auto* editor : editors)
                ui->cleanup (editor);

            break;
        }

        // A few rounds of what the host's UI thread does while the windows
        // are open: events, idle, and the ports' values as it reads them.
        for (int round = 0; round < 3; ++round)
        {
            XSync (display, False);

            if (twoEditors && round == 1)
                restore();

            for (auto* editor : editors)
            {
                if (idle != nullptr)
                    idle->idle (editor);

                for (uint32_t p = chorusOn; p < numPorts; ++p)
                {
                    const float value = shown[p].load();
                    ui->port_event (editor, p, sizeof (float), 0, &value);
                }
            }

            std::this_thread::sleep_for (std::chrono::milliseconds (1));
        }

        for (auto* editor : editors)
            ui->cleanup (editor);

        if (twoEditors)
            restore();

        ++cycles;
    }

    stop = true;
    audio.join();

    plugin->deactivate (handle);
    plugin->cleanup (handle);
    XDestroyWindow (display, parent);
    XCloseDisplay (display);

    std::fprintf (stderr, "%d openings and closings of the editor, %u runs of the plug-in meanwhile\n", cycles, runs.load());
    return failures == 0 && cycles > 0 ? 0 : 1;
}
