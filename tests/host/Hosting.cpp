#include "Hosting.h"

#include "TestSignal.h"

#include <gtest/gtest.h>

namespace Hosting
{
    void keepUserPluginsAway()
    {
        // The framework's LV2 host loads ~/.lv2 before anything else; point
        // HOME at an empty folder so that an installed copy there cannot
        // stand in for the build's bundle.
        static const juce::TemporaryFile home;
        home.getFile().createDirectory();
        setenv ("HOME", home.getFile().getFullPathName().toRawUTF8(), 1);
    }

    const char* name (Format format)
    {
        return format == Format::vst3 ? "VST3" : "LV2";
    }

    // TESSAMUNE_VST3_BINARY is <bundle>/Contents/<arch>-linux/Tessamune.so,
    // TESSAMUNE_LV2_BINARY is <bundle>/libTessamune.so.
    juce::File vst3Bundle()
    {
        return juce::File (TESSAMUNE_VST3_BINARY).getParentDirectory().getParentDirectory().getParentDirectory();
    }

    juce::File lv2Bundle()
    {
        return juce::File (TESSAMUNE_LV2_BINARY).getParentDirectory();
    }

    namespace
    {
        std::unique_ptr<juce::AudioPluginFormat> formatFor (Format format)
        {
            if (format == Format::vst3)
                return std::make_unique<juce::VST3PluginFormat>();

            return std::make_unique<juce::LV2PluginFormat>();
        }

        juce::PluginDescription describe (juce::AudioPluginFormat& f, Format format)
        {
            juce::OwnedArray<juce::PluginDescription> found;

            if (format == Format::vst3)
            {
                f.findAllTypesForFile (found, vst3Bundle().getFullPathName());
            }
            else
            {
                // Only our build folder: an installed copy must not stand in for it.
                f.searchPathsForPlugins (juce::FileSearchPath (lv2Bundle().getParentDirectory().getFullPathName()), false, false);
                f.findAllTypesForFile (found, TESSAMUNE_LV2_URI);
            }

            if (found.size() != 1)
                return {};

            // The framework's LV2 host also loads the standard folders, and
            // the first copy of a plug-in it meets wins: make sure that is ours.
            if (format == Format::lv2 && found[0]->lastFileModTime != lv2Bundle().getLastModificationTime())
            {
                ADD_FAILURE() << "An installed copy of the LV2 bundle stands in for the build's; "
                                 "remove it from /usr/lib/lv2 or /usr/local/lib/lv2";
                return {};
            }

            return *found[0];
        }
    }

    juce::PluginDescription describe (Format format)
    {
        return describe (*formatFor (format), format);
    }

    std::unique_ptr<juce::AudioPluginInstance> load (Format format, double sampleRate, int blockSize)
    {
        // The instance keeps what it needs of the format object (the VST3
        // module, the LV2 world).
        auto f = formatFor (format);
        const auto description = describe (*f, format);
        EXPECT_FALSE (description.fileOrIdentifier.isEmpty()) << name (format) << ": the scan found no plug-in";

        if (description.fileOrIdentifier.isEmpty())
            return {};

        juce::String error;
        auto instance = f->createInstanceFromDescription (description, sampleRate, blockSize, error);
        EXPECT_NE (instance, nullptr) << name (format) << ": " << error;
        return instance;
    }

    namespace
    {
        // Runs the reference program; its exit code, or -1 if it did not run.
        int runReference (const juce::StringArray& args, juce::String* output = nullptr)
        {
            juce::StringArray command { TESSAMUNE_REFERENCE_PROGRAM };
            command.addArray (args);

            juce::ChildProcess child;

            if (! child.start (command))
                return -1;

            const auto text = child.readAllProcessOutput();

            if (! child.waitForProcessToFinish (60000))
            {
                child.kill();
                return -1;
            }

            if (output != nullptr)
                *output = text;

            return (int) child.getExitCode();
        }

        juce::StringArray settingArgs (const std::vector<std::pair<juce::String, float>>& settings)
        {
            juce::StringArray args;

            for (const auto& [id, value] : settings)
                args.addArray ({ "--set", id + "=" + juce::String (value, 6) });

            return args;
        }
    }

    Channels reference (const Render& r)
    {
        juce::TemporaryFile out;
        juce::StringArray args { "render", out.getFile().getFullPathName(),
                                 "--ins", juce::String (r.ins), "--outs", juce::String (r.outs),
                                 "--rate", juce::String (r.rate), "--block", juce::String (r.block),
                                 "--frames", juce::String (r.frames) };

        if (r.bypass)
            args.add ("--bypass");

        args.addArray (settingArgs (r.settings));

        if (runReference (args) != 0)
            return {};

        juce::MemoryBlock data;
        out.getFile().loadFileAsData (data);

        if (data.getSize() != (size_t) r.outs * (size_t) r.frames * sizeof (float))
            return {};

        Channels result ((size_t) r.outs, std::vector<float> ((size_t) r.frames));
        const auto* samples = static_cast<const float*> (data.getData());

        for (size_t c = 0; c < result.size(); ++c)
            std::copy (samples + c * (size_t) r.frames, samples + (c + 1) * (size_t) r.frames, result[c].begin());

        return result;
    }

    juce::MemoryBlock referenceState (const std::vector<std::pair<juce::String, float>>& settings)
    {
        juce::TemporaryFile out;
        juce::StringArray args { "state", out.getFile().getFullPathName() };
        args.addArray (settingArgs (settings));

        juce::MemoryBlock data;

        if (runReference (args) == 0)
            out.getFile().loadFileAsData (data);

        return data;
    }

    std::vector<ReferenceParameter> referenceParameters()
    {
        juce::String text;
        std::vector<ReferenceParameter> result;

        if (runReference ({ "parameters" }, &text) != 0)
            return result;

        for (const auto& line : juce::StringArray::fromLines (text))
        {
            const auto fields = juce::StringArray::fromTokens (line, "\t", "");

            if (fields.size() != 9)
                continue;

            result.push_back ({ fields[0], fields[1], fields[2].getFloatValue(), fields[3].getFloatValue(),
                                fields[4].getFloatValue(), fields[5].getFloatValue(), fields[6].getIntValue(),
                                fields[7], fields[8] });
        }

        return result;
    }

    std::map<std::pair<int, int>, bool> referenceLayouts()
    {
        juce::String text;
        std::map<std::pair<int, int>, bool> result;

        if (runReference ({ "layouts" }, &text) != 0)
            return result;

        for (const auto& line : juce::StringArray::fromLines (text))
        {
            const auto fields = juce::StringArray::fromTokens (line, " ", "");

            if (fields.size() == 3)
                result[{ fields[0].getIntValue(), fields[1].getIntValue() }] = fields[2] == "1";
        }

        return result;
    }

    int indexOf (juce::AudioPluginInstance& instance, Format format, const juce::String& parameterId)
    {
        // VST3 knows a parameter by a number the wrapper derives from the ID
        // (its hash, without the top bit); the LV2 host by "sym:" and the
        // symbol of its control port, which is the ID.
        const auto hostId = format == Format::vst3
                              ? juce::String ((juce::uint32) parameterId.hashCode() & 0x7fffffffu)
                              : "sym:" + parameterId;

        const auto& parameters = instance.getParameters();

        for (int i = 0; i < parameters.size(); ++i)
            if (auto* hosted = dynamic_cast<juce::HostedAudioProcessorParameter*> (parameters[i]))
                if (hosted->getParameterID() == hostId)
                    return i;

        return -1;
    }

    Channels render (juce::AudioPluginInstance& instance, Format format, const Render& r)
    {
        if (! instance.setBusesLayout (TestSignal::layoutFor (r.ins, r.outs)))
            return {};

        instance.prepareToPlay (r.rate, r.block);

        for (const auto& [id, value] : r.settings)
        {
            const auto index = indexOf (instance, format, id);

            if (index < 0)
                return {};

            instance.getParameters()[index]->setValue (value);
        }

        if (auto* bypass = instance.getBypassParameter())
            bypass->setValue (r.bypass ? 1.0f : 0.0f);
        else if (r.bypass)
            return {};

        juce::MidiBuffer midi;
        auto output = TestSignal::renderInBlocks (r.ins, r.outs, r.frames, r.block, r.rate,
                                                  [&] (juce::AudioBuffer<float>& buffer) { instance.processBlock (buffer, midi); });

        instance.releaseResources();
        return output;
    }

    void runOneBlock (juce::AudioPluginInstance& instance)
    {
        juce::AudioBuffer<float> buffer (std::max (instance.getTotalNumInputChannels(), instance.getTotalNumOutputChannels()),
                                         instance.getBlockSize() > 0 ? instance.getBlockSize() : 512);
        buffer.clear();
        juce::MidiBuffer midi;
        instance.processBlock (buffer, midi);
    }

    juce::MemoryBlock blockInside (Format format, const juce::MemoryBlock& hostState)
    {
        juce::MemoryBlock block;

        if (format == Format::vst3)
        {
            // The host keeps the component's state base64-encoded in its own
            // XML; the component's state is the block followed by the
            // wrapper's private data (the bypass).
            if (auto xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize()))
                if (auto* component = xml->getChildByName ("IComponent"))
                    block.fromBase64Encoding (component->getAllSubText());
        }
        else
        {
            // The LV2 state holds the block base64-encoded as a string
            // property <plug-in URI>:StateString.
            const auto text = hostState.toString();
            const auto key = text.indexOf (":StateString");
            const auto open = text.indexOf (key, "\"");
            const auto close = text.indexOf (open + 1, "\"");

            if (key >= 0 && open > key && close > open)
                block.fromBase64Encoding (text.substring (open + 1, close));
        }

        return block;
    }
}
