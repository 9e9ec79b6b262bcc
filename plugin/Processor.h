#pragma once

#include "dsp/ChorusEngine.h"
#include "host/ChannelConfigurations.h"
#include "plugin/StateMachineBase.h"

#include <juce_audio_processors/juce_audio_processors.h>

/**
    The plug-in's audio processor: owns the chorus engine, the parameter tree
    with the five parameters, and the listener engine that turns parameter
    changes into engine settings.
*/
class Processor : public juce::AudioProcessor
{
public:
    Processor();
    ~Processor() override;

    const juce::String getName() const override;

    void prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override {}

    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    void processBlockBypassed (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    using juce::AudioProcessor::processBlock;
    using juce::AudioProcessor::processBlockBypassed;

    /** Mono, stereo, and mono in to stereo out (host/Identity.cmake); nothing else. */
    bool isBusesLayoutSupported (const BusesLayout& layouts) const override
    {
        return ChannelConfigurations::isSupported (layouts);
    }

    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override { return true; }

    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int) override { return {}; }
    void changeProgramName (int, const juce::String&) override {}

    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    /** The processor constructed last on the calling thread that still
        exists, or nullptr: lets a format layer whose framework wrapper
        constructs the processor find the one it made. */
    static Processor* lastConstructedOnThisThread() noexcept;

    PlaybackSetup setup;
    ChorusEngine engine;
    std::unique_ptr<StateMachineBase> stateMachine;
    juce::AudioProcessorValueTreeState parameters;
    std::atomic<bool> ready { false };

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Processor)
};
