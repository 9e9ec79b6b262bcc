#include "plugin/State.h"

#include "plugin/DecimalText.h"
#include "plugin/Parameters.h"
#include "plugin/Processor.h"

#include <cstring>
#include <optional>

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

    // Of several attributes with one name the parameter tree reads the first,
    // but a save writes the last: keep only the first, so that what is saved
    // is what was loaded. Attributes under the framework's "base64:" prefix,
    // which it would turn into binary values, are dropped.
    void keepAttributesAsTheTreeReadsThem (juce::XmlElement& element)
    {
        juce::StringArray names, values;

        for (int i = 0; i < element.getNumAttributes(); ++i)
        {
            const auto name = element.getAttributeName (i);

            if (! name.startsWith ("base64:") && ! names.contains (name))
            {
                names.add (name);
                values.add (element.getAttributeValue (i));
            }
        }

        if (names.size() == element.getNumAttributes())
            return;

        element.removeAllAttributes();

        for (int i = 0; i < names.size(); ++i)
            element.setAttribute (names[i], values[i]);
    }

    // Every value the parameter tree will read is read here first, with a
    // reader defined for any text, and the tree is handed only text that the
    // framework reads safely: plain decimal text stays as it was written,
    // "nan" and "inf" stand for the parameter's default, and anything else
    // (an exponent, stray characters, a number beyond the float range) is
    // replaced by the legal value it reads as, so finite text beyond the range
    // gives the range's end, as the parameter tree would. The tree takes a
    // value from any child with the parameter's ID, whatever its tag, so every
    // child is looked at.
    void makeValuesSafe (juce::XmlElement& xml, const juce::AudioProcessorValueTreeState& parameters)
    {
        for (auto* child : xml.getChildIterator())
        {
            keepAttributesAsTheTreeReadsThem (*child);

            if (! child->hasAttribute (valueProperty.toString()))
                continue;

            auto* parameter = dynamic_cast<ChorusParameter*> (parameters.getParameter (child->getStringAttribute (idProperty.toString())));

            if (parameter == nullptr)
                continue;

            const auto text = child->getStringAttribute (valueProperty.toString());

            if (DecimalText::isPlain (text.toRawUTF8()))
                continue;

            const auto legal = parameter->legalPlainValue (DecimalText::read (text.toRawUTF8()));
            child->setAttribute (valueProperty, juce::String ((double) legal, 20));
        }
    }

    // The length of the text that the framework may decode: up to the first
    // zero byte, and without a character cut off by the end of the block.
    // Nothing if the text is not UTF-8 otherwise: the framework's decoder
    // trusts every lead byte and would skip past the end of its own copy.
    std::optional<size_t> wholeUtf8Prefix (const char* text, size_t size)
    {
        const auto* bytes = reinterpret_cast<const juce::uint8*> (text);
        size_t i = 0;

        while (i < size && bytes[i] != 0)
        {
            const auto lead = bytes[i];

            if (lead < 0x80)
            {
                ++i;
                continue;
            }

            // Sequence length and the range of the second byte (which rules
            // out overlong forms, surrogates and code points above U+10FFFF).
            size_t count = 0;
            juce::uint8 low = 0x80, high = 0xbf;

            if (lead >= 0xc2 && lead <= 0xdf)       count = 2;
            else if (lead == 0xe0)                  { count = 3; low = 0xa0; }
            else if (lead >= 0xe1 && lead <= 0xec)  count = 3;
            else if (lead == 0xed)                  { count = 3; high = 0x9f; }
            else if (lead >= 0xee && lead <= 0xef)  count = 3;
            else if (lead == 0xf0)                  { count = 4; low = 0x90; }
            else if (lead >= 0xf1 && lead <= 0xf3)  count = 4;
            else if (lead == 0xf4)                  { count = 4; high = 0x8f; }
            else                                    return std::nullopt;

            for (size_t k = 1; k < count; ++k)
            {
                // Cut off by the end of the text.
                if (i + k >= size || bytes[i + k] == 0)
                    return i;

                const auto b = bytes[i + k];

                if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xbf))
                    return std::nullopt;
            }

            i += count;
        }

        return i;
    }

    // Markup that the framework's XML reader mishandles, none of which our
    // documents hold:
    // - a processing instruction ("<?...?>") after the start of the root
    //   element: followed by text inside an element, it makes the reader loop
    //   for ever (a declaration before the root is fine);
    // - a document type declaration, or any "<!" other than a comment or a
    //   CDATA section: it can declare entities, whose expansions the reader
    //   parses again, past every check made here, and without limit;
    // - text that does not end with the closing ">" of an element (a block cut
    //   short): it can end inside a character reference, which the reader
    //   steps past the end of its copy of the text.
    bool holdsMarkupTheReaderMishandles (const char* text, size_t size)
    {
        size_t end = size;

        while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r' || text[end - 1] == '\n'))
            --end;

        if (end == 0 || text[end - 1] != '>')
            return true;

        bool insideRoot = false;

        for (size_t i = 0; i + 1 < size; ++i)
        {
            if (text[i] != '<')
                continue;

            if (text[i + 1] == '?')
            {
                if (insideRoot)
                    return true;
            }
            else if (text[i + 1] == '!')
            {
                const auto rest = size - i;
                const bool isComment = rest >= 4 && std::memcmp (text + i, "<!--", 4) == 0;
                const bool isCdata = rest >= 9 && std::memcmp (text + i, "<![CDATA[", 9) == 0;

                if (! isComment && ! isCdata)
                    return true;
            }
            else
            {
                insideRoot = true;
            }
        }

        return false;
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

    const auto* text = static_cast<const char*> (data) + 8;
    const auto textSize = wholeUtf8Prefix (text, (size_t) std::min (length, sizeInBytes - 8));

    if (! textSize.has_value() || *textSize == 0 || nestsDeeperThan (text, *textSize, maxNesting)
        || holdsMarkupTheReaderMishandles (text, *textSize))
        return {};

    return juce::parseXML (juce::String::fromUTF8 (text, (int) *textSize));
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
        makeValuesSafe (*xml, parameters);

        ready = false;
        parameters.replaceState (juce::ValueTree::fromXml (*xml));
        ready = true;
    }

    // Whatever the block held, a prepared engine follows the parameters.
    setCurrentProgram (1);
}
