// The signal path's cost per frame in each routing, the same through the
// processor, a signal that decays into the subnormal range, construction of
// the engine and of the processor, and saving and loading the state.
//
// Settings as a user would leave them: chorus on, depth 5, speed 5, mix 10
// (depth 50 %, 2.51 Hz, wet gain 0.75), 48 kHz.
#include "dsp/ChorusEngine.h"
#include "dsp/ChorusKernels.h"
#include "plugin/Parameters.h"
#include "plugin/Processor.h"

#include "BenchContext.h"
#include "PreparedProcessor.h"

#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

#include <cmath>
#include <vector>

namespace
{
    constexpr int rate = 48000;
    constexpr float depthPercent = 50.0f;       // depth knob 5
    constexpr float speedHz = 5.0f * 0.498f + 0.02f;
    constexpr float mixGain = 0.75f;            // mix knob 10

    // Two seconds of input per channel, fed block after block, so the
    // oscillator and the delay lines see a changing signal.
    std::vector<std::vector<float>> makeSignal (int channels, bool decaying)
    {
        std::vector<std::vector<float>> signal ((size_t) channels, std::vector<float> ((size_t) (2 * rate)));

        for (int c = 0; c < channels; ++c)
        {
            for (int s = 0; s < 2 * rate; ++s)
            {
                // Decaying: from 1e-30 at the start of the two seconds down
                // past the smallest subnormal (about 1.4e-45) at the end.
                const double level = decaying ? 1.0e-30 * std::pow (1.0e-17, (double) s / (2.0 * rate)) : 0.3;
                signal[(size_t) c][(size_t) s] = (float) (level * std::sin (0.01 * s * (c + 1) + 0.3 * std::sin (0.0007 * s)));
            }
        }

        return signal;
    }

    /** Copies the next block of the looping input into the buffer. */
    struct Feed
    {
        Feed (int channels, bool decaying) : signal (makeSignal (channels, decaying)) {}

        void next (juce::AudioBuffer<float>& buffer)
        {
            const int n = buffer.getNumSamples();
            if (position + n > (int) signal[0].size())
                position = 0;

            for (int c = 0; c < buffer.getNumChannels(); ++c)
                buffer.copyFrom (c, 0, signal[(size_t) std::min (c, (int) signal.size() - 1)].data() + position, n);

            position += n;
        }

        std::vector<std::vector<float>> signal;
        int position = 0;
    };

    void perFrame (benchmark::State& state, int blockSize)
    {
        state.SetItemsProcessed (state.iterations() * blockSize);
        state.counters["ns_per_frame"] = benchmark::Counter ((double) state.iterations() * blockSize,
                                                             benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    }

    void runEngine (benchmark::State& state, ChorusEngine::Routing routing, int channels, bool decaying)
    {
        const int blockSize = (int) state.range (0);
        ChorusEngine engine (rate);
        engine.routing = routing;
        engine.depthPercent = depthPercent;
        engine.speedHz = speedHz;
        engine.mix = mixGain;
        engine.applyControls();

        juce::AudioBuffer<float> buffer (channels, blockSize);
        Feed feed (channels, decaying);

        // Fill the delay lines first, so that the timed blocks read the signal.
        for (int i = 0; i < rate / blockSize; ++i)
        {
            feed.next (buffer);
            engine.process (buffer);
        }

        for (auto _ : state)
        {
            // Copying the next input is part of every block in a host too.
            feed.next (buffer);
            engine.process (buffer);
            benchmark::DoNotOptimize (buffer.getReadPointer (0));
        }

        perFrame (state, blockSize);
    }

    void engineBlock (benchmark::State& state, ChorusEngine::Routing routing, int channels)
    {
        runEngine (state, routing, channels, false);
    }

    void engineSubnormal (benchmark::State& state, ChorusEngine::Routing routing, int channels)
    {
        runEngine (state, routing, channels, true);
    }

    /** The stereo routing with the vector code restricted to one instruction
        set (the argument's bit), to compare them. */
    void engineInstructionSet (benchmark::State& state)
    {
        const int64_t target = int64_t { 1 } << state.range (1);

        if ((target & ChorusKernels::supportedTargets()) == 0)
        {
            state.SkipWithError ("not supported by this processor");
            return;
        }

        ChorusKernels::useOnly (target);
        state.SetLabel (ChorusKernels::activeTarget());
        runEngine (state, ChorusEngine::processStereo, 2, false);
        ChorusKernels::useOnly (0);
    }

    void eachInstructionSet (benchmark::internal::Benchmark* b)
    {
        for (int64_t t = ChorusKernels::compiledTargets(); t != 0; t &= t - 1)
            for (int blockSize : { 64, 512 })
                b->Args ({ blockSize, __builtin_ctzll ((unsigned long long) (t & -t)) });
    }

    /** The block sizes hosts commonly run at, from recording through the
        effect (32) to mixing (1024). */
    void hostBlockSizes (benchmark::internal::Benchmark* b)
    {
        for (int blockSize : { 32, 64, 128, 512, 1024 })
            b->Arg (blockSize);
    }

    void processorBlock (benchmark::State& state, int inputs, int outputs, bool stereoProcessing)
    {
        juce::ScopedJuceInitialiser_GUI framework;
        const int blockSize = (int) state.range (0);
        PreparedProcessor p (inputs, outputs, stereoProcessing, rate, blockSize);

        juce::AudioBuffer<float> buffer (std::max (inputs, outputs), blockSize);
        juce::MidiBuffer midi;
        Feed feed (inputs, false);

        for (int i = 0; i < rate / blockSize; ++i)
        {
            feed.next (buffer);
            p.processor.processBlock (buffer, midi);
        }

        for (auto _ : state)
        {
            feed.next (buffer);
            p.processor.processBlock (buffer, midi);
            benchmark::DoNotOptimize (buffer.getReadPointer (0));
        }

        perFrame (state, blockSize);
    }

    void engineConstruction (benchmark::State& state)
    {
        for (auto _ : state)
        {
            ChorusEngine engine (rate);
            benchmark::DoNotOptimize (&engine);
        }
    }

    void processorConstruction (benchmark::State& state)
    {
        juce::ScopedJuceInitialiser_GUI framework;

        for (auto _ : state)
        {
            Processor processor;
            benchmark::DoNotOptimize (&processor);
        }
    }

    void stateSave (benchmark::State& state)
    {
        juce::ScopedJuceInitialiser_GUI framework;
        PreparedProcessor p (2, 2, true, rate, 512);
        juce::MemoryBlock block;

        for (auto _ : state)
        {
            block.reset();
            p.processor.getStateInformation (block);
            benchmark::DoNotOptimize (block.getData());
        }
    }

    void stateLoad (benchmark::State& state)
    {
        juce::ScopedJuceInitialiser_GUI framework;
        PreparedProcessor p (2, 2, true, rate, 512);
        juce::MemoryBlock block;
        p.processor.getStateInformation (block);

        for (auto _ : state)
            p.processor.setStateInformation (block.getData(), (int) block.getSize());
    }
}

BENCHMARK_CAPTURE (engineBlock, copy_stereo, ChorusEngine::processCopy, 2)->Arg (64)->Arg (512);
BENCHMARK_CAPTURE (engineBlock, mono, ChorusEngine::processMono, 1)->Arg (64)->Arg (512);
BENCHMARK_CAPTURE (engineBlock, mono_to_stereo, ChorusEngine::processMonoToStereo, 2)->Arg (64)->Arg (512);
BENCHMARK_CAPTURE (engineBlock, stereo, ChorusEngine::processStereo, 2)->Apply (hostBlockSizes);
BENCHMARK (engineInstructionSet)->Apply (eachInstructionSet);
BENCHMARK_CAPTURE (engineSubnormal, mono, ChorusEngine::processMono, 1)->Arg (512);
BENCHMARK_CAPTURE (engineSubnormal, stereo, ChorusEngine::processStereo, 2)->Arg (512);
BENCHMARK_CAPTURE (processorBlock, mono, 1, 1, false)->Arg (64)->Arg (512);
BENCHMARK_CAPTURE (processorBlock, mono_to_stereo, 1, 2, false)->Apply (hostBlockSizes);
BENCHMARK_CAPTURE (processorBlock, stereo, 2, 2, true)->Apply (hostBlockSizes);
BENCHMARK (engineConstruction)->Unit (benchmark::kMicrosecond);
BENCHMARK (processorConstruction)->Unit (benchmark::kMicrosecond);
BENCHMARK (stateSave)->Unit (benchmark::kMicrosecond);
BENCHMARK (stateLoad)->Unit (benchmark::kMicrosecond);

TESSAMUNE_BENCHMARK_MAIN()
