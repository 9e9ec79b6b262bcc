#pragma once

#include "TestSignal.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>
#include <vector>

/**
    Helpers shared by the host suite: loading the built binaries through the
    framework's hosting classes, running the in-process reference program,
    and pushing the test signal through a loaded instance.
*/
namespace Hosting
{
    enum class Format { vst3, lv2 };

    /** Keeps plug-ins installed for the user out of the tests' hosts. Call
        before anything else. */
    void keepUserPluginsAway();

    const char* name (Format);

    juce::File vst3Bundle();
    juce::File lv2Bundle();

    /** The description a host's scan gives, or an empty one on failure. */
    juce::PluginDescription describe (Format);

    /** A fresh instance of the built binary; fails the test if it won't load. */
    std::unique_ptr<juce::AudioPluginInstance> load (Format, double sampleRate = 48000.0, int blockSize = 512);

    /** How one render runs, on either side. */
    struct Render
    {
        int ins = 2, outs = 2;
        double rate = 48000.0;
        int block = 512, frames = 8192;
        bool bypass = false;
        std::vector<std::pair<juce::String, float>> settings;   // parameter ID, normalised value
    };

    /** Output channels, one vector each. */
    using Channels = std::vector<std::vector<float>>;

    /** The in-process reference for a render; empty if the program failed. */
    Channels reference (const Render&);

    /** The state block the processor writes in process for the settings. */
    juce::MemoryBlock referenceState (const std::vector<std::pair<juce::String, float>>& settings);

    /** One parameter of the processor's layout, as the reference program
        reads it from the processor in process. */
    struct ReferenceParameter
    {
        juce::String id, name;
        float start = 0, end = 0, interval = 0, defaultValue = 0;   // plain
        int steps = 0;
        juce::String textAt0, textAt1;   // the texts of normalised 0 and 1
    };

    /** The processor's parameters in order; empty if the program failed. */
    std::vector<ReferenceParameter> referenceParameters();

    /** The reference program's "layouts" table: (ins, outs) -> accepted. */
    std::map<std::pair<int, int>, bool> referenceLayouts();

    /** Index of a hosted parameter by the plug-in's parameter ID, or -1. */
    int indexOf (juce::AudioPluginInstance&, Format, const juce::String& parameterId);

    /** Renders through a loaded instance: layout, prepare, settings, blocks. */
    Channels render (juce::AudioPluginInstance&, Format, const Render&);

    /** Runs one silent block, so that queued parameter changes reach the
        plug-in and what it reports back reaches the host. */
    void runOneBlock (juce::AudioPluginInstance&);

    /** The processor's own state block inside the state a host saved, or an
        empty block. */
    juce::MemoryBlock blockInside (Format, const juce::MemoryBlock& hostState);
}
