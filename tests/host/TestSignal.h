#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

/**
    The input both the hosted binaries and the in-process reference process:
    per channel a sine of its own pitch plus low-level noise from a fixed
    generator state, so that every run of either side sees the same samples.
*/
namespace TestSignal
{
    inline std::vector<std::vector<float>> make (int numChannels, int numFrames, double sampleRate)
    {
        std::vector<std::vector<float>> channels ((size_t) numChannels, std::vector<float> ((size_t) numFrames));
        uint32_t state = 0x1234567u;

        for (int c = 0; c < numChannels; ++c)
        {
            const double frequency = 220.0 * (c + 1) + 35.0;

            for (int n = 0; n < numFrames; ++n)
            {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                const double noise = (double) state / 4294967296.0 - 0.5;
                const double sine = std::sin (2.0 * 3.14159265358979323846 * frequency * n / sampleRate);
                channels[(size_t) c][(size_t) n] = (float) (0.4 * sine + 0.05 * noise);
            }
        }

        return channels;
    }

    /** One main input and one main output bus of the given channel counts. */
    inline juce::AudioProcessor::BusesLayout layoutFor (int ins, int outs)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (juce::AudioChannelSet::canonicalChannelSet (ins));
        layout.outputBuses.add (juce::AudioChannelSet::canonicalChannelSet (outs));
        return layout;
    }

    /** Runs the test signal through a processor in blocks of a given length,
        the way both sides do: the inputs in the first channels of a buffer
        with room for every output, the rest silent. processBlock (buffer) is
        called once per block; returns the output channels. */
    template <typename ProcessBlock>
    std::vector<std::vector<float>> renderInBlocks (int ins, int outs, int frames, int block, double sampleRate,
                                                    ProcessBlock&& processBlock)
    {
        const auto input = make (ins, frames, sampleRate);
        std::vector<std::vector<float>> output ((size_t) outs, std::vector<float> ((size_t) frames));
        juce::AudioBuffer<float> buffer (std::max (ins, outs), block);

        for (int start = 0; start < frames; start += block)
        {
            const auto n = std::min (block, frames - start);
            buffer.setSize (buffer.getNumChannels(), n, false, false, true);
            buffer.clear();

            for (int c = 0; c < ins; ++c)
                buffer.copyFrom (c, 0, input[(size_t) c].data() + start, n);

            processBlock (buffer);

            for (int c = 0; c < outs; ++c)
                std::copy (buffer.getReadPointer (c), buffer.getReadPointer (c) + n, output[(size_t) c].begin() + start);
        }

        return output;
    }
}
