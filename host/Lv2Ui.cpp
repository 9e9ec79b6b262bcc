/*
    The LV2 editor: the plug-in's editor embedded in the window the host
    gives (ui:parent, X11).

    - Each editor owns what it draws: a processor of its own that serves
      only as the model its panel binds to (it is never prepared, so its
      delay lines are never mapped in), and the panel. Several editors on
      one plug-in each have their own; the plug-in instance holds nothing
      of them.
    - A change the user makes in the panel is written to the parameter's
      control port through the host's write function, with its gestures
      through the host's ui:touch where offered, so that the host's
      control, its saved value and its automation follow the editor. Only
      the user's changes are written: values that come from the host are
      applied to the model with the writing held off.
    - The model follows the ports: a value the host reports (port_event)
      is applied at once. Where the host gives instance access, the editor
      also reads the instance's parameter values when the host calls idle,
      and applies one that changed since it last looked: a state restored
      into the plug-in changes no port. A control the user holds is left
      to the user until the gesture ends. The zoom kept for the instance
      goes both ways between the instance and the model.
    - The editor's size is the host's window size, within the sizes the
      panel can show (100% to 300%): a change of the editor's size is told
      to the host (ui:resize where offered), and a size the host asks for
      (our ui:resize interface), or gives the window, is given to the
      editor.

    Everything here runs on the host's UI thread, which the framework takes
    as its message thread while an editor is open; idle dispatches its
    messages. No exception leaves an entry point.
*/

#include "host/Lv2Features.h"
#include "host/Lv2Plugin.h"
#include "plugin/EditorZoom.h"
#include "plugin/Parameters.h"
#include "plugin/Processor.h"
#include "ui/Editor.h"

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

    ChorusParameter& parameterOf (Processor& processor, size_t control)
    {
        return *static_cast<ChorusParameter*> (processor.getParameters()[(int) control]);
    }

    // The sizes the panel can show, from 100% to 300%.
    const auto smallestSize = Editor::sizeForZoom (EditorZoom::minimum);
    const auto largestSize = Editor::sizeForZoom (EditorZoom::maximum);

    // Repaints are asked of the framework's renderer only at sizes the
    // panel can show. A host that sizes the editor's window itself may make
    // it any size for a moment (as large as the host's own window gets)
    // before the window keeps to the panel's largest; the framework asks
    // for a repaint of the whole window at that size before it says so,
    // and its renderer cannot draw some such sizes. (At the top of a window
    // this object only filters repaints; the window paints as any other.)
    class RepaintsWithinPanelSizes final : public juce::CachedComponentImage
    {
    public:
        explicit RepaintsWithinPanelSizes (juce::Component& c) : component (c) {}

        void paint (juce::Graphics& g) override               { component.paintEntireComponent (g, false); }
        bool invalidateAll() override                         { return withinPanelSizes(); }
        bool invalidate (const juce::Rectangle<int>&) override { return withinPanelSizes(); }
        void releaseResources() override                      {}

    private:
        // The window's size, and the component's, which differ while the
        // window follows the component (a repaint then is of the window's
        // size).
        bool withinPanelSizes() const noexcept
        {
            auto size = component.getLocalBounds();

            if (const auto* peer = component.getPeer())
                size = size.getUnion (peer->getBounds().withZeroOrigin());

            return size.getWidth() <= largestSize.getWidth() && size.getHeight() <= largestSize.getHeight();
        }

        juce::Component& component;
    };

    // The framework, for a host that gives no instance access too; a base
    // of the editor's, so that it outlives the editor's window.
    struct WithFramework
    {
        const juce::ScopedJuceInitialiser_GUI framework;
    };

    class Lv2Ui final : private WithFramework,
                        private juce::Component,
                        private juce::ComponentListener,
                        private juce::AudioProcessorListener
    {
    public:
        Lv2Ui (Lv2Instance* instanceIn, LV2UI_Write_Function writeIn, LV2UI_Controller controllerIn,
               LV2UI_Widget parent, const LV2UI_Touch* touchIn, const LV2UI_Resize* resizeIn,
               const LV2_URID_Map* mapIn, const LV2_Options_Option* options)
            : instance (instanceIn != nullptr ? &instanceIn->getProcessor() : nullptr),
              write (writeIn),
              controller (controllerIn),
              touch (touchIn),
              hostResize (resizeIn),
              map (mapIn)
        {
            juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();

            // The panel opens showing the instance's values and its kept zoom.
            if (instance != nullptr)
            {
                for (size_t c = 0; c < numControls; ++c)
                {
                    instanceValues[c] = parameterOf (*instance, c).getPlainValue();
                    applyFromHost (c, instanceValues[c]);
                }

                model.editorZoom = instanceZoom = instance->editorZoom.load();
            }

            modelZoom = model.editorZoom.load();
            model.addListener (this);
            editor.reset (model.createEditorIfNeeded());

            if (editor == nullptr)
                return;

            setOpaque (true);
            setCachedComponentImage (new RepaintsWithinPanelSizes (*this));
            setSize (editor->getWidth(), editor->getHeight());
            addAndMakeVisible (*editor);
            editor->addComponentListener (this);

            addToDesktop (0, parent);
            setVisible (true);

            applyOptions (options);
            tellHostTheSize();
        }

        ~Lv2Ui() override
        {
            followZoom();
            model.removeListener (this);

            if (editor != nullptr)
            {
                editor->removeComponentListener (this);
                model.editorBeingDeleted (editor.get());
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

            const auto c = (size_t) control;
            value = Lv2ControlPortTable::ports[c].legalValue (value);
            hostValues[c] = value;
            hostValueKnown[c] = true;

            if (! userHolds[c])
                applyFromHost (c, value);
        }

        void idle()
        {
            juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();
            followInstance();

            while (juce::dispatchNextMessageOnSystemQueue (true))
                continue;
        }

        int resizeFromHost (int width, int height)
        {
            if (width <= 0 || height <= 0)
                return 1;

            const juce::ScopedValueSetter<bool> fromHost (applyingHostSize, true);
            const auto size = withinPanelSizes (width, height);

            if (editor != nullptr && editor->isResizable())
                editor->setBoundsConstrained (size);

            setSize (size.getWidth(), size.getHeight());
            return 0;
        }

        uint32_t setOptions (const LV2_Options_Option* options)
        {
            return applyOptions (options);
        }

    private:
        void paint (juce::Graphics& g) override { g.fillAll (juce::Colours::black); }

        static juce::Rectangle<int> withinPanelSizes (int width, int height) noexcept
        {
            return { juce::jlimit (smallestSize.getWidth(), largestSize.getWidth(), width),
                     juce::jlimit (smallestSize.getHeight(), largestSize.getHeight(), height) };
        }

        // The host's window, sized by the host or the window system: the
        // editor makes of the size what it does of any size from outside (a
        // zoom the user chooses by dragging the window's edge, or one it
        // only shows, or sets aside to keep its zoom), and the host is not
        // told back a size it gave. Where the editor is not resizable, it
        // keeps its size inside a window the host made larger. A size
        // beyond what the panel can show is not taken: the window keeps to
        // the nearest one (the framework cannot draw a window of any size).
        void resized() override
        {
            if (const auto limited = withinPanelSizes (getWidth(), getHeight()); limited != getLocalBounds())
            {
                // (Repainted once the window has the size too.)
                setSize (limited.getWidth(), limited.getHeight());
                repaint();
                return;
            }

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

        // The host's options: its scale for its user interfaces is the one
        // taken; any other is unknown here.
        uint32_t applyOptions (const LV2_Options_Option* options)
        {
            uint32_t status = LV2_OPTIONS_SUCCESS;

            if (options == nullptr)
                return status;

            const auto scaleKey = map != nullptr ? map->map (map->handle, LV2_UI__scaleFactor) : 0;
            const auto atomFloat = map != nullptr ? map->map (map->handle, LV2_ATOM__Float) : 0;

            for (auto* o = options; o->key != 0 || o->value != nullptr; ++o)
            {
                if (o->key == 0 || o->key != scaleKey)
                {
                    status |= LV2_OPTIONS_ERR_UNKNOWN;
                    continue;
                }

                float scale = 0.0f;

                if (o->type == atomFloat && o->size == sizeof (float) && o->value != nullptr)
                    std::memcpy (&scale, o->value, sizeof scale);

                if (! (std::isfinite (scale) && scale >= 0.5f && scale <= 8.0f))
                {
                    status |= LV2_OPTIONS_ERR_BAD_VALUE;
                    continue;
                }

                if (editor != nullptr)
                {
                    editor->setScaleFactor (scale);
                    tellHostTheSize();
                }
            }

            return status;
        }

        // A value from the host (a port's, or the instance's) set on the
        // model, which the panel shows; it is not written back.
        void applyFromHost (size_t control, float plainValue)
        {
            auto& parameter = parameterOf (model, control);

            if (parameter.getPlainValue() == plainValue)
                return;

            const juce::ScopedValueSetter<bool> fromHost (applyingHostValue, true);
            parameter.setValueNotifyingHost (parameter.convertTo0to1 (plainValue));
        }

        // What changed inside the plug-in since the last look: a parameter
        // (a state restored into it, or a port the host set and did not
        // report) and the kept zoom. Only a change is applied, so that a
        // value the user has just set is not put back before the host's
        // next run has applied it.
        void followInstance()
        {
            if (instance == nullptr)
                return;

            for (size_t c = 0; c < numControls; ++c)
            {
                const auto value = parameterOf (*instance, c).getPlainValue();

                if (value == instanceValues[c])
                    continue;

                instanceValues[c] = value;

                if (! userHolds[c])
                    applyFromHost (c, value);
            }

            followZoom();
        }

        // A zoom chosen in this editor goes to the instance, which keeps it
        // in its state; one the instance was given (a state restored) comes
        // to the model, for the next opening.
        void followZoom()
        {
            if (instance == nullptr)
                return;

            if (const auto chosen = model.editorZoom.load(); chosen != modelZoom)
            {
                instance->editorZoom = modelZoom = instanceZoom = chosen;
            }
            else if (const auto kept = instance->editorZoom.load(); kept != instanceZoom)
            {
                model.editorZoom = modelZoom = instanceZoom = kept;
            }
        }

        // AudioProcessorListener, on the model: the user's changes.
        void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float newValue) override
        {
            if (applyingHostValue || ! juce::isPositiveAndBelow (index, (int) numControls))
                return;

            const auto c = (size_t) index;
            const auto& parameter = parameterOf (model, c);
            const auto value = Lv2ControlPortTable::ports[c].legalValue (parameter.convertFrom0to1 (newValue));

            // A value the host holds already is not written back to it.
            if (hostValueKnown[c] && value == hostValues[c])
                return;

            hostValues[c] = value;
            hostValueKnown[c] = true;
            write (controller, firstControl + (uint32_t) c, sizeof (float), 0, &value);
        }

        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}

        void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int index) override
        {
            gesture (index, true);
        }

        void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int index) override
        {
            gesture (index, false);
        }

        void gesture (int index, bool starts)
        {
            if (applyingHostValue || ! juce::isPositiveAndBelow (index, (int) numControls))
                return;

            userHolds[(size_t) index] = starts;

            if (touch != nullptr && touch->touch != nullptr)
                touch->touch (touch->handle, firstControl + (uint32_t) index, starts);
        }

        Processor* const instance;   // the instance's processor, read only; may be null
        const LV2UI_Write_Function write;
        const LV2UI_Controller controller;
        const LV2UI_Touch* const touch;
        const LV2UI_Resize* const hostResize;
        const LV2_URID_Map* const map;

        Processor model;
        std::unique_ptr<juce::AudioProcessorEditor> editor;

        // What the host holds on each port, as far as it has said.
        std::array<float, numControls> hostValues {};
        std::array<bool, numControls> hostValueKnown {};
        // The instance's values and zoom as last seen, and the model's zoom.
        std::array<float, numControls> instanceValues {};
        double instanceZoom = 0.0, modelZoom = 0.0;
        // The controls the user holds (a gesture under way).
        std::array<bool, numControls> userHolds {};
        bool applyingHostValue = false, applyingHostSize = false;
    };

    Lv2Ui* asUi (LV2UI_Handle handle) noexcept
    {
        return static_cast<Lv2Ui*> (handle);
    }

    // Whatever goes wrong inside stays inside: a host cannot do anything
    // with an exception but end.
    template <typename Result, typename Call>
    Result guarded (Result onFailure, Call&& call) noexcept
    {
        try
        {
            return call();
        }
        catch (...)
        {
            return onFailure;
        }
    }

    LV2UI_Handle instantiate (const LV2UI_Descriptor*, const char*, const char*, LV2UI_Write_Function write,
                              LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features)
    {
        // Instance access is used where a host gives it, not needed.
        auto* plugin = static_cast<Lv2Instance*> (const_cast<void*> (findLv2Feature (features, LV2_INSTANCE_ACCESS_URI)));
        auto* parent = const_cast<void*> (findLv2Feature (features, LV2_UI__parent));

        if (parent == nullptr || write == nullptr || widget == nullptr)
            return nullptr;

        return guarded<LV2UI_Handle> (nullptr, [&]() -> LV2UI_Handle
        {
            auto ui = std::make_unique<Lv2Ui> (plugin, write, controller, parent,
                                               static_cast<const LV2UI_Touch*> (findLv2Feature (features, LV2_UI__touch)),
                                               static_cast<const LV2UI_Resize*> (findLv2Feature (features, LV2_UI__resize)),
                                               static_cast<const LV2_URID_Map*> (findLv2Feature (features, LV2_URID__map)),
                                               static_cast<const LV2_Options_Option*> (findLv2Feature (features, LV2_OPTIONS__options)));

            if (! ui->hasEditor())
                return nullptr;

            *widget = ui->widget();
            return ui.release();
        });
    }

    // Nothing is answered to a host asking: every option asked for is
    // unknown here.
    uint32_t getOptions (LV2_Handle, LV2_Options_Option* options) noexcept
    {
        uint32_t status = LV2_OPTIONS_SUCCESS;

        for (auto* o = options; o != nullptr && (o->key != 0 || o->value != nullptr); ++o)
            status |= LV2_OPTIONS_ERR_UNKNOWN;

        return status;
    }

    const void* extensionData (const char* uri)
    {
        static const LV2UI_Idle_Interface idle { [] (LV2UI_Handle h)
                                                 { return guarded (1, [h] { asUi (h)->idle(); return 0; }); } };
        // Hosts call it with the UI's own handle (the interface's is null,
        // as a static interface cannot know the instance): a null one is
        // refused rather than followed.
        static const LV2UI_Resize resize { nullptr, [] (LV2UI_Feature_Handle h, int width, int height)
                                           {
                                               return h != nullptr ? guarded (1, [=] { return asUi (h)->resizeFromHost (width, height); })
                                                                   : 1;
                                           } };
        static const LV2_Options_Interface options {
            getOptions,
            [] (LV2_Handle h, const LV2_Options_Option* o)
            {
                return guarded<uint32_t> (LV2_OPTIONS_ERR_UNKNOWN, [=] { return asUi (h)->setOptions (o); });
            }
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
        { guarded (0, [=] { asUi (h)->portEvent (port, size, format, buffer); return 0; }); },
        extensionData
    };

    return index == 0 ? &descriptor : nullptr;
}
