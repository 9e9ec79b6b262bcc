#pragma once

#include "dsp/ChorusEngine.h"
#include "host/ChannelConfigurations.h"
#include "plugin/StateMachineBase.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

class ChorusParameter;

/**
    The plug-in's audio processor: owns the chorus engine, the parameter tree
    with the five parameters, and the listener engine that turns parameter
    changes into engine settings.
*/
class Processor : public juce::AudioProcessor
{
public:
    /** A sample rate the host has already named builds the chorus engine
        for that rate at once, so that preparing at it makes nothing again;
        without one (0), or with one the engine cannot hold, it is built for
        44100 Hz. */
    explicit Processor (double sampleRate = 0.0);
    ~Processor() override;

    const juce::String getName() const override;

    void prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override {}

    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    void processBlockBypassed (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    using juce::AudioProcessor::processBlock;

    /** What processBlock() does (processBlockBypassed() with bypassed
        set), for channels a format holds as plain pointers (numChannels and
        numSamples at least 1): no buffer object is made around them.

        Bypassed, the outputs carry the dry input (an output without an
        input of its own, the first channel), while the chorus keeps running
        on that input unheard, so that switching it back on sounds as if it
        had never stopped. Each switch between the two fades from one to
        the other over bypassFadeSeconds; the first block after a prepare or
        a reset takes the state it is given at once. */
    void processChannels (float* const* channels, int numChannels, int numSamples, bool bypassed = false) noexcept;
    using juce::AudioProcessor::processBlockBypassed;

    /** The length of the fade between the chorus and the dry signal when the
        host's bypass switches: long enough that the step it smooths stays
        below what the audio itself does from one sample to the next (a
        bypass never clicks), short enough to sound like a switch. */
    static constexpr double bypassFadeSeconds = 0.01;

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

    /** The state as getStateInformation() writes it, with the plain values
        of some parameters (one entry per parameter, in index order, up to
        count; an empty entry keeps the parameter's own) replaced by values
        not yet set: those a host has set on its controls and the plug-in
        has not yet applied. */
    void getStateInformation (juce::MemoryBlock& destData, const std::optional<float>* plainValues, size_t count);
    void setStateInformation (const void* data, int sizeInBytes) override;

    /** Loads a saved state as setStateInformation() does, and says whether
        it was applied: false for a block that is not one of ours or is
        damaged, which leaves every parameter as it was. */
    bool loadState (const void* data, int sizeInBytes);

    /** Empties every delay line and restarts the oscillators: the processor
        then plays exactly as one just prepared at the same rate and
        settings. Not on the audio thread; a block that arrives meanwhile
        waits on the callback lock. */
    void resetPlayback();

    /** Sets a parameter (by index, as a plain value) on the audio thread, as
        a host's automation does, but without calling the parameter's
        listeners: the framework calls them under a lock, and an open
        editor's answer to them allocates. The parameter holds the value and
        the engine follows it before the next block, as for any change; the
        listeners (the parameter tree's copy, an editor, the host) hear of
        it from publishParameterChanges(). Never locks, waits or allocates. */
    void setParameterOnAudioThread (int index, float plainValue) noexcept;

    /** Tells the listeners of every parameter set by
        setParameterOnAudioThread() since the last call, with the value the
        parameter holds now. Any thread but the audio thread. Saving and
        loading a state do this first, so that they see the values in
        force. */
    void publishParameterChanges();

    PlaybackSetup setup;
    ChorusEngine engine;
    std::unique_ptr<StateMachineBase> stateMachine;
    juce::AudioProcessorValueTreeState parameters;
    std::atomic<bool> ready { false };

    /** The zoom chosen for this instance's editor (plugin/EditorZoom.h),
        kept with its state, or 0 while none has been: the editor then opens
        at the zoom the user chose last anywhere. Set by the editor on the
        message thread and by loading a state that holds one; it touches
        neither the parameters nor the audio. */
    std::atomic<double> editorZoom { 0.0 };

private:
    void processBuffer (juce::AudioBuffer<float>&, bool bypassed) noexcept;
    void runEngine (float* const* channels, int numChannels, int numSamples) noexcept;
    void fadeBypass (float* const* channels, int numChannels, int numSamples, float target) noexcept;

    // The bypass: how much of the chorus's output is heard (1 all of it, 0
    // the dry signal only), how far each sample of a fade moves it, and
    // whether a block has set it since the last prepare or reset.
    float bypassGain = 1.0f;
    float bypassStep = 1.0f;
    bool bypassSettled = false;

    // The dry signal of a piece of a block while bypassed or fading.
    static constexpr int dryFrames = 256, dryChannels = 8;
    std::array<float, (size_t) (dryFrames * dryChannels)> dry {};

    // The parameters in index order, and those set on the audio thread
    // since their listeners last heard of them (one bit each).
    std::vector<ChorusParameter*> ownParameters;
    std::atomic<uint32_t> unpublished { 0 };
    // One thread publishes at a time.
    std::recursive_mutex publishLock;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Processor)
};
