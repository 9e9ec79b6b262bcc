// The signal path's cost per block, for each routing, and the cost of a whole
// processor block including the routing-message check.
#include "dsp/ChorusEngine.h"
#include "plugin/Processor.h"

#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

#include <cmath>
#include <vector>

namespace
{
    void fill (juce::AudioBuffer<float>& buffer)
    {
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            for (int s = 0; s < buffer.getNumSamples(); ++s)
                buffer.setSample (c, s, 0.3f * std::sin (0.01f * (float) (s * (c + 1))));
    }

    void engineBlock (benchmark::State& state, ChorusEngine::Routing routing, int channels)
    {
        const int blockSize = (int) state.range (0);
        ChorusEngine engine (48000);
        engine.routing = routing;
        engine.depthPercent = 70.0f;
        engine.speedHz = 1.2f;
        engine.applyControls();

        juce::AudioBuffer<float> buffer (channels, blockSize);
        fill (buffer);

        for (auto _ : state)
        {
            engine.process (buffer);
            benchmark::DoNotOptimize (buffer.getReadPointer (0));
        }

        state.SetItemsProcessed (state.iterations() * blockSize);   // frames
        state.counters["ns_per_frame"] = benchmark::Counter ((double) state.iterations() * blockSize,
                                                             benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    }

    void processorBlock (benchmark::State& state)
    {
        juce::ScopedJuceInitialiser_GUI framework;
        const int blockSize = (int) state.range (0);

        Processor processor;
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (juce::AudioChannelSet::stereo());
        layout.outputBuses.add (juce::AudioChannelSet::stereo());
        processor.setBusesLayout (layout);
        processor.prepareToPlay (48000.0, blockSize);

        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;
        fill (buffer);

        for (auto _ : state)
        {
            processor.processBlock (buffer, midi);
            benchmark::DoNotOptimize (buffer.getReadPointer (0));
        }

        state.SetItemsProcessed (state.iterations() * blockSize);
    }

    void engineConstruction (benchmark::State& state)
    {
        for (auto _ : state)
        {
            ChorusEngine engine (48000);
            benchmark::DoNotOptimize (&engine);
        }
    }
}

BENCHMARK_CAPTURE (engineBlock, copy_stereo, ChorusEngine::processCopy, 2)->Arg (64)->Arg (512);
BENCHMARK_CAPTURE (engineBlock, mono, ChorusEngine::processMono, 1)->Arg (64)->Arg (512);
BENCHMARK_CAPTURE (engineBlock, mono_to_stereo, ChorusEngine::processMonoToStereo, 2)->Arg (64)->Arg (512);
BENCHMARK_CAPTURE (engineBlock, stereo, ChorusEngine::processStereo, 2)->Arg (64)->Arg (512);
BENCHMARK (processorBlock)->Arg (512);
BENCHMARK (engineConstruction)->Unit (benchmark::kMicrosecond);

BENCHMARK_MAIN();
