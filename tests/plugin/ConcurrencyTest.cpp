#include "plugin/ProcessorHarness.h"

#include "plugin/ParameterListenerEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

namespace
{
    // Seconds the stress test runs; TESSAMUNE_STRESS_SECONDS overrides it
    // (the ThreadSanitizer build runs it longer, at a tenth of the speed).
    double stressSeconds()
    {
        if (const char* text = std::getenv ("TESSAMUNE_STRESS_SECONDS"))
            return std::atof (text);

        return 4.0;
    }

    ChorusEngine::Routing routingFor (float on, float stereo)
    {
        return on == 0.0f ? ChorusEngine::processCopy
             : stereo == 0.0f ? ChorusEngine::processMonoToStereo : ChorusEngine::processStereo;
    }

    // Cheap, deterministic per thread, never locks.
    struct Noise
    {
        explicit Noise (uint32_t seed) : state (seed * 2654435761u + 1u) {}

        uint32_t next() noexcept
        {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            return state;
        }

        float unit() noexcept { return (float) (next() >> 8) / 16777216.0f; }   // 0 <= u < 1

        uint32_t state;
    };
}

// Everything a host may do at once, round after round: an audio thread runs
// blocks as a host's wrapper does (it tests the suspended flag before it takes
// the callback lock, so a block can slip past a suspension that is just
// starting); two threads automate all five parameters, switches included;
// another saves and restores the state; the message thread prepares at
// changing rates and changes the program. The output must stay finite and
// within 1.75 times the input's peak (dry plus at most 0.75 of a delayed
// copy), and when the threads stop, the next block must follow the final
// parameters exactly.
TEST (Concurrency, EverythingAHostDoesAtOnce)
{
    constexpr float inputPeak = 0.5f;
    constexpr float outputBound = 1.75f * inputPeak * (1.0f + 1.0e-6f);
    constexpr int maxBlock = 512;

    ProcessorHarness h (2, 2);
    auto& p = h.processor;
    h.prepare (48000.0, maxBlock);

    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double> (stressSeconds());
    int rounds = 0;
    long blocks = 0;

    while (rounds == 0 || std::chrono::steady_clock::now() < end)
    {
        ++rounds;
        std::atomic<bool> stop { false };
        std::atomic<long> badSamples { 0 }, blocksRun { 0 };

        std::thread audio ([&]
        {
            juce::AudioBuffer<float> buffer (2, maxBlock);
            juce::MidiBuffer midi;
            Noise noise ((uint32_t) rounds);

            while (! stop.load())
            {
                const int n = 1 + (int) (noise.next() % maxBlock);
                buffer.setSize (2, n, false, false, true);

                for (int c = 0; c < 2; ++c)
                    for (int s = 0; s < n; ++s)
                        buffer.setSample (c, s, inputPeak * (2.0f * noise.unit() - 1.0f));

                if (p.isSuspended())
                {
                    buffer.clear();
                }
                else
                {
                    // A host thread can be preempted between the test and
                    // the lock: then the block runs once a suspension that
                    // started meanwhile releases the lock.
                    std::this_thread::yield();
                    const juce::ScopedLock lock (p.getCallbackLock());

                    if (noise.next() % 16 == 0)
                        p.processBlockBypassed (buffer, midi);
                    else
                        p.processBlock (buffer, midi);
                }

                for (int c = 0; c < 2; ++c)
                    for (int s = 0; s < n; ++s)
                        if (! (std::abs (buffer.getSample (c, s)) <= outputBound))
                            ++badSamples;

                ++blocksRun;
            }
        });

        // Two automation threads: any parameter at first; at the end of the
        // round, while nothing else runs, each flips one of the switches as
        // fast as it can, so that both post routing changes at once.
        std::atomic<bool> switchesOnly { false };

        auto automation = [&] (uint32_t seed, const char* ownSwitch)
        {
            Noise noise (seed);
            auto& params = p.getParameters();
            auto* own = p.parameters.getParameter (ownSwitch);

            while (! stop.load())
            {
                auto* parameter = switchesOnly.load() ? own : params[(int) (noise.next() % 5)];
                const auto value = parameter->getNumSteps() == 2 ? (float) (noise.next() % 2) : noise.unit();
                parameter->beginChangeGesture();
                parameter->setValueNotifyingHost (value);
                parameter->endChangeGesture();

                if (! switchesOnly.load())
                    std::this_thread::yield();
            }
        };

        std::thread automationA (automation, 1000u + (uint32_t) rounds, "chorus_on"),
                    automationB (automation, 2000u + (uint32_t) rounds, "stereo_proc");

        std::atomic<bool> stopState { false };

        std::thread state ([&]
        {
            std::vector<juce::MemoryBlock> saved;
            Noise noise (3000u + (uint32_t) rounds);

            while (! stopState.load())
            {
                saved.emplace_back();
                p.getStateInformation (saved.back());
                const auto& block = saved[noise.next() % saved.size()];
                p.setStateInformation (block.getData(), (int) block.getSize());
                std::this_thread::sleep_for (std::chrono::microseconds (300));
            }
        });

        // The message thread: prepares at changing rates, changes programs.
        Noise noise (4000u + (uint32_t) rounds);
        const auto roundEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds (150);

        while (std::chrono::steady_clock::now() < roundEnd)
        {
            if (noise.next() % 3 == 0)
                p.prepareToPlay (noise.next() % 2 == 0 ? 44100.0 : 48000.0, maxBlock);
            else
                p.setCurrentProgram ((int) (noise.next() % 3));

            std::this_thread::sleep_for (std::chrono::microseconds (500));
        }

        stopState = true;
        state.join();
        switchesOnly = true;
        std::this_thread::sleep_for (std::chrono::milliseconds (20));

        stop = true;
        audio.join();
        automationA.join();
        automationB.join();
        blocks += blocksRun.load();

        ASSERT_EQ (badSamples.load(), 0) << "round " << rounds;

        // The next block follows the final parameters.
        auto block = h.signal (64);
        h.process (block);

        const auto& e = p.engine;
        ASSERT_EQ (e.routing, routingFor (h.raw ("chorus_on"), h.raw ("stereo_proc"))) << "round " << rounds;
        ASSERT_EQ (e.mix.load(), ParameterListenerEngine::mixGainFor (h.raw ("chorus_mix"))) << "round " << rounds;
        ASSERT_EQ (e.depthPercent.load(), ParameterListenerEngine::depthPercentFor (h.raw ("chorus_depth"))) << "round " << rounds;
        ASSERT_EQ (e.speedHz.load(), ParameterListenerEngine::speedHzFor (h.raw ("chorus_speed"))) << "round " << rounds;

        for (const auto& v : e.voice)
        {
            ASSERT_EQ (v.depthPercent, e.depthPercent.load()) << "round " << rounds;
            ASSERT_EQ (v.lfo.frequency, e.speedHz.load()) << "round " << rounds;
        }
    }

    RecordProperty ("rounds", rounds);
    RecordProperty ("blocks", (int) blocks);
    EXPECT_GT (blocks, rounds);
}
