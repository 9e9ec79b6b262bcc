// An hour of stereo audio at 48 kHz through the processor, with every
// parameter automated at random before every block, as a long session with
// busy automation would run it. Reports the speed as a multiple of real time
// and the largest output relative to the input's peak, which the chorus keeps
// within 1.75 (the dry signal plus at most 0.75 of a delayed copy).
//
//   build-test/bench/soak_bench [--benchmark_filter=...]
//   TESSAMUNE_SOAK_SECONDS=600 build-test/bench/soak_bench   (a shorter soak)

#include "plugin/Processor.h"

#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

#include <cmath>
#include <cstdlib>

namespace
{
    struct Noise
    {
        uint32_t state = 0x2545f491u;

        uint32_t next() noexcept
        {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            return state;
        }

        float unit() noexcept { return (float) (next() >> 8) / 16777216.0f; }
    };

    void soak (benchmark::State& state)
    {
        juce::ScopedJuceInitialiser_GUI framework;
        constexpr double rate = 48000.0;
        constexpr int blockSize = 512;
        constexpr float inputPeak = 0.5f;

        const char* seconds = std::getenv ("TESSAMUNE_SOAK_SECONDS");
        const auto frames = (long long) ((seconds != nullptr ? std::atof (seconds) : 3600.0) * rate);

        Processor processor;
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (juce::AudioChannelSet::stereo());
        layout.outputBuses.add (juce::AudioChannelSet::stereo());
        processor.setBusesLayout (layout);
        processor.prepareToPlay (rate, blockSize);

        // About ten seconds of input, played in a loop: a chord of three partials
        // with a little noise, at the peak. Made beforehand, so that what is
        // timed is the processor.
        const int loopFrames = blockSize * 1000;
        juce::AudioBuffer<float> input (2, loopFrames);
        Noise noise;
        float largestIn = 0.0f, largest = 0.0f;
        long long nonFinite = 0;

        for (int c = 0; c < 2; ++c)
        {
            for (int s = 0; s < loopFrames; ++s)
            {
                const auto t = (double) s / rate;
                const auto tone = std::sin (2.0 * M_PI * 220.0 * t) + std::sin (2.0 * M_PI * 277.2 * t)
                                + std::sin (2.0 * M_PI * (330.0 + c) * t);
                const auto v = inputPeak * (float) (0.3 * tone + 0.1 * (2.0 * noise.unit() - 1.0));
                input.setSample (c, s, v);
                largestIn = std::max (largestIn, std::abs (v));
            }
        }

        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;
        auto& parameters = processor.getParameters();

        for (auto _ : state)
        {
            for (long long done = 0; done < frames; done += blockSize)
            {
                for (auto* parameter : parameters)
                    parameter->setValueNotifyingHost (parameter->getNumSteps() == 2 ? (float) (noise.next() % 2) : noise.unit());

                const auto start = (int) (done % loopFrames);   // a whole number of blocks
                for (int c = 0; c < 2; ++c)
                    buffer.copyFrom (c, 0, input, c, start, blockSize);

                processor.processBlock (buffer, midi);

                for (int c = 0; c < 2; ++c)
                    for (int s = 0; s < blockSize; ++s)
                    {
                        const auto v = buffer.getSample (c, s);
                        nonFinite += std::isfinite (v) ? 0 : 1;
                        largest = std::max (largest, std::abs (v));
                    }
            }
        }

        const auto audioSeconds = (double) frames / rate * (double) state.iterations();
        state.counters["audio_seconds"] = audioSeconds;
        state.counters["x_realtime"] = benchmark::Counter (audioSeconds, benchmark::Counter::kIsRate);
        state.counters["peak_out_over_in"] = largest / largestIn;
        state.counters["non_finite_samples"] = (double) nonFinite;

        if (nonFinite > 0 || largest > 1.75f * largestIn * (1.0f + 1.0e-6f))
            state.SkipWithError ("output out of bounds");
    }
}

BENCHMARK (soak)->Iterations (1)->Unit (benchmark::kSecond)->UseRealTime();
BENCHMARK_MAIN();
