#include "dsp/ChorusEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace
{
    using Routing = ChorusEngine::Routing;

    /** A block of audio as separate channel vectors. */
    struct Block
    {
        Block (int channels, int samples) : data ((size_t) channels, std::vector<float> ((size_t) samples)) {}

        float* const* pointers()
        {
            ptrs.clear();
            for (auto& c : data)
                ptrs.push_back (c.data());
            return ptrs.data();
        }

        int channels() const { return (int) data.size(); }
        int samples() const { return data.empty() ? 0 : (int) data[0].size(); }

        std::vector<std::vector<float>> data;
        std::vector<float*> ptrs;
    };

    float testSignal (int channel, int n)
    {
        return 0.5f * std::sin (0.013f * (float) n * (float) (channel + 1)) + 0.1f * std::sin (0.17f * (float) n);
    }

    Block signalBlock (int channels, int samples, int offset)
    {
        Block b (channels, samples);
        for (int c = 0; c < channels; ++c)
            for (int s = 0; s < samples; ++s)
                b.data[(size_t) c][(size_t) s] = testSignal (c, offset + s);
        return b;
    }

    void run (ChorusEngine& engine, Block& b)
    {
        engine.process (b.pointers(), b.channels(), b.samples());
    }

    /**
        An independent model of one channel of the chorus, written from the
        signal definition rather than from the engine's ring buffers: the
        pre-delayed signal is kept as a whole history and the voice reads it
        at n - D and n - D - 1.
    */
    struct ChannelModel
    {
        explicit ChannelModel (int rate)
            : rate (rate), preDelay ((int) ((uint32_t) rate * 20u / 1000u) - 1)
        {
        }

        float triangle (int i) const
        {
            const float fi = (float) i;
            return i < 256 ? fi / 256.0f : i < 768 ? 1.0f - (fi - 256.0f) / 256.0f : (fi - 768.0f) / 256.0f - 1.0f;
        }

        float lfo()
        {
            const int n = (int) phase;
            const int next = n == 1023 ? 0 : n + 1;
            const float frac = phase - (float) n;
            const float v = frac * triangle (next) + (1.0f - frac) * triangle (n);
            phase += increment;
            if (phase >= 1024.0f)
                phase -= 1024.0f;
            return (float) ((double) v * 0.5 + 0.5);
        }

        void setControls (float depth, float speed)
        {
            depthPercent = depth;
            increment = (float) ((double) speed * 1024.0 / (double) (float) rate);
        }

        // Wet sample for input x at time n.
        float wet (float x)
        {
            input.push_back (x);
            const auto n = (long) input.size() - 1;
            const float p = n - preDelay >= 0 ? input[(size_t) (n - preDelay)] : 0.0f;
            delayed.push_back (p);

            const float l = lfo();
            const float ms = (float) (5.0 + (double) (25.0f * l) * (double) depthPercent / 100.0);
            const float d = (float) ((double) (float) rate / 1000.0 * (double) ms);
            const long whole = (long) d;
            const float frac = d - (float) whole;

            auto history = [this, n] (long age) { return n - age >= 0 ? delayed[(size_t) (n - age)] : 0.0f; };
            const float cur = whole == 0 ? p : history (whole);
            return frac * history (whole + 1) + (1.0f - frac) * cur;
        }

        int rate;
        long preDelay;
        float phase = 0.0f, increment = 0.0f, depthPercent = 50.0f;
        std::vector<float> input, delayed;
    };

    struct Settings { float depth; float speed; float mix; };
}

TEST (ChorusEngine, Construction)
{
    ChorusEngine engine (44100);
    EXPECT_EQ (engine.preDelay[0].length, 882);
    EXPECT_EQ (engine.preDelay[1].length, 882);
    EXPECT_EQ (engine.voice[0].line.length, 88200);
    EXPECT_EQ (engine.voice[1].line.length, 88200);
    EXPECT_EQ (engine.routing, &ChorusEngine::processCopy);
    EXPECT_EQ (engine.mix.load(), 0.75f);
    EXPECT_EQ (engine.depthPercent.load(), 50.0f);
    EXPECT_EQ (engine.speedHz.load(), 0.0f);
    EXPECT_EQ (engine.sampleRate, 44100u);

    for (auto& v : engine.voice)
    {
        EXPECT_EQ (v.mode, ChorusVoice::chorusMode);
        EXPECT_EQ (v.waveform, Triangle);
        EXPECT_EQ (v.lfo.waveform, Triangle);
        EXPECT_EQ (v.line.mixPercent, 100.0f);
        EXPECT_EQ (v.depthPercent, 50.0f);
        EXPECT_TRUE (v.lfo.running);
    }
}

TEST (ChorusEngine, UnusableRatesAreIgnored)
{
    for (int32_t rate : { 0, -44100, 49, 2000000000 })
    {
        ChorusEngine engine (rate);
        EXPECT_EQ (engine.sampleRate, 44100u) << rate;
    }

    ChorusEngine engine (48000);
    for (uint32_t rate : { 0u, 1u, 49u, 4000000000u })
    {
        engine.setSampleRate (rate);
        EXPECT_EQ (engine.sampleRate, 48000u) << rate;
        EXPECT_EQ (engine.preDelay[0].length, 960);
    }

    engine.setSampleRate (50);
    EXPECT_EQ (engine.preDelay[0].length, 1);
    EXPECT_EQ (engine.voice[0].line.length, 100);
}

TEST (ChorusEngine, SelectRouting)
{
    struct Case { int32_t processed; int32_t outputs; Routing expected; };
    const Case cases[] = {
        { 1, 1, ChorusEngine::processMono },         { 2, 1, ChorusEngine::processMono },
        { 1, 2, ChorusEngine::processMonoToStereo }, { 2, 0, ChorusEngine::processMonoToStereo },
        { 2, 2, ChorusEngine::processStereo },       { 5, 7, ChorusEngine::processStereo },
        { 0, 0, ChorusEngine::processCopy },         { 0, 2, ChorusEngine::processCopy },
        { 1, 0, ChorusEngine::processCopy },         { -1, 2, ChorusEngine::processCopy },
    };

    ChorusEngine engine (44100);
    for (const auto& c : cases)
    {
        engine.selectRouting (c.processed, c.outputs);
        EXPECT_EQ (engine.routing, c.expected) << c.processed << ", " << c.outputs;
    }
}

TEST (ChorusEngine, CopyRoutingDuplicatesTheFirstChannel)
{
    ChorusEngine engine (44100);
    engine.selectRouting (0, 0);

    auto block = signalBlock (3, 64, 0);
    const auto first = block.data[0];
    run (engine, block);

    for (const auto& channel : block.data)
        EXPECT_EQ (channel, first);

    EXPECT_EQ (engine.preDelay[0].writeIndex, 881);   // nothing advanced
}

TEST (ChorusEngine, WetSignalStartsAfterPreDelayPlusVoiceDelay)
{
    // At 44100 Hz with depth 0: 881 samples of pre-delay, then 220.5 samples
    // in the voice, so an impulse comes back split over samples 1101 and 1102.
    ChorusEngine engine (44100);
    engine.depthPercent = 0.0f;
    engine.applyControls();
    engine.selectRouting (1, 1);

    Block block (1, 1200);
    block.data[0][0] = 1.0f;
    run (engine, block);

    for (int s = 0; s < 1200; ++s)
    {
        const float expected = s == 0 ? 1.0f : (s == 1101 || s == 1102) ? 0.375f : 0.0f;
        ASSERT_EQ (block.data[0][(size_t) s], expected) << s;
    }
}

// Every routing against the independent model, at several rates, with the
// controls changed between blocks and blocks of uneven length.
TEST (ChorusEngine, MatchesTheModelBitForBit)
{
    const Settings settings[] = {
        { 0.0f, 0.02f, 0.75f }, { 50.0f, 0.5178f, 0.375f }, { 100.0f, 5.0f, 0.75f }, { 33.0f, 1.3148f, 0.0f }
    };

    for (int rate : { 44100, 48000, 96000 })
    {
        for (Routing routing : { ChorusEngine::processMono, ChorusEngine::processMonoToStereo, ChorusEngine::processStereo })
        {
            ChorusEngine engine (rate);
            engine.routing = routing;
            ChannelModel left (rate), right (rate);

            const bool stereo = routing != ChorusEngine::processMono;
            int offset = 0;
            int blockIndex = 0;

            for (const auto& s : settings)
            {
                engine.depthPercent = s.depth;
                engine.speedHz = s.speed;
                engine.mix = s.mix;
                engine.applyControls();
                left.setControls (s.depth, s.speed);
                right.setControls (s.depth, s.speed);

                for (int b = 0; b < 6; ++b, ++blockIndex)
                {
                    const int samples = 1 + (blockIndex * 977) % 2100;
                    auto block = signalBlock (stereo ? 2 : 1, samples, offset);
                    const auto in = block.data;
                    run (engine, block);

                    for (int n = 0; n < samples; ++n)
                    {
                        const float xL = in[0][(size_t) n];
                        const float wL = left.wet (xL);
                        ASSERT_EQ (block.data[0][(size_t) n], wL * s.mix + xL)
                            << rate << " Hz, sample " << offset + n;

                        if (routing == ChorusEngine::processMonoToStereo)
                        {
                            ASSERT_EQ (block.data[1][(size_t) n], xL - s.mix * wL) << rate << " Hz, sample " << offset + n;
                        }
                        else if (routing == ChorusEngine::processStereo)
                        {
                            const float xR = in[1][(size_t) n];
                            ASSERT_EQ (block.data[1][(size_t) n], xR - right.wet (xR) * s.mix)
                                << rate << " Hz, sample " << offset + n;
                        }
                    }

                    offset += samples;
                }
            }
        }
    }
}

TEST (ChorusEngine, StereoRoutingsWithOneChannelProcessAsMono)
{
    for (Routing routing : { ChorusEngine::processMonoToStereo, ChorusEngine::processStereo })
    {
        ChorusEngine engine (44100), reference (44100);
        engine.routing = routing;
        reference.routing = ChorusEngine::processMono;

        for (int b = 0; b < 4; ++b)
        {
            auto block = signalBlock (1, 1000, b * 1000);
            auto expected = block;
            run (engine, block);
            run (reference, expected);
            ASSERT_EQ (block.data, expected.data);
        }
    }
}

TEST (ChorusEngine, ZeroMixKeepsTheDryFirstChannelWhileStateAdvances)
{
    for (Routing routing : { ChorusEngine::processMono, ChorusEngine::processMonoToStereo, ChorusEngine::processStereo })
    {
        ChorusEngine engine (44100);
        engine.routing = routing;
        engine.mix = 0.0f;

        auto block = signalBlock (2, 5000, 0);
        const auto in = block.data;
        run (engine, block);

        EXPECT_EQ (block.data[0], in[0]);
        EXPECT_NE (engine.preDelay[0].writeIndex, 881);

        if (routing == ChorusEngine::processMonoToStereo)
            EXPECT_EQ (block.data[1], in[0]);
        else
            EXPECT_EQ (block.data[1], in[1]);
    }
}

TEST (ChorusEngine, EmptyBlocksChangeNothing)
{
    for (Routing routing : { ChorusEngine::processCopy, ChorusEngine::processMono,
                             ChorusEngine::processMonoToStereo, ChorusEngine::processStereo })
    {
        ChorusEngine engine (44100);
        engine.routing = routing;

        Block empty (2, 0);
        run (engine, empty);
        Block noChannels (0, 0);
        engine.process (noChannels.pointers(), 0, 64);

        EXPECT_EQ (engine.preDelay[0].writeIndex, 881);
        EXPECT_EQ (engine.voice[0].line.writeIndex, 0);
        EXPECT_EQ (engine.voice[0].lfo.phase, 0.0f);
    }
}

TEST (ChorusEngine, SampleRateChangeClearsStateButTheSameRateKeepsIt)
{
    ChorusEngine engine (44100);
    engine.speedHz = 3.0f;
    engine.applyControls();
    engine.selectRouting (2, 2);

    auto block = signalBlock (2, 3000, 0);
    run (engine, block);

    const auto phase = engine.voice[0].lfo.phase;
    const auto ring = engine.preDelay[1].data;
    engine.setSampleRate (44100);
    EXPECT_EQ (engine.voice[0].lfo.phase, phase);
    EXPECT_EQ (engine.preDelay[1].data, ring);

    engine.setSampleRate (48000);
    EXPECT_EQ (engine.sampleRate, 48000u);
    EXPECT_EQ (engine.preDelay[1].length, 960);
    EXPECT_EQ (engine.voice[0].line.length, 96000);
    EXPECT_EQ (engine.voice[0].lfo.phase, 0.0f);
    EXPECT_TRUE (std::all_of (engine.voice[1].line.buffer.begin(), engine.voice[1].line.buffer.end(),
                              [] (float s) { return s == 0.0f; }));
}

// What a host's deactivate and activate do: after a reset the engine plays
// exactly what one built fresh at the same rate and settings plays, with no
// trace of the audio before (a ring half full, an oscillator mid-sweep, the
// block path's remembered run), in every routing, and without allocating.
TEST (ChorusEngine, ResetPlaysLikeAFreshEngine)
{
    for (const auto& routing : { std::pair { 1, 1 }, std::pair { 1, 2 }, std::pair { 2, 2 } })
    {
        SCOPED_TRACE (testing::Message() << routing.first << " processed, " << routing.second << " out");

        const auto configure = [&] (ChorusEngine& e)
        {
            e.depthPercent = 70.0f;
            e.speedHz = 2.5f;
            e.mix = 0.6f;
            e.applyControls();
            e.selectRouting (routing.first, routing.second);
        };

        ChorusEngine used (48000), fresh (48000);
        configure (used);
        configure (fresh);

        // Plays long enough to fill the lines and move the oscillators, in
        // blocks of an odd length so that the rings stop anywhere.
        for (int offset = 0; offset < 20000; offset += 997)
        {
            auto block = signalBlock (routing.second, 997, offset);
            run (used, block);
        }

        const auto capacity = used.voice[0].line.buffer.capacity();
        used.reset();
        EXPECT_EQ (used.voice[0].line.buffer.capacity(), capacity);

        for (int offset = 0; offset < 8000; offset += 613)
        {
            auto a = signalBlock (routing.second, 613, 50000 + offset);
            auto b = a;
            run (used, a);
            run (fresh, b);
            ASSERT_EQ (a.data, b.data) << "block at " << offset;
        }
    }
}

TEST (ChorusEngine, ControlsReachBothVoicesBeforeTheNextSample)
{
    ChorusEngine engine (48000);
    engine.selectRouting (2, 2);
    engine.depthPercent = 80.0f;
    engine.speedHz = 2.5f;
    engine.applyControls();

    auto block = signalBlock (2, 1, 0);
    run (engine, block);

    for (auto& v : engine.voice)
    {
        EXPECT_EQ (v.depthPercent, 80.0f);
        EXPECT_EQ (v.speedHz, 2.5f);
        EXPECT_EQ (v.lfo.frequency, 2.5f);
        EXPECT_EQ (v.lfo.increment, WavetableLfo::incrementFor (2.5f, 48000.0));
        EXPECT_EQ (v.line.feedbackPercent, 0.0f);
    }
}

// A single NaN or infinite input sample must not silence the chorus: once the
// input is finite again, the output is finite again after the pre-delay plus
// the longest voice delay. (Finite input keeps its exact output: see the model
// test above.)
TEST (ChorusEngine, OutputRecoversAfterNonFiniteInput)
{
    struct Damage { const char* name; std::vector<float> samples; };
    const Damage damages[] = {
        { "NaN", { std::numeric_limits<float>::quiet_NaN() } },
        { "+inf", { std::numeric_limits<float>::infinity() } },
        { "-inf", { -std::numeric_limits<float>::infinity() } },
        { "NaN and inf", { std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity() } },
    };

    for (int rate : { 22050, 44100, 96000 })
    {
        for (const auto& damage : damages)
        {
            for (Routing routing : { ChorusEngine::processMono, ChorusEngine::processStereo })
            {
                ChorusEngine engine (rate);
                engine.routing = routing;
                engine.depthPercent = 100.0f;
                engine.speedHz = 5.0f;
                engine.applyControls();

                const int start = 1000;
                const int end = start + (int) damage.samples.size();
                const int recovery = engine.preDelay[0].length - 1 + (int) std::ceil (30.0 * rate / 1000.0) + 2;
                const int total = end + recovery + rate / 2;

                auto block = signalBlock (2, total, 0);
                for (int c = 0; c < 2; ++c)
                    std::copy (damage.samples.begin(), damage.samples.end(), block.data[(size_t) c].begin() + start);

                run (engine, block);

                for (int c = 0; c < (routing == ChorusEngine::processStereo ? 2 : 1); ++c)
                {
                    // The damage does reach the output while it passes through.
                    const auto& out = block.data[(size_t) c];
                    EXPECT_FALSE (std::all_of (out.begin() + start, out.begin() + end + recovery,
                                               [] (float v) { return std::isfinite (v); }))
                        << damage.name;

                    for (int s = end + recovery; s < total; ++s)
                        ASSERT_TRUE (std::isfinite (block.data[(size_t) c][(size_t) s]))
                            << damage.name << " at " << rate << " Hz, channel " << c << ", sample " << s;
                }
            }
        }
    }
}
