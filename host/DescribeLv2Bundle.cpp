/*
    tessamune_lv2_bundle: writes the LV2 bundle's description and the
    control ports' table for the binary, at build time, from the plug-in's
    identity (compiled in from host/Identity.cmake) and the processor's
    parameter layout.

    tessamune_lv2_bundle TABLE_HEADER BUNDLE_DIRECTORY

    Creates the processor the way the plug-in formats do and writes
      - TABLE_HEADER: the control ports' table that the binary compiles in
        (Lv2ControlPort.h), one per parameter in order;
      - manifest.ttl, dsp.ttl and ui.ttl into BUNDLE_DIRECTORY: the
        plug-in, every port with the index the binary gives it
        (host/Lv2Ports.h), and the editor;
      - presets.ttl into BUNDLE_DIRECTORY: the factory presets
        (plugin/FactoryPresets.h) as LV2 presets, port values by symbol,
        each listed in manifest.ttl so that hosts find them without loading
        the plug-in's description.
    It makes the folders it writes into, where they are not there yet.

    A control port carries the parameter's plain value: same range, default
    and steps. A parameter from 0 to 1 in steps of 1 is a switch: a toggled
    port whose two values are also named (its text for each), so that hosts
    can offer it as a choice. Every other parameter declares its step
    count.

    Exits non-zero, writing nothing, for a layout that ports cannot carry as
    described: an ID that is not a valid port symbol, or a range that is not
    linear; or for a factory preset with a value its parameter cannot take.
*/

#include "host/Lv2Ports.h"
#include "plugin/FactoryPresets.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <charconv>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace
{
    struct Port
    {
        std::string symbol, name;
        float minimum, maximum, defaultValue, interval;
        int steps;
        bool toggled;
        std::string offLabel, onLabel;
    };

    // The shortest text that reads back as the same float, always with a
    // decimal point (Turtle reads "1" as an integer, "1.0" as a decimal).
    std::string decimal (float value)
    {
        char buffer[64];
        const auto result = std::to_chars (buffer, buffer + sizeof (buffer), value);
        std::string text (buffer, result.ptr);

        if (text.find_first_of (".e") == std::string::npos)
            text += ".0";

        return text;
    }

    // The same for C++, where a float literal needs its suffix.
    std::string floatLiteral (float value)
    {
        auto text = decimal (value);
        return text + "f";
    }

    std::string turtleString (const std::string& text)
    {
        std::string quoted = "\"";

        for (const auto c : text)
        {
            if (c == '"' || c == '\\')
                quoted += '\\';

            quoted += c;
        }

        return quoted + "\"";
    }

    bool isSymbol (const std::string& text)
    {
        if (text.empty() || (text[0] >= '0' && text[0] <= '9'))
            return false;

        for (const auto c : text)
            if (! ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
                return false;

        return true;
    }

    std::optional<std::vector<Port>> describe (juce::AudioProcessor& processor)
    {
        std::vector<Port> ports;

        for (auto* parameter : processor.getParameters())
        {
            auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter);

            if (ranged == nullptr)
            {
                std::cerr << "parameter " << parameter->getParameterIndex() << " has no range\n";
                return {};
            }

            const auto& range = ranged->getNormalisableRange();
            Port port;
            port.symbol = ranged->getParameterID().toStdString();
            port.name = ranged->getName (1024).toStdString();
            port.minimum = range.start;
            port.maximum = range.end;
            port.defaultValue = ranged->convertFrom0to1 (ranged->getDefaultValue());
            port.interval = range.interval;
            port.steps = ranged->getNumSteps();
            port.toggled = range.start == 0.0f && range.end == 1.0f && range.interval == 1.0f;

            if (! isSymbol (port.symbol))
            {
                std::cerr << "parameter ID \"" << port.symbol << "\" is not a valid LV2 port symbol\n";
                return {};
            }

            if (range.skew != 1.0f || range.symmetricSkew)
            {
                std::cerr << port.symbol << ": a port carries the plain value linearly; the range is skewed\n";
                return {};
            }

            if (port.toggled)
            {
                port.offLabel = ranged->getText (0.0f, 1024).toStdString();
                port.onLabel = ranged->getText (1.0f, 1024).toStdString();
            }

            ports.push_back (port);
        }

        return ports;
    }

    std::string header (const std::vector<Port>& ports)
    {
        std::string text =
            "// Generated at build time by tessamune_lv2_bundle from the processor's\n"
            "// parameter layout (host/DescribeLv2Bundle.cpp).\n"
            "#pragma once\n\n"
            "#include \"host/Lv2ControlPort.h\"\n\n"
            "namespace Lv2ControlPortTable\n{\n"
            "    inline constexpr Lv2ControlPort ports[] {\n";

        for (const auto& p : ports)
            text += "        { \"" + p.symbol + "\", " + floatLiteral (p.minimum) + ", " + floatLiteral (p.maximum) + ", "
                  + floatLiteral (p.defaultValue) + ", " + floatLiteral (p.interval) + ", " + (p.toggled ? "true" : "false") + " },\n";

        text += "    };\n}\n";
        return text;
    }

    // The identity, as the build gives it.
    const std::string uri = TESSAMUNE_LV2_URI;
    const std::string uiUri = uri + ":UI";
    const std::string binary = TESSAMUNE_LV2_BINARY;

    std::string prefixes (std::initializer_list<const char*> names)
    {
        static const std::pair<const char*, const char*> known[] {
            { "atom", "http://lv2plug.in/ns/ext/atom#" },
            { "bufs", "http://lv2plug.in/ns/ext/buf-size#" },
            { "doap", "http://usefulinc.com/ns/doap#" },
            { "foaf", "http://xmlns.com/foaf/0.1/" },
            { "lv2", "http://lv2plug.in/ns/lv2core#" },
            { "opts", "http://lv2plug.in/ns/ext/options#" },
            { "pg", "http://lv2plug.in/ns/ext/port-groups#" },
            { "pprop", "http://lv2plug.in/ns/ext/port-props#" },
            { "pset", "http://lv2plug.in/ns/ext/presets#" },
            { "rdf", "http://www.w3.org/1999/02/22-rdf-syntax-ns#" },
            { "rdfs", "http://www.w3.org/2000/01/rdf-schema#" },
            { "state", "http://lv2plug.in/ns/ext/state#" },
            { "ui", "http://lv2plug.in/ns/extensions/ui#" },
            { "units", "http://lv2plug.in/ns/extensions/units#" },
            { "urid", "http://lv2plug.in/ns/ext/urid#" },
        };

        std::string text;

        for (const auto* name : names)
            for (const auto& [prefix, iri] : known)
                if (std::string (prefix) == name)
                    text += "@prefix " + std::string (prefix) + ": <" + iri + "> .\n";

        return text + "\n";
    }

    // The plug-in's class and version, which hosts read from the manifest
    // without loading the rest.
    std::string classAndVersion()
    {
        return "\ta lv2:Plugin , " TESSAMUNE_LV2_CLASS " , doap:Project ;\n"
               "\tlv2:minorVersion " + std::to_string (TESSAMUNE_LV2_MINOR_VERSION) + " ;\n"
               "\tlv2:microVersion " + std::to_string (TESSAMUNE_LV2_MICRO_VERSION) + " ;\n";
    }

    std::string presetUri (const FactoryPresets::Preset& preset)
    {
        return uri + ":preset_" + preset.symbol;
    }

    // What a host needs to list a preset without reading presets.ttl.
    std::string presetHead (const FactoryPresets::Preset& preset)
    {
        return "<" + presetUri (preset) + ">\n"
               "\ta pset:Preset ;\n"
               "\tlv2:appliesTo <" + uri + "> ;\n"
               "\trdfs:label " + turtleString (preset.name) + " ;\n";
    }

    std::string manifest()
    {
        auto text = prefixes ({ "doap", "lv2", "pset", "rdfs", "ui" })
                  + "<" + uri + ">\n" + classAndVersion()
                  + "\tlv2:binary <" + binary + "> ;\n"
                    "\trdfs:seeAlso <dsp.ttl> .\n\n"
                    "<" + uiUri + ">\n"
                    "\ta ui:X11UI ;\n"
                    "\tlv2:binary <" + binary + "> ;\n"
                    "\trdfs:seeAlso <ui.ttl> .\n";

        for (const auto& preset : FactoryPresets::all())
            text += "\n" + presetHead (preset) + "\trdfs:seeAlso <presets.ttl> .\n";

        return text;
    }

    // The presets' port values, by the ports' symbols.
    std::string presets (const std::vector<Port>& controls)
    {
        auto text = prefixes ({ "lv2", "pset", "rdfs" });

        for (const auto& preset : FactoryPresets::all())
        {
            text += presetHead (preset) + "\tlv2:port [\n";

            for (size_t i = 0; i < controls.size(); ++i)
                text += "\t\tlv2:symbol " + turtleString (controls[i].symbol) + " ;\n"
                        "\t\tpset:value " + decimal (preset.values[i]) + " ;\n"
                      + (i + 1 < controls.size() ? "\t] , [\n" : "\t] .\n");

            if (&preset != &FactoryPresets::all().back())
                text += "\n";
        }

        return text;
    }

    // Every preset value must be one its parameter takes, so that a preset
    // applied anywhere sets exactly the values it lists.
    bool presetsAreLegal (juce::AudioProcessor& processor)
    {
        const auto& parameters = processor.getParameters();

        for (const auto& preset : FactoryPresets::all())
        {
            if (preset.values.size() != (size_t) parameters.size())
            {
                std::cerr << "preset \"" << preset.name << "\" does not give every parameter a value\n";
                return false;
            }

            for (size_t i = 0; i < preset.values.size(); ++i)
            {
                auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameters[(int) i]);
                const auto value = preset.values[i];

                if (ranged == nullptr || ranged->convertFrom0to1 (ranged->convertTo0to1 (value)) != value
                    || ranged->getNormalisableRange().snapToLegalValue (value) != value)
                {
                    std::cerr << "preset \"" << preset.name << "\": " << value << " is not a value of parameter "
                              << i << "\n";
                    return false;
                }
            }
        }

        return true;
    }

    struct FixedPort
    {
        uint32_t index;
        const char* types;
        const char* symbol;
        const char* name;
        const char* rest;   // further statements, each line ending " ;"
    };

    std::string audioPort (uint32_t index, bool input, int channel)
    {
        const auto number = std::to_string (channel + 1);
        const auto side = channel == 0 ? "left" : "right";
        return std::string ("\t\ta ") + (input ? "lv2:InputPort" : "lv2:OutputPort") + " , lv2:AudioPort ;\n"
               "\t\tlv2:index " + std::to_string (index) + " ;\n"
               "\t\tlv2:symbol \"audio_" + (input ? "in_" : "out_") + number + "\" ;\n"
               "\t\tlv2:name \"Audio " + (input ? "In " : "Out ") + number + "\" ;\n"
               "\t\tpg:group <" + uri + (input ? ":input_group_1" : ":output_group_1") + "> ;\n"
               "\t\tlv2:designation pg:" + side + " ;\n";
    }

    std::string ports (const std::vector<Port>& controls)
    {
        using namespace Lv2Ports;
        std::vector<std::string> entries;

        for (uint32_t c = 0; c < numAudioInputs; ++c)
            entries.push_back (audioPort (audioIn1 + c, true, (int) c));

        for (uint32_t c = 0; c < numAudioOutputs; ++c)
            entries.push_back (audioPort (audioOut1 + c, false, (int) c));

        // The two ports that carry nothing (Lv2Ports.h).
        const FixedPort fixed[] {
            { unusedIn, "lv2:OutputPort , lv2:ControlPort", "in", "In",
              "\t\tlv2:portProperty lv2:connectionOptional , pprop:notOnGUI ;\n" },
            { unusedOut, "lv2:OutputPort , lv2:ControlPort", "out", "Out",
              "\t\tlv2:portProperty lv2:connectionOptional , pprop:notOnGUI ;\n" },
            { latency, "lv2:OutputPort , lv2:ControlPort", "latency", "Latency",
              "\t\tlv2:designation lv2:latency ;\n"
              "\t\tlv2:portProperty lv2:reportsLatency , lv2:integer , lv2:connectionOptional , pprop:notOnGUI ;\n"
              "\t\tunits:unit units:frame ;\n" },
            { freeWheeling, "lv2:InputPort , lv2:ControlPort", "freeWheeling", "Free Wheeling",
              "\t\tlv2:designation lv2:freeWheeling ;\n"
              "\t\tlv2:default 0 ;\n\t\tlv2:minimum 0 ;\n\t\tlv2:maximum 1 ;\n"
              "\t\tlv2:portProperty lv2:toggled , lv2:connectionOptional , pprop:notOnGUI ;\n" },
            { enabled, "lv2:InputPort , lv2:ControlPort", "enabled", "Enabled",
              "\t\tlv2:designation lv2:enabled ;\n"
              "\t\tlv2:default 1 ;\n\t\tlv2:minimum 0 ;\n\t\tlv2:maximum 1 ;\n"
              "\t\tlv2:portProperty lv2:toggled , lv2:connectionOptional , pprop:notOnGUI ;\n" },
        };

        for (const auto& f : fixed)
            entries.push_back (std::string ("\t\ta ") + f.types + " ;\n"
                               "\t\tlv2:index " + std::to_string (f.index) + " ;\n"
                               "\t\tlv2:symbol " + turtleString (f.symbol) + " ;\n"
                               "\t\tlv2:name " + turtleString (f.name) + " ;\n" + f.rest);

        uint32_t index = firstControl;

        for (const auto& p : controls)
        {
            auto text = "\t\ta lv2:InputPort , lv2:ControlPort ;\n"
                        "\t\tlv2:index " + std::to_string (index++) + " ;\n"
                        "\t\tlv2:symbol " + turtleString (p.symbol) + " ;\n"
                        "\t\tlv2:name " + turtleString (p.name) + " ;\n"
                        "\t\tlv2:default " + decimal (p.defaultValue) + " ;\n"
                        "\t\tlv2:minimum " + decimal (p.minimum) + " ;\n"
                        "\t\tlv2:maximum " + decimal (p.maximum) + " ;\n";

            if (p.toggled)
            {
                text += "\t\tlv2:portProperty lv2:toggled , lv2:enumeration ;\n"
                        "\t\tlv2:scalePoint [\n"
                        "\t\t\trdfs:label " + turtleString (p.offLabel) + " ;\n"
                        "\t\t\trdf:value " + decimal (p.minimum) + " ;\n"
                        "\t\t] , [\n"
                        "\t\t\trdfs:label " + turtleString (p.onLabel) + " ;\n"
                        "\t\t\trdf:value " + decimal (p.maximum) + " ;\n"
                        "\t\t] ;\n";
            }
            else
            {
                text += "\t\tpprop:rangeSteps " + std::to_string (p.steps) + " ;\n";
            }

            entries.push_back (text);
        }

        std::string text = "\tlv2:port [\n";

        for (size_t i = 0; i < entries.size(); ++i)
            text += entries[i] + (i + 1 < entries.size() ? "\t] , [\n" : "\t] .\n");

        return text;
    }

    std::string plugin (const std::vector<Port>& controls)
    {
        const auto group = [] (const char* kind, const char* symbol, const char* name)
        {
            return "<" + uri + ":" + symbol + ">\n"
                   "\ta pg:" + kind + " , pg:StereoGroup ;\n"
                   "\tlv2:symbol \"" + symbol + "\" ;\n"
                   "\tlv2:name \"" + name + "\" .\n\n";
        };

        return prefixes ({ "bufs", "doap", "foaf", "lv2", "opts", "pg", "pprop", "rdf", "rdfs", "state", "ui", "units", "urid" })
             + group ("InputGroup", "input_group_1", "Input")
             + group ("OutputGroup", "output_group_1", "Output")
             + "<" + uri + ">\n" + classAndVersion()
             + "\tdoap:name " + turtleString (TESSAMUNE_PRODUCT_NAME) + " ;\n"
               "\tdoap:shortdesc " + turtleString (TESSAMUNE_DESCRIPTION) + " ;\n"
               "\tdoap:maintainer [\n"
               "\t\ta foaf:Organization ;\n"
               "\t\tfoaf:name " + turtleString (TESSAMUNE_COMPANY_NAME) + " ;\n"
               "\t\tfoaf:homepage <" TESSAMUNE_COMPANY_WEBSITE "> ;\n"
               "\t] ;\n"
               "\tdoap:release [\n"
               "\t\ta doap:Version ;\n"
               "\t\tdoap:revision " + turtleString (TESSAMUNE_VERSION) + " ;\n"
               "\t] ;\n"
               "\tlv2:optionalFeature lv2:hardRTCapable , urid:map , opts:options , bufs:boundedBlockLength ;\n"
               "\tlv2:extensionData state:interface ;\n"
               "\topts:supportedOption bufs:maxBlockLength , bufs:nominalBlockLength ;\n"
               "\tui:ui <" + uiUri + "> ;\n"
               "\tpg:mainInput <" + uri + ":input_group_1> ;\n"
               "\tpg:mainOutput <" + uri + ":output_group_1> ;\n"
             + ports (controls);
    }

    std::string editor()
    {
        return prefixes ({ "lv2", "opts", "ui", "urid" })
             + "<" + uiUri + ">\n"
               "\ta ui:X11UI ;\n"
               "\tlv2:requiredFeature ui:idleInterface , ui:parent , <http://lv2plug.in/ns/ext/instance-access> ;\n"
               "\tlv2:optionalFeature ui:resize , ui:touch , urid:map , opts:options ;\n"
               "\tlv2:extensionData ui:idleInterface , ui:resize , opts:interface ;\n"
               "\topts:supportedOption ui:scaleFactor .\n";
    }

    bool write (const juce::File& file, const std::string& text)
    {
        return file.replaceWithText (text, false, false, "\n");
    }
}

int main (int argc, char** argv)
{
    if (argc != 3)
    {
        std::cerr << "usage: tessamune_lv2_bundle TABLE_HEADER BUNDLE_DIRECTORY\n";
        return 1;
    }

    const juce::ScopedJuceInitialiser_GUI framework;
    const std::unique_ptr<juce::AudioProcessor> processor (createPluginFilter());
    const auto controls = describe (*processor);

    if (! controls.has_value() || controls->size() != Lv2Ports::numControls)
    {
        std::cerr << "the parameter layout does not fit the plug-in's control ports\n";
        return 1;
    }

    if (! presetsAreLegal (*processor))
        return 1;

    // Both destinations are made as needed, with any folders above them:
    // build tools differ in which output folders they make beforehand.
    const juce::File table (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
    const juce::File bundle (juce::File::getCurrentWorkingDirectory().getChildFile (argv[2]));

    if (! table.getParentDirectory().createDirectory()
        || ! bundle.createDirectory()
        || ! write (table, header (*controls))
        || ! write (bundle.getChildFile ("manifest.ttl"), manifest())
        || ! write (bundle.getChildFile ("dsp.ttl"), plugin (*controls))
        || ! write (bundle.getChildFile ("ui.ttl"), editor())
        || ! write (bundle.getChildFile ("presets.ttl"), presets (*controls)))
    {
        std::cerr << "cannot write the bundle's description\n";
        return 1;
    }

    return 0;
}
