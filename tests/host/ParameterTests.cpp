// The parameters as each format's host sees them: the plug-in's five, then
// the format's bypass (VST3), or with it (LV2, whose host lists its enabled
// port first).

#include "Hosting.h"

#include <gtest/gtest.h>

#include <thread>

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

// What a host reads back from a parameter is what the plug-in applies and
// saves: set, read, save, restore and read again give one value. Set on the
// host's UI thread, the value reads back at once; set on another thread, as
// hosts automate, it reaches the plug-in with the host's next hand-over (here
// the one before it saves the state), and from then on reads back so.
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
                EXPECT_FLOAT_EQ (p->getValue(), c.taken) << "read back at once";

            juce::MemoryBlock state;
            instance->getStateInformation (state);
            EXPECT_FLOAT_EQ (p->getValue(), c.taken) << "read back";

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
