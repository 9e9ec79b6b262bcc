#include "plugin/State.h"

#include "plugin/Parameters.h"
#include "plugin/Processor.h"

#include <cmath>

namespace
{
    const juce::Identifier paramType ("PARAM");
    const juce::Identifier idProperty ("id");
    const juce::Identifier valueProperty ("value");

    // Plain values are saved in fixed-point notation with 20 digits after the
    // point, the form the plug-in has always written. Values read from a
    // loaded document are strings and keep their text.
    void writeValuesAsFixedPoint (juce::ValueTree& state)
    {
        for (auto child : state)
        {
            if (! child.hasType (paramType))
                continue;

            const auto& value = child.getProperty (valueProperty);

            if (value.isDouble() || value.isInt() || value.isInt64())
                child.setProperty (valueProperty, juce::String ((double) value, 20), nullptr);
        }
    }

    // A value that reads as infinite or not-a-number stands for the
    // parameter's default: the parameter tree would pass it on unchecked.
    void replaceNonFiniteValues (juce::XmlElement& xml, const juce::AudioProcessorValueTreeState& parameters)
    {
        for (auto* child : xml.getChildWithTagNameIterator (paramType.toString()))
        {
            if (! child->hasAttribute (valueProperty.toString()))
                continue;

            const auto value = (float) child->getStringAttribute (valueProperty.toString()).getDoubleValue();

            if (std::isfinite (value))
                continue;

            if (auto* parameter = dynamic_cast<ChorusParameter*> (parameters.getParameter (child->getStringAttribute (idProperty.toString()))))
                child->setAttribute (valueProperty, juce::String ((double) parameter->getDefaultPlainValue(), 20));
        }
    }

    // How deeply the elements of an XML text nest, scanning no further than
    // needed to know that the depth exceeds a limit. Tags inside comments may
    // count too: this only has to be safe, not exact.
    bool nestsDeeperThan (const char* text, size_t size, int limit)
    {
        int depth = 0;

        for (size_t i = 0; i + 1 < size; ++i)
        {
            if (text[i] != '<')
                continue;

            const char next = text[i + 1];

            if (next == '/')
            {
                --depth;
                continue;
            }

            if (next == '!' || next == '?')
                continue;

            if (++depth > limit)
                return true;

            // Find the end of the tag, skipping quoted attribute values, to see
            // whether it closes itself.
            char quote = 0;
            size_t j = i + 1;

            for (; j < size; ++j)
            {
                const char c = text[j];

                if (quote != 0)
                {
                    if (c == quote)
                        quote = 0;
                }
                else if (c == '"' || c == '\'')
                {
                    quote = c;
                }
                else if (c == '>')
                {
                    break;
                }
            }

            if (j < size && text[j - 1] == '/')
                --depth;

            i = j;
        }

        return false;
    }
}

void StateBlock::write (const juce::XmlElement& xml, juce::MemoryBlock& destData)
{
    const auto text = xml.toString (juce::XmlElement::TextFormat().singleLine().withoutHeader());

    {
        juce::MemoryOutputStream out (destData, false);
        out.writeInt ((int) magic);
        out.writeInt (0);
        out << text;
        out.writeByte (0);
    }

    // Bytes 4 to 7: the length of everything between the header and the
    // terminating zero, little-endian.
    const auto length = (juce::uint32) destData.getSize() - 9;
    auto* bytes = static_cast<juce::uint8*> (destData.getData());

    for (int i = 0; i < 4; ++i)
        bytes[4 + i] = (juce::uint8) (length >> (8 * i));
}

std::unique_ptr<juce::XmlElement> StateBlock::read (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 8 || juce::ByteOrder::littleEndianInt (data) != magic)
        return {};

    const auto length = (int) juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data, 4));

    if (length <= 0)
        return {};

    const auto textSize = (size_t) std::min (length, sizeInBytes - 8);

    if (nestsDeeperThan (static_cast<const char*> (data) + 8, textSize, maxNesting))
        return {};

    // The framework's reader decodes UTF-8 with a character count, which can
    // run a few bytes past the end of a block that stops inside a multi-byte
    // sequence: give it a copy with zeros behind it.
    juce::MemoryBlock padded ((size_t) sizeInBytes + 4, true);
    padded.copyFrom (data, 0, (size_t) sizeInBytes);

    return juce::AudioProcessor::getXmlFromBinary (padded.getData(), sizeInBytes);
}

void Processor::getStateInformation (juce::MemoryBlock& destData)
{
    auto state = parameters.copyState();
    writeValuesAsFixedPoint (state);

    if (auto xml = state.createXml())
        StateBlock::write (*xml, destData);
}

void Processor::setStateInformation (const void* data, int sizeInBytes)
{
    auto xml = StateBlock::read (data, sizeInBytes);

    if (xml != nullptr && xml->getTagName().equalsIgnoreCase (parameters.state.getType().toString()))
    {
        replaceNonFiniteValues (*xml, parameters);

        ready = false;
        parameters.replaceState (juce::ValueTree::fromXml (*xml));
        ready = true;
    }

    // Whatever the block held, a prepared engine follows the parameters.
    setCurrentProgram (1);
}
