#include "plugin/ParameterListenerEngine.h"

#include "plugin/Parameters.h"
#include "plugin/Processor.h"

#include <cmath>

// A parameter's plain value as the parameter itself holds it. The tree's
// copy (getRawParameterValue) holds the same value once the parameter's
// listeners have run; a format that sets parameters on the audio thread
// without calling them (Processor::setParameterOnAudioThread) changes only
// this one until it publishes the change.
static const std::atomic<float>& rawValue (juce::AudioProcessorValueTreeState& parameters, const char* id)
{
    auto* parameter = dynamic_cast<ChorusParameter*> (parameters.getParameter (id));
    jassert (parameter != nullptr);
    return parameter->plainValueSource();
}

ParameterListenerEngine::ParameterListenerEngine (Processor& p, PlaybackSetup* s)
    : StateMachineBase (s, &p.parameters),
      processor (p),
      parameterCodes { { ParameterIDs::stereoProc, stereoProcCode },
                       { ParameterIDs::chorusOn, chorusOnCode },
                       { ParameterIDs::chorusDepth, chorusDepthCode },
                       { ParameterIDs::chorusSpeed, chorusSpeedCode },
                       { ParameterIDs::chorusMix, chorusMixCode } },
      chorusOn (rawValue (p.parameters, ParameterIDs::chorusOn)),
      chorusDepth (rawValue (p.parameters, ParameterIDs::chorusDepth)),
      chorusSpeed (rawValue (p.parameters, ParameterIDs::chorusSpeed)),
      chorusMix (rawValue (p.parameters, ParameterIDs::chorusMix)),
      stereoProc (rawValue (p.parameters, ParameterIDs::stereoProc))
{
}

// Stores the control value for a parameter's current plain value, and again
// if the parameter changed meanwhile. A refresh and the listener, or two
// listeners, may store the same control at once from values read at
// different times: whichever stores last, the control ends at the value for
// the parameter's final value.
template <typename Convert>
static void follow (const std::atomic<float>& plain, std::atomic<float>& control, Convert convert) noexcept
{
    for (auto value = plain.load();; )
    {
        control.store (convert (value));
        const auto now = plain.load();

        if (now == value)
            return;

        value = now;
    }
}

void ParameterListenerEngine::parameterChanged (const juce::String& parameterID, float)
{
    const auto found = parameterCodes.find (parameterID);

    if (found == parameterCodes.end() || ! processor.ready.load())
        return;

    auto& engine = processor.engine;

    switch (found->second)
    {
        case stereoProcCode:
        case chorusOnCode:
            postRoutingChanged();
            break;

        case chorusDepthCode:
            follow (chorusDepth, engine.depthPercent, depthPercentFor);
            engine.applyControls();
            break;

        case chorusSpeedCode:
            follow (chorusSpeed, engine.speedHz, speedHzFor);
            engine.applyControls();
            break;

        case chorusMixCode:
            follow (chorusMix, engine.mix, mixGainFor);
            break;

        default:
            break;
    }
}

void ParameterListenerEngine::postRoutingChanged() noexcept
{
    if (producerLock.tryEnter())
    {
        // Never allocates: a queue that is full (changes made while no
        // block drains it, as over a host's runs of no frames) keeps the
        // messages it holds. Every message says the same, and the flag below
        // says it too, so none is lost.
        messages.try_enqueue (RoutingChanged);
        producerLock.exit();
    }

    // Raised after the message is in the queue: the audio thread looks at the
    // queue only when it finds the flag raised.
    routingPending.store (true, std::memory_order_release);
}

ParameterListenerEngine::ChannelCounts ParameterListenerEngine::queryRouting() const noexcept
{
    if (chorusOn.load() == 0.0f || setup->passThroughDry)
        return {};

    const auto modeChannels = (int32_t) std::trunc (stereoProc.load()) + 1;
    return { setup->numOutputChannels,
             std::min ((int32_t) processor.getMainBusNumInputChannels(), modeChannels) };
}

void ParameterListenerEngine::selectRouting() noexcept
{
    const auto counts = queryRouting();
    processor.engine.selectRouting (counts.processed, counts.outputs);
}

void ParameterListenerEngine::prepareEngine()
{
    selectRouting();

    // The processor records only rates the engine can hold.
    processor.engine.setSampleRate ((uint32_t) setup->sampleRate);
    processor.engine.applyControls();
}

void ParameterListenerEngine::refreshAll()
{
    auto& engine = processor.engine;

    selectRouting();
    follow (chorusMix, engine.mix, mixGainFor);
    follow (chorusSpeed, engine.speedHz, speedHzFor);
    engine.applyControls();
    follow (chorusDepth, engine.depthPercent, depthPercentFor);
    engine.applyControls();
}

void ParameterListenerEngine::handleMessages()
{
    // Most blocks find nothing posted: a plain load, no read-modify-write.
    if (! routingPending.load (std::memory_order_relaxed) || ! routingPending.exchange (false, std::memory_order_acquire))
        return;

    // Lowered before the queue is drained: a message posted meanwhile is
    // either drained now or raises the flag again for the next block. Every
    // message is a RoutingChanged, and one selection serves them all.
    int code = 0;

    while (messages.try_dequeue (code))
        continue;

    selectRouting();
}
