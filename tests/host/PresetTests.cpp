// The factory presets as hosts meet them: the LV2 bundle's presets, listed
// and applied by a lilv host (the framework's LV2 hosting, which offers them
// as programs), and the VST3 preset files, loaded by the framework's VST3
// hosting. Each must list exactly the presets' table, and each preset
// applied must give the samples the processor gives with the table's values.

#include "Hosting.h"
#include "Lv2TestHost.h"
#include "plugin/FactoryPresets.h"
#include "plugin/Parameters.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace juce
{
    // The framework's message pump on Linux (juce_events).
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

using Hosting::Format;

namespace
{
    const juce::File vst3PresetFolder { TESSAMUNE_VST3_PRESETS };

    /** The preset's values as the normalised settings a host sets. */
    std::vector<std::pair<juce::String, float>> settingsOf (const FactoryPresets::Preset& preset)
    {
        const auto parameters = Hosting::referenceParameters();
        std::vector<std::pair<juce::String, float>> settings;

        for (size_t i = 0; i < preset.values.size() && i < parameters.size(); ++i)
        {
            const auto& p = parameters[i];
            settings.emplace_back (ParameterIDs::all[i], (preset.values[i] - p.start) / (p.end - p.start));
        }

        return settings;
    }

    /** Each parameter of the preset reads back its normalised value, once
        the host has handled the plug-in's messages for a while (at most two
        seconds): a VST3 asks its host to read the values again after the
        load, from its message thread, not within the load. */
    void expectParameters (juce::AudioPluginInstance& instance, Format format, const FactoryPresets::Preset& preset)
    {
        const auto settings = settingsOf (preset);
        const auto shown = [&]
        {
            for (const auto& [id, value] : settings)
            {
                const auto index = Hosting::indexOf (instance, format, id);

                if (index < 0 || std::abs (instance.getParameters()[index]->getValue() - value) > 1.0e-6f)
                    return false;
            }

            return true;
        };

        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds (2);

        while (! shown() && std::chrono::steady_clock::now() < end)
        {
            while (juce::dispatchNextMessageOnSystemQueue (true))
                continue;

            std::this_thread::sleep_for (std::chrono::milliseconds (2));
        }

        for (const auto& [id, value] : settings)
        {
            const auto index = Hosting::indexOf (instance, format, id);
            ASSERT_GE (index, 0) << id;
            EXPECT_NEAR (instance.getParameters()[index]->getValue(), value, 1.0e-6f) << id;
        }
    }

    Hosting::Render renderOf (const FactoryPresets::Preset& preset)
    {
        Hosting::Render r;
        r.frames = 24000;   // the slowest sweep's delay moves within it
        r.settings = settingsOf (preset);
        return r;
    }

    /** What the host renders with the parameters as they are. */
    Hosting::Channels renderAsSet (juce::AudioPluginInstance& instance, Format format)
    {
        auto r = Hosting::Render();
        r.frames = 24000;
        return Hosting::render (instance, format, r);
    }

    juce::StringArray tableNames()
    {
        juce::StringArray names;

        for (const auto& preset : FactoryPresets::all())
            names.add (preset.name);

        return names;
    }

    /** Hands a VST3 preset file to a loaded VST3 as a host does; false if
        the instance is no VST3 or refuses it. */
    bool loadVst3Preset (juce::AudioPluginInstance& instance, const juce::MemoryBlock& file)
    {
        struct Visitor : juce::ExtensionsVisitor
        {
            const juce::MemoryBlock& file;
            bool loaded = false;
            explicit Visitor (const juce::MemoryBlock& f) : file (f) {}
            void visitVST3Client (const VST3Client& client) override { loaded = client.setPreset (file); }
        } visitor (file);

        instance.getExtensions (visitor);
        return visitor.loaded;
    }

    /** The chunk a VST3 preset file holds under an ID, or an empty block. */
    juce::MemoryBlock vst3Chunk (const juce::MemoryBlock& file, const char* id)
    {
        const auto* bytes = static_cast<const char*> (file.getData());
        const auto size = (juce::int64) file.getSize();

        if (size < 48)
            return {};

        const auto listOffset = (juce::int64) juce::ByteOrder::littleEndianInt64 (bytes + 40);

        if (listOffset < 48 || listOffset + 8 > size || std::memcmp (bytes + listOffset, "List", 4) != 0)
            return {};

        const auto count = (juce::int64) juce::ByteOrder::littleEndianInt (bytes + listOffset + 4);

        for (juce::int64 i = 0; i < count; ++i)
        {
            const auto* entry = bytes + listOffset + 8 + i * 20;

            if (entry + 20 > bytes + size)
                return {};

            const auto offset = (juce::int64) juce::ByteOrder::littleEndianInt64 (entry + 4);
            const auto length = (juce::int64) juce::ByteOrder::littleEndianInt64 (entry + 12);

            if (std::memcmp (entry, id, 4) == 0 && offset >= 48 && length >= 0 && offset + length <= listOffset)
                return { bytes + offset, (size_t) length };
        }

        return {};
    }
}

//==============================================================================
TEST (Lv2Presets, AHostListsTheTableAndEachPresetPlaysAsTheProcessorDoes)
{
    auto instance = Hosting::load (Format::lv2);
    ASSERT_NE (instance, nullptr);

    // The framework lists an LV2 plug-in's presets as its programs.
    juce::StringArray listed;

    for (int i = 0; i < instance->getNumPrograms(); ++i)
        listed.add (instance->getProgramName (i));

    auto sortedTable = tableNames();
    auto sortedListed = listed;
    sortedTable.sort (false);
    sortedListed.sort (false);
    ASSERT_EQ (sortedListed, sortedTable);

    // Applied in an order other than the table's, so that each preset sets
    // every value rather than inheriting the previous one's.
    for (int program = instance->getNumPrograms(); --program >= 0;)
    {
        const auto* preset = FactoryPresets::find (listed[program]);
        ASSERT_NE (preset, nullptr);
        SCOPED_TRACE (preset->name);

        instance->setCurrentProgram (program);
        Hosting::runOneBlock (*instance);
        expectParameters (*instance, Format::lv2, *preset);

        const auto expected = Hosting::reference (renderOf (*preset));
        ASSERT_FALSE (expected.empty());
        EXPECT_EQ (renderAsSet (*instance, Format::lv2), expected);
    }
}

// An LV2 host applies a preset by setting the control ports while the
// plug-in runs: only parameters change, nothing waits for or suspends the
// audio, and no block comes out silent.
TEST (Lv2Presets, PresetsAppliedAsPortValuesWhilePlayingSilenceNoBlock)
{
    using namespace Lv2TestHost;
    constexpr int block = 256, blocksPerPreset = 4;
    const auto& presets = FactoryPresets::all();
    const auto frames = (int) presets.size() * 2 * blocksPerPreset * block;

    Plugin host ({ 48000.0, BlockLength::int32, block, true, frames });
    ASSERT_TRUE (host.isReady());
    host.connectAll();
    host.activate();

    int run = 0;

    for (int pass = 0; pass < 2; ++pass)
    {
        for (const auto& preset : presets)
        {
            for (size_t i = 0; i < preset.values.size(); ++i)
                host.setControl (ParameterIDs::all[i], preset.values[i]);

            for (int b = 0; b < blocksPerPreset; ++b, ++run)
            {
                host.run (block);

                for (const auto& channel : host.output())
                {
                    ASSERT_GE (channel.size(), (size_t) (run + 1) * block);
                    float peak = 0.0f;
                    for (auto n = (size_t) run * block; n < (size_t) (run + 1) * block; ++n)
                        peak = std::max (peak, std::abs (channel[n]));
                    EXPECT_GT (peak, 0.0f) << preset.name << ", block " << b;
                }
            }
        }
    }

    host.deactivate();
}

//==============================================================================
TEST (Vst3Presets, OneFilePerPresetEachTheComponentStateWithTheTablesValues)
{
    juce::StringArray files;

    for (const auto& file : vst3PresetFolder.findChildFiles (juce::File::findFiles, false, "*.vstpreset"))
        files.add (file.getFileNameWithoutExtension());

    auto sortedTable = tableNames();
    files.sort (false);
    sortedTable.sort (false);
    ASSERT_EQ (files, sortedTable);

    for (const auto& preset : FactoryPresets::all())
    {
        SCOPED_TRACE (preset.name);
        juce::MemoryBlock data;
        ASSERT_TRUE (vst3PresetFolder.getChildFile (juce::String (preset.name) + ".vstpreset").loadFileAsData (data));

        // The header: its ID, version 1, the component's class ID.
        ASSERT_GE (data.getSize(), 48u);
        EXPECT_EQ (juce::String (static_cast<const char*> (data.getData()), 4), "VST3");
        EXPECT_EQ (juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data.getData(), 4)), 1u);

        // The component state chunk is, byte for byte, the state the loaded
        // VST3's component gives a host once the preset's values are set.
        auto instance = Hosting::load (Format::vst3);
        ASSERT_NE (instance, nullptr);

        for (const auto& [id, value] : settingsOf (preset))
        {
            const auto index = Hosting::indexOf (*instance, Format::vst3, id);
            ASSERT_GE (index, 0) << id;
            instance->getParameters()[index]->setValue (value);
        }

        juce::MemoryBlock hostState;
        instance->getStateInformation (hostState);
        auto xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize());
        ASSERT_NE (xml, nullptr);
        auto* component = xml->getChildByName ("IComponent");
        ASSERT_NE (component, nullptr);
        juce::MemoryBlock componentState;
        componentState.fromBase64Encoding (component->getAllSubText());

        EXPECT_EQ (vst3Chunk (data, "Comp"), componentState);
    }
}

TEST (Vst3Presets, EachFileLoadedByAHostPlaysAsTheProcessorDoes)
{
    const auto& presets = FactoryPresets::all();
    const auto fileOf = [] (const FactoryPresets::Preset& preset)
    {
        juce::MemoryBlock data;
        vst3PresetFolder.getChildFile (juce::String (preset.name) + ".vstpreset").loadFileAsData (data);
        return data;
    };

    for (size_t i = 0; i < presets.size(); ++i)
    {
        const auto& preset = presets[i];
        SCOPED_TRACE (preset.name);

        // A fresh instance (the reference starts with empty delay lines)
        // that first takes another preset, as a user trying presets does:
        // the one under test must set every value.
        auto instance = Hosting::load (Format::vst3);
        ASSERT_NE (instance, nullptr);
        ASSERT_TRUE (loadVst3Preset (*instance, fileOf (presets[(i + 1) % presets.size()])));

        // The framework checks the class ID and hands the chunk to the
        // component's setState.
        ASSERT_TRUE (loadVst3Preset (*instance, fileOf (preset)));
        Hosting::runOneBlock (*instance);
        expectParameters (*instance, Format::vst3, preset);

        const auto expected = Hosting::reference (renderOf (preset));
        ASSERT_FALSE (expected.empty());
        EXPECT_EQ (renderAsSet (*instance, Format::vst3), expected);
    }
}

//==============================================================================
// A VST3 host loads a preset file as the component's state, which the
// processor loads with processing suspended. The suspension lasts only
// while the processor holds its callback lock, which the VST3 wrapper takes
// for each block before it looks at the suspended flag: a block that comes
// during a load waits for it rather than coming out silent. What a user
// hears: presets loaded one after another while audio plays in real time,
// blocks of 512 frames at 48 kHz, every block of output checked for silence;
// the counts and the longest block are reported.
TEST (Vst3Presets, LoadingAFileWhileAudioPlaysSilencesNoBlock)
{
    auto instance = Hosting::load (Format::vst3);
    ASSERT_NE (instance, nullptr);
    ASSERT_TRUE (instance->setBusesLayout (TestSignal::layoutFor (2, 2)));

    constexpr double rate = 48000.0;
    constexpr int block = 512;
    instance->prepareToPlay (rate, block);

    std::vector<juce::MemoryBlock> files;
    for (const auto& preset : FactoryPresets::all())
    {
        files.emplace_back();
        ASSERT_TRUE (vst3PresetFolder.getChildFile (juce::String (preset.name) + ".vstpreset").loadFileAsData (files.back()));
    }

    std::atomic<bool> playing { true };
    std::atomic<int> blocks { 0 }, silentBlocks { 0 };
    std::atomic<double> longestBlockMs { 0.0 };

    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (2, block);
        juce::MidiBuffer midi;
        const auto period = std::chrono::microseconds ((long long) (1.0e6 * block / rate));
        auto next = std::chrono::steady_clock::now();
        double phase = 0.0;

        while (playing.load())
        {
            // A steady tone, never silent at the input.
            for (int i = 0; i < block; ++i, phase += 2.0 * juce::MathConstants<double>::pi * 220.0 / rate)
                for (int ch = 0; ch < 2; ++ch)
                    buffer.setSample (ch, i, 0.25f + 0.25f * (float) std::sin (phase));

            const auto started = juce::Time::getMillisecondCounterHiRes();
            instance->processBlock (buffer, midi);
            longestBlockMs = std::max (longestBlockMs.load(), juce::Time::getMillisecondCounterHiRes() - started);

            ++blocks;
            if (buffer.getMagnitude (0, block) == 0.0f)
                ++silentBlocks;

            next += period;
            std::this_thread::sleep_until (next);
        }
    });

    constexpr int loads = 60;
    double longestLoadMs = 0.0;

    for (int i = 0; i < loads; ++i)
    {
        const auto start = juce::Time::getMillisecondCounterHiRes();
        EXPECT_TRUE (loadVst3Preset (*instance, files[(size_t) i % files.size()]));
        longestLoadMs = std::max (longestLoadMs, juce::Time::getMillisecondCounterHiRes() - start);
        std::this_thread::sleep_for (std::chrono::milliseconds (37));
    }

    playing = false;
    audio.join();
    instance->releaseResources();

    std::cout << "VST3 preset files loaded while playing: " << loads << " loads over " << blocks.load()
              << " blocks of " << block << " frames at " << rate << " Hz; silent blocks: " << silentBlocks.load()
              << "; longest load " << longestLoadMs << " ms, longest block " << longestBlockMs.load() << " ms\n";
    RecordProperty ("silentBlocks", silentBlocks.load());
    EXPECT_EQ (silentBlocks.load(), 0);
    EXPECT_GT (blocks.load(), loads);
}
