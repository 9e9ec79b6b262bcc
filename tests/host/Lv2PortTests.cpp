// The LV2 bundle's ports as written, a host that leaves ports unconnected
// (NULL) or shares audio buffers between ports, and the framework's enabled
// and latency ports: the suite's own small host drives the built binary
// through its entry points.

#include "Hosting.h"
#include "Lv2TestHost.h"

#if TESSAMUNE_COUNT_ALLOCATIONS
 #include "support/RealtimeGuard.h"
#endif

#include <gtest/gtest.h>

#include <cmath>

using namespace Lv2TestHost;

// One control input per parameter of the processor, after the framework's
// ports, carrying the parameter's plain value: what the description says
// must be what the processor's layout is.
TEST (Lv2PortDescription, ControlPortsFollowTheParameterLayout)
{
    const auto layout = Hosting::referenceParameters();
    ASSERT_EQ (layout.size(), 5u) << "the reference program failed";

    const auto ports = describedPorts();
    ASSERT_EQ (ports.size(), numFrameworkPorts + layout.size());

    // Listed in index order, numbered from 0 as the binary numbers them.
    for (size_t i = 0; i < ports.size(); ++i)
        EXPECT_EQ (ports[i].index, (int) i) << ports[i].symbol;

    for (size_t k = 0; k < layout.size(); ++k)
    {
        const auto& parameter = layout[k];
        const auto& port = ports[numFrameworkPorts + k];
        SCOPED_TRACE (parameter.id);

        EXPECT_EQ (port.types, juce::StringArray ({ "lv2:InputPort", "lv2:ControlPort" }));
        EXPECT_EQ (port.symbol, parameter.id);
        EXPECT_EQ (port.name, parameter.name);
        ASSERT_TRUE (port.defaultValue && port.minimum && port.maximum);
        EXPECT_EQ (*port.defaultValue, parameter.defaultValue);
        EXPECT_EQ (*port.minimum, parameter.start);
        EXPECT_EQ (*port.maximum, parameter.end);

        if (parameter.steps == 2)
        {
            // A switch: toggled, and its two values named, so that a host
            // offers it as a choice.
            EXPECT_EQ (port.properties, juce::StringArray ({ "lv2:toggled", "lv2:enumeration" }));
            ASSERT_EQ (port.scalePoints.size(), 2u);
            EXPECT_EQ (port.scalePoints[0], std::make_pair (parameter.textAt0, parameter.start));
            EXPECT_EQ (port.scalePoints[1], std::make_pair (parameter.textAt1, parameter.end));
            EXPECT_EQ (port.rangeSteps, 0);
        }
        else
        {
            EXPECT_TRUE (port.properties.isEmpty());
            EXPECT_TRUE (port.scalePoints.empty());
            EXPECT_EQ (port.rangeSteps, parameter.steps);
        }
    }

    // The framework's own ports are not among them.
    for (size_t i = 0; i < numFrameworkPorts; ++i)
        for (const auto& parameter : layout)
            EXPECT_NE (ports[i].symbol, parameter.id);
}

namespace
{
    constexpr uint32_t blockSize = 256;

    bool allFinite (const std::vector<float>& samples)
    {
        return std::all_of (samples.begin(), samples.end(), [] (float s) { return std::isfinite (s); });
    }

    bool isSilent (const std::vector<float>& samples, uint32_t frames)
    {
        return std::all_of (samples.begin(), samples.begin() + frames, [] (float s) { return s == 0.0f; });
    }

    std::vector<uint32_t> allPorts()
    {
        std::vector<uint32_t> result;

        for (const auto& p : describedPorts())
            result.push_back ((uint32_t) p.index);

        return result;
    }

    std::vector<uint32_t> without (std::vector<uint32_t> ports, std::initializer_list<uint32_t> left)
    {
        ports.erase (std::remove_if (ports.begin(), ports.end(), [&] (uint32_t p) { return std::find (left.begin(), left.end(), p) != left.end(); }),
                     ports.end());
        return ports;
    }

    std::vector<uint32_t> frameworkPortsOnly()
    {
        return { inL, inR, outL, outR, unusedIn, unusedOut, latency, freeWheeling, enabled };
    }

    struct Case
    {
        const char* label;
        std::vector<uint32_t> connected;
        bool outputsCarrySignal;   // the left input and output are connected: the chorus is heard
    };

    std::vector<Case> cases()
    {
        return {
            { "nothing connected",        {},                                                   false },
            { "audio inputs left out",    without (allPorts(), { inL, inR }),                   false },
            { "audio outputs left out",   without (allPorts(), { outL, outR }),                 false },
            { "one input left out",       without (allPorts(), { inR }),                        true },
            { "one output left out",      without (allPorts(), { outR }),                       true },
            { "unused ports left out",      without (allPorts(), { unusedIn, unusedOut }),            true },
            { "control ports left out",   { inL, inR, outL, outR, unusedIn, unusedOut },            true },
            { "parameter ports left out", frameworkPortsOnly(),                                 true },
            { "only audio connected",     { inL, inR, outL, outR },                             true },
        };
    }

    void connectOnly (Plugin& host, const std::vector<uint32_t>& connected)
    {
        for (const auto port : allPorts())
            host.connect (port, std::find (connected.begin(), connected.end(), port) != connected.end());
    }
}

TEST (Lv2UnconnectedPorts, PluginRunsWhateverTheHostLeavesOut)
{
    for (const auto& c : cases())
    {
        SCOPED_TRACE (c.label);

        Plugin host;
        ASSERT_TRUE (host.isReady());

        connectOnly (host, c.connected);
        host.activate();

        for (uint32_t block = 0; block < 8; ++block)
            host.run (blockSize);

        for (const auto port : { outL, outR })
        {
            if (std::find (c.connected.begin(), c.connected.end(), port) == c.connected.end())
                continue;

            const auto& channel = host.output()[port - outL];
            EXPECT_TRUE (allFinite (channel));

            if (c.outputsCarrySignal && port == outL)
                EXPECT_FALSE (isSilent (channel, blockSize));
        }

        host.deactivate();
    }
}

TEST (Lv2UnconnectedPorts, PortsMayBeDisconnectedBetweenBlocks)
{
    Plugin host;
    ASSERT_TRUE (host.isReady());

    host.connectAll();
    host.activate();
    host.run (blockSize);

    for (const auto port : { (uint32_t) inR, (uint32_t) unusedOut, (uint32_t) outR, (uint32_t) portIndex ("chorus_mix"), (uint32_t) inL, (uint32_t) unusedIn })
    {
        host.connect (port, false);
        host.run (blockSize);
    }

    EXPECT_TRUE (allFinite (host.output()[0]));
    host.deactivate();
}

// A block longer than the host announced is run in pieces of the announced
// length, so the stand-ins for unconnected ports are long enough.
TEST (Lv2UnconnectedPorts, LongerBlockThanAnnouncedWithAPortLeftOut)
{
    Plugin host;
    ASSERT_TRUE (host.isReady());

    connectOnly (host, { inL, outL, outR, unusedIn, unusedOut });
    host.activate();
    host.run (3 * blockSize);

    EXPECT_TRUE (allFinite (host.output()[0]));
    EXPECT_FALSE (isSilent (host.output()[0], 3 * blockSize));
    host.deactivate();
}

// Hosts may hand the plug-in the same buffer for an input and an output, or
// even one channel's input as the other channel's output: every way renders
// what separate buffers render.
TEST (Lv2AudioBuffers, SharedBuffersRenderAsSeparateOnes)
{
    const auto render = [] (Plugin::Outputs where)
    {
        Plugin host;
        host.connectAll();
        host.setControl ("chorus_depth", 7.0f);
        host.connectOutputs (where);
        host.activate();

        for (uint32_t block = 0; block < 16; ++block)
            host.run (blockSize);

        return host.output();
    };

    const auto separate = render (Plugin::Outputs::separate);
    ASSERT_FALSE (isSilent (separate[0], blockSize));

    for (const auto where : { Plugin::Outputs::inPlace, Plugin::Outputs::crossed })
    {
        SCOPED_TRACE (where == Plugin::Outputs::inPlace ? "in place" : "crossed");
        const auto shared = render (where);

        for (size_t c = 0; c < 2; ++c)
            EXPECT_TRUE (shared[c] == separate[c]) << "channel " << c;
    }

    // Both outputs in one buffer can hold only one of them; it is one of
    // the two channels as they render apart, whole, not a mixture of them.
    const auto one = render (Plugin::Outputs::oneBuffer);
    EXPECT_TRUE (one[0] == separate[0] || one[0] == separate[1]);
}

// A host that switches the plug-in off and on again (deactivate, activate)
// hears nothing of what played before: the delay lines are empty and the
// oscillators start again, so what comes out equals what a plug-in just
// made and activated there would play, sample for sample.
TEST (Lv2Activation, ReactivatedPluginStartsAfresh)
{
    constexpr uint32_t played = 40 * blockSize, after = 24 * blockSize;
    const Lv2TestHost::Setup setup { 48000.0, BlockLength::int32, blockSize, true, (int) (played + after) };

    const auto configure = [] (Plugin& host)
    {
        host.connectAll();
        host.setControl ("chorus_depth", 8.0f);
        host.setControl ("chorus_speed", 6.0f);
        host.setControl ("chorus_mix", 10.0f);
    };

    Plugin reactivated (setup), fresh (setup);
    ASSERT_TRUE (reactivated.isReady() && fresh.isReady());
    configure (reactivated);
    configure (fresh);

    reactivated.activate();

    for (uint32_t done = 0; done < played; done += blockSize)
        reactivated.run (blockSize);

    reactivated.deactivate();
    reactivated.activate();

    fresh.skip (played);
    fresh.activate();

    for (uint32_t done = 0; done < after; done += blockSize)
    {
        reactivated.run (blockSize);
        fresh.run (blockSize);
    }

    for (size_t c = 0; c < 2; ++c)
    {
        const auto& a = reactivated.output()[c];
        const auto& b = fresh.output()[c];
        EXPECT_TRUE (std::equal (a.begin() + played, a.end(), b.begin() + played)) << "channel " << c;
    }
}

// The enabled port is the host's bypass (Ardour's bypass button): on for
// any value above zero. Switched off, the output fades to the inputs within
// 10 ms and is then the inputs exactly; switched on again, it fades back to
// exactly what an instance never bypassed plays, since the chorus kept
// running on the input meanwhile. The latency port reads the processor's
// latency, none.
TEST (Lv2AudioBuffers, EnabledPortBypassesWithAFadeAndLatencyIsReported)
{
    constexpr uint32_t blocks = 30;
    const Lv2TestHost::Setup setup { 48000.0, BlockLength::int32, blockSize, true, (int) (blocks * blockSize) };
    const float enabledByBlock[blocks] = { 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                           0.3f, 0.3f, 0.3f, 0.3f, 0.3f, 0.3f, 1, 1, 1, 1 };

    Plugin host (setup), neverBypassed (setup);
    ASSERT_TRUE (host.isReady() && neverBypassed.isReady());

    for (auto* h : { &host, &neverBypassed })
    {
        h->connectAll();
        h->setControl ("chorus_mix", 7.0f);
        h->setControl ("chorus_depth", 5.0f);
        h->activate();
    }

    for (uint32_t block = 0; block < blocks; ++block)
    {
        host.frameworkPort (enabled) = enabledByBlock[block];
        host.frameworkPort (latency) = -1.0f;
        host.run (blockSize);
        neverBypassed.run (blockSize);
        EXPECT_EQ (host.frameworkPort (latency), 0.0f);
    }

    // 10 ms at 48 kHz: 480 frames, within two blocks of the switch.
    const auto span = [] (uint32_t fromBlock, uint32_t toBlock) { return std::pair { (long) (fromBlock * blockSize), (long) (toBlock * blockSize) }; };

    for (size_t c = 0; c < 2; ++c)
    {
        const auto& out = host.output()[c];
        const auto [offFrom, offTo] = span (12, 20);
        const auto [onFrom, onTo] = span (22, blocks);

        EXPECT_FALSE (std::equal (out.begin() + (long) (10 * blockSize), out.begin() + (long) (10 * blockSize) + 8,
                                  host.input()[c].begin() + (long) (10 * blockSize))) << "the chorus fades out, not off at once";
        EXPECT_TRUE (std::equal (out.begin() + offFrom, out.begin() + offTo, host.input()[c].begin() + offFrom)) << "channel " << c;
        EXPECT_TRUE (std::equal (out.begin() + onFrom, out.begin() + onTo, neverBypassed.output()[c].begin() + onFrom)) << "channel " << c;
    }
}

#if TESSAMUNE_COUNT_ALLOCATIONS
// The LV2 runs at one rate for its life, so its delay lines are made when
// it is instantiated: where the memory for them runs out, the host is told
// that the plug-in could not be made (nothing half-built runs, nothing
// escapes into the host), and the next try, with memory, works.
TEST (Lv2Activation, InstanceWithoutMemoryForItsDelayLinesIsRefused)
{
    const Lv2TestHost::Setup at192k { 192000.0, BlockLength::int32, blockSize, true, (int) (48 * blockSize) };

    {
        // Two seconds of delay line at 192 kHz take 1.5 MB.
        const LargeAllocationFailure outOfMemory (1 << 20);
        Plugin host (at192k);
        EXPECT_FALSE (host.isReady());
    }

    Plugin host (at192k);
    ASSERT_TRUE (host.isReady());
    host.connectAll();
    host.setControl ("chorus_depth", 8.0f);
    host.activate();

    // Longer than the pre-delay and the shortest delay, 25 ms at 192 kHz.
    for (uint32_t block = 0; block < 48; ++block)
        host.run (blockSize);

    EXPECT_FALSE (host.output()[0] == host.input()[0]);
}
#endif
