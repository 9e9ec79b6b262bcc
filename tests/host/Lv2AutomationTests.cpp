// The LV2 and the VST3, loaded by the framework's hosts, render the same bits
// when a host automates every parameter between blocks.

#include "Hosting.h"

#include "TestSignal.h"

#include <gtest/gtest.h>

using Hosting::Format;

namespace
{
    constexpr int blockSize = 256;
    constexpr int numBlocks = 48;

    // Normalised values, set before the block of their index.
    struct Change
    {
        int block;
        const char* id;
        float value;
    };

    std::vector<Change> automation()
    {
        std::vector<Change> changes;

        // Depth sweeps up and back in steps, every other block.
        for (int b = 0; b < numBlocks; b += 2)
            changes.push_back ({ b, "chorus_depth", (float) (b < numBlocks / 2 ? b : numBlocks - b) / (float) numBlocks * 2.0f });

        changes.push_back ({ 0, "chorus_speed", 0.3f });
        changes.push_back ({ 9, "chorus_speed", 0.85f });
        changes.push_back ({ 5, "chorus_mix", 0.4f });
        changes.push_back ({ 17, "chorus_mix", 0.93f });
        changes.push_back ({ 12, "stereo_proc", 0.0f });
        changes.push_back ({ 26, "stereo_proc", 1.0f });
        changes.push_back ({ 33, "chorus_on", 0.0f });
        changes.push_back ({ 38, "chorus_on", 1.0f });
        return changes;
    }

    Hosting::Channels render (Format format, const std::vector<Change>& changes)
    {
        auto instance = Hosting::load (format);

        if (instance == nullptr || ! instance->setBusesLayout (TestSignal::layoutFor (2, 2)))
            return {};

        instance->prepareToPlay (48000.0, blockSize);

        juce::MidiBuffer midi;
        int block = 0;

        auto output = TestSignal::renderInBlocks (2, 2, numBlocks * blockSize, blockSize, 48000.0, [&] (juce::AudioBuffer<float>& buffer)
        {
            for (const auto& c : changes)
                if (c.block == block)
                    instance->getParameters()[Hosting::indexOf (*instance, format, c.id)]->setValue (c.value);

            instance->processBlock (buffer, midi);
            ++block;
        });

        instance->releaseResources();
        return output;
    }
}

TEST (Lv2Automation, Lv2AndVst3RenderTheSameBits)
{
    const auto changes = automation();

    for (const auto format : { Format::vst3, Format::lv2 })
    {
        const auto probe = Hosting::load (format);
        ASSERT_NE (probe, nullptr);

        for (const auto& c : changes)
            ASSERT_GE (Hosting::indexOf (*probe, format, c.id), 0) << Hosting::name (format) << " " << c.id;
    }

    const auto vst3 = render (Format::vst3, changes);
    const auto lv2 = render (Format::lv2, changes);
    ASSERT_EQ (vst3.size(), 2u);
    ASSERT_EQ (lv2.size(), 2u);

    for (size_t c = 0; c < 2; ++c)
    {
        const auto mismatch = std::mismatch (lv2[c].begin(), lv2[c].end(), vst3[c].begin());
        EXPECT_TRUE (mismatch.first == lv2[c].end())
            << "channel " << c << " differs first at sample " << (mismatch.first - lv2[c].begin());
    }

    // Not trivially the same: the automation is heard.
    const auto still = render (Format::lv2, {});
    ASSERT_EQ (still.size(), 2u);
    EXPECT_FALSE (still[0] == lv2[0]);
}
