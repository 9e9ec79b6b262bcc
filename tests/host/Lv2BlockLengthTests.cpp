// Hosts offer the block length in different ways, or not at all (Audacity
// sends an 8-byte atom:Int, lv2file has no bounded-block-length feature).
// The plug-in instantiates with each and runs blocks of any length, longer
// than any it was told of too.

#include "Hosting.h"
#include "Lv2TestHost.h"

#if TESSAMUNE_COUNT_ALLOCATIONS
 #include "support/RealtimeGuard.h"
#endif

#include <gtest/gtest.h>

using namespace Lv2TestHost;

namespace
{
    // Runs of very different lengths: shorter and longer than any maximum
    // (the plug-in's scratch channels hold 8192 frames at most), and one of
    // no frames.
    const std::vector<uint32_t> runs { 9000, 1, 256, 3000, 100, 2000, 0, 12067 };
    constexpr int totalFrames = 26424;   // their sum

    const std::vector<std::pair<juce::String, float>> settings { { "chorus_depth", 5.0f }, { "chorus_speed", 3.0f }, { "chorus_mix", 7.0f } };

    // What the processor renders at the settings, in blocks of a length.
    Hosting::Channels referenceAtSettings (int frames, int block)
    {
        Hosting::Render r;
        r.frames = frames;
        r.block = block;

        for (const auto& [id, plain] : settings)
            r.settings.emplace_back (id, plain / 10.0f);

        return Hosting::reference (r);
    }

    struct Case
    {
        const char* label;
        BlockLength blockLength;
        int64_t maxBlock;
        bool boundedBlockLength;
    };

    const Case cases[] {
        { "4-byte atom:Int",                       BlockLength::int32,     256,    true },
        { "8-byte atom:Int (Audacity)",            BlockLength::int64,     256,    true },
        { "8-byte atom:Long",                      BlockLength::long64,    1024,   true },
        { "atom:Float",                            BlockLength::asFloat,   512,    true },
        { "no bounded block length (lv2file)",     BlockLength::int32,     512,    false },
        { "no maximum among the options",          BlockLength::notGiven,  0,      true },
        { "no options at all",                     BlockLength::noOptions, 0,      false },
        { "a maximum beyond the plug-in's",        BlockLength::int64,     1 << 20, true },
        { "a maximum of 0",                        BlockLength::int32,     0,      true },
    };
}

TEST (Lv2BlockLength, EveryHostOfferInstantiatesAndLongRunsRenderWhole)
{
    const auto reference = referenceAtSettings (totalFrames, 512);
    ASSERT_EQ (reference.size(), 2u) << "the reference program failed";

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.label);

        Plugin host ({ 48000.0, c.blockLength, c.maxBlock, c.boundedBlockLength, totalFrames });
        ASSERT_TRUE (host.isReady()) << "refused to instantiate";

        host.connectAll();

        for (const auto& [id, value] : settings)
            host.setControl (id, value);

        host.activate();

        for (const auto frames : runs)
            host.run (frames);

        // The chorus's output does not depend on how the signal is cut into
        // blocks: the whole render is the processor's.
        for (size_t ch = 0; ch < 2; ++ch)
            EXPECT_TRUE (host.output()[ch] == reference[ch]) << "channel " << ch;
    }
}

// A host that passes no features at all, not even the URID map (lv2apply,
// ecasound), and runs blocks of one frame (lv2apply does) hears what every
// other host hears. Without the map the plug-in cannot name its state, so it
// saves none.
TEST (Lv2BlockLength, NoFeaturesAtAllAndBlocksOfOneFrame)
{
    constexpr int frames = 6000;

    const auto reference = referenceAtSettings (frames, 1);
    ASSERT_EQ (reference.size(), 2u) << "the reference program failed";

    Plugin host ({ 48000.0, BlockLength::noOptions, 0, false, frames, false });
    ASSERT_TRUE (host.isReady()) << "refused to instantiate";
    host.connectAll();

    for (const auto& [id, value] : settings)
        host.setControl (id, value);

    host.activate();

    for (int frame = 0; frame < frames; ++frame)
        host.run (1);

    for (size_t ch = 0; ch < 2; ++ch)
        EXPECT_TRUE (host.output()[ch] == reference[ch]) << "channel " << ch;

    EXPECT_TRUE (host.save().properties.empty());
}

#if TESSAMUNE_COUNT_ALLOCATIONS
// Runs longer than the host said its blocks would be, and port changes on
// the way (the switches among them, which re-route the signal), neither
// allocate nor lock.
TEST (Lv2BlockLength, LongRunsAndPortChangesNeitherAllocateNorLock)
{
    Plugin host ({ 48000.0, BlockLength::int32, 256, true, 40000 });
    ASSERT_TRUE (host.isReady());
    host.connectAll();
    host.activate();
    host.run (256);   // the first block settles what is set up lazily

    const auto depth = (uint32_t) portIndex ("chorus_depth");
    const auto mix = (uint32_t) portIndex ("chorus_mix");
    const auto mode = (uint32_t) portIndex ("stereo_proc");

    RealtimeGuard guard;

    for (int i = 0; i < 8; ++i)
    {
        host.setControl (depth, (float) i);
        host.setControl (mix, 10.0f - (float) i);
        host.setControl (mode, (float) (i % 2));
        host.run (4000);
    }

    EXPECT_EQ (guard.allocations(), 0u);
    EXPECT_EQ (guard.locks(), 0u);
}

// Nor do switches flipped where no audio is processed for a long while:
// over runs of no frames, and while the host bypasses the plug-in.
TEST (Lv2BlockLength, SwitchesFlippedWithoutAudioNeitherAllocateNorLock)
{
    const auto chorus = (uint32_t) portIndex ("chorus_on");
    const auto mode = (uint32_t) portIndex ("stereo_proc");

    for (const bool bypassed : { false, true })
    {
        SCOPED_TRACE (bypassed ? "bypassed, runs of 32 frames" : "runs of no frames");

        Plugin host ({ 48000.0, BlockLength::int32, 256, true, 40000 });
        ASSERT_TRUE (host.isReady());
        host.connectAll();
        host.activate();
        host.frameworkPort (enabled) = bypassed ? 0.0f : 1.0f;
        host.run (256);

        RealtimeGuard guard;

        for (int i = 0; i < 1000; ++i)
        {
            host.setControl (i % 2 == 0 ? chorus : mode, (float) ((i / 2) % 2));
            host.run (bypassed ? 32 : 0);
        }

        EXPECT_EQ (guard.allocations(), 0u);
        EXPECT_EQ (guard.locks(), 0u);
    }
}
#endif
