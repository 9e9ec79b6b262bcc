// The loaded binaries process audio exactly as the processor does in process,
// the format's own bypass reaches the processor's bypassed processing, and
// the VST3's blocks allocate nothing.

#include "Hosting.h"

#include "TestSignal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#if TESSAMUNE_COUNT_ALLOCATIONS
 #include "support/RealtimeGuard.h"
#endif

using Hosting::Format;

namespace
{
    struct Case
    {
        const char* label;
        Format format;
        Hosting::Render render;
        // The dry signal on each output: input c on output c where both
        // channels are processed (stereo in Stereo mode); otherwise the
        // first input on every output, as the chorus processes only that
        // one, and passes only that one when it is off.
        bool dryFromEachInput = false;
        bool chorusHeard = true;   // false: every output is the dry signal, untouched
    };

    const std::vector<std::pair<juce::String, float>> swept { { "chorus_depth", 0.5f }, { "chorus_speed", 0.3f }, { "chorus_mix", 0.7f } };

    std::vector<std::pair<juce::String, float>> with (std::vector<std::pair<juce::String, float>> settings, const char* id, float value)
    {
        settings.emplace_back (id, value);
        return settings;
    }

    Hosting::Render render (int ins, int outs, std::vector<std::pair<juce::String, float>> settings, int block = 512)
    {
        Hosting::Render r;
        r.ins = ins;
        r.outs = outs;
        r.block = block;
        r.settings = std::move (settings);
        return r;
    }

    const Case cases[] {
        { "VST3 mono",                     Format::vst3, render (1, 1, swept) },
        { "VST3 stereo",                   Format::vst3, render (2, 2, swept), true },
        { "VST3 stereo in mono mode",      Format::vst3, render (2, 2, with (swept, "stereo_proc", 0.0f)) },
        { "VST3 mono to stereo",           Format::vst3, render (1, 2, swept, 333) },
        { "VST3 mono to stereo, defaults", Format::vst3, render (1, 2, {}) },
        { "VST3 mono to stereo, off",      Format::vst3, render (1, 2, with (swept, "chorus_on", 0.0f)), false, false },
        { "VST3 stereo, off",              Format::vst3, render (2, 2, with (swept, "chorus_on", 0.0f)), false, false },
        { "LV2 stereo",                    Format::lv2,  render (2, 2, swept), true },
        { "LV2 stereo in mono mode",       Format::lv2,  render (2, 2, with (swept, "stereo_proc", 0.0f), 256) },
    };

    void expectIdentical (const Hosting::Channels& hosted, const Hosting::Channels& reference)
    {
        ASSERT_EQ (hosted.size(), reference.size());

        for (size_t c = 0; c < hosted.size(); ++c)
        {
            ASSERT_EQ (hosted[c].size(), reference[c].size());
            const auto mismatch = std::mismatch (hosted[c].begin(), hosted[c].end(), reference[c].begin());

            EXPECT_TRUE (mismatch.first == hosted[c].end())
                << "channel " << c << " differs first at sample " << (mismatch.first - hosted[c].begin())
                << ": " << *mismatch.first << " hosted, " << *mismatch.second << " in process";
        }
    }

    /** How much of an output is not the dry signal: the RMS of the
        difference over the RMS of the dry signal. */
    double wetShare (const Case& k, const Hosting::Channels& output, size_t c)
    {
        const auto input = TestSignal::make (k.render.ins, k.render.frames, k.render.rate);
        const auto& dry = input[k.dryFromEachInput ? c : 0];
        double difference = 0.0, level = 0.0;

        for (size_t i = 0; i < dry.size(); ++i)
        {
            difference += ((double) output[c][i] - dry[i]) * ((double) output[c][i] - dry[i]);
            level += (double) dry[i] * dry[i];
        }

        return std::sqrt (difference / level);
    }
}

TEST (Processing, HostedBinaryMatchesTheProcessorSampleForSample)
{
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.label);

        const auto reference = Hosting::reference (c.render);
        ASSERT_EQ (reference.size(), (size_t) c.render.outs) << "the reference program failed";

        auto instance = Hosting::load (c.format);
        ASSERT_NE (instance, nullptr);

        const auto hosted = Hosting::render (*instance, c.format, c.render);
        ASSERT_EQ (hosted.size(), (size_t) c.render.outs) << "the host could not set up the render";

        expectIdentical (hosted, reference);

        // Not trivially equal: on every output the chorus adds its delayed
        // copy to the dry signal (mix 7 or 10: far more than a tenth of its
        // level), or, switched off, leaves the dry signal exactly as it was.
        for (size_t ch = 0; ch < hosted.size(); ++ch)
        {
            if (c.chorusHeard)
                EXPECT_GT (wetShare (c, hosted, ch), 0.1) << "output " << ch;
            else
                EXPECT_EQ (wetShare (c, hosted, ch), 0.0) << "output " << ch;
        }
    }
}

TEST (Processing, HostBypassPutsTheDryInputOnEveryOutput)
{
    const std::pair<Format, std::pair<int, int>> layouts[] { { Format::vst3, { 1, 2 } }, { Format::vst3, { 2, 2 } },
                                                             { Format::vst3, { 1, 1 } }, { Format::lv2, { 2, 2 } } };

    for (const auto& [format, layout] : layouts)
    {
        const auto [ins, outs] = layout;
        SCOPED_TRACE (juce::String (Hosting::name (format)) + " " + juce::String (ins) + " in, " + juce::String (outs) + " out");

        auto r = render (ins, outs, swept);
        r.bypass = true;

        auto instance = Hosting::load (format);
        ASSERT_NE (instance, nullptr);
        const auto hosted = Hosting::render (*instance, format, r);
        ASSERT_EQ (hosted.size(), (size_t) outs);

        // Input channel c on output c; outputs beyond the inputs get input 0.
        const auto input = TestSignal::make (ins, r.frames, r.rate);

        for (int c = 0; c < outs; ++c)
            EXPECT_TRUE (hosted[(size_t) c] == input[(size_t) (c < ins ? c : 0)]) << "output " << c;

        // Which is what the processor's bypassed processing gives in process.
        expectIdentical (hosted, Hosting::reference (r));
    }
}

// The VST3 host's bypass switched while a tone plays: no step at a switch is
// larger than the steps the output takes steady on or steady off, and once
// switched back on, the output is exactly that of an instance never
// bypassed (the chorus ran on, unheard, meanwhile).
TEST (Processing, Vst3BypassSwitchesWithoutAClickAndComesBackInStep)
{
    constexpr int blockSize = 256, blocks = 100;
    const auto bypassedIn = [] (int b) { return (b >= 30 && b < 50) || (b >= 70 && b < 85); };

    const auto play = [&] (bool withBypass)
    {
        Hosting::Channels out (2);
        auto instance = Hosting::load (Format::vst3, 48000.0, blockSize);

        if (instance == nullptr || ! instance->setBusesLayout (TestSignal::layoutFor (2, 2)))
            return Hosting::Channels {};

        instance->prepareToPlay (48000.0, blockSize);

        for (const auto& [id, value] : { std::pair { "chorus_depth", 0.5f }, std::pair { "chorus_speed", 0.5f }, std::pair { "chorus_mix", 0.5f } })
            instance->getParameters()[Hosting::indexOf (*instance, Format::vst3, id)]->setValue (value);

        juce::MidiBuffer midi;

        for (int b = 0; b < blocks; ++b)
        {
            juce::AudioBuffer<float> buffer (2, blockSize);

            for (int c = 0; c < 2; ++c)
                for (int s = 0; s < blockSize; ++s)
                    buffer.setSample (c, s, 0.5f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 441.0 * (b * blockSize + s) / 48000.0));

            if (withBypass && bypassedIn (b))
                instance->processBlockBypassed (buffer, midi);
            else
                instance->processBlock (buffer, midi);

            for (int c = 0; c < 2; ++c)
                out[(size_t) c].insert (out[(size_t) c].end(), buffer.getReadPointer (c), buffer.getReadPointer (c) + blockSize);
        }

        instance->releaseResources();
        return out;
    };

    const auto switched = play (true), steadyOn = play (false);
    ASSERT_EQ (switched.size(), 2u);
    ASSERT_EQ (steadyOn.size(), 2u);

    const auto largestStep = [] (const std::vector<float>& x, int fromBlock, int toBlock)
    {
        float largest = 0.0f;

        for (auto s = (size_t) (fromBlock * blockSize) + 1; s < (size_t) (toBlock * blockSize); ++s)
            largest = std::max (largest, std::abs (x[s] - x[s - 1]));

        return largest;
    };

    for (size_t c = 0; c < 2; ++c)
    {
        const auto& x = switched[c];
        const auto steady = std::max ({ largestStep (x, 10, 30), largestStep (x, 35, 50), largestStep (x, 55, 70) });

        // A fade's own slope adds a few thousandths at most (the chorus's
        // share of the output over 480 samples); a click is a step many
        // times the steady ones.
        for (const int at : { 30, 50, 70, 85 })
            EXPECT_LE (largestStep (x, at - 1, at + 3), 1.01f * steady) << "channel " << c << ", switch at block " << at;

        EXPECT_TRUE (std::equal (x.begin() + 88 * blockSize, x.end(), steadyOn[c].begin() + 88 * blockSize)) << "channel " << c;
    }
}

// Whatever values a host sends, NaN and infinities included, the loaded
// binary keeps playing finite audio within the chorus's reach (the dry input
// plus at most 0.75 of a delayed copy), and what it saves holds only legal
// values.
TEST (Processing, HostileParameterValuesFromTheHost)
{
    const float sent[] { std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(), -1.0f, 2.0f };
    const char* const ids[] { "chorus_on", "chorus_depth", "chorus_speed", "chorus_mix", "stereo_proc" };

    for (auto format : { Format::vst3, Format::lv2 })
    {
        for (float value : sent)
        {
            SCOPED_TRACE (juce::String (Hosting::name (format)) + " sent " + juce::String (value));

            auto r = render (2, 2, {});
            for (auto* id : ids)
                r.settings.emplace_back (id, value);

            auto instance = Hosting::load (format);
            ASSERT_NE (instance, nullptr);
            const auto hosted = Hosting::render (*instance, format, r);
            ASSERT_EQ (hosted.size(), 2u);

            for (const auto& channel : hosted)
                for (float s : channel)
                    ASSERT_TRUE (std::abs (s) <= 1.75f * 0.45f) << s;

            juce::MemoryBlock hostState;
            instance->getStateInformation (hostState);
            const auto block = Hosting::blockInside (format, hostState);
            ASSERT_GT (block.getSize(), 9u);
            const auto text = juce::String::fromUTF8 (static_cast<const char*> (block.getData()) + 8, (int) block.getSize() - 9);

            for (auto* id : ids)
            {
                const auto attribute = juce::String ("id=\"") + id + "\" value=\"";
                ASSERT_TRUE (text.contains (attribute)) << id;
                const auto plain = text.fromFirstOccurrenceOf (attribute, false, false).getDoubleValue();
                EXPECT_TRUE (plain >= 0.0 && plain <= 10.0) << id << " " << plain;
            }
        }
    }
}

#if TESSAMUNE_COUNT_ALLOCATIONS
// Blocks through the loaded VST3 allocate nothing on the audio thread, in
// each layout, with the chorus on and with the host's bypass.
TEST (Processing, Vst3BlocksAllocateNothing)
{
    for (const auto& [ins, outs] : { std::pair { 2, 2 }, std::pair { 1, 2 }, std::pair { 1, 1 } })
    {
        SCOPED_TRACE (std::to_string (ins) + " in, " + std::to_string (outs) + " out");

        auto instance = Hosting::load (Format::vst3, 48000.0, 256);
        ASSERT_NE (instance, nullptr);

        auto layout = instance->getBusesLayout();
        layout.inputBuses.getReference (0) = juce::AudioChannelSet::canonicalChannelSet (ins);
        layout.outputBuses.getReference (0) = juce::AudioChannelSet::canonicalChannelSet (outs);
        ASSERT_TRUE (instance->setBusesLayout (layout));
        instance->prepareToPlay (48000.0, 256);

        juce::AudioBuffer<float> buffer (std::max (ins, outs), 256);
        juce::MidiBuffer midi;
        buffer.clear();
        instance->processBlock (buffer, midi);   // the first block settles what is set up lazily

        RealtimeGuard guard;

        for (int block = 0; block < 64; ++block)
        {
            if (block == 32)
                instance->processBlockBypassed (buffer, midi);
            else
                instance->processBlock (buffer, midi);
        }

        EXPECT_EQ (guard.allocations(), 0u);
        instance->releaseResources();
    }
}
#endif
