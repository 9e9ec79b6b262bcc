/*
    tessamune_lv2_ports: describes the LV2 plug-in's control ports from the
    processor's parameter layout, at build time.

    tessamune_lv2_ports FIRST_INDEX TABLE_HEADER TURTLE

    Creates the processor the way the plug-in formats do and writes, for each
    of its parameters in order:
      - TABLE_HEADER: the table the LV2 binary compiles in (Lv2ControlPort.h);
      - TURTLE: the ports' description, to go into the bundle's lv2:port list
        after the framework's ports (host/DescribeLv2Bundle.cmake puts it
        there), numbered from FIRST_INDEX.

    A port carries the parameter's plain value: same range, default and
    steps. A parameter from 0 to 1 in steps of 1 is a switch: a toggled port
    whose two values are also named (its text for each), so that hosts can
    offer it as a choice. Every other parameter declares its step count.

    Exits non-zero, writing nothing, for a layout that ports cannot carry as
    described: an ID that is not a valid port symbol, or a range that is not
    linear.
*/

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
            "// Generated at build time by tessamune_lv2_ports from the processor's\n"
            "// parameter layout (host/DescribeLv2Ports.cpp).\n"
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

    std::string turtle (const std::vector<Port>& ports, int firstIndex)
    {
        std::string text;
        int index = firstIndex;

        for (const auto& p : ports)
        {
            if (index != firstIndex)
                text += "\t] , [\n";

            text += "\t\ta lv2:InputPort , lv2:ControlPort ;\n"
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
        }

        return text;
    }

    bool write (const char* path, const std::string& text)
    {
        return juce::File (juce::String (path)).replaceWithText (text, false, false, "\n");
    }
}

int main (int argc, char** argv)
{
    if (argc != 4)
    {
        std::cerr << "usage: tessamune_lv2_ports FIRST_INDEX TABLE_HEADER TURTLE\n";
        return 1;
    }

    const juce::ScopedJuceInitialiser_GUI framework;
    const std::unique_ptr<juce::AudioProcessor> processor (createPluginFilter());
    const auto ports = describe (*processor);

    if (! ports.has_value() || ports->empty())
        return 1;

    const auto firstIndex = std::atoi (argv[1]);

    if (! write (argv[2], header (*ports)) || ! write (argv[3], turtle (*ports, firstIndex)))
    {
        std::cerr << "cannot write the port description\n";
        return 1;
    }

    return 0;
}
