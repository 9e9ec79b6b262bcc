#include "dsp/ChorusEngine.h"

#include <algorithm>
#include <cstring>

static int32_t usableRateOrFallback (int32_t rate) noexcept
{
    return ChorusEngine::isUsableSampleRate ((double) rate) ? rate : ChorusEngine::fallbackSampleRate;
}

ChorusEngine::ChorusEngine (int32_t rate)
    : preDelay { PreDelayBuffer ((uint32_t) usableRateOrFallback (rate)),
                 PreDelayBuffer ((uint32_t) usableRateOrFallback (rate)) }
{
    sampleRate = 0;
    routing = processCopy;

    depthPercent.store (50.0f);
    speedHz.store (0.0f);
    feedbackPercent.store (0.0f);
    mix.store (0.75f);

    for (auto& v : voice)
    {
        v.waveform = Triangle;
        v.lfo.inverted = false;
        v.mode = ChorusVoice::chorusMode;
        v.mixPercent = 100.0f;
    }

    setSampleRate ((uint32_t) usableRateOrFallback (rate));
    copyControlsToVoices();
}

void ChorusEngine::setSampleRate (uint32_t rate)
{
    if (rate == sampleRate || ! isUsableSampleRate ((double) rate))
        return;

    // Reserve every array first: if an allocation fails nothing has changed
    // yet, and what follows cannot fail.
    for (auto& v : voice)
        v.reserve ((int32_t) rate);

    for (auto& p : preDelay)
        p.reserve (rate);

    sampleRate = rate;
    voice[0].prepare ((int32_t) rate);
    voice[1].prepare ((int32_t) rate);
    preDelay[0].resize (rate);
    preDelay[1].resize (rate);
}

void ChorusEngine::copyControlsToVoices() noexcept
{
    for (auto& v : voice)
    {
        v.depthPercent = depthPercent.load();
        v.speedHz = speedHz.load();
        v.feedbackPercent = feedbackPercent.load();

        v.lfo.frequency = v.speedHz;
        v.lfo.waveform = v.waveform;
        v.lfo.increment = WavetableLfo::incrementFor (v.speedHz, (double) sampleRate);

        if (v.mode != ChorusVoice::shortNoFeedbackMode)
            v.line.feedbackPercent = v.feedbackPercent;

        v.line.mixPercent = v.mixPercent;
        v.line.update();
    }
}

void ChorusEngine::selectRouting (int32_t processedChannels, int32_t outputChannels) noexcept
{
    const auto p = std::clamp (processedChannels, 0, 2);
    const auto o = std::clamp (outputChannels, 0, 2);

    switch (2 * p + o)
    {
        case 3:
        case 5:  routing = processMono; break;
        case 4:  routing = processMonoToStereo; break;
        case 6:  routing = processStereo; break;
        default: routing = processCopy; break;
    }
}

void ChorusEngine::process (float* const* channels, int numChannels, int numSamples) noexcept
{
    if (numSamples <= 0 || numChannels <= 0)
        return;

    if (controlsPending.exchange (false, std::memory_order_acquire))
        copyControlsToVoices();

    routing (*this, channels, numChannels, numSamples);
}

void ChorusEngine::processCopy (ChorusEngine&, float* const* channels, int numChannels, int numSamples) noexcept
{
    for (int c = 1; c < numChannels; ++c)
        std::memmove (channels[c], channels[0], sizeof (float) * (size_t) numSamples);
}

void ChorusEngine::processMono (ChorusEngine& e, float* const* channels, int, int numSamples) noexcept
{
    float* const left = channels[0];

    for (int s = 0; s < numSamples; ++s)
    {
        const float x = left[s];
        const float w = e.voice[0].processSample (e.preDelay[0].step (x));
        left[s] = w * e.mix.load() + x;
    }
}

void ChorusEngine::processMonoToStereo (ChorusEngine& e, float* const* channels, int numChannels, int numSamples) noexcept
{
    if (numChannels == 1)
        return processMono (e, channels, numChannels, numSamples);

    float* const left = channels[0];
    float* const right = channels[1];

    for (int s = 0; s < numSamples; ++s)
    {
        const float x = left[s];
        const float w = e.voice[0].processSample (e.preDelay[0].step (x));
        left[s] = e.mix.load() * w + x;
        right[s] = x - e.mix.load() * w;
    }
}

void ChorusEngine::processStereo (ChorusEngine& e, float* const* channels, int numChannels, int numSamples) noexcept
{
    if (numChannels == 1)
        return processMono (e, channels, numChannels, numSamples);

    float* const left = channels[0];
    float* const right = channels[1];

    for (int s = 0; s < numSamples; ++s)
    {
        const float xL = left[s];
        const float wL = e.voice[0].processSample (e.preDelay[0].step (xL));
        left[s] = wL * e.mix.load() + xL;

        const float xR = right[s];
        const float wR = e.voice[1].processSample (e.preDelay[1].step (xR));
        right[s] = xR - wR * e.mix.load();
    }
}
