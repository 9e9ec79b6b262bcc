// The parameters as each format's host sees them: the plug-in's five, then
// the format's bypass (VST3), or with it (LV2, whose host lists its enabled
// port first).

#include "Hosting.h"

#include <gtest/gtest.h>

#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <public.sdk/source/common/memorystream.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace juce
{
    // The framework's message pump on Linux (juce_events).
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

using Hosting::Format;

namespace
{
    struct Expected
    {
        const char* id;
        const char* name;
        int steps;
        float defaultValue;                                  // normalised
        std::vector<std::pair<float, const char*>> texts;    // normalised value -> text
        std::vector<std::pair<const char*, float>> parsed;   // typed text -> normalised value
    };

    // Knob text is the plain value from 0 to 10 with one decimal, and typed
    // text is read as a plain value: what the host shows can be typed back.
    const std::vector<std::pair<float, const char*>> knobTexts { { 0.0f, "0.0" }, { 0.5f, "5.0" }, { 0.37f, "3.7" }, { 1.0f, "10.0" } };
    const std::vector<std::pair<const char*, float>> knobParsing { { "5", 0.5f }, { "10", 1.0f }, { "0", 0.0f },
                                                                   { "5.0", 0.5f }, { "3.7", 0.37f }, { "10.0", 1.0f } };

    const Expected parameters[] {
        { "chorus_on",    "Chorus",          2,   1.0f, { { 0.0f, "Off" }, { 1.0f, "On" } },        { { "Off", 0.0f }, { "On", 1.0f } } },
        { "chorus_depth", "Chorus Depth",    101, 0.0f, knobTexts,                                  knobParsing },
        { "chorus_speed", "Chorus Speed",    101, 0.0f, knobTexts,                                  knobParsing },
        { "chorus_mix",   "Chorus Mix",      101, 1.0f, knobTexts,                                  knobParsing },
        { "stereo_proc",  "Processing Mode", 2,   1.0f, { { 0.0f, "Mono" }, { 1.0f, "Stereo" } },   { { "Mono", 0.0f }, { "Stereo", 1.0f } } },
    };

    juce::String hostId (const juce::AudioProcessorParameter* p)
    {
        auto* hosted = dynamic_cast<const juce::HostedAudioProcessorParameter*> (p);
        return hosted != nullptr ? hosted->getParameterID() : juce::String();
    }
}

TEST (Vst3Parameters, FiveInCreationOrderThenTheBypass)
{
    auto instance = Hosting::load (Format::vst3);
    ASSERT_NE (instance, nullptr);

    const auto& list = instance->getParameters();
    ASSERT_EQ (list.size(), 6);

    // The IDs hosts save automation against: derived by the wrapper from the
    // parameter IDs, and they must never change.
    const char* const ids[] { "1123272472", "1309694698", "1323864174", "461706307", "1995964221" };

    for (int i = 0; i < 5; ++i)
    {
        const auto& e = parameters[i];
        const auto* p = list[i];
        SCOPED_TRACE (e.id);

        EXPECT_EQ (hostId (p), ids[i]);
        EXPECT_EQ (p->getName (128), e.name);
        EXPECT_FLOAT_EQ (p->getDefaultValue(), e.defaultValue);
        EXPECT_FLOAT_EQ (p->getValue(), e.defaultValue);
        EXPECT_TRUE (p->isAutomatable());
        // The host sees the step count of the parameter's interval (VST3
        // stepCount 1 for a switch, 100 for a knob), which makes it stepped.
        EXPECT_EQ (p->getNumSteps(), e.steps);
        EXPECT_TRUE (p->isDiscrete());

        for (const auto& [value, text] : e.texts)
            EXPECT_EQ (p->getText (value, 128), text) << "at " << value;

        for (const auto& [text, value] : e.parsed)
            EXPECT_NEAR (p->getValueForText (text), value, 1.0e-6f) << "for \"" << text << "\"";

        // Every step of a knob, shown by the host and typed back, is the same step.
        if (e.steps == 101)
        {
            for (int step = 0; step <= 100; ++step)
            {
                const auto normalised = (float) step / 100.0f;
                const auto shown = p->getText (normalised, 128);
                EXPECT_EQ (shown, juce::String (step / 10) + "." + juce::String (step % 10)) << "at step " << step;
                EXPECT_NEAR (p->getValueForText (shown), normalised, 1.0e-6f) << "for \"" << shown << "\"";
            }
        }
    }

    // The wrapper's own bypass, which the host finds by its flag.
    const auto* bypass = list[5];
    EXPECT_EQ (instance->getBypassParameter(), bypass);
    EXPECT_EQ (hostId (bypass), juce::String (0x62797073));   // 'byps'
    EXPECT_EQ (bypass->getName (128), "Bypass");
    EXPECT_EQ (bypass->getDefaultValue(), 0.0f);
    EXPECT_TRUE (bypass->isAutomatable());
    EXPECT_TRUE (bypass->isDiscrete());
    EXPECT_EQ (bypass->getNumSteps(), 2);
}

TEST (Lv2Parameters, FiveControlPortsAndTheEnabledPort)
{
    auto instance = Hosting::load (Format::lv2);
    ASSERT_NE (instance, nullptr);

    const auto& list = instance->getParameters();
    ASSERT_EQ (list.size(), 6);

    for (const auto& e : parameters)
    {
        SCOPED_TRACE (e.id);
        const auto index = Hosting::indexOf (*instance, Format::lv2, e.id);
        ASSERT_GE (index, 0);
        const auto* p = list[index];

        EXPECT_EQ (p->getName (128), e.name);
        EXPECT_FLOAT_EQ (p->getDefaultValue(), e.defaultValue);
        EXPECT_FLOAT_EQ (p->getValue(), e.defaultValue);
        EXPECT_TRUE (p->isAutomatable());

        if (e.steps == 2)
        {
            // A switch: a toggled port whose two values are named.
            EXPECT_TRUE (p->isDiscrete());
            EXPECT_EQ (p->getNumSteps(), 2);

            for (const auto& [value, text] : e.texts)
                EXPECT_EQ (p->getText (value, 128), text) << "at " << value;
        }
        else
        {
            // A knob: the host shows the plain value, 0 to 10.
            EXPECT_FALSE (p->isDiscrete());
            EXPECT_EQ (p->getText (1.0f, 128), "10");
            EXPECT_EQ (p->getText (0.5f, 128), "5");
        }
    }

    // lv2:enabled, which the host turns into its bypass.
    const auto* bypass = instance->getBypassParameter();
    ASSERT_NE (bypass, nullptr);
    EXPECT_EQ (hostId (bypass), "sym:enabled");
    EXPECT_EQ (bypass->getName (128), "Bypass");
    EXPECT_EQ (bypass->getDefaultValue(), 0.0f);
    EXPECT_EQ (bypass->getValue(), 0.0f);
    EXPECT_TRUE (bypass->isDiscrete());
}

namespace
{
    // A value a host sets, and the value the parameter takes for it: for a
    // switch the step the value falls in (off below one half), for a knob
    // its nearest tenth.
    struct Taken { const char* id; float set; float taken; };

    const Taken inBetweenValues[] {
        { "chorus_on", 0.32f, 0.0f }, { "chorus_on", 0.5f, 1.0f }, { "chorus_on", 0.49f, 0.0f }, { "chorus_on", 0.9f, 1.0f },
        { "stereo_proc", 0.436f, 0.0f }, { "stereo_proc", 0.51f, 1.0f },
        { "chorus_depth", 0.372f, 0.37f }, { "chorus_speed", 0.0049f, 0.0f }, { "chorus_mix", 0.996f, 1.0f },
    };
}

namespace
{
    // What the host's parameter shows once the host has handled the
    // plug-in's messages for a while (at most two seconds): the plug-in
    // asks it to read its values again a moment after it set one between
    // two steps.
    float shownOnceSettled (const juce::AudioProcessorParameter& p, float expected)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds (2);

        while (p.getValue() != expected && std::chrono::steady_clock::now() < end)
        {
            while (juce::dispatchNextMessageOnSystemQueue (true))
                continue;

            std::this_thread::sleep_for (std::chrono::milliseconds (2));
        }

        return p.getValue();
    }
}

// What a host reads back from a parameter is what the plug-in applies and
// saves: set, read, save, restore and read again give one value. Set on the
// host's UI thread, the value reads back once the host has answered the
// plug-in's request to read it again; set on another thread, as hosts
// automate, it reaches the plug-in with the host's next hand-over (here the
// one before it saves the state), and from then on reads back so.
TEST (Vst3Parameters, AValueReadsBackAsTheParameterTakesItAndSavesIt)
{
    auto instance = Hosting::load (Format::vst3);
    ASSERT_NE (instance, nullptr);
    instance->setBusesLayout (TestSignal::layoutFor (2, 2));
    instance->prepareToPlay (48000.0, 512);

    auto restored = Hosting::load (Format::vst3);
    ASSERT_NE (restored, nullptr);

    for (const bool onAnotherThread : { false, true })
    {
        for (const auto& c : inBetweenValues)
        {
            SCOPED_TRACE (juce::String (c.id) + " set to " + juce::String (c.set) + (onAnotherThread ? " on another thread" : ""));
            const auto index = Hosting::indexOf (*instance, Format::vst3, c.id);
            ASSERT_GE (index, 0);
            auto* p = instance->getParameters()[index];

            // From elsewhere first, so that every case changes the value.
            p->setValue (c.taken < 0.5f ? 1.0f : 0.0f);

            if (onAnotherThread)
                std::thread ([&] { p->setValue (c.set); }).join();
            else
                p->setValue (c.set);

            if (! onAnotherThread)
                EXPECT_FLOAT_EQ (shownOnceSettled (*p, c.taken), c.taken) << "read back";

            juce::MemoryBlock state;
            instance->getStateInformation (state);
            EXPECT_FLOAT_EQ (shownOnceSettled (*p, c.taken), c.taken) << "read back after saving";

            // The plug-in processes the value it reports, and saves it.
            Hosting::runOneBlock (*instance);
            EXPECT_FLOAT_EQ (p->getValue(), c.taken) << "read back after a block";

            restored->setStateInformation (state.getData(), (int) state.getSize());
            EXPECT_FLOAT_EQ (restored->getParameters()[index]->getValue(), c.taken) << "restored";

            instance->setStateInformation (state.getData(), (int) state.getSize());
            EXPECT_FLOAT_EQ (p->getValue(), c.taken) << "restored into the same instance";
        }
    }
}

namespace
{
    using namespace Steinberg;

    // A host's side of the edit controller, of the test's own: it counts the
    // plug-in's requests to read the parameter values again, and notes any
    // made on the thread that sets values or while a value is being set.
    class CountingHandler final : public Vst::IComponentHandler
    {
    public:
        tresult PLUGIN_API beginEdit (Vst::ParamID) override                   { return kResultOk; }
        tresult PLUGIN_API performEdit (Vst::ParamID, Vst::ParamValue) override { return kResultOk; }
        tresult PLUGIN_API endEdit (Vst::ParamID) override                     { return kResultOk; }

        tresult PLUGIN_API restartComponent (int32 flags) override
        {
            if ((flags & Vst::kParamValuesChanged) != 0)
            {
                ++rereads;

                if (std::this_thread::get_id() == settingThread || setting.load())
                    ++rereadsWhileSetting;

                if (std::this_thread::get_id() == settingThread)
                    ++rereadsOnSettingThread;
            }

            return kResultOk;
        }

        tresult PLUGIN_API queryInterface (const TUID iid, void** obj) override
        {
            if (FUnknownPrivate::iidEqual (iid, Vst::IComponentHandler::iid) || FUnknownPrivate::iidEqual (iid, FUnknown::iid))
            {
                *obj = this;
                return kResultOk;
            }

            *obj = nullptr;
            return kNoInterface;
        }

        uint32 PLUGIN_API addRef() override   { return 1; }
        uint32 PLUGIN_API release() override  { return 1; }

        std::atomic<int> rereads { 0 }, rereadsWhileSetting { 0 }, rereadsOnSettingThread { 0 };
        std::atomic<bool> setting { false };
        std::thread::id settingThread = std::this_thread::get_id();
    };

    // The built VST3 loaded through the SDK's interfaces alone, as a host
    // without the framework loads it: a component and its edit controller,
    // connected to each other.
    class RawVst3
    {
    public:
        RawVst3()
        {
            library = dlopen (TESSAMUNE_VST3_BINARY, RTLD_NOW | RTLD_LOCAL);

            if (library == nullptr)
                return;

            using ModuleEntry = bool (*) (void*);
            using GetFactory = IPluginFactory* (*)();

            auto entry = reinterpret_cast<ModuleEntry> (dlsym (library, "ModuleEntry"));
            auto getFactory = reinterpret_cast<GetFactory> (dlsym (library, "GetPluginFactory"));

            if (entry == nullptr || getFactory == nullptr || ! entry (library))
                return;

            entered = true;
            factory = getFactory();
        }

        ~RawVst3()
        {
            if (entered)
                if (auto exit = reinterpret_cast<bool (*)()> (dlsym (library, "ModuleExit")))
                    exit();

            // The module stays loaded: the framework's threads in it may still
            // be finishing.
        }

        struct Instance
        {
            Vst::IComponent* component = nullptr;
            Vst::IEditController* controller = nullptr;
            Vst::IConnectionPoint* componentPoint = nullptr;
            Vst::IConnectionPoint* controllerPoint = nullptr;

            Instance() = default;
            Instance (const Instance&) = delete;

            ~Instance()
            {
                if (componentPoint != nullptr && controllerPoint != nullptr)
                {
                    componentPoint->disconnect (controllerPoint);
                    controllerPoint->disconnect (componentPoint);
                }

                for (auto* point : { componentPoint, controllerPoint })
                    if (point != nullptr)
                        point->release();

                if (controller != nullptr)
                {
                    controller->setComponentHandler (nullptr);
                    controller->terminate();
                    controller->release();
                }

                if (component != nullptr)
                {
                    component->terminate();
                    component->release();
                }
            }

            Vst::ParamID idOf (const char* title) const
            {
                for (int32 i = 0; i < controller->getParameterCount(); ++i)
                {
                    Vst::ParameterInfo info {};
                    controller->getParameterInfo (i, info);

                    if (juce::String (juce::CharPointer_UTF16 (reinterpret_cast<const juce::CharPointer_UTF16::CharType*> (info.title))) == title)
                        return info.id;
                }

                ADD_FAILURE() << "no parameter " << title;
                return 0;
            }
        };

        /** A fresh component with its controller, or null. */
        std::unique_ptr<Instance> make()
        {
            if (factory == nullptr)
                return {};

            PClassInfo effect {};
            bool found = false;

            for (int32 i = 0; i < factory->countClasses() && ! found; ++i)
                found = factory->getClassInfo (i, &effect) == kResultOk && std::strcmp (effect.category, kVstAudioEffectClass) == 0;

            auto instance = std::make_unique<Instance>();
            TUID controllerId {};

            if (! found
                || factory->createInstance (effect.cid, Vst::IComponent::iid, (void**) &instance->component) != kResultOk
                || instance->component->initialize (nullptr) != kResultOk
                || instance->component->getControllerClassId (controllerId) != kResultOk
                || factory->createInstance (controllerId, Vst::IEditController::iid, (void**) &instance->controller) != kResultOk
                || instance->controller->initialize (nullptr) != kResultOk
                || instance->component->queryInterface (Vst::IConnectionPoint::iid, (void**) &instance->componentPoint) != kResultOk
                || instance->controller->queryInterface (Vst::IConnectionPoint::iid, (void**) &instance->controllerPoint) != kResultOk)
                return {};

            instance->componentPoint->connect (instance->controllerPoint);
            instance->controllerPoint->connect (instance->componentPoint);
            return instance;
        }

    private:
        void* library = nullptr;
        bool entered = false;
        IPluginFactory* factory = nullptr;
    };
}

// A host that sets a parameter between its steps hundreds of times in a
// row, as a control surface's ramp or a generic editor's slider does, is
// asked to read the values back once (at most a few times), from the
// plug-in's message thread and never within a call that sets a value;
// meanwhile every value it reads back, at once, is the value the plug-in
// takes, and the state the plug-in saves restores that value.
TEST (Vst3Parameters, ARampBetweenStepsIsReadBackOnce)
{
    RawVst3 module;
    auto plugin = module.make();
    auto restored = module.make();
    ASSERT_NE (plugin, nullptr);
    ASSERT_NE (restored, nullptr);

    CountingHandler handler;
    plugin->controller->setComponentHandler (&handler);
    // The controller lets go of the handler before the handler is gone.
    const juce::ScopeGuard detach { [&] { plugin->controller->setComponentHandler (nullptr); } };

    // A ramp of 300 values, none of them on a step: the switch takes the
    // step each falls in (off below the middle), the knob its nearest tenth.
    struct Ramp { const char* title; int steps; bool downward; };
    const Ramp ramps[] { { "Chorus Depth", 100, false }, { "Chorus", 1, false }, { "Chorus Mix", 100, true } };

    for (const auto& ramp : ramps)
    {
        SCOPED_TRACE (ramp.title);
        const auto id = plugin->idOf (ramp.title);
        handler.rereads = 0;
        handler.rereadsWhileSetting = 0;

        for (int i = 0; i < 300; ++i)
        {
            const auto fraction = ((ramp.downward ? 299 - i : i) + 0.37) / 300.0;
            const auto taken = ramp.steps == 1 ? (fraction < 0.5 ? 0.0 : 1.0)
                                               : std::round (fraction * 100.0) / 100.0;

            handler.setting = true;
            plugin->controller->setParamNormalized (id, fraction);
            handler.setting = false;

            ASSERT_NEAR (plugin->controller->getParamNormalized (id), taken, 1.0e-6) << "set to " << fraction;

            // Saved, and restored into another instance.
            auto* state = new MemoryStream();
            ASSERT_EQ (plugin->component->getState (state), kResultOk);
            state->seek (0, IBStream::kIBSeekSet, nullptr);
            ASSERT_EQ (restored->component->setState (state), kResultOk);
            state->seek (0, IBStream::kIBSeekSet, nullptr);
            restored->controller->setComponentState (state);
            state->release();
            ASSERT_NEAR (restored->controller->getParamNormalized (id), taken, 1.0e-6) << "restored, set to " << fraction;
        }

        // The host is asked once the ramp is over, within a moment.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds (2);

        while (handler.rereads == 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for (std::chrono::milliseconds (5));

        std::this_thread::sleep_for (std::chrono::milliseconds (300));

        // One a run; a few if this machine paused the ramp for a tick or more.
        testing::Test::RecordProperty (juce::String (ramp.title).removeCharacters (" ").toStdString() + "Rereads", handler.rereads.load());
        EXPECT_GE (handler.rereads.load(), 1) << "the host is never asked to read back what the plug-in took";
        EXPECT_LE (handler.rereads.load(), 5) << "the host reads every parameter back again and again";
        EXPECT_EQ (handler.rereadsWhileSetting.load(), 0) << "asked on the thread that sets values, or while it sets one";
    }
}

// A host that loads a saved state (a preset, a session) hands it to the
// component and then to the edit controller, and may hold a lock meanwhile
// that its restartComponent takes too (Ardour 7.3 does). The controller
// takes the values and says so, so that the host may read them at once, and
// asks the host to read them again only after the load, from the plug-in's
// message thread.
TEST (Vst3Parameters, ALoadedStateIsReadBackAfterTheLoad)
{
    RawVst3 module;
    auto saved = module.make();
    auto plugin = module.make();
    ASSERT_NE (saved, nullptr);
    ASSERT_NE (plugin, nullptr);

    // The state a user saved: every setting away from its default.
    const std::pair<const char*, double> settings[] { { "Chorus", 0.0 }, { "Chorus Depth", 0.3 }, { "Chorus Speed", 0.7 },
                                                      { "Chorus Mix", 0.4 }, { "Processing Mode", 0.0 } };

    for (const auto& [title, value] : settings)
        saved->controller->setParamNormalized (saved->idOf (title), value);

    auto* state = new MemoryStream();
    ASSERT_EQ (saved->component->getState (state), kResultOk);

    CountingHandler handler;
    plugin->controller->setComponentHandler (&handler);
    // The controller lets go of the handler before the handler is gone.
    const juce::ScopeGuard detach { [&] { plugin->controller->setComponentHandler (nullptr); } };

    for (const auto& [title, value] : settings)
        ASSERT_NE (plugin->controller->getParamNormalized (plugin->idOf (title)), value) << title << " starts where the state has it";

    // A request within the load comes on the thread that loads (a request
    // from the message thread may come while the load returns, which a
    // host that holds a lock meanwhile answers once it lets go).
    state->seek (0, IBStream::kIBSeekSet, nullptr);
    EXPECT_EQ (plugin->component->setState (state), kResultOk);
    state->seek (0, IBStream::kIBSeekSet, nullptr);
    const auto taken = plugin->controller->setComponentState (state);
    state->release();

    EXPECT_EQ (taken, kResultOk) << "the controller does not say it took the state, so a host does not read the values back";
    EXPECT_EQ (handler.rereadsOnSettingThread.load(), 0) << "the host is asked to read the values while it is still loading the state";

    for (const auto& [title, value] : settings)
        EXPECT_NEAR (plugin->controller->getParamNormalized (plugin->idOf (title)), value, 1.0e-6) << title << ", right after the load";

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds (2);

    while (handler.rereads == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for (std::chrono::milliseconds (5));

    EXPECT_GE (handler.rereads.load(), 1) << "the host is never asked to read the loaded values";
    EXPECT_EQ (handler.rereadsOnSettingThread.load(), 0) << "the host is asked on the thread that loaded the state";

    for (const auto& [title, value] : settings)
        EXPECT_NEAR (plugin->controller->getParamNormalized (plugin->idOf (title)), value, 1.0e-6) << title << ", when the host reads it again";
}
