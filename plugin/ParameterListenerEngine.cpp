#include "plugin/ParameterListenerEngine.h"

#include "plugin/Parameters.h"
#include "plugin/Processor.h"

#include <cmath>

static std::atomic<float>& rawValue (juce::AudioProcessorValueTreeState& parameters, const char* id)
{
    auto* value = parameters.getRawParameterValue (id);
    jassert (value != nullptr);
    return *value;
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
            engine.depthPercent.store (depthPercentFor (chorusDepth.load()));
            engine.applyControls();
            break;

        case chorusSpeedCode:
            engine.speedHz.store (speedHzFor (chorusSpeed.load()));
            engine.applyControls();
            break;

        case chorusMixCode:
            engine.mix.store (mixGainFor (chorusMix.load()));
            break;

        default:
            break;
    }
}

void ParameterListenerEngine::postRoutingChanged() noexcept
{
    if (producerLock.tryEnter())
    {
        // May allocate when the queue is full; a failed allocation loses the
        // message, and the routing follows the parameters at the next change,
        // prepare or refresh.
        messages.enqueue (RoutingChanged);
        producerLock.exit();
    }
    else
    {
        routingPending.store (true, std::memory_order_release);
    }
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

    // A rate that would leave a ring or a delay line empty keeps the engine
    // at its last valid rate.
    if (ChorusEngine::isUsableSampleRate (setup->sampleRate))
        processor.engine.setSampleRate ((uint32_t) setup->sampleRate);

    processor.engine.applyControls();
}

void ParameterListenerEngine::refreshAll()
{
    auto& engine = processor.engine;

    selectRouting();
    engine.mix.store (mixGainFor (chorusMix.load()));
    engine.speedHz.store (speedHzFor (chorusSpeed.load()));
    engine.applyControls();
    engine.depthPercent.store (depthPercentFor (chorusDepth.load()));
    engine.applyControls();
}

void ParameterListenerEngine::handleMessages()
{
    int code = 0;

    while (messages.try_dequeue (code))
        if (code == RoutingChanged)
            selectRouting();

    if (routingPending.exchange (false, std::memory_order_acquire))
        selectRouting();
}
