#include "dsp/ChorusEngine.h"

#include "dsp/ChorusKernels.h"

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

    // A plain load first: most blocks bring no new controls.
    if (controlsPending.load (std::memory_order_relaxed) && controlsPending.exchange (false, std::memory_order_acquire))
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

    /** One processed channel: its pre-delay, its voice, and where its
        result goes. */
    struct Channel
    {
        PreDelayBuffer& preDelay;
        ChorusVoice& voice;
        float* samples;     // input, and output as `how` says
        float* mirror;      // the second output of Mix::addAndSubtract
        Mix how;
    };

    /** Whether a channel's steps may run in vectors: its voice allows it,
        and its pre-delay ring has at least two positions, so that a step
        reads another position than the one it writes (the kernel reads
        each input before it keeps the dry sample). */
    bool runsInVectors (const Channel& c) noexcept
    {
        return c.voice.processesInBlocks() && c.preDelay.length > 1;
    }

    /**
        n steps of one channel, or of two whose voices sweepsLike() each
        other, that runsInVectors(): the same as n pre-delay steps and
        processSample calls, in vector runs, leaving the same state behind.
        The voice reads its input straight from the pre-delay ring and keeps
        the dry input there.
    */
    void processInRuns (const Channel* channels, int numChannels, float mix, int n) noexcept
    {
        const ChorusVoice& leader = channels[0].voice;
        const ChorusKernels::SweepSettings settings { leader.minDelayMs, leader.maxDelayMs - leader.minDelayMs,
                                                      leader.depthPercent, leader.line.samplesPerMs };
        const float increment = leader.lfo.increment;

        // Step s reads pre-delay position readIndex + 1 + s and writes
        // readIndex + s (modulo its length): the ring's write position
        // always trails its read position by one.
        ChorusKernels::Voice run[2];
        int32_t ringRead[2] = {}, ringWrite[2] = {};

        for (int c = 0; c < numChannels; ++c)
        {
            auto& line = channels[c].voice.line;
            auto& ring = channels[c].preDelay;
            ringWrite[c] = ring.readIndex;
            ringRead[c] = ring.readIndex + 1 == ring.length ? 0 : ring.readIndex + 1;

            run[c] = { line.buffer.data(), line.length, line.writeIndex, line.feedbackGain,
                       ring.data.data() + ringRead[c], ring.data.data() + ringWrite[c],
                       channels[c].samples, channels[c].samples, channels[c].mirror, channels[c].how, mix, 0.0f };
        }

        float phase = leader.lfo.phase;
        ChorusKernels::LastDelay last {};

        for (int done = 0; done < n;)
        {
            // Runs end where a line or a ring wraps, and where the phase
            // stops advancing by one exact step: a tick that crosses a power
            // of two, wraps or rounds by parity goes alone, as tick() takes it.
            int count = n - done;

            for (int c = 0; c < numChannels; ++c)
            {
                const int32_t ringLength = channels[c].preDelay.length;
                count = std::min ({ count, run[c].length - run[c].writeIndex, ringLength - ringRead[c], ringLength - ringWrite[c] });
            }

            float step = 0.0f;
            count = WavetableLfo::uniformSteps (phase, increment, step, count);

            if (count == 0)
            {
                last = ChorusKernels::process (settings, phase, 0.0f, 1, run, numChannels);
                phase = WavetableLfo::advance (phase, increment);
                count = 1;
            }
            else
            {
                last = ChorusKernels::process (settings, phase, step, count, run, numChannels);
                phase = phase + (float) count * step;
            }

            for (int c = 0; c < numChannels; ++c)
            {
                auto& r = run[c];
                float* const ring = channels[c].preDelay.data.data();
                const int32_t ringLength = channels[c].preDelay.length;

                r.writeIndex += count;
                if (r.writeIndex == r.length)
                    r.writeIndex = 0;

                ringRead[c] += count;
                if (ringRead[c] == ringLength)
                    ringRead[c] = 0;

                ringWrite[c] += count;
                if (ringWrite[c] == ringLength)
                    ringWrite[c] = 0;

                r.input = ring + ringRead[c];
                r.keep = ring + ringWrite[c];
                r.dry += count;
                r.out0 += count;
                r.out1 = r.out1 == nullptr ? nullptr : r.out1 + count;
            }

            done += count;
        }

        // The state the last steps would have left.
        for (int c = 0; c < numChannels; ++c)
        {
            auto& ring = channels[c].preDelay;
            ring.readIndex = ringWrite[c];
            ring.writeIndex = ring.readIndex == 0 ? ring.length - 1 : ring.readIndex - 1;

            auto& voice = channels[c].voice;
            auto& line = voice.line;
            voice.lfo.phase = phase;
            line.delayMs = last.ms;
            line.delaySamples = last.samples;
            line.lastOutput = run[c].lastOutput;
            line.writeIndex = run[c].writeIndex;

            // The last step's read position, advanced by one.
            line.readIndex = line.writeIndex - (int32_t) line.delaySamples;
            if (line.readIndex < 0)
                line.readIndex += line.length;
        }
    }

    /** n steps of one channel, sample by sample: for settings the vector
        runs do not cover. */
    void processSampleBySample (const Channel& c, float mix, int n) noexcept
    {
        for (int i = 0; i < n; ++i)
        {
            const float x = c.samples[i];
            const float w = c.voice.processSample (c.preDelay.step (x));

            switch (c.how)
            {
                case Mix::add:            c.samples[i] = w * mix + x; break;
                case Mix::subtract:       c.samples[i] = x - w * mix; break;
                case Mix::addAndSubtract: c.samples[i] = mix * w + x; c.mirror[i] = x - mix * w; break;
            }
        }
    }

    /** A block of one processed channel. */
    void processChannel (const Channel& c, float mix, int numSamples) noexcept
    {
        if (runsInVectors (c))
            processInRuns (&c, 1, mix, numSamples);
        else
            processSampleBySample (c, mix, numSamples);
    }
}

// The mix is read once per block.

void ChorusEngine::processMono (ChorusEngine& e, float* const* channels, int, int numSamples) noexcept
{
    processChannel ({ e.preDelay[0], e.voice[0], channels[0], nullptr, Mix::add }, e.mix.load(), numSamples);
}

void ChorusEngine::processMonoToStereo (ChorusEngine& e, float* const* channels, int numChannels, int numSamples) noexcept
{
    if (numChannels == 1)
        return processMono (e, channels, numChannels, numSamples);

    processChannel ({ e.preDelay[0], e.voice[0], channels[0], channels[1], Mix::addAndSubtract }, e.mix.load(), numSamples);
}

void ChorusEngine::processStereo (ChorusEngine& e, float* const* channels, int numChannels, int numSamples) noexcept
{
    if (numChannels == 1)
        return processMono (e, channels, numChannels, numSamples);

    const float mix = e.mix.load();
    auto& left = e.voice[0];
    auto& right = e.voice[1];

    // The two sides share nothing but the mix. When both voices are in the
    // same state, which is usual, one sweep serves both.
    const Channel both[] = { { e.preDelay[0], left, channels[0], nullptr, Mix::add },
                             { e.preDelay[1], right, channels[1], nullptr, Mix::subtract } };

    if (runsInVectors (both[0]) && runsInVectors (both[1]) && left.sweepsLike (right))
    {
        processInRuns (both, 2, mix, numSamples);
        return;
    }

    processChannel (both[0], mix, numSamples);
    processChannel (both[1], mix, numSamples);
}
