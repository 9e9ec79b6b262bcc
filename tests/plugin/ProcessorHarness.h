#pragma once

#include "plugin/Processor.h"

#include <juce_audio_processors/juce_audio_processors.h>

/** Builds a processor with a channel layout, sets its parameters as a host
    would, and runs blocks through it. */
struct ProcessorHarness
{
    explicit ProcessorHarness (int inputs = 2, int outputs = 2)
    {
        setLayout (inputs, outputs);
    }

    static juce::AudioChannelSet channels (int count)
    {
        return count == 0 ? juce::AudioChannelSet::disabled()
                          : juce::AudioChannelSet::canonicalChannelSet (count);
    }

    bool setLayout (int inputs, int outputs)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (channels (inputs));
        layout.outputBuses.add (channels (outputs));
        return processor.setBusesLayout (layout);
    }

    void prepare (double rate = 44100.0, int blockSize = 512)
    {
        processor.prepareToPlay (rate, blockSize);
    }

    juce::RangedAudioParameter& parameter (const char* id)
    {
        auto* p = processor.parameters.getParameter (id);
        jassert (p != nullptr);
        return *p;
    }

    /** Sets a plain value the way a host's automation does. */
    void set (const char* id, float plainValue)
    {
        auto& p = parameter (id);
        p.setValueNotifyingHost (p.convertTo0to1 (plainValue));
    }

    float raw (const char* id) const
    {
        return processor.parameters.getRawParameterValue (id)->load();
    }

    /** A block of a deterministic test signal on every channel. */
    juce::AudioBuffer<float> signal (int numSamples, int offset = 0) const
    {
        const int numChannels = std::max (processor.getTotalNumInputChannels(), processor.getTotalNumOutputChannels());
        juce::AudioBuffer<float> buffer (numChannels, numSamples);
        buffer.clear();

        for (int c = 0; c < processor.getTotalNumInputChannels(); ++c)
            for (int s = 0; s < numSamples; ++s)
                buffer.setSample (c, s, 0.4f * std::sin (0.01f * (float) ((offset + s) * (c + 1))));

        return buffer;
    }

    void process (juce::AudioBuffer<float>& buffer)
    {
        juce::MidiBuffer midi;
        processor.processBlock (buffer, midi);
    }

    Processor processor;
};
