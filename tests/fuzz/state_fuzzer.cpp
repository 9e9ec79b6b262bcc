// Any bytes as a saved state block: the load must never crash or read out of
// bounds, must set every parameter as the document says or change none, and
// must leave every value legal and the engine following the parameters.

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
    const auto expected = ExpectedState::afterLoading (p, data, (int) size);

    p.setStateInformation (data, (int) size);
    const auto after = ExpectedState::current (p);

    check (after == expected.value_or (before), "the load did not set every parameter as its document says, or changed some of them");
    checkLegal (p);
    check (p.engine.mix.load() == ParameterListenerEngine::mixGainFor (after[3]), "the engine does not follow the parameters");

    // What it saves now loads back to the same values.
    juce::MemoryBlock saved;
    p.getStateInformation (saved);
    p.setStateInformation (saved.getData(), (int) saved.getSize());
    check (ExpectedState::current (p) == after, "the saved state does not load back to the same values");

    return 0;
}
