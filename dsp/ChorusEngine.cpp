#include "dsp/ChorusEngine.h"

#include "dsp/ChorusKernels.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined (__linux__)
 #include <sys/mman.h>
 #include <unistd.h>
#endif

// Maps in the pages of fresh memory that is about to be written whole (a
// delay line being prepared): one call instead of a page fault for every
// page, which in a virtual machine costs the most of making an instance.
// Where the system cannot, the writes fault the pages in as before.
static void prefault (void* data, size_t bytes, uintptr_t page) noexcept
{
#if defined (__linux__) && defined (MADV_POPULATE_WRITE)
    const auto start = ((uintptr_t) data + page - 1) & ~(page - 1);
    const auto end = ((uintptr_t) data + bytes) & ~(page - 1);

    if (end > start)
        madvise ((void*) start, end - start, MADV_POPULATE_WRITE);
#else
    (void) data;
    (void) bytes;
    (void) page;
#endif
}

// The size of the system's memory pages.
static size_t pageSize() noexcept
{
#if defined (__linux__)
    return (size_t) sysconf (_SC_PAGESIZE);
#else
    return 4096;   // as on every x86-64 system (Windows' pages are 4 KiB)
#endif
}

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

    // The lines the voices were built with hold zeros that nothing has
    // written; they are mapped in only when the engine is prepared to play,
    // by when the rate may have changed (and they been replaced).
    resize ((uint32_t) usableRateOrFallback (rate), true);
    copyControlsToVoices();

    // Chooses the vector code for this processor now rather than in the
    // first block.
    ChorusKernels::activeTarget();
}

void ChorusEngine::setSampleRate (uint32_t rate)
{
    if (! isUsableSampleRate ((double) rate))
        return;

    if (rate != sampleRate)
        resize (rate, false);

    makeLinesResident();
}

void ChorusEngine::resize (uint32_t rate, bool linesAreZero)
{
    // Storage for every array first, fresh where an array must grow (what
    // it held is not kept: preparing clears it): if an allocation fails
    // nothing has changed yet, and what follows cannot fail.
    SampleStore lines[2];
    std::vector<float> rings[2];
    const auto lineLength = (size_t) rate * 2;
    const auto ringLength = (size_t) PreDelayBuffer::lengthFor (rate, (uint32_t) preDelay[0].lengthMs);

    for (size_t i = 0; i < 2; ++i)
    {
        if (voice[i].line.buffer.capacity() < lineLength)
            lines[i].reserve (lineLength);

        if (preDelay[i].data.capacity() < ringLength)
            rings[i].reserve (ringLength);
    }

    sampleRate = rate;

    for (size_t i = 0; i < 2; ++i)
    {
        // A fresh store holds zeros already: preparing the voice need not
        // write them (and so map in every page) again.
        const bool fresh = lines[i].capacity() > 0;

        if (fresh)
            voice[i].line.buffer.swap (lines[i]);

        if (rings[i].capacity() > 0)
            preDelay[i].data.swap (rings[i]);

        voice[i].prepare ((int32_t) rate, fresh || linesAreZero);
        preDelay[i].resize (rate);
    }

    linesResident = false;

    // Emptied: nothing small is left inside.
    samplesSinceSmallInput = quietForEver;
    samplesHeld = preDelay[0].length + (int32_t) voice[0].line.delaySamplesFor (voice[0].maxDelayMs) + 2;
}

void ChorusEngine::makeLinesResident() noexcept
{
    if (linesResident)
        return;

    // Every page of the lines mapped in and written once, before the audio
    // thread writes there: a page first touched on the audio thread would
    // cost it a page fault. Writing each page's first sample back as it is
    // changes nothing the lines hold.
    const auto page = pageSize();
    const auto perPage = page / sizeof (float);

    for (auto& v : voice)
    {
        auto* const data = v.line.buffer.data();
        const auto samples = v.line.buffer.size();
        prefault (data, samples * sizeof (float), page);

        auto* const touched = static_cast<volatile float*> (data);

        for (size_t i = 0; i < samples; i += perPage)
            touched[i] = touched[i];
    }

    linesResident = true;
}

void ChorusEngine::reset() noexcept
{
    // At the current rate the rings and lines keep their size, so that
    // preparing them again only clears them.
    for (auto& v : voice)
        v.prepare ((int32_t) sampleRate);

    for (auto& p : preDelay)
        p.resize (sampleRate);

    copyControlsToVoices();
    blockPath = BlockPath {};
    samplesSinceSmallInput = quietForEver;
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
    using BlockPath = ChorusEngine::BlockPath;

    // Runs are split into whole vectors of the widest kernel, which are
    // whole vectors of every other one too.
    constexpr int vector = ChorusKernels::maxLanes;
    static_assert (BlockPath::standInFrames >= 2 * vector, "the stand-ins take the vectors around a wrap");

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

    /** Equal bits. */
    bool same (float a, float b) noexcept
    {
        uint32_t x = 0, y = 0;
        std::memcpy (&x, &a, sizeof (x));
        std::memcpy (&y, &b, sizeof (y));
        return x == y;
    }

    bool same (double a, double b) noexcept
    {
        uint64_t x = 0, y = 0;
        std::memcpy (&x, &a, sizeof (x));
        std::memcpy (&y, &b, sizeof (y));
        return x == y;
    }

    /** Whether both channels may run in vectors with one sweep for both:
        the first one runsInVectors(), and the second one's voice holds the
        same values in everything that processesInBlocks() and sweepsLike()
        read, so that the answers for it are the same. */
    bool bothRunInVectorsAlike (const Channel (&both)[2]) noexcept
    {
        const ChorusVoice& a = both[0].voice;
        const ChorusVoice& b = both[1].voice;

        return same (a.lfo.phase, b.lfo.phase) && same (a.lfo.increment, b.lfo.increment)
            && same (a.depthPercent, b.depthPercent) && same (a.minDelayMs, b.minDelayMs)
            && same (a.maxDelayMs, b.maxDelayMs) && same (a.line.samplesPerMs, b.line.samplesPerMs)
            && same (a.line.wetGain, b.line.wetGain) && a.line.length == b.line.length
            && a.lfo.running == b.lfo.running && a.lfo.inverted == b.lfo.inverted
            && a.lfo.waveform == b.lfo.waveform && a.lfo.bandLimited == b.lfo.bandLimited
            && a.lfo.unipolar == b.lfo.unipolar && both[1].preDelay.length > 1
            && runsInVectors (both[0]);
    }

    /** n samples of a ring from position `from`, wrapping at its end
        (n below the ring's length). */
    void copyFromRing (const PreDelayBuffer& ring, int32_t from, float* to, int n) noexcept
    {
        const int first = std::min (n, ring.length - from);
        std::memcpy (to, ring.data.data() + from, sizeof (float) * (size_t) first);
        std::memcpy (to + first, ring.data.data(), sizeof (float) * (size_t) (n - first));
    }

    void copyToRing (const float* from, PreDelayBuffer& ring, int32_t at, int n) noexcept
    {
        const int first = std::min (n, ring.length - at);
        std::memcpy (ring.data.data() + at, from, sizeof (float) * (size_t) first);
        std::memcpy (ring.data.data(), from + first, sizeof (float) * (size_t) (n - first));
    }

    /** How many ticks from `phase` add exactly `step` each, at most
        `wanted`: WavetableLfo::uniformSteps, answered from the run the last
        block ended in where it continues. */
    int uniformSteps (BlockPath& path, float phase, float increment, float& step, int wanted) noexcept
    {
        if (! (same (phase, path.phase) && same (increment, path.increment) && path.uniformTicks >= 0))
        {
            // The whole run: a block is never this long.
            path.uniformTicks = WavetableLfo::uniformSteps (phase, increment, path.step, 1 << 30);
            path.phase = phase;
            path.increment = increment;
        }

        step = path.step;
        return std::min (path.uniformTicks, wanted);
    }

    /** The run continues `count` ticks further (count at most what
        uniformSteps() answered). */
    void advanceUniform (BlockPath& path, float phase, int count) noexcept
    {
        path.phase = phase;
        if (path.uniformTicks < (1 << 30))
            path.uniformTicks -= count;
    }

    /**
        n steps of one channel, or of two whose voices sweepsLike() each
        other, that runsInVectors(): the same as n pre-delay steps and
        processSample calls, in vector runs, leaving the same state behind.
        The voice reads its input straight from the pre-delay ring and keeps
        the dry input there, or, in the vectors where a ring wraps, from and
        in stand-ins copied out of and into the ring.
    */
    template <int numChannels>
    void processInRuns (const Channel* channels, float mix, int n, BlockPath& path) noexcept
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

            run[c] = { line.buffer.data(), line.length, line.writeIndex, line.feedbackGain, nullptr, nullptr,
                       channels[c].samples, channels[c].samples, channels[c].mirror, channels[c].how, mix, 0.0f };
        }

        float phase = leader.lfo.phase;
        ChorusKernels::LastDelay last {};
        alignas (64) float phases[vector];

        // The usual block: no ring or line wraps within it, and the phase
        // advances by equal steps throughout. One run, set up at once.
        bool usual = true;

        for (int c = 0; c < numChannels; ++c)
            usual = usual && ringRead[c] + n <= channels[c].preDelay.length && ringWrite[c] + n <= channels[c].preDelay.length
                 && run[c].writeIndex + n <= run[c].length;

        float usualStep = 0.0f;
        usual = usual && uniformSteps (path, phase, increment, usualStep, n) == n;
        const int first = usual ? n : 0;

        if (usual)
        {
            for (int c = 0; c < numChannels; ++c)
            {
                float* const ring = channels[c].preDelay.data.data();
                run[c].input = ring + ringRead[c];
                run[c].keep = ring + ringWrite[c];
            }

            last = ChorusKernels::process (settings, phase, usualStep, n, run, numChannels);
            phase = phase + (float) n * usualStep;
            advanceUniform (path, phase, n);

            for (int c = 0; c < numChannels; ++c)
            {
                run[c].writeIndex += n;
                if (run[c].writeIndex == run[c].length)
                    run[c].writeIndex = 0;

                ringWrite[c] += n;
                if (ringWrite[c] == channels[c].preDelay.length)
                    ringWrite[c] = 0;
            }
        }

        for (int done = first; done < n;)
        {
            // A segment: the samples up to the last whole vector before a
            // ring wraps, read and kept in the ring itself; then the
            // vectors around the wrap, read and kept in the stand-ins (less
            // than a ring's length, so that every sample they read was
            // stored before them).
            int segment = n - done;

            for (int c = 0; c < numChannels; ++c)
                segment = std::min ({ segment, channels[c].preDelay.length - ringRead[c],
                                      channels[c].preDelay.length - ringWrite[c] });

            const bool wraps = segment < vector && segment < n - done;

            if (wraps)
            {
                segment = std::min (n - done, 2 * vector);

                for (int c = 0; c < numChannels; ++c)
                    segment = std::min (segment, channels[c].preDelay.length - 1);

                for (int c = 0; c < numChannels; ++c)
                {
                    copyFromRing (channels[c].preDelay, ringRead[c], path.standInInput[c], segment);
                    run[c].input = path.standInInput[c];
                    run[c].keep = path.standInKeep[c];
                }
            }
            else
            {
                if (segment < n - done)
                    segment -= segment % vector;

                for (int c = 0; c < numChannels; ++c)
                {
                    float* const ring = channels[c].preDelay.data.data();
                    run[c].input = ring + ringRead[c];
                    run[c].keep = ring + ringWrite[c];
                }
            }

            for (int inSegment = 0; inSegment < segment;)
            {
                // Runs end where a line wraps, and where the phase stops
                // advancing by one exact step: a tick that crosses a power
                // of two, wraps or rounds by parity. The vector holding such
                // a tick gets its phases tick by tick, as tick() takes them,
                // so that runs stay whole vectors.
                int count = segment - inSegment;

                for (int c = 0; c < numChannels; ++c)
                    count = std::min (count, run[c].length - run[c].writeIndex);

                float step = 0.0f;
                const int uniform = uniformSteps (path, phase, increment, step, count);

                if (uniform == count || uniform >= vector)
                {
                    count = uniform == count ? count : uniform - uniform % vector;
                    last = ChorusKernels::process (settings, phase, step, count, run, numChannels);
                    phase = phase + (float) count * step;
                    advanceUniform (path, phase, count);
                }
                else
                {
                    count = std::min (count, vector);

                    for (auto& p : phases)
                    {
                        p = phase;
                        phase = WavetableLfo::advance (phase, increment);
                    }

                    if (count < vector)
                        phase = phases[count];

                    last = ChorusKernels::processAt (settings, phases, count, run, numChannels);
                }

                for (int c = 0; c < numChannels; ++c)
                {
                    auto& r = run[c];
                    r.writeIndex += count;
                    if (r.writeIndex == r.length)
                        r.writeIndex = 0;

                    r.input += count;
                    r.keep += count;
                    r.dry += count;
                    r.out0 += count;
                    r.out1 = r.out1 == nullptr ? nullptr : r.out1 + count;
                }

                inSegment += count;
            }

            for (int c = 0; c < numChannels; ++c)
            {
                const int32_t ringLength = channels[c].preDelay.length;

                if (wraps)
                    copyToRing (path.standInKeep[c], channels[c].preDelay, ringWrite[c], segment);

                ringRead[c] += segment;
                if (ringRead[c] >= ringLength)
                    ringRead[c] -= ringLength;

                ringWrite[c] += segment;
                if (ringWrite[c] >= ringLength)
                    ringWrite[c] -= ringLength;
            }

            done += segment;
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
    void processChannel (const Channel& c, float mix, int numSamples, BlockPath& path) noexcept
    {
        if (runsInVectors (c))
            processInRuns<1> (&c, mix, numSamples, path);
        else
            processSampleBySample (c, mix, numSamples);
    }
}

// The mix is read once per block.

void ChorusEngine::processMono (ChorusEngine& e, float* const* channels, int, int numSamples) noexcept
{
    processChannel ({ e.preDelay[0], e.voice[0], channels[0], nullptr, Mix::add }, e.mix.load(), numSamples, e.blockPath);
}

void ChorusEngine::processMonoToStereo (ChorusEngine& e, float* const* channels, int numChannels, int numSamples) noexcept
{
    if (numChannels == 1)
        return processMono (e, channels, numChannels, numSamples);

    processChannel ({ e.preDelay[0], e.voice[0], channels[0], channels[1], Mix::addAndSubtract }, e.mix.load(), numSamples,
                    e.blockPath);
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

    if (bothRunInVectorsAlike (both))
    {
        processInRuns<2> (both, mix, numSamples, e.blockPath);
        return;
    }

    processChannel (both[0], mix, numSamples, e.blockPath);
    processChannel (both[1], mix, numSamples, e.blockPath);
}
