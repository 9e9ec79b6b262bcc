// The processor's state block travels unchanged inside each format's state,
// and restoring it reports every parameter's value back to the host.

#include "Hosting.h"

#include <gtest/gtest.h>

using Hosting::Format;

namespace
{
    // Every parameter away from its default, so that a restore changes each.
    const std::vector<std::pair<juce::String, float>> saved { { "chorus_on", 0.0f }, { "chorus_depth", 0.4f }, { "chorus_speed", 0.6f },
                                                              { "chorus_mix", 0.2f }, { "stereo_proc", 0.0f } };

    bool startsWith (const juce::MemoryBlock& data, const juce::MemoryBlock& prefix)
    {
        return prefix.getSize() > 0 && data.getSize() >= prefix.getSize()
            && std::memcmp (data.getData(), prefix.getData(), prefix.getSize()) == 0;
    }

    struct Reports : juce::AudioProcessorParameter::Listener
    {
        std::map<int, float> last;
        void parameterValueChanged (int index, float value) override { last[index] = value; }
        void parameterGestureChanged (int, bool) override {}
    };

    std::unique_ptr<juce::AudioPluginInstance> prepared (Format format)
    {
        auto instance = Hosting::load (format);

        if (instance != nullptr)
        {
            instance->setBusesLayout (TestSignal::layoutFor (2, 2));
            instance->prepareToPlay (48000.0, 512);
        }

        return instance;
    }
}

class State : public testing::TestWithParam<Format> {};

TEST_P (State, BlockTravelsUnchangedAndRestoresEveryParameter)
{
    const auto format = GetParam();
    const auto expectedBlock = Hosting::referenceState (saved);
    ASSERT_GT (expectedBlock.getSize(), 9u) << "the reference program failed";

    // Save from one instance, with the settings and the host's bypass on.
    auto source = prepared (format);
    ASSERT_NE (source, nullptr);

    for (const auto& [id, value] : saved)
    {
        const auto index = Hosting::indexOf (*source, format, id);
        ASSERT_GE (index, 0) << id;
        source->getParameters()[index]->setValue (value);
    }

    ASSERT_NE (source->getBypassParameter(), nullptr);
    source->getBypassParameter()->setValue (1.0f);
    Hosting::runOneBlock (*source);   // the changes reach the plug-in with a block

    juce::MemoryBlock hostState;
    source->getStateInformation (hostState);
    const auto block = Hosting::blockInside (format, hostState);

    if (format == Format::vst3)
        EXPECT_TRUE (startsWith (block, expectedBlock)) << "the component state does not begin with the processor's block";
    else
        EXPECT_TRUE (block == expectedBlock) << "the stored string is not the processor's block";

    std::vector<float> values;

    for (auto* p : source->getParameters())
        values.push_back (p->getValue());

    source.reset();

    // Restore into a fresh one: the host hears of every parameter.
    auto restored = prepared (format);
    ASSERT_NE (restored, nullptr);

    Reports reports;

    for (auto* p : restored->getParameters())
        p->addListener (&reports);

    restored->setStateInformation (hostState.getData(), (int) hostState.getSize());

    // An LV2 plug-in reports its parameters through its output port, in the
    // next block.
    if (format == Format::lv2)
        Hosting::runOneBlock (*restored);

    const auto& parameters = restored->getParameters();
    ASSERT_EQ ((size_t) parameters.size(), values.size());

    for (int i = 0; i < parameters.size(); ++i)
    {
        SCOPED_TRACE (parameters[i]->getName (64));
        EXPECT_FLOAT_EQ (parameters[i]->getValue(), values[(size_t) i]);
        ASSERT_EQ (reports.last.count (i), 1u) << "not reported to the host";

        // The framework's LV2 host tells its listeners the enabled port's own
        // value for its (inverted) bypass, so only what it reads is checked.
        if (format == Format::lv2 && parameters[i] == restored->getBypassParameter())
            continue;

        EXPECT_FLOAT_EQ (reports.last[i], values[(size_t) i]);
    }

    EXPECT_EQ (restored->getBypassParameter()->getValue(), 1.0f);

    for (auto* p : restored->getParameters())
        p->removeListener (&reports);

    // And what it saves again holds the same block.
    juce::MemoryBlock again;
    restored->getStateInformation (again);
    EXPECT_TRUE (Hosting::blockInside (format, again) == block);
}

INSTANTIATE_TEST_SUITE_P (Formats, State, testing::Values (Format::vst3, Format::lv2),
                          [] (const auto& info) { return std::string (Hosting::name (info.param)); });
