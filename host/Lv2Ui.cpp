/*
    The LV2 editor: the processor's editor embedded in the window the host
    gives (ui:parent, X11), reaching the plug-in through instance access.

    - A change made in the editor is written to the parameter's control port
      through the host's write function, with its gestures through the
      host's ui:touch where offered, so that the host's control, its saved
      value and its automation follow the editor.
    - The editor follows the ports: what a host sets reaches the processor
      on the audio thread (Lv2Instance::run) and the editor on the host's UI
      thread, when the host calls idle. While the plug-in is not active,
      nothing runs, and a port's value the host reports (port_event) is
      applied here instead.
    - The editor's size is the host's window size: a change of the editor's
      size is told to the host (ui:resize where offered), and a size the
      host asks for (our ui:resize interface) is given to the editor.

    The editor registers nothing that the audio thread reaches: runs set
    parameters without calling their listeners, and the plug-in instance,
    which lives longer than any editor, is the one listener that hears the
    editor's changes and passes them on while an editor is linked.
    Everything here runs on the host's UI thread, which the framework takes
    as its message thread while an editor is open; the plug-in instance,
    which the host keeps until its editor is gone, keeps the framework's
    services.
*/

#include "host/Lv2Features.h"
#include "host/Lv2Plugin.h"
#include "plugin/Processor.h"

#include <lv2/atom/atom.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>

#include <cmath>
#include <cstring>
#include <new>

namespace juce
{
    // The framework's own message pump on Linux (juce_events).
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace
{
    using namespace Lv2Ports;

    class Lv2Ui final : private juce::Component,
                        private juce::ComponentListener,
                        private Lv2EditorLink
    {
    public:
        Lv2Ui (Lv2Instance& pluginIn, LV2UI_Write_Function writeIn, LV2UI_Controller controllerIn,
               LV2UI_Widget parent, const LV2UI_Touch* touchIn, const LV2UI_Resize* resizeIn,
               const LV2_URID_Map* mapIn, const LV2_Options_Option* options)
            : plugin (pluginIn),
              processor (pluginIn.getProcessor()),
              write (writeIn),
              controller (controllerIn),
              touch (touchIn),
              hostResize (resizeIn),
              map (mapIn)
        {
            juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();

            editor.reset (processor.createEditorIfNeeded());

            if (editor == nullptr)
                return;

            setOpaque (true);
            setSize (editor->getWidth(), editor->getHeight());
            addAndMakeVisible (*editor);
            editor->addComponentListener (this);

            addToDesktop (0, parent);
            setVisible (true);

            applyScaleFactor (options);
            plugin.setEditorLink (this);
            tellHostTheSize();
        }

        ~Lv2Ui() override
        {
            plugin.setEditorLink (nullptr);

            if (editor != nullptr)
            {
                editor->removeComponentListener (this);
                processor.editorBeingDeleted (editor.get());
                editor.reset();
            }
        }

        bool hasEditor() const noexcept { return editor != nullptr; }
        LV2UI_Widget widget() { return getWindowHandle(); }

        void portEvent (uint32_t port, uint32_t size, uint32_t format, const void* buffer)
        {
            const auto control = controlFor (port);

            if (control < 0 || format != 0 || size != sizeof (float) || buffer == nullptr)
                return;

            float value;
            std::memcpy (&value, buffer, sizeof value);
            value = Lv2ControlPortTable::ports[control].legalValue (value);
            hostValues[(size_t) control] = value;
            hostValueKnown[(size_t) control] = true;

            // An active plug-in applies the port itself, in its next run;
            // the editor follows at idle.
            if (plugin.isActive())
                return;

            if (auto* parameter = dynamic_cast<juce::RangedAudioParameter*> (processor.getParameters()[control]))
            {
                const juce::ScopedValueSetter<bool> fromHost (applyingHostValue, true);
                parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
            }
        }

        void idle()
        {
            juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();
            processor.publishParameterChanges();

            while (juce::dispatchNextMessageOnSystemQueue (true))
                continue;
        }

        int resizeFromHost (int width, int height)
        {
            const juce::ScopedValueSetter<bool> fromHost (applyingHostSize, true);

            if (editor != nullptr && editor->isResizable())
                editor->setBoundsConstrained ({ 0, 0, width, height });

            setSize (width, height);
            return 0;
        }

        uint32_t setOptions (const LV2_Options_Option* options)
        {
            applyScaleFactor (options);
            return LV2_OPTIONS_SUCCESS;
        }

    private:
        void paint (juce::Graphics& g) override { g.fillAll (juce::Colours::black); }

        // The host's window, sized by the host or the window system: the
        // editor makes of the size what it does of any size from outside (a
        // zoom the user chooses by dragging the window's edge, or one it
        // only shows, or sets aside to keep its zoom), and the host is not
        // told back a size it gave. Where the editor is not resizable, it
        // keeps its size inside a window the host made larger.
        void resized() override
        {
            if (editor != nullptr && editor->isResizable() && ! applyingHostSize)
            {
                const juce::ScopedValueSetter<bool> fromHost (applyingHostSize, true);
                editor->setBoundsConstrained (getLocalBounds());
            }
        }

        void componentMovedOrResized (juce::Component&, bool, bool wasResized) override
        {
            if (wasResized && ! applyingHostSize)
                tellHostTheSize();
        }

        void tellHostTheSize()
        {
            if (editor == nullptr)
                return;

            const auto bounds = getLocalArea (editor.get(), editor->getLocalBounds());
            setSize (bounds.getWidth(), bounds.getHeight());

            if (hostResize != nullptr && hostResize->ui_resize != nullptr)
                hostResize->ui_resize (hostResize->handle, bounds.getWidth(), bounds.getHeight());
        }

        // The host's scale for its user interfaces, where it names one.
        void applyScaleFactor (const LV2_Options_Option* options)
        {
            if (options == nullptr || map == nullptr || editor == nullptr)
                return;

            const auto key = map->map (map->handle, LV2_UI__scaleFactor);
            const auto atomFloat = map->map (map->handle, LV2_ATOM__Float);

            for (auto* o = options; o->key != 0 || o->value != nullptr; ++o)
            {
                if (o->key != key || o->type != atomFloat || o->size != sizeof (float) || o->value == nullptr)
                    continue;

                float scale;
                std::memcpy (&scale, o->value, sizeof scale);

                if (std::isfinite (scale) && scale >= 0.5f && scale <= 8.0f)
                {
                    editor->setScaleFactor (scale);
                    tellHostTheSize();
                }
            }
        }

        // Lv2EditorLink: changes made in the editor, on this thread.
        void controlChangedInEditor (int control, float plainValue) override
        {
            if (applyingHostValue || ! juce::isPositiveAndBelow (control, (int) numControls))
                return;

            const auto c = (size_t) control;
            const auto value = Lv2ControlPortTable::ports[c].legalValue (plainValue);

            // A value the host holds already is not written back to it.
            if (hostValueKnown[c] && value == hostValues[c])
                return;

            hostValues[c] = value;
            hostValueKnown[c] = true;
            write (controller, firstControl + (uint32_t) control, sizeof (float), 0, &value);
        }

        void gestureInEditor (int control, bool starts) override
        {
            if (touch != nullptr && touch->touch != nullptr && ! applyingHostValue)
                touch->touch (touch->handle, firstControl + (uint32_t) control, starts);
        }

        Lv2Instance& plugin;
        Processor& processor;
        const LV2UI_Write_Function write;
        const LV2UI_Controller controller;
        const LV2UI_Touch* const touch;
        const LV2UI_Resize* const hostResize;
        const LV2_URID_Map* const map;

        std::unique_ptr<juce::AudioProcessorEditor> editor;

        // What the host holds on each port, as far as it has said.
        std::array<float, numControls> hostValues {};
        std::array<bool, numControls> hostValueKnown {};
        bool applyingHostValue = false, applyingHostSize = false;
    };

    Lv2Ui* asUi (LV2UI_Handle handle) noexcept
    {
        return static_cast<Lv2Ui*> (handle);
    }

    LV2UI_Handle instantiate (const LV2UI_Descriptor*, const char*, const char*, LV2UI_Write_Function write,
                              LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features)
    {
        auto* plugin = static_cast<Lv2Instance*> (const_cast<void*> (findLv2Feature (features, LV2_INSTANCE_ACCESS_URI)));
        auto* parent = const_cast<void*> (findLv2Feature (features, LV2_UI__parent));

        if (plugin == nullptr || parent == nullptr || write == nullptr || widget == nullptr)
            return nullptr;

        try
        {
            auto ui = std::make_unique<Lv2Ui> (*plugin, write, controller, parent,
                                               static_cast<const LV2UI_Touch*> (findLv2Feature (features, LV2_UI__touch)),
                                               static_cast<const LV2UI_Resize*> (findLv2Feature (features, LV2_UI__resize)),
                                               static_cast<const LV2_URID_Map*> (findLv2Feature (features, LV2_URID__map)),
                                               static_cast<const LV2_Options_Option*> (findLv2Feature (features, LV2_OPTIONS__options)));

            if (! ui->hasEditor())
                return nullptr;

            *widget = ui->widget();
            return ui.release();
        }
        catch (const std::bad_alloc&)
        {
            return nullptr;
        }
    }

    const void* extensionData (const char* uri)
    {
        static const LV2UI_Idle_Interface idle { [] (LV2UI_Handle h) { asUi (h)->idle(); return 0; } };
        // Hosts call it with the UI's own handle (the interface's is null,
        // as a static interface cannot know the instance): a null one is
        // refused rather than followed.
        static const LV2UI_Resize resize { nullptr, [] (LV2UI_Feature_Handle h, int width, int height)
                                                    { return h != nullptr ? asUi (h)->resizeFromHost (width, height) : 1; } };
        static const LV2_Options_Interface options {
            [] (LV2_Handle, LV2_Options_Option*) -> uint32_t { return LV2_OPTIONS_SUCCESS; },
            [] (LV2_Handle h, const LV2_Options_Option* o) { return asUi (h)->setOptions (o); }
        };

        if (uri == nullptr)
            return nullptr;

        if (std::strcmp (uri, LV2_UI__idleInterface) == 0)  return &idle;
        if (std::strcmp (uri, LV2_UI__resize) == 0)         return &resize;
        if (std::strcmp (uri, LV2_OPTIONS__interface) == 0) return &options;
        return nullptr;
    }
}

LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor (uint32_t index)
{
    static const LV2UI_Descriptor descriptor {
        TESSAMUNE_LV2_URI ":UI",
        instantiate,
        [] (LV2UI_Handle h) { delete asUi (h); },
        [] (LV2UI_Handle h, uint32_t port, uint32_t size, uint32_t format, const void* buffer)
        { asUi (h)->portEvent (port, size, format, buffer); },
        extensionData
    };

    return index == 0 ? &descriptor : nullptr;
}
