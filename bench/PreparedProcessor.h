#pragma once

#include "plugin/Parameters.h"
#include "plugin/Processor.h"

/** A processor with the given main buses, prepared at the given rate, with
    the chorus on at depth 5, speed 5 and mix 10, and the processing mode
    set: the settings the benchmarks time. */
struct PreparedProcessor
{
    PreparedProcessor (int inputs, int outputs, bool stereoProcessing, double rate, int blockSize)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (juce::AudioChannelSet::canonicalChannelSet (inputs));
        layout.outputBuses.add (juce::AudioChannelSet::canonicalChannelSet (outputs));
        processor.setBusesLayout (layout);
        processor.prepareToPlay (rate, blockSize);

        set (ParameterIDs::chorusOn, 1.0f);
        set (ParameterIDs::stereoProc, stereoProcessing ? 1.0f : 0.0f);
        set (ParameterIDs::chorusDepth, 5.0f);
        set (ParameterIDs::chorusSpeed, 5.0f);
        set (ParameterIDs::chorusMix, 10.0f);
    }

    void set (const char* id, float plain)
    {
        auto* p = processor.parameters.getParameter (id);
        p->setValueNotifyingHost (p->convertTo0to1 (plain));
    }

    Processor processor;
    juce::MidiBuffer midi;
};
