// The loaded binaries process audio exactly as the processor does in process,
// and the format's own bypass reaches the processor's bypassed processing.

#include "Hosting.h"

#include "TestSignal.h"

#include <gtest/gtest.h>

#include <limits>

using Hosting::Format;

namespace
{
    struct Case
    {
        const char* label;
        Format format;
        Hosting::Render render;
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
        { "VST3 stereo",                   Format::vst3, render (2, 2, swept) },
        { "VST3 stereo in mono mode",      Format::vst3, render (2, 2, with (swept, "stereo_proc", 0.0f)) },
        { "VST3 mono to stereo",           Format::vst3, render (1, 2, swept, 333) },
        { "VST3 mono to stereo, defaults", Format::vst3, render (1, 2, {}) },
        { "VST3 mono to stereo, off",      Format::vst3, render (1, 2, with (swept, "chorus_on", 0.0f)) },
        { "LV2 stereo",                    Format::lv2,  render (2, 2, swept) },
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

    bool isSilent (const std::vector<float>& channel)
    {
        return std::all_of (channel.begin(), channel.end(), [] (float s) { return s == 0.0f; });
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

        // Not trivially equal: the chorus is heard.
        EXPECT_FALSE (isSilent (hosted[0]));
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
