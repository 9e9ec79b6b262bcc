// The engine works in blocks and vector lanes; these tests hold it to the
// per-sample steps (ChorusVoice::processSample and PreDelayBuffer::step),
// bit for bit, with every instruction set the build compiled and this
// processor runs.
//
// TESSAMUNE_LONG_CHECK=<frames> lengthens the engine comparison to that many
// frames per rate and instruction set.
#include "dsp/ChorusEngine.h"
#include "dsp/ChorusKernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace
{
    using Routing = ChorusEngine::Routing;

    // The routings sample by sample: what the engine computed before it
    // worked in blocks.
    void referenceMono (ChorusEngine& e, float* const* channels, int, int numSamples) noexcept
    {
        float* const left = channels[0];

        for (int s = 0; s < numSamples; ++s)
        {
            const float x = left[s];
            const float w = e.voice[0].processSample (e.preDelay[0].step (x));
            left[s] = w * e.mix.load() + x;
        }
    }

    void referenceMonoToStereo (ChorusEngine& e, float* const* channels, int numChannels, int numSamples) noexcept
    {
        if (numChannels == 1)
            return referenceMono (e, channels, numChannels, numSamples);

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

    void referenceStereo (ChorusEngine& e, float* const* channels, int numChannels, int numSamples) noexcept
    {
        if (numChannels == 1)
            return referenceMono (e, channels, numChannels, numSamples);

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

    const Routing routings[] = { ChorusEngine::processMono, ChorusEngine::processMonoToStereo, ChorusEngine::processStereo };
    const Routing references[] = { referenceMono, referenceMonoToStereo, referenceStereo };

    /** Equal bits, except that any NaN equals any NaN: which NaN comes out
        of a NaN input depends on the order of the operands. */
    bool same (float a, float b)
    {
        if (std::isnan (a) || std::isnan (b))
            return std::isnan (a) && std::isnan (b);

        return std::memcmp (&a, &b, sizeof (float)) == 0;
    }

    template <typename Store>
    bool sameVector (const Store& a, const Store& b)
    {
        if (a.size() != b.size())
            return false;

        for (size_t i = 0; i < a.size(); ++i)
            if (! same (a[i], b[i]))
                return false;

        return true;
    }

    /** Runs f once for each instruction set compiled in that this processor
        supports, with the kernels restricted to it. */
    template <typename F>
    void forEachTarget (F&& f)
    {
        const int64_t available = ChorusKernels::compiledTargets() & ChorusKernels::supportedTargets();
        int ran = 0;

        for (int64_t targets = available; targets != 0; targets &= targets - 1)
        {
            const int64_t target = targets & -targets;
            ChorusKernels::useOnly (target);
            SCOPED_TRACE (ChorusKernels::targetName (target));
            ASSERT_STREQ (ChorusKernels::activeTarget(), ChorusKernels::targetName (target));
            f();
            ++ran;
        }

        ChorusKernels::useOnly (0);
        EXPECT_GE (ran, 1);
    }

    /** Input with everything a host might hand over: music-like signal,
        silence of both signs, subnormals, huge values, infinities and NaN. */
    struct Signal
    {
        explicit Signal (uint32_t seed) : random (seed) {}

        float next()
        {
            ++n;

            if (special > 0)
            {
                --special;
                return specialValue;
            }

            const uint32_t dice = random() % 20000;

            if (dice < 12)
            {
                static const float values[] = {
                    -0.0f, 0.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                    -std::numeric_limits<float>::infinity(), 3.0e38f, -3.4e38f, 1.0e-40f, -1.0e-45f,
                    std::numeric_limits<float>::min(), -0.0f, 0.0f
                };
                specialValue = values[dice];
                // Mostly a single sample, sometimes a run (silence of
                // either sign, a stretch of subnormals).
                special = (random() % 4 == 0) ? (int) (random() % 3000) : 0;
                return specialValue;
            }

            const float tone = 0.5f * std::sin (0.0123f * (float) (n % 100000)) + 0.2f * std::sin (0.371f * (float) (n % 7919));
            return tone + ((float) (random() % 2001) - 1000.0f) * 1.0e-4f;
        }

        std::mt19937 random;
        int64_t n = 0;
        int special = 0;
        float specialValue = 0.0f;
    };

    std::string describe (const ChorusEngine& e)
    {
        return "depth " + std::to_string (e.voice[0].depthPercent) + ", speed " + std::to_string (e.voice[0].speedHz)
             + ", phase " + std::to_string (e.voice[0].lfo.phase);
    }

    void expectSameState (const ChorusEngine& a, const ChorusEngine& b)
    {
        for (int v = 0; v < 2; ++v)
        {
            const auto& x = a.voice[v];
            const auto& y = b.voice[v];
            EXPECT_TRUE (same (x.lfo.phase, y.lfo.phase)) << v;
            EXPECT_TRUE (same (x.line.delayMs, y.line.delayMs)) << v;
            EXPECT_TRUE (same (x.line.delaySamples, y.line.delaySamples)) << v;
            EXPECT_TRUE (same (x.line.lastOutput, y.line.lastOutput)) << v;
            EXPECT_EQ (x.line.readIndex, y.line.readIndex) << v;
            EXPECT_EQ (x.line.writeIndex, y.line.writeIndex) << v;
            EXPECT_TRUE (sameVector (x.line.buffer, y.line.buffer)) << v;
            EXPECT_EQ (a.preDelay[v].readIndex, b.preDelay[v].readIndex) << v;
            EXPECT_EQ (a.preDelay[v].writeIndex, b.preDelay[v].writeIndex) << v;
            EXPECT_TRUE (sameVector (a.preDelay[v].data, b.preDelay[v].data)) << v;
        }
    }

    int64_t framesPerRun (int64_t standard)
    {
        const char* long_ = std::getenv ("TESSAMUNE_LONG_CHECK");
        return long_ != nullptr ? std::max<int64_t> (standard, std::atoll (long_)) : standard;
    }

    /**
        Runs the engine and a per-sample reference side by side at one rate
        over `frames` frames: blocks of 1 to 4096 samples, controls changed
        between blocks (knob positions and arbitrary values), routings
        switched (so the voices fall out of step), compared after every
        block. Adds the frames compared to `compared`.
    */
    void compareWithReference (int rate, uint32_t seed, int64_t frames, int64_t& compared)
    {
        ChorusEngine engine (rate), reference (rate);
        std::mt19937 random (seed);
        Signal left (seed + 1), right (seed + 2);

        int which = 2;
        int64_t done = 0;

        std::vector<float> a0, a1, b0, b1;

        while (done < frames && ! ::testing::Test::HasFailure())
        {
            const uint32_t dice = random() % 100;

            if (dice < 8)
            {
                // Knob positions as the parameters give them, or any value in range.
                const bool knobs = random() % 2 == 0;
                const float depth = knobs ? (float) (random() % 11) * 10.0f : (float) (random() % 100001) / 1000.0f;
                const float speed = knobs ? (float) (random() % 101) * 0.1f * 0.498f + 0.02f
                                          : 0.02f + (float) (random() % 100000) / 100000.0f * 4.98f;

                for (auto* e : { &engine, &reference })
                {
                    e->depthPercent = dice == 0 ? 0.0f : dice == 1 ? 100.0f : depth;
                    e->speedHz = dice == 2 ? 0.0f : speed;
                    e->applyControls();
                }
            }

            if (dice >= 8 && dice < 11)
                which = (int) (random() % 3);

            if (dice == 11)
            {
                const float mix = (float) (random() % 76) / 100.0f;
                engine.mix = mix;
                reference.mix = mix;
            }

            engine.routing = routings[which];
            reference.routing = references[which];

            const uint32_t sizeDice = random() % 10;
            const int n = sizeDice < 3 ? 64 : sizeDice < 5 ? 512 : sizeDice < 7 ? 1 + (int) (random() % 64)
                                                                                : 1 + (int) (random() % 4096);
            const int channels = which == 0 ? 1 : 2;

            a0.resize ((size_t) n);
            a1.resize ((size_t) n);

            for (int s = 0; s < n; ++s)
            {
                a0[(size_t) s] = left.next();
                a1[(size_t) s] = right.next();
            }

            b0 = a0;
            b1 = a1;
            float* pa[] = { a0.data(), a1.data() };
            float* pb[] = { b0.data(), b1.data() };

            engine.process (pa, channels, n);
            reference.process (pb, channels, n);

            for (int s = 0; s < n; ++s)
            {
                ASSERT_TRUE (same (a0[(size_t) s], b0[(size_t) s]) && same (a1[(size_t) s], b1[(size_t) s]))
                    << rate << " Hz, routing " << which << ", block of " << n << ", sample " << s << " of frame " << done
                    << ": " << a0[(size_t) s] << " / " << b0[(size_t) s] << ", " << a1[(size_t) s] << " / " << b1[(size_t) s]
                    << " (" << describe (reference) << ")";
            }

            done += n;
            compared += n;
        }

        expectSameState (engine, reference);
    }
}

TEST (BlockProcessing, MatchesTheSampleBySampleStepsInEveryRoutingRateAndInstructionSet)
{
    // 3000 Hz and below: the delay is shorter than a vector, the engine goes
    // sample by sample; the rest in blocks.
    const int rates[] = { 50, 3000, 8000, 22050, 44100, 48000, 88200, 96000, 192000 };
    int64_t compared = 0;

    forEachTarget ([&]
    {
        uint32_t seed = 1;

        for (int rate : rates)
        {
            compareWithReference (rate, seed++, framesPerRun (rate >= 8000 ? 400000 : 20000), compared);

            if (HasFailure())
                return;
        }
    });

    std::cout << "compared " << compared << " frames in all, with";
    for (int64_t t = ChorusKernels::compiledTargets(); t != 0; t &= t - 1)
        std::cout << " " << ChorusKernels::targetName (t & -t)
                  << ((t & -t & ChorusKernels::supportedTargets()) != 0 ? "" : " (not on this processor)");
    std::cout << "\n";
}

// Blocks of one sample and of a few, at every position of the pre-delay
// rings and across a wrap of the delay lines: where a block ends right at a
// wrap, starts at one, or is shorter than a vector.
TEST (BlockProcessing, MatchesTheStepsInShortBlocksAcrossEveryWrap)
{
    const int odd[] = { 1, 2, 3, 5, 15, 16, 17, 31, 33, 48, 64 };

    forEachTarget ([&]
    {
        for (int which = 0; which < 3; ++which)
        {
            ChorusEngine engine (48000), reference (48000);
            for (auto* e : { &engine, &reference })
            {
                e->depthPercent = 50.0f;
                e->speedHz = 2.51f;
                e->applyControls();
            }

            engine.routing = routings[which];
            reference.routing = references[which];

            const int lineLength = engine.voice[0].line.length;
            Signal left (11), right (12);
            std::vector<float> a0, a1;

            for (int done = 0, k = 0; done < lineLength + 4000; ++k)
            {
                // One sample at a time through two turns of the rings and
                // around the lines' wrap, sizes in turn elsewhere.
                const bool single = done < 2000 || (done > lineLength - 100 && done < lineLength + 100);
                const int n = single ? 1 : odd[k % std::size (odd)];

                a0.resize ((size_t) n);
                a1.resize ((size_t) n);
                for (int s = 0; s < n; ++s)
                {
                    a0[(size_t) s] = left.next();
                    a1[(size_t) s] = right.next();
                }

                auto b0 = a0, b1 = a1;
                float* pa[] = { a0.data(), a1.data() };
                float* pb[] = { b0.data(), b1.data() };
                engine.process (pa, 2, n);
                reference.process (pb, 2, n);

                ASSERT_TRUE (sameVector (a0, b0) && sameVector (a1, b1)) << "routing " << which << ", frame " << done << ", block of " << n;
                done += n;
            }

            expectSameState (engine, reference);
        }
    });
}

// Short blocks of odd lengths, each leaving samples after its last whole
// vector, over three laps of every delay line. From the second lap on, a
// read that wraps behind the start of a line finds what the lap before
// wrote at its end, so a wrap off by one changes the output; on the first
// lap the end of the line still holds zeros and either read gives zero.
// Around each wrap of the lines the blocks are shortest, so that the
// samples after the last whole vector read across the wrap.
TEST (BlockProcessing, MatchesTheStepsInOddBlocksOverSeveralLapsOfTheLines)
{
    struct Case { int rate; float depth; float speed; };
    const Case cases[] = { { 8000, 100.0f, 4.98f }, { 22050, 50.0f, 2.51f }, { 48000, 37.3f, 0.77f } };
    const int nearWrap[] = { 1, 3, 5, 7, 15, 17, 19, 31, 33, 47, 63, 65 };
    const int elsewhere[] = { 97, 129, 255, 383, 511, 1021 };
    constexpr int laps = 3;

    forEachTarget ([&]
    {
        for (const auto& c : cases)
        {
            for (int which = 0; which < 3; ++which)
            {
                ChorusEngine engine (c.rate), reference (c.rate);
                for (auto* e : { &engine, &reference })
                {
                    e->depthPercent = c.depth;
                    e->speedHz = c.speed;
                    e->applyControls();
                }

                engine.routing = routings[which];
                reference.routing = references[which];

                const int lineLength = engine.voice[0].line.length;
                // The longest delay a read reaches back, with room to spare.
                const int reach = (int) std::ceil (engine.voice[0].maxDelayMs * (double) engine.voice[0].line.samplesPerMs) + 200;
                Signal left ((uint32_t) c.rate), right ((uint32_t) c.rate + 1);
                std::vector<float> a0, a1;
                bool oddBlocksAfterWrap[laps] {};

                for (int done = 0, k = 0; done < laps * lineLength; ++k)
                {
                    const int intoLap = done % lineLength;
                    const bool aroundWrap = intoLap < reach || intoLap > lineLength - 300;
                    const int n = aroundWrap ? nearWrap[k % std::size (nearWrap)] : elsewhere[k % std::size (elsewhere)];

                    a0.resize ((size_t) n);
                    a1.resize ((size_t) n);
                    for (int s = 0; s < n; ++s)
                    {
                        a0[(size_t) s] = left.next();
                        a1[(size_t) s] = right.next();
                    }

                    auto b0 = a0, b1 = a1;
                    float* pa[] = { a0.data(), a1.data() };
                    float* pb[] = { b0.data(), b1.data() };
                    engine.process (pa, 2, n);
                    reference.process (pb, 2, n);

                    ASSERT_TRUE (sameVector (a0, b0) && sameVector (a1, b1))
                        << c.rate << " Hz, routing " << which << ", frame " << done << " (lap " << done / lineLength + 1
                        << "), block of " << n << " (" << describe (reference) << ")";

                    if (intoLap < reach && n % ChorusKernels::maxLanes != 0)
                        oddBlocksAfterWrap[done / lineLength] = true;

                    done += n;
                }

                // Every lap after the first began with odd blocks.
                for (int lap = 1; lap < laps; ++lap)
                    EXPECT_TRUE (oddBlocksAfterWrap[lap]) << c.rate << " Hz, routing " << which << ", lap " << lap + 1;
                expectSameState (engine, reference);
            }
        }
    });
}

// Oscillator settings the engine never makes by itself, written straight
// into the voices: increments that round by parity, that leave the phase
// standing, phases just below a power of two or the wrap, a stopped sweep.
TEST (BlockProcessing, MatchesTheStepsForAwkwardOscillatorStates)
{
    struct Case { float phase; float increment; };
    const float spacing512 = std::ldexp (1.0f, -14);   // between floats in [512, 1024)

    const Case cases[] = {
        { 600.0f, 1.5f * spacing512 },                        // ties in [512, 1024)
        { 300.0f, 0.75f * spacing512 },                       // ties in [256, 512)
        { 700.0f, 0.25f * spacing512 },                       // below half a spacing: the phase stands
        { 700.0f, 0.5f * spacing512 },                        // exactly half: rounds to even
        { 1023.99f, 0.01f },                                  // wraps at once
        { 511.999f, 0.0005f },                                // crosses 512 at once
        { 0.0f, 1.0e-7f },                                    // climbs through the small powers of two
        { 0.0f, 0.0f },
        { 3.0f, 1000.0f },                                    // a large increment
        { std::nextafter (1024.0f, 0.0f), 0.0f },
    };

    forEachTarget ([&]
    {
        for (const auto& c : cases)
        {
            for (int which = 0; which < 3; ++which)
            {
                ChorusEngine engine (48000), reference (48000);
                engine.routing = routings[which];
                reference.routing = references[which];
                engine.depthPercent = 100.0f;
                reference.depthPercent = 100.0f;

                // Let the construction's controls reach the voices first.
                float silence[2] = {};
                float* one[] = { silence, silence + 1 };
                engine.process (one, 2, 1);
                reference.process (one, 2, 1);

                for (auto* e : { &engine, &reference })
                {
                    e->voice[0].depthPercent = 100.0f;
                    e->voice[1].depthPercent = 100.0f;

                    for (auto& v : e->voice)
                    {
                        v.lfo.phase = c.phase;
                        v.lfo.increment = c.increment;
                    }
                }

                Signal signal (7);
                for (int block = 0; block < 40; ++block)
                {
                    std::vector<float> a0 (700), a1 (700);
                    for (size_t s = 0; s < a0.size(); ++s)
                    {
                        a0[s] = signal.next();
                        a1[s] = signal.next();
                    }

                    auto b0 = a0, b1 = a1;
                    float* pa[] = { a0.data(), a1.data() };
                    float* pb[] = { b0.data(), b1.data() };
                    engine.process (pa, 2, 700);
                    reference.process (pb, 2, 700);

                    ASSERT_TRUE (sameVector (a0, b0) && sameVector (a1, b1))
                        << "phase " << c.phase << ", increment " << c.increment << ", routing " << which << ", block " << block;
                }

                expectSameState (engine, reference);
            }
        }
    });
}

// The shortcut behind the vector sweep: within a run that uniformSteps()
// reports, k ticks add exactly k * step. Checked against tick by tick over
// whole cycles for every speed the knob gives, at the common rates.
TEST (BlockProcessing, UniformStepsMatchTheTickByTickPhase)
{
    int64_t ticks = 0;

    for (int rate : { 22050, 44100, 48000, 88200, 96000, 176400, 192000 })
    {
        for (int knob = 0; knob <= 100; ++knob)
        {
            const float speed = (float) knob * 0.1f * 0.498f + 0.02f;
            const float increment = WavetableLfo::incrementFor (speed, (double) rate);
            const int64_t cycle = (int64_t) std::ceil (1024.0 / (double) increment) + 10;

            float phase = 0.0f;

            for (int64_t done = 0; done < cycle;)
            {
                float step = -1.0f;
                const int wanted = (int) std::min<int64_t> (cycle - done, 1 << 20);
                const int run = WavetableLfo::uniformSteps (phase, increment, step, wanted);
                ASSERT_LE (run, wanted);

                if (run == 0)
                {
                    phase = WavetableLfo::advance (phase, increment);
                    ++done;
                    continue;
                }

                float serial = phase;

                for (int k = 1; k <= run; ++k)
                {
                    serial = WavetableLfo::advance (serial, increment);
                    ASSERT_EQ (serial, phase + (float) k * step)
                        << rate << " Hz, " << speed << " Hz, from phase " << phase << ", tick " << k;
                }

                // The run ends only where a tick must be taken on its own.
                if (run < wanted)
                {
                    float unused = 0.0f;
                    EXPECT_EQ (WavetableLfo::uniformSteps (serial, increment, unused, 1), 0)
                        << rate << " Hz, " << speed << " Hz, at phase " << serial;
                }

                phase = serial;
                done += run;
            }

            ticks += cycle;
        }
    }

    std::cout << "checked " << ticks << " ticks\n";
}

/**
    The sweep for single phases against the per-sample delay computation:
    every table point, every phase in [256, 512) at one rate and depth, and
    a spread of random phases, at several depths and rates. `everyPhase`
    checks every float phase from 0 to 1024 instead, at 44.1 and 48 kHz and
    full depth (about 1.1e9 phases per rate and instruction set, for a
    manual run).
*/
void compareSweepAtPhases (bool everyPhase)
{
    forEachTarget ([&]
    {
        for (int rate : { 22050, 44100, 48000, 192000 })
        {
            for (float depth : { 0.0f, 37.3f, 50.0f, 100.0f })
            {
                ChorusVoice voice;
                voice.waveform = Triangle;
                voice.mode = ChorusVoice::chorusMode;
                voice.depthPercent = depth;
                voice.prepare (rate);

                const ChorusKernels::SweepSettings settings { voice.minDelayMs, voice.maxDelayMs - voice.minDelayMs,
                                                              depth, voice.line.samplesPerMs };

                const auto expected = [&] (float phase)
                {
                    return voice.line.delaySamplesFor (voice.delayMsFor (voice.lfo.valueAt (phase)));
                };

                std::vector<float> out (4096);

                // Consecutive floats from `from`: phases from + k * spacing, exact.
                const auto checkRange = [&] (float from, float spacing, int64_t count)
                {
                    for (int64_t done = 0; done < count; done += 4096)
                    {
                        const int n = (int) std::min<int64_t> (4096, count - done);
                        const float start = from + (float) done * spacing;
                        ChorusKernels::delays (settings, start, spacing, n, out.data());

                        for (int k = 0; k < n; ++k)
                        {
                            const float phase = start + (float) k * spacing;
                            ASSERT_TRUE (same (out[(size_t) k], expected (phase)))
                                << rate << " Hz, depth " << depth << ", phase " << phase;
                        }
                    }
                };

                if (everyPhase)
                {
                    // The phase decides the oscillator's output; at full
                    // depth every output maps to its own delay. 48 kHz takes
                    // the float multiplication for the samples, 44.1 kHz the
                    // double one.
                    if ((rate != 48000 && rate != 44100) || depth != 100.0f)
                        continue;

                    // Subnormal phases, then each power-of-two range up to 1024.
                    checkRange (0.0f, std::numeric_limits<float>::denorm_min(), 1 << 23);
                    for (int e = -126; e < 10; ++e)
                        checkRange (std::ldexp (1.0f, e), std::ldexp (1.0f, e - 23), 1 << 23);

                    if (::testing::Test::HasFailure())
                        return;

                    continue;
                }

                checkRange (0.0f, 1.0f, 1024);
                checkRange (0.0f, 1.0f / 64.0f, 1024 * 64);
                if (rate == 44100 && depth == 50.0f)
                    checkRange (256.0f, std::ldexp (1.0f, -15), 1 << 23);

                std::mt19937 random (rate);
                std::uniform_real_distribution<float> anywhere (0.0f, 1024.0f);
                for (int i = 0; i < 200000; ++i)
                {
                    // Random phases, and tiny ones from every power of two.
                    const float phase = i % 2 == 0 ? anywhere (random)
                                                   : std::ldexp (anywhere (random) / 1024.0f, -(int) (random() % 140));
                    ChorusKernels::delays (settings, phase, 0.0f, 1, out.data());
                    ASSERT_TRUE (same (out[0], expected (phase))) << rate << " Hz, depth " << depth << ", phase " << phase;
                }

                if (::testing::Test::HasFailure())
                    return;
            }
        }
    });
}

TEST (BlockProcessing, SweepMatchesThePerSampleDelay)
{
    compareSweepAtPhases (false);
}

TEST (BlockProcessing, DISABLED_SweepMatchesThePerSampleDelayAtEveryPhase)
{
    compareSweepAtPhases (true);
}
