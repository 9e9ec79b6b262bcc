/*
    tessamune_vst3_presets: writes the factory presets (plugin/FactoryPresets.h)
    as VST3 preset files, at build time.

    tessamune_vst3_presets DIRECTORY

    Writes one "NAME.vstpreset" per preset into DIRECTORY. A VST3 preset file
    is the format's header ("VST3", version 1, the component's class ID as
    32 hex digits, the offset of the chunk list), the component's state as
    the one chunk ("Comp"), and the chunk list. The component's state is what
    the plug-in's VST3 component hands a host from getState: the processor's
    own state block, written by the processor with the preset's values set,
    followed by the VST3 wrapper's private data (its bypass, off), framed
    the way the wrapper frames it.

    Exits non-zero if a file cannot be written.
*/

#include "plugin/FactoryPresets.h"
#include "plugin/Parameters.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <iostream>

namespace
{
    // The class ID the framework's VST3 wrapper gives the component (its
    // JuceVST3Component, without the VST2 replacement ID): four 32-bit words,
    // the last two the manufacturer's and the plug-in's codes, written as
    // the format writes an ID on every platform but Windows, byte by byte.
    juce::String componentClassId()
    {
        const juce::uint32 words[] { 0xABCDEF01u, 0x9182FAEBu,
                                     (juce::uint32) JucePlugin_ManufacturerCode, (juce::uint32) JucePlugin_PluginCode };
        juce::String text;

        for (const auto word : words)
            text += juce::String::toHexString ((juce::int64) word).paddedLeft ('0', 8).toUpperCase();

        return text;
    }

    // The wrapper's getState: the processor's block, eight zero bytes, the
    // private data (a value tree holding the bypass), its size, and the
    // private data's name as a marker at the very end.
    juce::MemoryBlock componentState (const FactoryPresets::Preset& preset)
    {
        const std::unique_ptr<juce::AudioProcessor> processor (createPluginFilter());
        FactoryPresets::apply (preset, *processor);

        juce::MemoryBlock state;
        processor->getStateInformation (state);

        static constexpr const char* privateDataName = "JUCEPrivateData";
        juce::MemoryOutputStream extra;
        extra.writeInt64 (0);
        juce::ValueTree privateData (privateDataName);
        privateData.setProperty ("Bypass", juce::var (false), nullptr);
        privateData.writeToStream (extra);
        extra.writeInt64 ((juce::int64) (extra.getDataSize() - sizeof (juce::int64)));
        extra << privateDataName;

        state.append (extra.getData(), extra.getDataSize());
        return state;
    }

    juce::MemoryBlock presetFile (const juce::MemoryBlock& component)
    {
        const auto classId = componentClassId();
        jassert (classId.length() == 32);

        juce::MemoryOutputStream out;
        out.write ("VST3", 4);
        out.writeInt (1);
        out.write (classId.toRawUTF8(), 32);
        const auto header = 4 + 4 + 32 + 8;
        const auto listOffset = (juce::int64) (header + component.getSize());
        out.writeInt64 (listOffset);
        out.write (component.getData(), component.getSize());

        out.write ("List", 4);
        out.writeInt (1);
        out.write ("Comp", 4);
        out.writeInt64 (header);
        out.writeInt64 ((juce::int64) component.getSize());
        return out.getMemoryBlock();
    }
}

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: tessamune_vst3_presets DIRECTORY\n";
        return 1;
    }

    const juce::ScopedJuceInitialiser_GUI framework;
    const juce::File directory (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));

    if (! directory.createDirectory())
    {
        std::cerr << "cannot create " << directory.getFullPathName() << "\n";
        return 1;
    }

    // Files of presets no longer in the table do not stay behind.
    for (const auto& old : directory.findChildFiles (juce::File::findFiles, false, "*.vstpreset"))
        old.deleteFile();

    for (const auto& preset : FactoryPresets::all())
    {
        const auto file = directory.getChildFile (juce::String (preset.name) + ".vstpreset");

        const auto data = presetFile (componentState (preset));

        if (! file.replaceWithData (data.getData(), data.getSize()))
        {
            std::cerr << "cannot write " << file.getFullPathName() << "\n";
            return 1;
        }
    }

    return 0;
}
