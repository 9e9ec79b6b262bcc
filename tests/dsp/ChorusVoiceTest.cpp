#include "dsp/ChorusVoice.h"
#include "dsp/PreDelayBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{
    ChorusVoice chorusVoice (int32_t rate, float depth, float speedHz = 0.0f)
    {
        ChorusVoice v;
        v.waveform = Triangle;
        v.mode = ChorusVoice::chorusMode;
        v.mixPercent = 100.0f;
        v.depthPercent = depth;
        v.speedHz = speedHz;
        v.prepare (rate);
        return v;
    }
}

TEST (DelayLine, DelayInSamplesAtCommonRates)
{
    struct Case { int32_t rate; float ms; float samples; };
    const Case cases[] = {
        { 44100, 5.0f, 220.5f }, { 44100, 30.0f, 1323.0f },
        { 48000, 5.0f, 240.0f }, { 48000, 30.0f, 1440.0f },
    };

    for (const auto& c : cases)
    {
        DelayLine line;
        line.sampleRate = c.rate;
        line.length = 2 * c.rate;
        line.writeIndex = 100;
        line.delayMs = c.ms;
        line.update();

        EXPECT_EQ (line.delaySamples, c.samples) << c.rate << " Hz, " << c.ms << " ms";
        EXPECT_EQ (line.readIndex, 100 - (int32_t) c.samples + line.length);
    }
}

TEST (DelayLine, ConstructionAndGains)
{
    DelayLine line;
    EXPECT_EQ (line.buffer.size(), 88200u);
    EXPECT_EQ (line.length, 0);
    EXPECT_EQ (line.wetGain, 0.5f);

    line.feedbackPercent = 30.0f;
    line.mixPercent = 70.0f;
    line.update();
    EXPECT_EQ (line.feedbackGain, (float) (30.0 / 100.0));
    EXPECT_EQ (line.wetGain, (float) (70.0 / 100.0));
}

TEST (ChorusVoice, PrepareSizesForTheRateAndAppliesTheMode)
{
    struct Case { int32_t rate; int32_t mode; float minMs; float maxMs; float lineFeedback; };
    const Case cases[] = {
        { 44100, ChorusVoice::shortMode, 0.1f, 7.0f, 50.0f },
        { 48000, ChorusVoice::shortNoFeedbackMode, 0.0f, 7.0f, 0.0f },
        { 96000, ChorusVoice::chorusMode, 5.0f, 30.0f, 50.0f },
    };

    for (const auto& c : cases)
    {
        ChorusVoice v;
        v.mode = c.mode;
        v.feedbackPercent = 50.0f;
        v.speedHz = 2.0f;
        v.prepare (c.rate);

        EXPECT_EQ (v.line.length, 2 * c.rate);
        EXPECT_EQ (v.line.buffer.size(), (size_t) (2 * c.rate));
        EXPECT_EQ (v.minDelayMs, c.minMs);
        EXPECT_EQ (v.maxDelayMs, c.maxMs);
        EXPECT_EQ (v.line.feedbackPercent, c.lineFeedback);
        EXPECT_TRUE (v.lfo.running);
        EXPECT_EQ (v.lfo.unipolar, 1);
        EXPECT_EQ (v.lfo.increment, WavetableLfo::incrementFor (2.0f, c.rate));
    }
}

TEST (ChorusVoice, DepthZeroHoldsTheMinimumDelay)
{
    auto v = chorusVoice (44100, 0.0f, 5.0f);

    for (int i = 0; i < 20000; ++i)
    {
        v.processSample (0.1f);
        ASSERT_EQ (v.line.delayMs, 5.0f);
    }
}

TEST (ChorusVoice, FullDepthSweepsFromMidwayToBothEnds)
{
    auto v = chorusVoice (1024, 100.0f, 1.0f);   // one table point a sample
    v.processSample (0.0f);
    EXPECT_EQ (v.line.delayMs, 17.5f);

    float lowest = 100.0f, highest = 0.0f;
    for (int i = 1; i < 1024; ++i)
    {
        v.processSample (0.0f);
        lowest = std::min (lowest, v.line.delayMs);
        highest = std::max (highest, v.line.delayMs);
    }

    EXPECT_EQ (highest, 30.0f);
    EXPECT_EQ (lowest, 5.0f);

    v.processSample (0.0f);
    EXPECT_EQ (v.line.delayMs, 17.5f);
}

TEST (ChorusVoice, ReadsBetweenTheTwoNeighbouringStoredSamples)
{
    // 220.5 samples: half of the sample stored 220 steps ago, half of 221.
    auto v = chorusVoice (44100, 0.0f);
    std::vector<float> out;

    for (int i = 0; i < 400; ++i)
        out.push_back (v.processSample (i == 0 ? 1.0f : 0.0f));

    for (int i = 0; i < 400; ++i)
        EXPECT_EQ (out[(size_t) i], (i == 220 || i == 221) ? 0.5f : 0.0f) << i;
}

TEST (ChorusVoice, WrapsAroundTheEndOfTheLine)
{
    // The previous sample of position 0 is the last position of the line.
    auto v = chorusVoice (1000, 0.0f);   // 5 ms = 5 samples
    std::vector<float> in, out;

    for (int i = 0; i < 4010; ++i)
    {
        in.push_back ((float) (i % 97) / 97.0f);
        out.push_back (v.processSample (in.back()));
    }

    for (size_t i = 5; i < in.size(); ++i)
        ASSERT_EQ (out[i], in[i - 5]) << i;
}

TEST (ChorusVoice, DelayBelowOneSampleUsesTheCurrentInput)
{
    ChorusVoice v;
    v.mode = ChorusVoice::shortNoFeedbackMode;
    v.mixPercent = 100.0f;
    v.depthPercent = 0.0f;
    v.prepare (10000);

    // 0 ms: the output is this very step's input.
    EXPECT_EQ (v.processSample (0.25f), 0.25f);
    EXPECT_EQ (v.processSample (0.75f), 0.75f);

    // Half a sample: halfway between this input and the previous one.
    v.minDelayMs = 0.05f;
    EXPECT_EQ (v.processSample (0.25f), 0.5f * 0.75f + 0.5f * 0.25f);
}

TEST (ChorusVoice, ModeOneKeepsFeedbackOff)
{
    ChorusVoice v;
    v.mode = ChorusVoice::shortNoFeedbackMode;
    v.feedbackPercent = 50.0f;
    v.prepare (44100);
    EXPECT_EQ (v.line.feedbackPercent, 0.0f);
    EXPECT_EQ (v.line.feedbackGain, 0.0f);
}

TEST (ChorusVoice, MixPercentBlendsInputAndDelayedSample)
{
    for (float mix : { 100.0f, 0.0f })
    {
        auto v = chorusVoice (1000, 0.0f);
        v.mixPercent = mix;
        v.prepare (1000);

        for (int i = 0; i < 50; ++i)
        {
            const float x = (float) i * 0.01f;
            const float y = v.processSample (x);
            ASSERT_EQ (y, mix == 100.0f ? v.line.lastOutput : x) << "mix " << mix << " sample " << i;
        }
    }
}

TEST (ChorusVoice, PrepareAgainEmptiesTheLineAndRestartsTheOscillator)
{
    auto v = chorusVoice (44100, 50.0f, 3.0f);
    for (int i = 0; i < 1000; ++i)
        v.processSample (1.0f);

    v.prepare (44100);
    EXPECT_EQ (v.lfo.phase, 0.0f);
    EXPECT_EQ (v.line.writeIndex, 0);
    EXPECT_TRUE (std::all_of (v.line.buffer.begin(), v.line.buffer.end(), [] (float s) { return s == 0.0f; }));
}

TEST (PreDelayBuffer, LengthAndDelayPerRate)
{
    struct Case { uint32_t rate; int32_t length; };
    const Case cases[] = { { 44100, 882 }, { 48000, 960 }, { 96000, 1920 }, { 22050, 441 }, { 50, 1 } };

    for (const auto& c : cases)
    {
        PreDelayBuffer ring (c.rate);
        EXPECT_EQ (ring.length, c.length);
        EXPECT_EQ (ring.writeIndex, c.length - 1);

        // The input comes back length - 1 steps later.
        const int delay = c.length - 1;
        for (int i = 0; i <= delay + 2; ++i)
        {
            const float out = ring.step (i == 0 ? 1.0f : 0.0f);
            ASSERT_EQ (out, i == delay ? 1.0f : 0.0f) << c.rate << " Hz, step " << i;
        }
    }
}

TEST (PreDelayBuffer, ResizeEmptiesTheRing)
{
    PreDelayBuffer ring (44100);
    for (int i = 0; i < 500; ++i)
        ring.step (1.0f);

    ring.resize (48000);
    EXPECT_EQ (ring.length, 960);
    EXPECT_EQ (ring.readIndex, 0);
    EXPECT_EQ (ring.writeIndex, 959);
    EXPECT_TRUE (std::all_of (ring.data.begin(), ring.data.end(), [] (float s) { return s == 0.0f; }));
}
