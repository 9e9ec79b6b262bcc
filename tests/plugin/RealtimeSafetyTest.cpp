#include "plugin/ProcessorHarness.h"

#include "plugin/ParameterListenerEngine.h"

#include "support/RealtimeGuard.h"

#include <gtest/gtest.h>

// No block may allocate or lock, in any routing, with parameters and routing
// switches changing between blocks.
TEST (RealtimeSafety, BlocksNeitherAllocateNorLock)
{
    struct Case { int inputs; int outputs; float on; float stereo; };
    const Case cases[] = {
        { 2, 2, 0.0f, 1.0f }, { 1, 1, 1.0f, 1.0f }, { 1, 2, 1.0f, 1.0f }, { 2, 2, 1.0f, 0.0f }, { 2, 2, 1.0f, 1.0f },
    };

    for (const auto& c : cases)
    {
        ProcessorHarness h (c.inputs, c.outputs);
        h.prepare (48000.0, 256);
        h.set ("chorus_on", c.on);
        h.set ("stereo_proc", c.stereo);

        auto block = h.signal (256);
        juce::MidiBuffer midi;

        for (int i = 0; i < 40; ++i)
        {
            // Between blocks, as a host would: knobs, and every tenth block a
            // switch there and back.
            h.set ("chorus_depth", (float) (i % 11));
            h.set ("chorus_speed", (float) ((i * 3) % 11));
            h.set ("chorus_mix", (float) ((i * 7) % 11));

            if (i % 10 == 5)
            {
                h.set ("chorus_on", 1.0f - c.on);
                h.set ("chorus_on", c.on);
                h.set ("stereo_proc", 1.0f - c.stereo);
                h.set ("stereo_proc", c.stereo);
            }

            RealtimeGuard guard;

            if (i % 10 == 9)
                h.processor.processBlockBypassed (block, midi);
            else
                h.processor.processBlock (block, midi);

            ASSERT_EQ (guard.allocations(), 0u) << c.inputs << "/" << c.outputs << " block " << i;
            ASSERT_EQ (guard.locks(), 0u) << c.inputs << "/" << c.outputs << " block " << i;
        }
    }
}

// Nor may a block of any shape: no channels or three, no samples or far more
// than prepared.
TEST (RealtimeSafety, OddBlocksNeitherAllocateNorLock)
{
    for (const auto& [inputs, outputs] : { std::pair { 1, 1 }, { 1, 2 }, { 2, 2 } })
    {
        ProcessorHarness h (inputs, outputs);
        h.prepare (48000.0, 64);
        juce::MidiBuffer midi;

        for (int channels = 0; channels <= 3; ++channels)
        {
            for (int samples : { 0, 1, 4096 })
            {
                juce::AudioBuffer<float> block (channels, samples);
                block.clear();

                RealtimeGuard guard;
                h.processor.processBlock (block, midi);
                h.processor.processBlockBypassed (block, midi);
                ASSERT_EQ (guard.allocations(), 0u) << inputs << "/" << outputs << ", " << channels << " x " << samples;
                ASSERT_EQ (guard.locks(), 0u) << inputs << "/" << outputs << ", " << channels << " x " << samples;
            }
        }
    }
}

// The guard itself must see what it is meant to catch.
TEST (RealtimeSafety, GuardCountsAllocationsAndLocks)
{
    juce::CriticalSection lock;
    RealtimeGuard guard;
    auto p = std::make_unique<int> (1);
    const juce::ScopedLock sl (lock);
    EXPECT_GE (guard.allocations(), 1u);
    EXPECT_GE (guard.locks(), 1u);
}

// When the engine cannot be re-sized for a new rate it keeps the old one, at
// which its delays and speed would be wrong by the ratio of the rates: the
// audio passes through dry, as with the chorus off, until a preparation
// succeeds, and the parameters keep reaching the engine meanwhile.
TEST (RealtimeSafety, FailedResizePassesAudioDryUntilAPreparationSucceeds)
{
    ProcessorHarness h (2, 2);
    h.prepare (44100.0);

    {
        LargeAllocationFailure noMemory (100000);
        h.prepare (192000.0);
    }

    auto& engine = h.processor.engine;
    EXPECT_TRUE (h.processor.ready.load());
    EXPECT_EQ (engine.sampleRate, 44100u);
    EXPECT_EQ (engine.routing, &ChorusEngine::processCopy);

    h.set ("chorus_mix", 4.0f);
    EXPECT_EQ (engine.mix.load(), ParameterListenerEngine::mixGainFor (4.0f));
    h.set ("stereo_proc", 0.0f);
    h.set ("stereo_proc", 1.0f);

    auto block = h.signal (512);
    const juce::AudioBuffer<float> input (block);
    h.process (block);
    EXPECT_EQ (engine.routing, &ChorusEngine::processCopy);

    for (int s = 0; s < 512; ++s)
        ASSERT_EQ (block.getSample (1, s), input.getSample (0, s)) << s;

    h.prepare (192000.0);
    EXPECT_EQ (engine.sampleRate, 192000u);
    EXPECT_EQ (engine.routing, &ChorusEngine::processStereo);
    EXPECT_EQ (engine.mix.load(), ParameterListenerEngine::mixGainFor (4.0f));
}
