#pragma once

#include "Hosting.h"

#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

/**
    A small LV2 host of the suite's own, without lilv: it loads the built
    binary, drives it through its entry points with features and options of
    the test's choosing, and reads the bundle's description as text.
*/
namespace Lv2TestHost
{
    /** One lv2:port of dsp.ttl, as written. */
    struct PortDescription
    {
        int index = -1;
        juce::String symbol, name;
        juce::StringArray types, properties;      // e.g. "lv2:InputPort"; "lv2:toggled"
        std::optional<float> defaultValue, minimum, maximum;
        int rangeSteps = 0;
        std::vector<std::pair<juce::String, float>> scalePoints;
    };

    /** The bundle's ports in the order dsp.ttl lists them. */
    std::vector<PortDescription> describedPorts();

    /** The port index of a symbol, from the description; -1 if none. */
    int portIndex (const juce::String& symbol);

    // The ports before the control ports: audio, two that carry nothing,
    // latency, free-wheeling and enabled.
    enum Port : uint32_t { inL, inR, outL, outR, unusedIn, unusedOut, latency, freeWheeling, enabled, numFrameworkPorts };

    class UridMap
    {
    public:
        UridMap();
        LV2_URID map (const char* uri);
        const LV2_URID_Map* feature() const { return &mapFeature; }

    private:
        static LV2_URID callback (LV2_URID_Map_Handle, const char*);
        std::vector<std::string> uris;
        LV2_URID_Map mapFeature {};
    };

    /** How the host offers the maximum block length. */
    enum class BlockLength
    {
        int32,             // atom:Int, 4 bytes (what the framework reads)
        int64,             // atom:Int, 8 bytes (Audacity)
        long64,            // atom:Long, 8 bytes
        asFloat,           // atom:Float
        notGiven,          // options without a maximum block length
        noOptions          // no options feature at all
    };

    struct Setup
    {
        double rate = 48000.0;
        BlockLength blockLength = BlockLength::int32;
        int64_t maxBlock = 256;
        bool boundedBlockLength = true;
        int totalFrames = 8192;   // of the test signal, which the runs go through
        bool withFeatures = true; // false: no features at all, not even the URID map
    };

    /** A saved state: the properties the plug-in stored, by key. */
    struct SavedState
    {
        struct Property { std::vector<char> value; LV2_URID type = 0; };
        std::map<LV2_URID, Property> properties;
    };

    class Plugin
    {
    public:
        explicit Plugin (Setup = {});
        ~Plugin();

        Plugin (const Plugin&) = delete;
        Plugin& operator= (const Plugin&) = delete;

        bool isReady() const { return handle != nullptr; }
        LV2_Handle getHandle() const { return handle; }
        UridMap& uridMap() { return urids; }

        /** Connects every port to a buffer of its own, control ports at
            their defaults, or leaves the ports out of the set unconnected. */
        void connectAll();
        void connect (uint32_t port, bool connected);

        /** Where the audio outputs go: buffers of their own, the inputs'
            (in place), each the other channel's input, or both into one
            buffer of their own (lv2bench does that). */
        enum class Outputs { separate, inPlace, crossed, oneBuffer };
        void connectOutputs (Outputs);

        /** The latency, free-wheeling and enabled ports' values. */
        float& frameworkPort (Port);

        /** The control port of a parameter ID, or of an index (connected). */
        void setControl (const juce::String& symbol, float value);
        void setControl (uint32_t port, float value) { controls[port] = value; }
        void disconnectControl (const juce::String& symbol);

        void activate();
        void deactivate();

        /** One run call of the next frames of the test signal (2 channels). */
        void run (uint32_t frames);

        /** Moves on in the test signal without running: the next run takes
            the signal from further on. */
        void skip (uint32_t frames);

        /** What the outputs have carried so far, run after run. */
        const Hosting::Channels& output() const { return rendered; }

        /** The test signal the inputs are given. */
        const std::vector<std::vector<float>>& input() const { return signal; }

        SavedState save();
        LV2_State_Status restore (const SavedState&);

        /** The processor's plain value of a parameter in the state it saves. */
        double savedValue (const juce::String& parameterId);

        /** The XML text of the state it saves. */
        juce::String savedStateText();

    private:
        void* bufferFor (uint32_t port);

        juce::DynamicLibrary library;
        const LV2_Descriptor* descriptor = nullptr;
        LV2_Handle handle = nullptr;

        UridMap urids;
        Setup setup;
        int32_t maxBlock32 = 0;
        int64_t maxBlock64 = 0;
        float maxBlockFloat = 0.0f;
        int32_t nominal = 128;
        std::vector<LV2_Options_Option> options;
        std::vector<LV2_Feature> featureList;
        std::vector<const LV2_Feature*> features;

        std::vector<float> audio[4];
        float* outputs[2] = {};
        float unusedValues[2] = { -1.0f, -1.0f };
        float latencyValue = -1.0f, freeWheelingValue = 0.0f, enabledValue = 1.0f;
        std::map<uint32_t, float> controls;

        std::vector<std::vector<float>> signal;
        size_t position = 0;
        Hosting::Channels rendered;
    };

    /** The processor's XML text in a saved state (empty if there is none). */
    juce::String stateTextIn (const SavedState&, UridMap&);

    /** The processor's plain value of a parameter in a saved state. */
    double plainValueIn (const SavedState&, UridMap&, const juce::String& parameterId);
}
