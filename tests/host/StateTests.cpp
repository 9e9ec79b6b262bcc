// The processor's state block travels unchanged inside each format's state,
// and restoring it reports every parameter's value back to the host.

#include "Hosting.h"
#include "../support/ScopedLocale.h"
#include "../support/StateBlocks.h"

#include <gtest/gtest.h>

#include <clocale>

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

    /** A host's saved state with the processor's block replaced by another
        (for VST3 the wrapper's private data stays after it). */
    juce::MemoryBlock withBlock (Format format, const juce::MemoryBlock& hostState, const juce::MemoryBlock& block)
    {
        if (format == Format::vst3)
        {
            auto xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize());
            auto* component = xml != nullptr ? xml->getChildByName ("IComponent") : nullptr;

            if (component == nullptr)
                return {};

            juce::MemoryBlock data;
            data.fromBase64Encoding (component->getAllSubText());

            if (data.getSize() < 9)
                return {};

            const auto ownSize = 9 + (size_t) juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data.getData(), 4));

            if (ownSize > data.getSize())
                return {};

            auto replaced = block;
            replaced.append (juce::addBytesToPointer (data.getData(), ownSize), data.getSize() - ownSize);
            component->deleteAllTextElements();
            component->addTextElement (replaced.toBase64Encoding());

            juce::MemoryBlock result;
            juce::AudioProcessor::copyXmlToBinary (*xml, result);
            return result;
        }

        const auto text = hostState.toString();
        const auto key = text.indexOf (":StateString");
        const auto open = text.indexOf (key, "\"");
        const auto close = text.indexOf (open + 1, "\"");

        if (key < 0 || open <= key || close <= open)
            return {};

        const auto replaced = text.substring (0, open + 1) + block.toBase64Encoding() + text.substring (close);
        return juce::MemoryBlock (replaced.toRawUTF8(), replaced.getNumBytesAsUTF8());
    }

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

// Blocks made to crash or freeze a host through an XML reader, and blocks
// that a reader depending on the C library's locale would treat differently
// under the host's locale: each is refused whole, or loaded, in either
// locale, and the plug-in goes on working.
TEST_P (State, CraftedBlocksAreRefusedOrLoadedCleanlyInAnyLocale)
{
    const auto format = GetParam();

    struct Case { const char* name; std::string text; bool loads; };
    const Case cases[] = {
        { "nesting behind a comment", StateBlocks::nestingBehindComment (35000), false },
        { "nesting behind an unquoted value", StateBlocks::nestingBehindUnquotedValue (35000), false },
        { "many attributes", StateBlocks::manyAttributes (40000), false },
        { "non-ASCII attribute name", "<ChorusID><PARAM id=\"chorus_depth\" value=\"7\" not\xc3\xa4=\"x\"/></ChorusID>", true },
        { "ideographic space between attributes", "<ChorusID><PARAM id=\"chorus_depth\" value=\"7\"\xe3\x80\x80note=\"x\"/></ChorusID>", false },
    };

    auto source = prepared (format);
    ASSERT_NE (source, nullptr);

    for (const auto& [id, value] : saved)
        source->getParameters()[Hosting::indexOf (*source, format, id)]->setValue (value);

    Hosting::runOneBlock (*source);
    juce::MemoryBlock hostState;
    source->getStateInformation (hostState);
    source.reset();

    auto instance = prepared (format);
    ASSERT_NE (instance, nullptr);
    const auto depth = Hosting::indexOf (*instance, format, "chorus_depth");
    ASSERT_GE (depth, 0);

    const auto restore = [&] (const juce::MemoryBlock& state)
    {
        instance->setStateInformation (state.getData(), (int) state.getSize());

        // An LV2 plug-in reports its parameters in the next block.
        if (format == Format::lv2)
            Hosting::runOneBlock (*instance);
    };

    for (const auto* locale : { "C", "C.UTF-8" })
    {
        const ScopedLocale scoped (locale);
        ASSERT_TRUE (scoped.isSet) << locale;

        for (const auto& c : cases)
        {
            SCOPED_TRACE (juce::String (c.name) + ", locale " + locale);
            restore (hostState);

            std::vector<float> before;
            for (auto* p : instance->getParameters())
                before.push_back (p->getValue());

            const auto crafted = withBlock (format, hostState, StateBlocks::around (c.text));
            ASSERT_GT (crafted.getSize(), 0u);
            restore (crafted);

            if (c.loads)
            {
                // The LV2 host's parameters are its own control ports, which a
                // restored state does not move (the state wins over them); the
                // value the plug-in holds is checked in what it saves, below.
                if (format == Format::vst3)
                    EXPECT_FLOAT_EQ (instance->getParameters()[depth]->getValue(), 0.7f);
            }
            else
            {
                for (int i = 0; i < instance->getParameters().size(); ++i)
                    EXPECT_EQ (instance->getParameters()[i]->getValue(), before[(size_t) i]) << instance->getParameters()[i]->getName (64);
            }

            // Still working, and what it saves is the block it holds.
            Hosting::runOneBlock (*instance);
            juce::MemoryBlock again;
            instance->getStateInformation (again);
            const auto block = Hosting::blockInside (format, again);
            ASSERT_GT (block.getSize(), 9u);
            const auto length = juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (block.getData(), 4));
            ASSERT_LE ((size_t) length + 9, block.getSize());
            const auto document = juce::String::fromUTF8 (static_cast<const char*> (block.getData()) + 8, (int) length);
            EXPECT_EQ (document.contains (juce::CharPointer_UTF8 ("not\xc3\xa4=\"x\"")), c.loads) << document;
            EXPECT_EQ (document.contains ("id=\"chorus_depth\" value=\"7\""), c.loads) << document;
        }
    }
}

INSTANTIATE_TEST_SUITE_P (Formats, State, testing::Values (Format::vst3, Format::lv2),
                          [] (const auto& info) { return std::string (Hosting::name (info.param)); });
