// What input at subnormal level (noise at +-1e-39, as a reverb's decaying
// tail leaves when nothing flushes it) costs per block against audio-level
// input (noise at +-0.5), stereo, chorus on, depth 5, speed 5, mix 10, 48 kHz.
//
// Both kinds of input run in the same benchmark, each through a processor
// of its own, in interleaved batches of blocks (in turn first), so that they share whatever
// else the machine is doing; each counter is the median over the batches,
// and `ratio` the median of the per-batch ratios (subnormal / normal).
//
// processor/...: the plug-in's processBlock, as a host calls it, on a thread
//     that does not flush subnormals itself (the standalone app, the
//     renderer, some hosts).
// engineUnflushed/...: the signal path alone, nothing flushed: what the
//     input costs without the processor's flushing.
#include "dsp/ChorusEngine.h"
#include "plugin/Parameters.h"
#include "plugin/ParameterListenerEngine.h"
#include "plugin/Processor.h"

#include "BenchContext.h"
#include "PreparedProcessor.h"

#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

namespace
{
    constexpr int rate = 48000;
    constexpr int batch = 16;          // blocks timed together
    constexpr double subnormal = 1.0e-39;
    constexpr double normal = 0.5;

    /** Two seconds of uniform noise at +-level per channel, looped block
        after block. */
    struct Noise
    {
        explicit Noise (double level)
        {
            uint32_t state = 0x9e3779b9u;

            for (auto& channel : samples)
            {
                channel.resize (2 * rate);

                for (auto& s : channel)
                {
                    state ^= state << 13;
                    state ^= state >> 17;
                    state ^= state << 5;
                    s = (float) (level * ((double) state / 2147483648.0 - 1.0));
                }
            }
        }

        void next (juce::AudioBuffer<float>& buffer)
        {
            const int n = buffer.getNumSamples();
            if (position + n > 2 * rate)
                position = 0;

            for (int c = 0; c < 2; ++c)
                buffer.copyFrom (c, 0, samples[(size_t) c].data() + position, n);

            position += n;
        }

        std::vector<float> samples[2];
        int position = 0;
    };

    double median (std::vector<double> v)
    {
        std::sort (v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    }

    /** One side of the comparison: something that processes a block, its
        input and its buffer. */
    template <typename Process>
    struct Side
    {
        Side (double level, int blockSize, Process p) : noise (level), buffer (2, blockSize), process (p) {}

        /** Seconds for a batch of blocks. */
        double run()
        {
            const auto start = std::chrono::steady_clock::now();

            for (int b = 0; b < batch; ++b)
            {
                noise.next (buffer);
                process (buffer);
            }

            benchmark::DoNotOptimize (buffer.getReadPointer (0));
            return std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count();
        }

        Noise noise;
        juce::AudioBuffer<float> buffer;
        Process process;
    };

    template <typename ProcessNormal, typename ProcessSubnormal>
    void compare (benchmark::State& state, ProcessNormal normalSide, ProcessSubnormal subnormalSide)
    {
        const int blockSize = (int) state.range (0);
        Side<ProcessNormal> a (normal, blockSize, normalSide);
        Side<ProcessSubnormal> b (subnormal, blockSize, subnormalSide);

        // A second of each first: the delay lines hold the input.
        for (int i = 0; i < rate / (blockSize * batch) + 1; ++i)
        {
            a.run();
            b.run();
        }

        std::vector<double> normalTimes, subnormalTimes, ratios;

        bool normalFirst = true;

        for (auto _ : state)
        {
            // Which side goes first alternates, so that neither always
            // finds the caches as the other left them.
            const double x = normalFirst ? a.run() : 0.0;
            const double y = b.run();
            const double xAfter = normalFirst ? x : a.run();
            normalFirst = ! normalFirst;
            normalTimes.push_back (xAfter);
            subnormalTimes.push_back (y);
            ratios.push_back (y / xAfter);
        }

        const double perBlock = 1.0e9 / batch;
        state.counters["normal_ns_per_block"] = median (normalTimes) * perBlock;
        state.counters["subnormal_ns_per_block"] = median (subnormalTimes) * perBlock;
        state.counters["ratio"] = median (ratios);
    }

    void processorBlocks (benchmark::State& state)
    {
        juce::ScopedJuceInitialiser_GUI framework;
        const auto blockSize = (int) state.range (0);
        PreparedProcessor forNormal (2, 2, true, rate, blockSize), forSubnormal (2, 2, true, rate, blockSize);

        compare (state, [&] (juce::AudioBuffer<float>& b) { forNormal.processor.processBlock (b, forNormal.midi); },
                 [&] (juce::AudioBuffer<float>& b) { forSubnormal.processor.processBlock (b, forSubnormal.midi); });
    }

    void engineUnflushed (benchmark::State& state)
    {
        ChorusEngine forNormal (rate), forSubnormal (rate);

        for (auto* e : { &forNormal, &forSubnormal })
        {
            e->depthPercent = ParameterListenerEngine::depthPercentFor (5.0f);
            e->speedHz = ParameterListenerEngine::speedHzFor (5.0f);
            e->mix = ParameterListenerEngine::mixGainFor (10.0f);
            e->applyControls();
            e->selectRouting (2, 2);
        }

        compare (state, [&] (juce::AudioBuffer<float>& b) { forNormal.process (b); },
                 [&] (juce::AudioBuffer<float>& b) { forSubnormal.process (b); });
    }
}

BENCHMARK (processorBlocks)->Name ("processor")->Arg (64)->Arg (512)->MinTime (2.0);
BENCHMARK (engineUnflushed)->Name ("engineUnflushed")->Arg (64)->Arg (512)->MinTime (2.0);

TESSAMUNE_BENCHMARK_MAIN()
