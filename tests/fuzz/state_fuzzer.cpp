// Any bytes as a saved state block: the load must never crash or read out of
// bounds; it must accept and refuse what an independent XML reader (libxml2,
// with the same limits) accepts and refuses, build the same element tree,
// no deeper than the limit, and set every parameter as the document says or
// change none; and it must leave every value legal and the engine following
// the parameters.

#include "plugin/ParameterListenerEngine.h"
#include "support/ExpectedState.h"

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <limits>

namespace
{
    struct Fixture
    {
        Fixture()
        {
            juce::AudioProcessor::BusesLayout layout;
            layout.inputBuses.add (juce::AudioChannelSet::stereo());
            layout.outputBuses.add (juce::AudioChannelSet::stereo());
            processor.setBusesLayout (layout);
            processor.prepareToPlay (48000.0, 512);

            // Every parameter away from its default, so that a load that
            // changes only some of them shows.
            const float start[] = { 0.0f, 0.33f, 0.71f, 0.04f, 0.0f };
            for (int i = 0; i < 5; ++i)
                processor.getParameters()[i]->setValueNotifyingHost (start[i]);

            processor.getStateInformation (startState);
        }

        juce::ScopedJuceInitialiser_GUI framework;
        Processor processor;
        juce::MemoryBlock startState;
    };

    void check (bool condition, const char* what)
    {
        if (! condition)
        {
            std::fprintf (stderr, "fuzz_state: %s\n", what);
            std::abort();
        }
    }

    void checkLegal (Processor& p)
    {
        for (auto* parameter : p.getParameters())
        {
            const auto v = parameter->getValue();
            check (std::isfinite (v) && v >= 0.0f && v <= 1.0f, "a parameter left outside 0..1");
        }

        const auto& e = p.engine;
        check (e.mix.load() >= 0.0f && e.mix.load() <= 0.75f, "mix out of range");
        check (e.depthPercent.load() >= 0.0f && e.depthPercent.load() <= 100.0f, "depth out of range");
        check (e.speedHz.load() >= 0.02f && e.speedHz.load() <= 5.0f, "speed out of range");
    }

    /** The reader's own tree in the judge's form, for text too costly for
        the judge. */
    ExpectedState::Document documentOf (const juce::XmlElement& root)
    {
        ExpectedState::Document document;
        std::vector<std::pair<const juce::XmlElement*, size_t>> pending { { &root, 0 } };
        document.emplace_back();

        while (! pending.empty())
        {
            const auto [xml, index] = pending.back();
            pending.pop_back();

            document[index].name = xml->getTagName().toStdString();

            for (int i = 0; i < xml->getNumAttributes(); ++i)
                document[index].attributes.emplace_back (xml->getAttributeName (i).toStdString(), xml->getAttributeValue (i).toStdString());

            for (auto* child : xml->getChildIterator())
            {
                document[index].children.push_back (document.size());
                pending.emplace_back (child, document.size());
                document.emplace_back();
            }
        }

        return document;
    }
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    // Kept for the whole run (and reachable, so not a leak).
    static auto& f = *new Fixture();
    auto& p = f.processor;

    if (size > (size_t) std::numeric_limits<int>::max())
        return 0;

    p.setStateInformation (f.startState.getData(), (int) f.startState.getSize());
    const auto before = ExpectedState::current (p);

    const auto judgement = ExpectedState::judge (data, (int) size);
    const auto xml = StateBlock::read (data, (int) size);

    if (xml != nullptr)
        check (ExpectedState::depthOf (*xml) <= StateBlock::maxNesting, "an accepted tree deeper than the limit");

    std::optional<ExpectedState::Values> expected;

    if (judgement.verdict == ExpectedState::Verdict::unjudged)
    {
        if (xml != nullptr)
            expected = ExpectedState::afterLoading (p, documentOf (*xml));
    }
    else
    {
        const bool accepted = judgement.verdict == ExpectedState::Verdict::accepted;
        check (accepted || xml == nullptr, "accepted a block that libxml2 or a limit refuses");
        check (! accepted || xml != nullptr, "refused a block that libxml2 accepts within the limits");

        if (accepted)
        {
            check (ExpectedState::sameElements (*xml, judgement.document), "the element tree differs from libxml2's");
            expected = ExpectedState::afterLoading (p, judgement.document);
        }
    }

    p.setStateInformation (data, (int) size);
    const auto after = ExpectedState::current (p);

    check (after == expected.value_or (before), "the load did not set every parameter as its document says, or changed some of them");
    check (ExpectedState::depthOf (p.parameters.copyState()) <= StateBlock::maxNesting, "a parameter tree deeper than the limit");
    checkLegal (p);
    check (p.engine.mix.load() == ParameterListenerEngine::mixGainFor (after[3]), "the engine does not follow the parameters");

    // What it saves now loads back to the same values.
    juce::MemoryBlock saved;
    p.getStateInformation (saved);
    p.setStateInformation (saved.getData(), (int) saved.getSize());
    check (ExpectedState::current (p) == after, "the saved state does not load back to the same values");

    // The framework keeps the names of every tree in a table of its own,
    // which it tidies only every half minute: tidied here, so that the run's
    // memory stays flat.
    juce::StringPool::getGlobalPool().garbageCollect();
    return 0;
}
