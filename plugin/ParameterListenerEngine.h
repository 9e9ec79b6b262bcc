#pragma once

#include "plugin/StateMachineBase.h"

#include <map>

class Processor;

/**
    Turns parameter changes into engine settings.

    Depth, speed and mix are converted at once, on the thread that changed
    them, into the engine's atomic control values. Switching the chorus or the
    processing mode posts a RoutingChanged message that the audio thread
    applies at the start of its next block, so the routing only ever changes
    on the audio thread or while processing is suspended.

    Several threads may change the switches at once (a host's automation on
    the audio thread, the editor on the message thread), but the queue takes
    one producer: a producer that finds another one posting skips the queue
    instead of waiting. Every producer then raises a flag, and the audio
    thread looks at the queue only in a block that finds the flag raised, so
    that the usual block costs one load. Neither side ever waits.
*/
class ParameterListenerEngine final : public StateMachineBase
{
public:
    static constexpr int RoutingChanged = 100;

    ParameterListenerEngine (Processor& processor, PlaybackSetup* setup);
    ~ParameterListenerEngine() override = default;

    void parameterChanged (const juce::String& parameterID, float newValue) override;
    void prepareEngine() override;
    void refreshAll() override;
    void handleMessages() override;

    struct ChannelCounts
    {
        int32_t outputs = 0;
        int32_t processed = 0;
    };

    /** The channel counts for the engine's routing choice: none while the
        chorus is off or the engine could not be prepared for the rate;
        otherwise the main input's channels, limited to one in
        Mono mode, and the output channels of the last prepare. */
    ChannelCounts queryRouting() const noexcept;

    /** Engine control values for the knobs' plain values (0 to 10). */
    static float depthPercentFor (float knob) noexcept { return knob * 10.0f; }
    static float speedHzFor (float knob) noexcept      { return (float) ((double) knob * 0.498 + 0.02); }
    static float mixGainFor (float knob) noexcept      { return (float) ((double) knob * 0.075); }

private:
    enum Code
    {
        stereoProcCode = 0,
        chorusOnCode = 300,
        chorusDepthCode = 301,
        chorusSpeedCode = 302,
        chorusMixCode = 303
    };

    void selectRouting() noexcept;
    void postRoutingChanged() noexcept;

    Processor& processor;
    const std::map<juce::String, int32_t> parameterCodes;

    // Raw plain values, looked up once so that the audio thread never searches by name.
    const std::atomic<float>& chorusOn;
    const std::atomic<float>& chorusDepth;
    const std::atomic<float>& chorusSpeed;
    const std::atomic<float>& chorusMix;
    const std::atomic<float>& stereoProc;

    juce::SpinLock producerLock;
    std::atomic<bool> routingPending { false };

    friend struct ListenerEngineProbe;   // lets the tests hold the producer side
};
