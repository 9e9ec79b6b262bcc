// Who the plug-in says it is, as each format's host reads it.

#include "Hosting.h"
#include "Lv2TestHost.h"

#include <pluginterfaces/base/ipluginbase.h>

#include <gtest/gtest.h>

using Hosting::Format;

namespace
{
    // What the VST3 module's factory declares, read the way a host's scanner
    // reads it, without instantiating anything.
    struct Vst3Factory
    {
        juce::String vendor, url;
        struct Class { juce::String cid, category, name; };
        std::vector<Class> classes;
        bool loaded = false;
    };

    juce::String hex (const Steinberg::TUID id)
    {
        return juce::String::toHexString (reinterpret_cast<const unsigned char*> (id), 16, 0).toUpperCase();
    }

    Vst3Factory readFactory (const juce::File& binary)
    {
        Vst3Factory result;
        juce::DynamicLibrary library;

        if (! library.open (binary.getFullPathName()))
            return result;

        using Entry = bool (*) (void*);
        using Exit = bool (*)();
        using GetFactory = Steinberg::IPluginFactory* (*)();

        auto entry = reinterpret_cast<Entry> (library.getFunction ("ModuleEntry"));
        auto exit = reinterpret_cast<Exit> (library.getFunction ("ModuleExit"));
        auto getFactory = reinterpret_cast<GetFactory> (library.getFunction ("GetPluginFactory"));

        if (entry == nullptr || exit == nullptr || getFactory == nullptr || ! entry (library.getNativeHandle()))
            return result;

        if (auto* factory = getFactory())
        {
            Steinberg::PFactoryInfo info {};

            if (factory->getFactoryInfo (&info) == Steinberg::kResultOk)
            {
                result.vendor = info.vendor;
                result.url = info.url;
            }

            for (Steinberg::int32 i = 0; i < factory->countClasses(); ++i)
            {
                Steinberg::PClassInfo classInfo {};

                if (factory->getClassInfo (i, &classInfo) == Steinberg::kResultOk)
                    result.classes.push_back ({ hex (classInfo.cid), classInfo.category, classInfo.name });
            }

            factory->release();
            result.loaded = true;
        }

        exit();
        return result;
    }
}

TEST (Vst3Identity, ScanDescribesTheEffect)
{
    const auto d = Hosting::describe (Format::vst3);

    EXPECT_EQ (d.pluginFormatName, "VST3");
    EXPECT_EQ (d.name, "Tessamune");
    EXPECT_EQ (d.descriptiveName, "Tessamune");
    EXPECT_EQ (d.manufacturerName, "Quorvellin");
    EXPECT_EQ (d.version, TESSAMUNE_VERSION);
    EXPECT_EQ (d.category, "Fx|Modulation");
    EXPECT_FALSE (d.isInstrument);
    // The first of the channel configurations, stereo, is the one it opens in.
    EXPECT_EQ (d.numInputChannels, 2);
    EXPECT_EQ (d.numOutputChannels, 2);
}

TEST (Vst3Identity, FactoryDeclaresStableClassIds)
{
    const auto factory = readFactory (juce::File (TESSAMUNE_VST3_BINARY));
    ASSERT_TRUE (factory.loaded);

    EXPECT_EQ (factory.vendor, "Quorvellin");
    EXPECT_EQ (factory.url, "https://quorvellin.com");

    // Hosts save projects against these IDs, so they must never change. The
    // wrapper builds them from fixed words and the codes 'Qrvn' (5172766E)
    // and 'Qtsa' (51747361).
    ASSERT_EQ (factory.classes.size(), 2u);
    EXPECT_EQ (factory.classes[0].cid, "ABCDEF019182FAEB5172766E51747361");
    EXPECT_EQ (factory.classes[0].category, "Audio Module Class");
    EXPECT_EQ (factory.classes[0].name, "Tessamune");
    EXPECT_EQ (factory.classes[1].cid, "ABCDEF011234ABCD5172766E51747361");
    EXPECT_EQ (factory.classes[1].category, "Component Controller Class");
}

TEST (Identity, InstancesHaveNoMidiLatencyOrSideChain)
{
    for (auto format : { Format::vst3, Format::lv2 })
    {
        SCOPED_TRACE (format == Format::vst3 ? "VST3" : "LV2");
        auto instance = Hosting::load (format);
        ASSERT_NE (instance, nullptr);

        EXPECT_EQ (instance->getName(), "Tessamune");
        EXPECT_FALSE (instance->acceptsMidi());
        EXPECT_FALSE (instance->producesMidi());
        EXPECT_EQ (instance->getLatencySamples(), 0);
        EXPECT_EQ (instance->getBusCount (true), 1);
        EXPECT_EQ (instance->getBusCount (false), 1);
    }
}

TEST (Lv2Identity, ScanDescribesAChorus)
{
    const auto d = Hosting::describe (Format::lv2);

    EXPECT_EQ (d.pluginFormatName, "LV2");
    EXPECT_EQ (d.fileOrIdentifier, TESSAMUNE_LV2_URI);
    EXPECT_EQ (d.name, "Tessamune");
    EXPECT_EQ (d.manufacturerName, "Quorvellin");
    // The label of the plug-in's class, as the host's LV2 library reads it.
    EXPECT_EQ (d.category, "Chorus Plugin");
    EXPECT_FALSE (d.isInstrument);
    EXPECT_EQ (d.numInputChannels, 2);
    EXPECT_EQ (d.numOutputChannels, 2);
}

TEST (Lv2Identity, BundleDescriptionIsComplete)
{
    const auto manifest = Hosting::lv2Bundle().getChildFile ("manifest.ttl").loadFileAsString();
    const auto dsp = Hosting::lv2Bundle().getChildFile ("dsp.ttl").loadFileAsString();

    // Version 1.0.2 in LV2's scheme (see cmake/Formats.cmake): even numbers
    // and a minor version above 0 mark a release. Hosts read it from the
    // manifest, so both files carry it.
    for (const auto* text : { &manifest, &dsp })
    {
        EXPECT_TRUE (text->contains ("\ta lv2:Plugin , lv2:ChorusPlugin , doap:Project ;\n"));
        EXPECT_TRUE (text->contains ("\tlv2:minorVersion 200 ;\n"));
        EXPECT_TRUE (text->contains ("\tlv2:microVersion 4 ;\n"));
        EXPECT_EQ (text->indexOf ("lv2:minorVersion"), text->lastIndexOf ("lv2:minorVersion"));
    }

    EXPECT_TRUE (dsp.contains ("doap:revision \"1.0.2\""));
    EXPECT_TRUE (dsp.contains ("foaf:name \"Quorvellin\""));

    // The audio ports are required; the ports that hosts may leave out are
    // control ports: the two that carry nothing, latency, free-wheeling
    // and enabled. There is no message port.
    const auto ports = Lv2TestHost::describedPorts();
    ASSERT_EQ (ports.size(), 14u);

    for (const auto& port : ports)
    {
        SCOPED_TRACE (port.symbol);
        const auto isAudio = port.types.contains ("lv2:AudioPort");
        EXPECT_TRUE (isAudio || port.types.contains ("lv2:ControlPort"));
        EXPECT_EQ (port.properties.contains ("lv2:connectionOptional"), ! isAudio && port.index < Lv2TestHost::numFrameworkPorts);
    }

    EXPECT_FALSE (dsp.contains ("atom:"));

    // Nothing is required of a host: the URID map and the options are used
    // where a host has them.
    EXPECT_FALSE (dsp.contains ("lv2:requiredFeature"));
    EXPECT_TRUE (dsp.contains ("\tlv2:optionalFeature lv2:hardRTCapable , urid:map , opts:options , bufs:boundedBlockLength ;\n"));

    // The parameters are control ports: no patch properties, no parameter
    // definitions.
    EXPECT_FALSE (dsp.contains ("patch:"));
    EXPECT_FALSE (dsp.contains ("lv2:Parameter"));

    // The editor may report its gestures through the host's touch feature,
    // and asks for what embedding needs.
    const auto ui = Hosting::lv2Bundle().getChildFile ("ui.ttl").loadFileAsString();
    EXPECT_TRUE (ui.fromFirstOccurrenceOf ("lv2:optionalFeature", false, false).upToFirstOccurrenceOf (";", false, false).contains ("ui:touch"));
    EXPECT_TRUE (ui.contains ("\tlv2:requiredFeature ui:idleInterface , ui:parent , <http://lv2plug.in/ns/ext/instance-access> ;\n"));
}

// The one program has no name and is no preset: every preset the bundle
// declares is a factory preset with a name of its own, which hosts show.
TEST (Lv2Identity, DeclaresNoNamelessPreset)
{
    const auto manifest = Hosting::lv2Bundle().getChildFile ("manifest.ttl").loadFileAsString();
    juce::StringArray labels;

    for (auto rest = manifest; rest.contains ("a pset:Preset");)
    {
        rest = rest.fromFirstOccurrenceOf ("a pset:Preset", false, false);
        const auto statement = rest.upToFirstOccurrenceOf ("\n\n", false, false);
        const auto label = statement.fromFirstOccurrenceOf ("rdfs:label \"", false, false).upToFirstOccurrenceOf ("\"", false, false);
        EXPECT_TRUE (label.trim().isNotEmpty()) << statement;
        labels.add (label);
    }

    auto instance = Hosting::load (Format::lv2);
    ASSERT_NE (instance, nullptr);
    EXPECT_EQ (instance->getNumPrograms(), labels.size());

    for (int i = 0; i < instance->getNumPrograms(); ++i)
        EXPECT_TRUE (labels.contains (instance->getProgramName (i))) << i;
}
