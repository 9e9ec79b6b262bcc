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

    // Chooses the vector code for this processor now rather than in the
    // first block.
    ChorusKernels::activeTarget();
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

namespace
{
    using Mix = ChorusKernels::Mix;

    // Blocks are processed in pieces of at most this many samples: the
    // pre-delay for a piece, then the voices.
    constexpr int pieceSize = 512;

    struct Scratch
    {
        alignas (64) float delayed[2][pieceSize];    // pre-delay output per channel
    };

    /** One processed channel for n samples (at most pieceSize): pre-delay,
        voice, and the mix into `channel` (and `mirror`) as `how` says. */
    void processChannel (PreDelayBuffer& preDelay, ChorusVoice& voice, float* channel, float* mirror, int n,
                         float mix, Mix how, Scratch& s) noexcept
    {
        if (voice.processesInBlocks())
        {
            preDelay.process (channel, s.delayed[0], n);
            ChorusVoice* voices[] = { &voice };
            const ChorusVoice::Signals signals { s.delayed[0], channel, channel, mirror, how, mix };
            ChorusVoice::processInBlocks (voices, &signals, 1, n);
            return;
        }

        // Settings the block steps do not cover: sample by sample.
        for (int i = 0; i < n; ++i)
        {
            const float x = channel[i];
            const float w = voice.processSample (preDelay.step (x));

            switch (how)
            {
                case Mix::add:            channel[i] = w * mix + x; break;
                case Mix::subtract:       channel[i] = x - w * mix; break;
                case Mix::addAndSubtract: channel[i] = mix * w + x; mirror[i] = x - mix * w; break;
            }
        }
    }
}

// The mix is read once per block.

void ChorusEngine::processMono (ChorusEngine& e, float* const* channels, int, int numSamples) noexcept
{
    const float mix = e.mix.load();
    Scratch s;

    for (int i = 0; i < numSamples; i += pieceSize)
        processChannel (e.preDelay[0], e.voice[0], channels[0] + i, nullptr, std::min (pieceSize, numSamples - i),
                        mix, Mix::add, s);
}

void ChorusEngine::processMonoToStereo (ChorusEngine& e, float* const* channels, int numChannels, int numSamples) noexcept
{
    if (numChannels == 1)
        return processMono (e, channels, numChannels, numSamples);

    const float mix = e.mix.load();
    Scratch s;

    for (int i = 0; i < numSamples; i += pieceSize)
        processChannel (e.preDelay[0], e.voice[0], channels[0] + i, channels[1] + i, std::min (pieceSize, numSamples - i),
                        mix, Mix::addAndSubtract, s);
}

void ChorusEngine::processStereo (ChorusEngine& e, float* const* channels, int numChannels, int numSamples) noexcept
{
    if (numChannels == 1)
        return processMono (e, channels, numChannels, numSamples);

    const float mix = e.mix.load();
    Scratch s;
    ChorusVoice* voices[] = { &e.voice[0], &e.voice[1] };

    // The two sides share nothing but the mix. When both voices are in the
    // same state, which is usual, one sweep serves both.
    for (int i = 0; i < numSamples; i += pieceSize)
    {
        const int n = std::min (pieceSize, numSamples - i);
        float* const left = channels[0] + i;
        float* const right = channels[1] + i;

        if (voices[0]->processesInBlocks() && voices[1]->processesInBlocks() && voices[0]->sweepsLike (*voices[1]))
        {
            e.preDelay[0].process (left, s.delayed[0], n);
            e.preDelay[1].process (right, s.delayed[1], n);

            const ChorusVoice::Signals signals[] = { { s.delayed[0], left, left, nullptr, Mix::add, mix },
                                                     { s.delayed[1], right, right, nullptr, Mix::subtract, mix } };
            ChorusVoice::processInBlocks (voices, signals, 2, n);
        }
        else
        {
            processChannel (e.preDelay[0], *voices[0], left, nullptr, n, mix, Mix::add, s);
            processChannel (e.preDelay[1], *voices[1], right, nullptr, n, mix, Mix::subtract, s);
        }
    }
}
