#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <readerwriterqueue/readerwriterqueue.h>

/** What the last prepareToPlay announced. */
struct PlaybackSetup
{
    double sampleRate = 0.0;       // hertz, the last usable rate; 0 means never prepared
    int32_t numOutputChannels = 0; // main output bus at the last prepare
    bool passThroughDry = false;   // the last prepare could not re-size the engine for its rate
};

/**
    The interface between the parameter tree and the signal path: it hears
    every parameter change and re-configures the engine. The processor calls
    prepareEngine() and refreshAll() with processing suspended, and
    handleMessages() at the start of every block on the audio thread.
*/
class StateMachineBase : public juce::AudioProcessorValueTreeState::Listener,
                         public juce::ValueTree::Listener
{
public:
    StateMachineBase (const PlaybackSetup* setupToUse, juce::AudioProcessorValueTreeState* parametersToUse)
        : setup (setupToUse), parameters (parametersToUse)
    {
    }

    ~StateMachineBase() override = default;

    void parameterChanged (const juce::String&, float) override {}
    virtual void prepareEngine() {}
    virtual void refreshAll() {}
    virtual void handleMessages() {}

protected:
    const PlaybackSetup* setup;
    juce::AudioProcessorValueTreeState* parameters;
    moodycamel::ReaderWriterQueue<int> messages;

    JUCE_DECLARE_NON_COPYABLE (StateMachineBase)
};
