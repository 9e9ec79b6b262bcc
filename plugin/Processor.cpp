#include "plugin/Processor.h"

#include "dsp/ScopedFlushDenormals.h"

#include "plugin/ParameterListenerEngine.h"
#include "plugin/Parameters.h"
#include "ui/Editor.h"

#include <algorithm>
#include <cmath>

static int32_t constructionRate (double rate)
{
    return ChorusEngine::isUsableSampleRate (rate) ? (int32_t) rate : 44100;
}

Processor::Processor (double sampleRate)
    : juce::AudioProcessor (BusesProperties()
                                .withInput ("Input", juce::AudioChannelSet::stereo(), false)
                                .withOutput ("Output", juce::AudioChannelSet::stereo(), false)),
      engine (constructionRate (sampleRate)),
      parameters (*this, nullptr, "ChorusID", createParameterLayout())
{
    stateMachine = std::make_unique<ParameterListenerEngine> (*this, &setup);

    for (auto* id : ParameterIDs::all)
        parameters.addParameterListener (id, stateMachine.get());

    // A fresh state lists the parameters in creation order; the framework
    // would otherwise add their children in alphabetical order.
    juce::ValueTree state ("ChorusID");
    for (auto* id : ParameterIDs::all)
        state.appendChild (juce::ValueTree ("PARAM", { { "id", id },
                                                       { "value", parameters.getRawParameterValue (id)->load() } }),
                           nullptr);

    parameters.replaceState (state);

    for (auto* parameter : getParameters())
        ownParameters.push_back (dynamic_cast<ChorusParameter*> (parameter));

    jassert (ownParameters.size() <= 32 && std::find (ownParameters.begin(), ownParameters.end(), nullptr) == ownParameters.end());
}

Processor::~Processor()
{
    for (auto* id : ParameterIDs::all)
        parameters.removeParameterListener (id, stateMachine.get());

    stateMachine.reset();
}

const juce::String Processor::getName() const
{
    return "Tessamune";
}

void Processor::prepareToPlay (double sampleRate, int)
{
    ready = false;
    suspendProcessing (true);

    {
        // Held for the whole re-configuration: a block that slipped past the
        // suspended flag waits here rather than running on a half-built engine.
        const juce::ScopedLock lock (getCallbackLock());

        // A rate the engine refuses (zero, negative, not finite, or one its
        // buffers cannot hold) is not recorded: the engine goes on at the
        // last usable rate, or its construction rate, and the refreshes after
        // every prepare and load keep reaching it.
        if (ChorusEngine::isUsableSampleRate (sampleRate))
            setup.sampleRate = sampleRate;
        else if (! (setup.sampleRate > 0.0))
            setup.sampleRate = (double) engine.sampleRate;

        setup.numOutputChannels = getMainBusNumOutputChannels();
        setup.passThroughDry = false;

        // The bypass's fade, in whole samples at the rate in force; the
        // next block takes its bypass state at once.
        bypassStep = (float) (1.0 / std::max (1.0, std::round (bypassFadeSeconds * setup.sampleRate)));
        bypassSettled = false;

        try
        {
            stateMachine->prepareEngine();
        }
        catch (const std::bad_alloc&)
        {
            // The engine could not be re-sized and keeps its old rate, at
            // which its delays and speed would be wrong by the ratio of the
            // rates: the audio passes through dry until a preparation
            // succeeds. There is nothing a host could do with an exception.
            setup.sampleRate = (double) engine.sampleRate;
            setup.passThroughDry = true;
        }

        // Changes reach the engine again before the refresh reads the
        // parameters, so that none made meanwhile on another thread is lost:
        // one made before the refresh reads is read by it, one made after
        // reaches the engine itself.
        ready = true;
        setCurrentProgram (0);
    }

    suspendProcessing (false);
}

void Processor::setCurrentProgram (int)
{
    // The setup is read under the callback lock, as prepareToPlay writes it:
    // a host may load a state on another thread than the one it prepares on.
    const juce::ScopedLock lock (getCallbackLock());

    if (! (setup.sampleRate > 0.0))
        return;

    suspendProcessing (true);
    stateMachine->refreshAll();
    suspendProcessing (false);
}

void Processor::resetPlayback()
{
    const juce::ScopedLock lock (getCallbackLock());
    engine.reset();
    bypassSettled = false;
}

void Processor::setParameterOnAudioThread (int index, float plainValue) noexcept
{
    if (! juce::isPositiveAndBelow (index, (int) ownParameters.size()))
        return;

    auto& parameter = *ownParameters[(size_t) index];
    parameter.setValue (parameter.convertTo0to1 (plainValue));
    stateMachine->parameterChanged (parameter.paramID, plainValue);
    unpublished.fetch_or (1u << index, std::memory_order_release);
}

void Processor::publishParameterChanges()
{
    // A plain load first: nearly always nothing is waiting.
    if (unpublished.load (std::memory_order_relaxed) == 0)
        return;

    const std::lock_guard<std::recursive_mutex> oneAtATime (publishLock);
    const auto changed = unpublished.exchange (0, std::memory_order_acquire);

    for (size_t i = 0; i < ownParameters.size(); ++i)
        if ((changed & (1u << i)) != 0)
            ownParameters[i]->sendValueChangedMessageToListeners (ownParameters[i]->getValue());
}

void Processor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    processBuffer (buffer, false);
}

void Processor::processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    processBuffer (buffer, true);
}

void Processor::processBuffer (juce::AudioBuffer<float>& buffer, bool bypassed) noexcept
{
    if (buffer.getNumSamples() > 0 && buffer.getNumChannels() > 0)
        processChannels (buffer.getArrayOfWritePointers(), buffer.getNumChannels(), buffer.getNumSamples(), bypassed);
    else
        stateMachine->handleMessages();
}

void Processor::processChannels (float* const* channels, int numChannels, int numSamples, bool bypassed) noexcept
{
    const auto target = bypassed ? 0.0f : 1.0f;

    if (! bypassSettled)
    {
        bypassGain = target;
        bypassSettled = true;
    }

    // The usual block: the chorus on, no fade under way.
    if (bypassGain == target && ! bypassed)
    {
        runEngine (channels, numChannels, numSamples);
        return;
    }

    for (int done = 0; done < numSamples; done += dryFrames)
    {
        std::array<float*, (size_t) dryChannels> piece {};
        const auto pieceChannels = std::min (numChannels, dryChannels);

        for (int c = 0; c < pieceChannels; ++c)
            piece[(size_t) c] = channels[c] + done;

        fadeBypass (piece.data(), pieceChannels, std::min (dryFrames, numSamples - done), target);
    }
}

void Processor::fadeBypass (float* const* channels, int numChannels, int numSamples, float target) noexcept
{
    // The dry signal, as the bypass has it: every output with an input of
    // its own as it came, the others a copy of the first input. Channels
    // beyond the outputs are left as the chorus leaves them.
    const auto inputs = std::max (1, getTotalNumInputChannels());
    const auto outputs = std::min (numChannels, getTotalNumOutputChannels());

    for (int c = 0; c < outputs; ++c)
    {
        const auto* source = channels[c < inputs ? c : 0];
        std::copy (source, source + numSamples, dry.data() + c * dryFrames);
    }

    runEngine (channels, numChannels, numSamples);

    // The gain moves by one step a sample, the same in every channel; where
    // it stands at either end, the output is exactly the chorus's or the
    // dry signal.
    const auto step = target > bypassGain ? bypassStep : -bypassStep;
    auto gain = bypassGain;

    for (int s = 0; s < numSamples; ++s)
    {
        gain = step > 0.0f ? std::min (target, gain + step) : std::max (target, gain + step);

        for (int c = 0; c < outputs; ++c)
        {
            auto& out = channels[c][s];
            const auto in = dry[(size_t) (c * dryFrames + s)];

            if (gain == 0.0f)
                out = in;
            else if (gain != 1.0f)
                out = in + gain * (out - in);
        }
    }

    bypassGain = gain;
}

void Processor::runEngine (float* const* channels, int numChannels, int numSamples) noexcept
{
    stateMachine->handleMessages();

    // Input at subnormal level (a reverb's tail that nothing flushed, say)
    // would make the block several times dearer: in such a block,
    // subnormals count as zero. Louder audio meets none, so the
    // floating-point mode, costly to read and to write, is left alone.
    struct Channels
    {
        float* const* channels;
        int numChannels, numSamples;

        int getNumChannels() const noexcept                 { return numChannels; }
        int getNumSamples() const noexcept                  { return numSamples; }
        const float* getReadPointer (int c) const noexcept  { return channels[c]; }
    };

    if (engine.wantsSubnormalsFlushed (Channels { channels, numChannels, numSamples }))
    {
        const ScopedFlushDenormals flushDenormals;
        engine.process (channels, numChannels, numSamples);
    }
    else
    {
        engine.process (channels, numChannels, numSamples);
    }
}

juce::AudioProcessorEditor* Processor::createEditor()
{
    return new Editor (*this, parameters);
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new Processor();
}
