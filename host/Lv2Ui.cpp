/*
    The LV2 editor entry points, around the framework's.

    The framework's editor works on the processor directly (instance access)
    and tells the host nothing. With the parameters as control ports, the
    host must hear of a change made in the editor as a write to the port, or
    its control, its saved value and its automation would not follow, and
    the next run would set the parameter back to the port's value. So each
    editor gets a PortWriter, which

    - writes a change made in the editor to the parameter's control port
      through the host's write function (a float, protocol 0), and reports
      the editor's gestures through the host's touch feature if it has one;
    - moves the editor's controls when the host reports a new port value
      (port_event), by setting the parameter; and has the plug-in pass the
      port's value on again at its next run, in case the report arrived after
      the run had already passed on a newer one;
    - writes nothing back that came from the host: changes the host makes
      reach the processor inside the plug-in's run (on the audio thread,
      where nothing is written in any case), the reports above are applied
      under a guard, and a value the host already holds is not written.

    The editor is found as the child of the window the framework hands the
    host. Everything here runs on the host's UI thread, which the framework
    makes its message thread while an editor is open; the processor's
    listener callbacks that arrive on other threads return at once.
*/

#include "host/Lv2Bridge.h"

#include "host/Lv2Features.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <lv2/instance-access/instance-access.h>
#include <lv2/ui/ui.h>

#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

extern "C" const LV2UI_Descriptor* tessamune_framework_lv2ui_descriptor (uint32_t index);

namespace
{
    using namespace Lv2Bridge;
    using Lv2ControlPortTable::ports;

    const LV2UI_Descriptor* frameworkUi()
    {
        static const LV2UI_Descriptor* const descriptor = tessamune_framework_lv2ui_descriptor (0);
        return descriptor;
    }

    // The editor inside the window that the framework gave the host.
    juce::AudioProcessorEditor* findEditor (LV2UI_Widget widget)
    {
        auto& desktop = juce::Desktop::getInstance();

        for (int i = 0; i < desktop.getNumComponents(); ++i)
            if (auto* window = desktop.getComponent (i); window != nullptr && window->getWindowHandle() == widget)
                for (auto* child : window->getChildren())
                    if (auto* editor = dynamic_cast<juce::AudioProcessorEditor*> (child))
                        return editor;

        return nullptr;
    }

    class PortWriter final : private juce::AudioProcessorListener
    {
    public:
        PortWriter (LV2_Handle pluginIn, juce::AudioProcessor& processorIn,
                    LV2UI_Write_Function writeIn, LV2UI_Controller controllerIn, const LV2UI_Touch* touchIn)
            : plugin (pluginIn), processor (processorIn), write (writeIn), controller (controllerIn), touch (touchIn)
        {
            const auto& list = processor.getParameters();
            controlOf.assign ((size_t) list.size(), -1);

            for (int p = 0; p < list.size(); ++p)
                if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (list[p]))
                    for (size_t c = 0; c < numControlPorts; ++c)
                        if (ranged->getParameterID() == ports[c].symbol)
                        {
                            parameters[c] = ranged;
                            controlOf[(size_t) p] = (int) c;
                        }

            processor.addListener (this);
        }

        ~PortWriter() override
        {
            processor.removeListener (this);
        }

        void portEvent (uint32_t port, uint32_t size, uint32_t format, const void* buffer)
        {
            const auto control = controlFor (port);

            if (control < 0 || format != 0 || size != sizeof (float) || buffer == nullptr)
                return;

            float raw;
            std::memcpy (&raw, buffer, sizeof (raw));
            const auto c = (size_t) control;
            const auto value = ports[c].legalValue (raw);

            // Hosts report every port when an editor opens. The plug-in has
            // already passed on the ports (or restored a saved state over
            // them), so the report only tells us what the host holds.
            const auto isFirstReport = ! known[c];
            known[c] = true;
            hostValue[c] = value;

            auto* parameter = parameters[c];

            if (isFirstReport || parameter == nullptr)
                return;

            const auto normalised = parameter->convertTo0to1 (value);

            if (normalised != parameter->getValue())
            {
                const juce::ScopedValueSetter<bool> fromHost (applyingHostValue, true);
                parameter->setValueNotifyingHost (normalised);
            }

            reapplyControl (plugin, control);
        }

    private:
        int controlOfParameter (int parameterIndex) const noexcept
        {
            return juce::isPositiveAndBelow (parameterIndex, (int) controlOf.size()) ? controlOf[(size_t) parameterIndex] : -1;
        }

        // True for a change that the editor made: on this (the UI) thread,
        // not while a host report is being applied, and not from the ports
        // (a host may run the plug-in on its UI thread).
        bool isFromEditor() const noexcept
        {
            return juce::MessageManager::existsAndIsCurrentThread() && ! applyingHostValue
                && ! isRunningOnThisThread (plugin);
        }

        void audioProcessorParameterChanged (juce::AudioProcessor*, int parameterIndex, float newValue) override
        {
            if (! isFromEditor())
                return;

            const auto control = controlOfParameter (parameterIndex);

            if (control < 0 || parameters[(size_t) control] == nullptr)
                return;

            const auto c = (size_t) control;
            const auto value = ports[c].legalValue (parameters[c]->convertFrom0to1 (newValue));

            if (known[c] && value == hostValue[c])
                return;

            known[c] = true;
            hostValue[c] = value;
            write (controller, firstControlPort + (uint32_t) control, sizeof (float), 0, &value);
        }

        void gesture (int parameterIndex, bool grabbed)
        {
            if (touch == nullptr || touch->touch == nullptr || ! isFromEditor())
                return;

            if (const auto control = controlOfParameter (parameterIndex); control >= 0)
                touch->touch (touch->handle, firstControlPort + (uint32_t) control, grabbed);
        }

        void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int parameterIndex) override
        {
            gesture (parameterIndex, true);
        }

        void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int parameterIndex) override
        {
            gesture (parameterIndex, false);
        }

        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}

        const LV2_Handle plugin;
        juce::AudioProcessor& processor;
        const LV2UI_Write_Function write;
        const LV2UI_Controller controller;
        const LV2UI_Touch* const touch;

        std::array<juce::RangedAudioParameter*, numControlPorts> parameters {};
        std::vector<int> controlOf;   // by parameter index

        // What the host holds on each port, as far as we know.
        std::array<float, numControlPorts> hostValue {};
        std::array<bool, numControlPorts> known {};
        bool applyingHostValue = false;
    };

    // The PortWriter of each open editor, by the framework's UI handle, which
    // is the handle the host holds.
    std::mutex writersLock;
    std::map<LV2UI_Handle, std::unique_ptr<PortWriter>> writers;

    LV2UI_Handle instantiate (const LV2UI_Descriptor*, const char* pluginUri, const char* bundlePath,
                              LV2UI_Write_Function writeFunction, LV2UI_Controller controller,
                              LV2UI_Widget* widget, const LV2_Feature* const* features)
    {
        // The editor reaches its plug-in through instance access: give it the
        // framework's instance, not ours.
        LV2_Handle plugin = nullptr;
        std::vector<LV2_Feature> copies;
        std::vector<const LV2_Feature*> pointers;

        try
        {
            if (features != nullptr)
                for (auto* const* f = features; *f != nullptr; ++f)
                    copies.push_back (**f);

            for (auto& f : copies)
            {
                if (f.URI != nullptr && std::strcmp (f.URI, LV2_INSTANCE_ACCESS_URI) == 0 && f.data != nullptr)
                {
                    plugin = f.data;
                    f.data = frameworkInstance (plugin);
                }

                pointers.push_back (&f);
            }

            pointers.push_back (nullptr);
        }
        catch (const std::bad_alloc&)
        {
            return nullptr;
        }

        auto* inner = frameworkUi();
        auto* handle = inner->instantiate (inner, pluginUri, bundlePath, writeFunction, controller, widget, pointers.data());

        if (handle == nullptr || plugin == nullptr || writeFunction == nullptr || widget == nullptr)
            return handle;

        if (auto* editor = findEditor (*widget))
        {
            const auto* touch = static_cast<const LV2UI_Touch*> (findLv2Feature (features, LV2_UI__touch));

            try
            {
                auto writer = std::make_unique<PortWriter> (plugin, *editor->getAudioProcessor(), writeFunction, controller, touch);
                const std::lock_guard<std::mutex> lock (writersLock);
                writers[handle] = std::move (writer);
            }
            catch (const std::bad_alloc&)
            {
                // The editor still works; the host's controls just do not follow it.
            }
        }

        return handle;
    }

    void cleanup (LV2UI_Handle handle)
    {
        {
            std::unique_ptr<PortWriter> writer;
            const std::lock_guard<std::mutex> lock (writersLock);

            if (const auto it = writers.find (handle); it != writers.end())
            {
                writer = std::move (it->second);
                writers.erase (it);
            }
        }

        frameworkUi()->cleanup (handle);
    }

    void portEvent (LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t format, const void* buffer)
    {
        PortWriter* writer = nullptr;

        {
            const std::lock_guard<std::mutex> lock (writersLock);

            if (const auto it = writers.find (handle); it != writers.end())
                writer = it->second.get();
        }

        if (writer != nullptr)
            writer->portEvent (port, size, format, buffer);

        if (frameworkUi()->port_event != nullptr)
            frameworkUi()->port_event (handle, port, size, format, buffer);
    }
}

LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor (uint32_t index)
{
    if (index != 0 || frameworkUi() == nullptr)
        return nullptr;

    static const LV2UI_Descriptor descriptor = []
    {
        auto copy = *frameworkUi();
        copy.instantiate = instantiate;
        copy.cleanup = cleanup;
        copy.port_event = portEvent;
        return copy;
    }();

    return &descriptor;
}
