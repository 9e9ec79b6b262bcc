// The channel configurations a host can set.

#include "Hosting.h"

#include <gtest/gtest.h>

using Hosting::Format;

namespace
{
    bool isOffered (int ins, int outs)
    {
        return (ins == 1 && outs == 1) || (ins == 2 && outs == 2) || (ins == 1 && outs == 2);
    }

    // Layouts a VST3 host may propose: the three offered, and ones with a
    // stereo input feeding a mono output or with three channels on a side.
    const std::pair<int, int> proposals[] { { 1, 1 }, { 2, 2 }, { 1, 2 }, { 2, 1 },
                                            { 3, 3 }, { 1, 3 }, { 3, 1 }, { 2, 3 }, { 3, 2 } };
}

TEST (Vst3Layouts, HostCanSetExactlyTheOfferedConfigurations)
{
    auto instance = Hosting::load (Format::vst3);
    ASSERT_NE (instance, nullptr);

    for (const auto& [ins, outs] : proposals)
    {
        SCOPED_TRACE (juce::String (ins) + " in, " + juce::String (outs) + " out");
        const auto before = instance->getBusesLayout();
        const auto requested = TestSignal::layoutFor (ins, outs);
        const auto accepted = instance->setBusesLayout (requested);

        EXPECT_EQ (accepted, isOffered (ins, outs));
        EXPECT_TRUE (instance->getBusesLayout() == (accepted ? requested : before));
    }
}

// A host that finds the plug-in mono runs one copy per channel of a stereo
// track, each adding the wet signal: the right channel's dry - wet and the
// processing mode are lost. It must open in stereo.
TEST (Vst3Layouts, OpensInStereo)
{
    auto instance = Hosting::load (Format::vst3);
    ASSERT_NE (instance, nullptr);

    EXPECT_TRUE (instance->getBusesLayout() == TestSignal::layoutFor (2, 2));
}

TEST (InProcessLayouts, ProcessorTakesExactlyTheOfferedConfigurations)
{
    const auto table = Hosting::referenceLayouts();
    ASSERT_EQ (table.size(), 15u);   // 0..3 by 0..3, less none by none

    for (const auto& [layout, accepted] : table)
        EXPECT_EQ (accepted, isOffered (layout.first, layout.second))
            << layout.first << " in, " << layout.second << " out";
}

TEST (Lv2Layouts, BundleCarriesStereoInAndOutOnly)
{
    auto instance = Hosting::load (Format::lv2);
    ASSERT_NE (instance, nullptr);

    EXPECT_TRUE (instance->getBusesLayout() == TestSignal::layoutFor (2, 2));

    for (const auto& [ins, outs] : proposals)
    {
        if (ins == 2 && outs == 2)
            continue;

        SCOPED_TRACE (juce::String (ins) + " in, " + juce::String (outs) + " out");
        EXPECT_FALSE (instance->setBusesLayout (TestSignal::layoutFor (ins, outs)));
        EXPECT_TRUE (instance->getBusesLayout() == TestSignal::layoutFor (2, 2));
    }
}
