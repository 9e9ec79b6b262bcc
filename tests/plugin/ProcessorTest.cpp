#include "plugin/ProcessorHarness.h"

#include "plugin/ParameterListenerEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

#if defined (__SSE__) || defined (__x86_64__)
 #include <xmmintrin.h>
#endif

using Routing = ChorusEngine::Routing;

TEST (Processor, AnswersTheHostsQuestions)
{
    Processor p;
    EXPECT_EQ (p.getName(), "Tessamune");
    EXPECT_EQ (p.getNumPrograms(), 1);
    EXPECT_EQ (p.getCurrentProgram(), 0);
    EXPECT_EQ (p.getProgramName (0), "");
    EXPECT_EQ (p.getTailLengthSeconds(), 0.0);
    EXPECT_FALSE (p.acceptsMidi());
    EXPECT_FALSE (p.producesMidi());
    EXPECT_TRUE (p.hasEditor());
    EXPECT_FALSE (p.ready.load());
    EXPECT_EQ (p.setup.sampleRate, 0.0);
    EXPECT_EQ (p.engine.sampleRate, 44100u);
    EXPECT_EQ (p.getBusCount (true), 1);
    EXPECT_EQ (p.getBusCount (false), 1);
    EXPECT_EQ (p.getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (p.getBus (false, 0)->getName(), "Output");
}

TEST (Processor, PrepareFollowsRateLayoutAndParameters)
{
    ProcessorHarness h (2, 2);
    h.set ("chorus_depth", 3.0f);   // before the first prepare: dropped, then applied by it
    EXPECT_EQ (h.processor.engine.depthPercent.load(), 50.0f);

    h.prepare (48000.0);
    EXPECT_TRUE (h.processor.ready.load());
    EXPECT_EQ (h.processor.engine.sampleRate, 48000u);
    EXPECT_EQ (h.processor.setup.numOutputChannels, 2);
    EXPECT_EQ (h.processor.engine.depthPercent.load(), 30.0f);
    EXPECT_EQ (h.processor.engine.speedHz.load(), 0.02f);
    EXPECT_EQ (h.processor.engine.mix.load(), 0.75f);
    EXPECT_EQ (h.processor.engine.routing, &ChorusEngine::processStereo);
}

TEST (Processor, KnobValuesMapToEngineControls)
{
    ProcessorHarness h;
    h.prepare();
    auto& e = h.processor.engine;

    h.set ("chorus_depth", 5.0f);
    EXPECT_EQ (e.depthPercent.load(), 50.0f);   // at once, without a block
    h.set ("chorus_speed", 10.0f);
    EXPECT_EQ (e.speedHz.load(), 5.0f);
    h.set ("chorus_speed", 0.0f);
    EXPECT_EQ (e.speedHz.load(), 0.02f);
    h.set ("chorus_speed", 3.7f);
    EXPECT_EQ (e.speedHz.load(), (float) ((double) h.raw ("chorus_speed") * 0.498 + 0.02));
    h.set ("chorus_mix", 10.0f);
    EXPECT_EQ (e.mix.load(), 0.75f);
    h.set ("chorus_mix", 0.0f);
    EXPECT_EQ (e.mix.load(), 0.0f);
    h.set ("chorus_mix", 4.2f);
    EXPECT_EQ (e.mix.load(), (float) ((double) h.raw ("chorus_mix") * 0.075));

    // The voices take the new depth and speed before the next sample.
    h.set ("chorus_depth", 10.0f);
    h.set ("chorus_speed", 10.0f);
    auto block = h.signal (1);
    h.process (block);
    EXPECT_EQ (e.voice[0].depthPercent, 100.0f);
    EXPECT_EQ (e.voice[1].lfo.frequency, 5.0f);
}

TEST (Processor, RoutingFollowsLayoutAndSwitches)
{
    struct Case { int inputs; int outputs; float on; float stereo; Routing expected; };
    const Case cases[] = {
        { 2, 2, 0.0f, 1.0f, ChorusEngine::processCopy },
        { 1, 1, 0.0f, 0.0f, ChorusEngine::processCopy },
        { 1, 1, 1.0f, 1.0f, ChorusEngine::processMono },
        { 1, 1, 1.0f, 0.0f, ChorusEngine::processMono },
        { 1, 2, 1.0f, 1.0f, ChorusEngine::processMonoToStereo },
        { 1, 2, 1.0f, 0.0f, ChorusEngine::processMonoToStereo },
        { 2, 2, 1.0f, 0.0f, ChorusEngine::processMonoToStereo },
        { 2, 2, 1.0f, 1.0f, ChorusEngine::processStereo },
    };

    for (const auto& c : cases)
    {
        ProcessorHarness h (c.inputs, c.outputs);
        h.prepare();
        h.set ("chorus_on", c.on);
        h.set ("stereo_proc", c.stereo);

        auto block = h.signal (16);
        h.process (block);
        EXPECT_EQ (h.processor.engine.routing, c.expected)
            << c.inputs << " in, " << c.outputs << " out, on " << c.on << ", stereo " << c.stereo;

        // Re-preparing selects the same routing from the parameters directly.
        h.prepare();
        EXPECT_EQ (h.processor.engine.routing, c.expected);
    }
}

TEST (Processor, SwitchesApplyAtTheNextBlockAndAllAreConsumed)
{
    ProcessorHarness h (2, 2);
    h.prepare();

    h.set ("chorus_on", 0.0f);
    EXPECT_EQ (h.processor.engine.routing, &ChorusEngine::processStereo);   // not yet

    auto block = h.signal (64);
    h.process (block);
    EXPECT_EQ (h.processor.engine.routing, &ChorusEngine::processCopy);
    EXPECT_EQ (block.getReadPointer (0)[10], block.getReadPointer (1)[10]);

    // Far more messages than the queue first holds, with no block between.
    for (int i = 0; i < 41; ++i)
    {
        h.set ("chorus_on", (float) (i % 2));
        h.set ("stereo_proc", (float) ((i / 2) % 2));
    }

    h.process (block);
    EXPECT_EQ (h.raw ("chorus_on"), 0.0f);
    EXPECT_EQ (h.processor.engine.routing, &ChorusEngine::processCopy);

    h.set ("chorus_on", 1.0f);
    h.set ("stereo_proc", 0.0f);
    h.process (block);
    EXPECT_EQ (h.processor.engine.routing, &ChorusEngine::processMonoToStereo);

    // Nothing left over for the block after.
    h.processor.engine.routing = ChorusEngine::processMono;
    h.process (block);
    EXPECT_EQ (h.processor.engine.routing, &ChorusEngine::processMono);
}

TEST (Processor, OutputCountIsTheOneOfTheLastPrepareInputCountIsLive)
{
    ProcessorHarness h (2, 2);
    h.prepare();
    ASSERT_TRUE (h.setLayout (1, 1));

    h.set ("stereo_proc", 0.0f);
    h.set ("stereo_proc", 1.0f);
    juce::AudioBuffer<float> block (2, 32);
    block.clear();
    h.process (block);
    EXPECT_EQ (h.processor.engine.routing, &ChorusEngine::processMonoToStereo);   // 1 input now, 2 outputs then
}

TEST (Processor, ChangesWhileNotReadyAreDroppedUntilTheRefresh)
{
    ProcessorHarness h;
    h.set ("chorus_mix", 2.0f);
    h.set ("chorus_on", 0.0f);
    EXPECT_EQ (h.processor.engine.mix.load(), 0.75f);
    EXPECT_EQ (h.processor.engine.routing, &ChorusEngine::processCopy);

    h.processor.setCurrentProgram (3);   // not prepared: nothing happens
    EXPECT_EQ (h.processor.engine.mix.load(), 0.75f);

    h.prepare();
    EXPECT_EQ (h.processor.engine.mix.load(), 0.15f);
    EXPECT_EQ (h.processor.engine.routing, &ChorusEngine::processCopy);   // chorus_on 0, applied by the prepare

    h.set ("chorus_on", 1.0f);
    auto block = h.signal (16);
    h.process (block);
    EXPECT_EQ (h.processor.engine.routing, &ChorusEngine::processStereo);

    // After a prepare, any program index refreshes everything.
    h.processor.engine.mix = 0.5f;
    h.processor.engine.depthPercent = 99.0f;
    h.processor.setCurrentProgram (7);
    EXPECT_EQ (h.processor.engine.mix.load(), 0.15f);
    EXPECT_EQ (h.processor.engine.depthPercent.load(), 0.0f);
}

// A rate the engine refuses is not recorded: the engine goes on at the last
// usable rate, and every later refresh (a program change, a state load) still
// reaches it.
TEST (Processor, UnusableSampleRatesKeepTheLastValidConfiguration)
{
    const double rates[] = { 0.0, -48000.0, 10.0, 49.9, std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(), 1.0e12 };

    for (double rate : rates)
    {
        for (bool preparedBefore : { true, false })
        {
            SCOPED_TRACE (juce::String (rate) + (preparedBefore ? " after 48000" : " first"));
            ProcessorHarness h (2, 2);

            if (preparedBefore)
                h.prepare (48000.0);

            h.prepare (rate);
            const auto engineRate = preparedBefore ? 48000u : 44100u;
            EXPECT_EQ (h.processor.engine.sampleRate, engineRate);
            EXPECT_EQ (h.processor.setup.sampleRate, (double) engineRate);

            h.set ("chorus_depth", 7.0f);
            EXPECT_EQ (h.processor.engine.depthPercent.load(), 70.0f);

            juce::MemoryBlock state;
            ProcessorHarness other;
            other.set ("chorus_mix", 2.0f);
            other.processor.getStateInformation (state);
            h.processor.setStateInformation (state.getData(), (int) state.getSize());
            EXPECT_EQ (h.processor.engine.mix.load(), 0.15f);

            auto block = h.signal (256);
            h.process (block);
            EXPECT_TRUE (std::isfinite (block.getMagnitude (0, 256)));
        }
    }
}

TEST (Processor, BypassCopiesTheFirstChannelOnlyToOutputsWithoutInput)
{
    {
        ProcessorHarness h (1, 2);
        h.prepare();
        auto block = h.signal (128);
        const auto input = std::vector<float> (block.getReadPointer (0), block.getReadPointer (0) + 128);
        juce::MidiBuffer midi;
        h.processor.processBlockBypassed (block, midi);

        for (int s = 0; s < 128; ++s)
        {
            ASSERT_EQ (block.getSample (0, s), input[(size_t) s]);
            ASSERT_EQ (block.getSample (1, s), input[(size_t) s]);
        }
    }
    {
        ProcessorHarness h (2, 2);
        h.prepare();
        auto block = h.signal (128);
        const juce::AudioBuffer<float> before (block);
        juce::MidiBuffer midi;
        h.processor.processBlockBypassed (block, midi);

        for (int c = 0; c < 2; ++c)
            for (int s = 0; s < 128; ++s)
                ASSERT_EQ (block.getSample (c, s), before.getSample (c, s));

        juce::AudioBuffer<float> empty (2, 0);
        h.processor.processBlockBypassed (empty, midi);
    }
}

// The host's bypass, switched while audio plays: the output fades between
// the chorus and the dry signal, so no step at a switch is larger than the
// steps the output takes anyway; the chorus keeps running on the input while
// bypassed, so that switched back on it sounds exactly as if it had never
// been bypassed; and once a fade is over, the output is exactly the dry
// input or exactly the chorus's.
namespace
{
    struct BypassRun
    {
        std::vector<std::vector<float>> out;   // per channel, every block one after another
    };

    // A 0.5 sine at 441 Hz for the first `toneBlocks` blocks, then silence;
    // bypassed in the blocks `bypassed` says.
    BypassRun runWithBypass (int ins, int outs, int blocks, int toneBlocks, const std::function<bool (int)>& bypassed)
    {
        constexpr int blockSize = 64;
        ProcessorHarness h (ins, outs);
        h.prepare (44100.0, blockSize);
        h.set ("chorus_depth", 5.0f);
        h.set ("chorus_speed", 5.0f);
        h.set ("chorus_mix", 5.0f);

        BypassRun run;
        run.out.resize ((size_t) outs);
        juce::MidiBuffer midi;

        for (int b = 0; b < blocks; ++b)
        {
            juce::AudioBuffer<float> block (std::max (ins, outs), blockSize);
            block.clear();

            for (int c = 0; c < ins; ++c)
                for (int s = 0; s < blockSize; ++s)
                    block.setSample (c, s, b < toneBlocks ? 0.5f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 441.0 * (b * blockSize + s) / 44100.0) : 0.0f);

            if (bypassed (b))
                h.processor.processBlockBypassed (block, midi);
            else
                h.processor.processBlock (block, midi);

            for (int c = 0; c < outs; ++c)
                run.out[(size_t) c].insert (run.out[(size_t) c].end(), block.getReadPointer (c), block.getReadPointer (c) + blockSize);
        }

        return run;
    }

    float largestStep (const std::vector<float>& x, size_t from, size_t to)
    {
        float largest = 0.0f;

        for (auto s = std::max<size_t> (from, 1); s < std::min (to, x.size()); ++s)
            largest = std::max (largest, std::abs (x[s] - x[s - 1]));

        return largest;
    }
}

TEST (Processor, BypassSwitchesWithoutAClick)
{
    constexpr size_t blockSize = 64;
    constexpr int blocks = 200;
    const auto switches = [] (int b) { return (b >= 50 && b < 80) || (b >= 120 && b < 150); };

    for (const auto& [ins, outs] : { std::pair { 1, 1 }, std::pair { 1, 2 }, std::pair { 2, 2 } })
    {
        SCOPED_TRACE (std::to_string (ins) + " in, " + std::to_string (outs) + " out");
        const auto run = runWithBypass (ins, outs, blocks, blocks, switches);

        for (const auto& channel : run.out)
        {
            // What the output does by itself, steady on and steady off, well
            // away from any switch.
            const auto steady = std::max ({ largestStep (channel, 20 * blockSize, 50 * blockSize),
                                            largestStep (channel, 60 * blockSize, 80 * blockSize),
                                            largestStep (channel, 90 * blockSize, 120 * blockSize) });

            // A fade's own slope adds a few thousandths at most (the
            // chorus's share of the output over 441 samples); a click is a
            // step many times the steady ones.
            for (const size_t at : { 50u, 80u, 120u, 150u })
                EXPECT_LE (largestStep (channel, (at - 2) * blockSize, (at + 10) * blockSize), 1.01f * steady) << "switch at block " << at;
        }
    }
}

TEST (Processor, BypassedChorusKeepsRunningAndFadesEndExactly)
{
    constexpr size_t blockSize = 64;
    constexpr int blocks = 160;

    for (const auto& [ins, outs] : { std::pair { 1, 1 }, std::pair { 1, 2 }, std::pair { 2, 2 } })
    {
        SCOPED_TRACE (std::to_string (ins) + " in, " + std::to_string (outs) + " out");

        // A tone, then bypass from block 40, silence from block 60, and the
        // chorus on again at block 100, still in silence.
        const auto bypassed = runWithBypass (ins, outs, blocks, 60, [] (int b) { return b >= 40 && b < 100; });
        const auto neverBypassed = runWithBypass (ins, outs, blocks, 60, [] (int) { return false; });
        const auto dry = runWithBypass (ins, outs, blocks, 60, [] (int) { return true; });

        // 10 ms at 44.1 kHz is 441 samples: every fade is over within 7 blocks.
        for (size_t c = 0; c < (size_t) outs; ++c)
        {
            const auto& x = bypassed.out[c];
            EXPECT_TRUE (std::equal (x.begin() + 47 * blockSize, x.begin() + 100 * blockSize, dry.out[c].begin() + 47 * blockSize)) << "channel " << c;
            EXPECT_TRUE (std::equal (x.begin() + 107 * blockSize, x.end(), neverBypassed.out[c].begin() + 107 * blockSize)) << "channel " << c;

            // Switched on in silence long after the tone: nothing of the tone
            // comes back.
            EXPECT_TRUE (std::all_of (x.begin() + 100 * blockSize, x.end(), [] (float v) { return v == 0.0f; })) << "channel " << c;
        }
    }
}

struct ListenerEngineProbe
{
    static juce::SpinLock& producerLock (Processor& p)
    {
        return static_cast<ParameterListenerEngine&> (*p.stateMachine).producerLock;
    }
};

// A switch that arrives while another thread is posting one must not be lost:
// with the queue's producer side taken, it is handed over another way, and
// the next block still follows it.
TEST (Processor, SwitchPostedWhileTheQueueIsBusyIsNotLost)
{
    ProcessorHarness h (2, 2);
    h.prepare();

    {
        const juce::SpinLock::ScopedLockType busy (ListenerEngineProbe::producerLock (h.processor));
        h.set ("stereo_proc", 0.0f);
    }

    auto block = h.signal (64);
    h.process (block);
    EXPECT_EQ (h.processor.engine.routing, &ChorusEngine::processMonoToStereo);

    // Handed over once: the block after changes nothing.
    h.processor.engine.routing = ChorusEngine::processMono;
    h.process (block);
    EXPECT_EQ (h.processor.engine.routing, &ChorusEngine::processMono);
}

// Host threads switching the chorus and the mode at once while audio runs:
// nothing is lost, and once they stop the next block follows the final values.
TEST (Processor, SwitchesFromSeveralThreadsAtOnce)
{
    ProcessorHarness h (2, 2);
    h.prepare();
    std::atomic<bool> stop { false };

    std::thread audio ([&]
    {
        auto block = h.signal (64);
        while (! stop.load())
            h.process (block);
    });

    auto switcher = [&] (const char* id, int phase)
    {
        for (int i = 0; i < 2000; ++i)
            h.set (id, (float) ((i + phase) % 2));
    };

    std::thread first (switcher, "chorus_on", 0), second (switcher, "stereo_proc", 1);
    first.join();
    second.join();
    stop = true;
    audio.join();

    auto block = h.signal (64);
    h.process (block);

    const bool on = h.raw ("chorus_on") != 0.0f, stereo = h.raw ("stereo_proc") != 0.0f;
    const Routing expected = ! on ? ChorusEngine::processCopy
                           : stereo ? ChorusEngine::processStereo : ChorusEngine::processMonoToStereo;
    EXPECT_EQ (h.processor.engine.routing, expected);
}

#if defined (__SSE__) || defined (__x86_64__)
namespace
{
    constexpr unsigned int flushToZero = 0x8040;   // MXCSR's FTZ and DAZ bits
    constexpr unsigned int exceptionFlags = 0x3f;  // sticky status bits, set by any arithmetic

    /** The test thread's floating-point mode for a scope, as a host might
        leave it on its audio thread. */
    struct HostMode
    {
        explicit HostMode (unsigned int bits) { _mm_setcsr ((original & ~flushToZero) | bits); }
        ~HostMode() { _mm_setcsr (original); }

        const unsigned int original = _mm_getcsr();
    };

    unsigned int modeNow() { return _mm_getcsr() & ~exceptionFlags; }

    /** Noise at +-level, no sample nearer zero than level / 2. */
    juce::AudioBuffer<float> noiseAt (int channels, int samples, double level, uint32_t seed)
    {
        juce::AudioBuffer<float> buffer (channels, samples);
        uint32_t state = seed;

        for (int c = 0; c < channels; ++c)
        {
            for (int s = 0; s < samples; ++s)
            {
                state = state * 1664525u + 1013904223u;
                const double u = (double) (state >> 8) / 16777216.0;   // 0 to 1
                buffer.setSample (c, s, (float) ((u < 0.5 ? -level : level) * (0.5 + std::fabs (u - 0.5))));
            }
        }

        return buffer;
    }
}

// Whatever mode the host's thread is in, the block leaves it as it found it.
TEST (Processor, BlockLeavesTheHostsFloatingPointModeAsItFoundIt)
{
    for (unsigned int hostBits : { 0u, flushToZero, 0x8000u, 0x0040u })
    {
        for (const bool bypassed : { false, true })
        {
            ProcessorHarness h (2, 2);
            h.prepare (48000.0, 256);
            h.set ("chorus_on", 1.0f);
            auto block = noiseAt (2, 256, 1.0e-39, 5);
            juce::MidiBuffer midi;

            const HostMode host (hostBits);
            const auto before = modeNow();

            if (bypassed)
                h.processor.processBlockBypassed (block, midi);
            else
                h.processor.processBlock (block, midi);

            EXPECT_EQ (modeNow(), before) << std::hex << "host mode bits " << hostBits << (bypassed ? ", bypassed" : "");
        }
    }
}

// Input at subnormal level, far below audibility (a reverb's tail that
// nothing flushed), comes out as silence in every routing, and never as
// anything but a finite number.
TEST (Processor, SubnormalInputComesOutAsSilence)
{
    struct Case { int inputs; int outputs; float stereo; };

    for (const auto& c : { Case { 2, 2, 1.0f }, Case { 2, 2, 0.0f }, Case { 1, 2, 1.0f }, Case { 1, 1, 1.0f } })
    {
        ProcessorHarness h (c.inputs, c.outputs);
        h.prepare (48000.0, 512);
        h.set ("chorus_on", 1.0f);
        h.set ("stereo_proc", c.stereo);
        h.set ("chorus_depth", 5.0f);
        h.set ("chorus_speed", 5.0f);
        h.set ("chorus_mix", 10.0f);

        const HostMode host (0);

        for (int b = 0; b < 200; ++b)
        {
            auto block = noiseAt (std::max (c.inputs, c.outputs), 512, b % 2 == 0 ? 1.0e-39 : 1.0e-44, (uint32_t) b);
            h.process (block);

            for (int ch = 0; ch < block.getNumChannels(); ++ch)
                for (int s = 0; s < 512; ++s)
                    ASSERT_EQ (block.getSample (ch, s), 0.0f)
                        << c.inputs << " in, " << c.outputs << " out, mode " << c.stereo << ", block " << b << ", channel " << ch;
        }
    }
}

// Flushing touches nothing but values below the normal range: audio down to
// about 7e-15 (2^-47) comes out of the processor bit for bit as the engine
// gives it without flushing, at the extreme knob positions.
TEST (Processor, NormalAudioComesOutBitForBitAsWithoutFlushing)
{
    struct Case { double rate; float stereo; float depth; float speed; float mix; double level; };
    const Case cases[] = {
        { 48000.0, 1.0f, 5.0f, 5.0f, 10.0f, 0.5 },    { 44100.0, 1.0f, 10.0f, 10.0f, 0.1f, 0.5 },
        { 48000.0, 1.0f, 10.0f, 0.0f, 0.1f, 1.5e-14 }, { 44100.0, 1.0f, 0.0f, 10.0f, 10.0f, 1.5e-14 },
        { 96000.0, 0.0f, 10.0f, 10.0f, 0.1f, 1.5e-14 }, { 48000.0, 0.0f, 5.0f, 5.0f, 10.0f, 1.0e-6 },
    };

    const HostMode host (0);

    for (const auto& c : cases)
    {
        ProcessorHarness h (2, 2);
        h.prepare (c.rate, 256);
        h.set ("chorus_on", 1.0f);
        h.set ("stereo_proc", c.stereo);
        h.set ("chorus_depth", c.depth);
        h.set ("chorus_speed", c.speed);
        h.set ("chorus_mix", c.mix);

        ChorusEngine reference ((int32_t) c.rate);
        reference.depthPercent = ParameterListenerEngine::depthPercentFor (c.depth);
        reference.speedHz = ParameterListenerEngine::speedHzFor (c.speed);
        reference.mix = ParameterListenerEngine::mixGainFor (c.mix);
        reference.applyControls();
        reference.selectRouting (c.stereo != 0.0f ? 2 : 1, 2);

        for (int b = 0; b < 400; ++b)
        {
            auto block = noiseAt (2, 256, c.level, (uint32_t) b + 1);
            auto expected = block;
            h.process (block);
            reference.process (expected);

            for (int ch = 0; ch < 2; ++ch)
                for (int s = 0; s < 256; ++s)
                    ASSERT_EQ (block.getSample (ch, s), expected.getSample (ch, s))
                        << c.rate << " Hz, level " << c.level << ", mix " << c.mix << ", block " << b << ", channel " << ch;
        }
    }
}
#endif
