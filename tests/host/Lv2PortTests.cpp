// A host that leaves LV2 ports unconnected (NULL) must not crash the plug-in.
// A small host of our own drives the built binary directly through its LV2
// entry points, leaving out different sets of ports.

#include "Hosting.h"

#include "TestSignal.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace
{
    // The bundle's ports, in the framework's order.
    enum Port : uint32_t { inL, inR, outL, outR, atomIn, atomOut, latency, freeWheeling, enabled, numPorts };

    constexpr uint32_t blockSize = 256;

    struct UridMap
    {
        std::vector<std::string> uris;

        static LV2_URID map (LV2_URID_Map_Handle handle, const char* uri)
        {
            auto& uris = static_cast<UridMap*> (handle)->uris;
            const auto it = std::find (uris.begin(), uris.end(), uri);

            if (it != uris.end())
                return (LV2_URID) (it - uris.begin()) + 1;

            uris.emplace_back (uri);
            return (LV2_URID) uris.size();
        }
    };

    class MinimalHost
    {
    public:
        MinimalHost()
        {
            if (! library.open (TESSAMUNE_LV2_BINARY))
                return;

            using Entry = const LV2_Descriptor* (*) (uint32_t);

            if (auto entry = reinterpret_cast<Entry> (library.getFunction ("lv2_descriptor")))
                descriptor = entry (0);

            if (descriptor == nullptr)
                return;

            maxBlock = (int32_t) blockSize;
            options[0] = { LV2_OPTIONS_INSTANCE, 0, map (LV2_BUF_SIZE__maxBlockLength), sizeof (int32_t), map (LV2_ATOM__Int), &maxBlock };
            options[1] = { LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr };

            mapFeature = { &uridMap, UridMap::map };
            featureList[0] = { LV2_URID__map, &mapFeature };
            featureList[1] = { LV2_OPTIONS__options, options };
            featureList[2] = { LV2_BUF_SIZE__boundedBlockLength, nullptr };

            for (int i = 0; i < 3; ++i)
                features[i] = &featureList[i];

            features[3] = nullptr;

            const auto bundle = Hosting::lv2Bundle().getFullPathName() + "/";
            handle = descriptor->instantiate (descriptor, 48000.0, bundle.toRawUTF8(), features);
        }

        ~MinimalHost()
        {
            if (handle != nullptr)
                descriptor->cleanup (handle);
        }

        bool isReady() const { return handle != nullptr; }

        LV2_URID map (const char* uri) { return UridMap::map (&uridMap, uri); }

        // Connects every port of the set to a buffer of its own, the rest to NULL.
        void connect (const std::vector<Port>& connected)
        {
            for (uint32_t port = 0; port < numPorts; ++port)
            {
                const auto isConnected = std::find (connected.begin(), connected.end(), (Port) port) != connected.end();
                descriptor->connect_port (handle, port, isConnected ? bufferFor ((Port) port) : nullptr);
            }
        }

        void disconnect (Port port) { descriptor->connect_port (handle, port, nullptr); }

        void activate() { descriptor->activate (handle); }
        void deactivate() { descriptor->deactivate (handle); }

        // One block: the test signal on the inputs, fresh atom buffers.
        void run (uint32_t frames, uint32_t start)
        {
            const auto signal = TestSignal::make (2, (int) (start + frames), 48000.0);

            for (const auto port : { inL, inR })
                std::copy (signal[port].begin() + start, signal[port].end(), audio[port].begin());

            auto* sequence = reinterpret_cast<LV2_Atom_Sequence*> (atomInput.data());
            sequence->atom.size = sizeof (LV2_Atom_Sequence_Body);
            sequence->atom.type = map (LV2_ATOM__Sequence);
            sequence->body = { 0, 0 };

            auto* output = reinterpret_cast<LV2_Atom*> (atomOutput.data());
            output->size = (uint32_t) (atomOutput.size() * sizeof (uint64_t) - sizeof (LV2_Atom));
            output->type = map (LV2_ATOM__Chunk);

            descriptor->run (handle, frames);
        }

        std::vector<float>& output (Port port) { return audio[port]; }

    private:
        void* bufferFor (Port port)
        {
            switch (port)
            {
                case inL: case inR: case outL: case outR:   return audio[port].data();
                case atomIn:                                return atomInput.data();
                case atomOut:                               return atomOutput.data();
                case latency:                               return &latencyValue;
                case freeWheeling:                          return &freeWheelingValue;
                case enabled:                               return &enabledValue;
                case numPorts:                              break;
            }

            return nullptr;
        }

        juce::DynamicLibrary library;
        const LV2_Descriptor* descriptor = nullptr;
        LV2_Handle handle = nullptr;

        UridMap uridMap;
        LV2_URID_Map mapFeature {};
        int32_t maxBlock = 0;
        LV2_Options_Option options[2] {};
        LV2_Feature featureList[3] {};
        const LV2_Feature* features[4] {};

        // Larger than a block, so that an overlong block still has room.
        std::vector<float> audio[4] { std::vector<float> (4 * blockSize), std::vector<float> (4 * blockSize),
                                      std::vector<float> (4 * blockSize), std::vector<float> (4 * blockSize) };
        std::vector<uint64_t> atomInput = std::vector<uint64_t> (1024);
        std::vector<uint64_t> atomOutput = std::vector<uint64_t> (8192);
        float latencyValue = -1.0f, freeWheelingValue = 0.0f, enabledValue = 1.0f;
    };

    bool allFinite (const std::vector<float>& samples)
    {
        return std::all_of (samples.begin(), samples.end(), [] (float s) { return std::isfinite (s); });
    }

    bool isSilent (const std::vector<float>& samples, uint32_t frames)
    {
        return std::all_of (samples.begin(), samples.begin() + frames, [] (float s) { return s == 0.0f; });
    }

    struct Case
    {
        const char* label;
        std::vector<Port> connected;
        bool outputsCarrySignal;   // the left input and output are connected: the chorus is heard
    };

    const Case cases[] {
        { "nothing connected",             {},                                                                    false },
        { "audio inputs left out",         { outL, outR, atomIn, atomOut, latency, freeWheeling, enabled },       false },
        { "audio outputs left out",        { inL, inR, atomIn, atomOut, latency, freeWheeling, enabled },         false },
        { "one input left out",            { inL, outL, outR, atomIn, atomOut, latency, freeWheeling, enabled },  true },
        { "one output left out",           { inL, inR, outL, atomIn, atomOut, latency, freeWheeling, enabled },   true },
        { "atom ports left out",           { inL, inR, outL, outR, latency, freeWheeling, enabled },              true },
        { "control ports left out",        { inL, inR, outL, outR, atomIn, atomOut },                             true },
        { "only audio connected",          { inL, inR, outL, outR },                                              true },
    };
}

TEST (Lv2UnconnectedPorts, PluginRunsWhateverTheHostLeavesOut)
{
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.label);

        MinimalHost host;
        ASSERT_TRUE (host.isReady());

        host.connect (c.connected);
        host.activate();

        for (uint32_t block = 0; block < 8; ++block)
            host.run (blockSize, block * blockSize);

        for (const auto port : { outL, outR })
        {
            if (std::find (c.connected.begin(), c.connected.end(), port) == c.connected.end())
                continue;

            EXPECT_TRUE (allFinite (host.output (port)));

            if (c.outputsCarrySignal && port == outL)
                EXPECT_FALSE (isSilent (host.output (port), blockSize));
        }

        host.deactivate();
    }
}

TEST (Lv2UnconnectedPorts, PortsMayBeDisconnectedBetweenBlocks)
{
    MinimalHost host;
    ASSERT_TRUE (host.isReady());

    host.connect ({ inL, inR, outL, outR, atomIn, atomOut, latency, freeWheeling, enabled });
    host.activate();
    host.run (blockSize, 0);

    for (const auto port : { inR, atomOut, outR, inL, atomIn })
    {
        host.disconnect (port);
        host.run (blockSize, 0);
    }

    EXPECT_TRUE (allFinite (host.output (outL)));
    host.deactivate();
}

TEST (Lv2UnconnectedPorts, LongerBlockThanAnnouncedWithAPortLeftOut)
{
    MinimalHost host;
    ASSERT_TRUE (host.isReady());

    host.connect ({ inL, outL, outR, atomIn, atomOut });
    host.activate();
    host.run (3 * blockSize, 0);

    EXPECT_TRUE (allFinite (host.output (outL)));
    host.deactivate();
}
