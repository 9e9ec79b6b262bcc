#include "plugin/State.h"

#include "plugin/DecimalText.h"
#include "plugin/EditorZoom.h"
#include "plugin/Parameters.h"
#include "plugin/Processor.h"

#include <expat.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace
{
    const juce::Identifier paramType ("PARAM");
    const juce::Identifier idProperty ("id");
    const juce::Identifier valueProperty ("value");
    const juce::Identifier editorType ("EDITOR");
    const juce::Identifier zoomProperty ("zoom");

    // The editor's zoom goes into an element of its own after the
    // parameters: <EDITOR zoom="200"/>. The parameter tree reads nothing from
    // it, and it stays in the tree like anything else the tree does not use,
    // so releases that do not know it load such a state unchanged and save it
    // back as it was. A state without a zoom is written as before.
    void writeEditorZoom (juce::ValueTree& state, double zoom)
    {
        if (! (zoom > 0.0))
            return;

        auto editor = state.getChildWithName (editorType);

        if (! editor.isValid())
        {
            editor = juce::ValueTree (editorType);
            state.appendChild (editor, nullptr);
        }

        editor.setProperty (zoomProperty, EditorZoom::toText (zoom), nullptr);
    }

    // The first such element, in this letter case only, as the value tree
    // finds the one the zoom is saved into.
    std::optional<double> readEditorZoom (const juce::XmlElement& xml)
    {
        for (const auto* child : xml.getChildIterator())
        {
            if (child->getTagName() != editorType.toString())
                continue;

            if (! child->hasAttribute (zoomProperty.toString()))
                return {};

            return EditorZoom::fromText (child->getStringAttribute (zoomProperty.toString()));
        }

        return {};
    }

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

    // The root's tag is compared with the tree's type without regard to the
    // case of ASCII letters only: the framework's own comparison maps other
    // letters with the C library, as the host's locale has it.
    bool equalsIgnoringAsciiCase (const juce::String& a, const juce::String& b)
    {
        const auto lower = [] (char c) { return c >= 'A' && c <= 'Z' ? (char) (c + ('a' - 'A')) : c; };
        const auto* x = a.toRawUTF8();
        const auto* y = b.toRawUTF8();

        for (; *x != 0 && *y != 0; ++x, ++y)
            if (lower (*x) != lower (*y))
                return false;

        return *x == *y;
    }

    // The length of the text to parse: up to the first zero byte, and
    // without a character cut off by the end of the block. Nothing if the
    // text is not UTF-8 otherwise.
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

    // Builds the element tree of a document from expat's events, without
    // recursion, and refuses the document (stopping the parser at once) when
    // it goes beyond one of the limits in State.h. Character data, comments
    // and processing instructions carry nothing the parameter tree keeps and
    // are passed over; a document type declaration, which could declare
    // entities, refuses the document. The element and attribute names become
    // the framework's pooled identifiers once per distinct name.
    //
    // For the parameter tree, attributes under the framework's "base64:"
    // prefix, which the tree turns into binary values, are left out from the
    // root's children (a parameter cannot read a binary value), and
    // elsewhere when they do not hold binary data as the framework writes
    // it: the framework allocates whatever byte count the text states.
    class TreeReader
    {
    public:
        explicit TreeReader (bool forParameterTree) : leaveOutBinaryAttributes (forParameterTree) {}

        std::unique_ptr<juce::XmlElement> read (const char* text, size_t size)
        {
            // The text is UTF-8 whatever its declaration says.
            const std::unique_ptr<XML_ParserStruct, decltype (&XML_ParserFree)> owner (XML_ParserCreate ("UTF-8"), XML_ParserFree);

            if (owner == nullptr || size > (size_t) StateBlock::maxTextBytes)
                return {};

            parser = owner.get();
            XML_SetUserData (parser, this);
            XML_SetElementHandler (parser, startElement, endElement);
            XML_SetXmlDeclHandler (parser, declaration);
            XML_SetStartDoctypeDeclHandler (parser, documentType);

            const auto status = XML_Parse (parser, text, (int) size, XML_TRUE);

            if (status != XML_STATUS_OK || refused || root == nullptr)
                return {};

            return std::move (root);
        }

    private:
        static TreeReader& readerOf (void* user) { return *static_cast<TreeReader*> (user); }

        static void XMLCALL startElement (void* user, const XML_Char* name, const XML_Char** attributes)
        {
            readerOf (user).guarded ([&] (TreeReader& r) { r.open (name, attributes); });
        }

        static void XMLCALL endElement (void* user, const XML_Char*)
        {
            readerOf (user).guarded ([] (TreeReader& r) { r.close(); });
        }

        // Only XML 1.0: expat reads every document as that, and would take
        // any version number.
        static void XMLCALL declaration (void* user, const XML_Char* version, const XML_Char*, int)
        {
            if (version != nullptr && std::strcmp (version, "1.0") != 0)
                readerOf (user).refuse();
        }

        static void XMLCALL documentType (void* user, const XML_Char*, const XML_Char*, const XML_Char*, int)
        {
            readerOf (user).refuse();
        }

        // Nothing may be thrown through the parser's C code: a failure (out
        // of memory) refuses the document.
        template <typename Step>
        void guarded (Step&& step)
        {
            try
            {
                if (! refused)
                    step (*this);
            }
            catch (...)
            {
                refuse();
            }
        }

        void refuse()
        {
            if (! refused)
            {
                refused = true;
                XML_StopParser (parser, XML_FALSE);
            }
        }

        void open (const XML_Char* name, const XML_Char** attributes)
        {
            if ((int) openElements.size() >= StateBlock::maxNesting || ++numElements > StateBlock::maxElements)
                return refuse();

            int numAttributes = 0;

            while (attributes[2 * numAttributes] != nullptr)
                if (++numAttributes > StateBlock::maxAttributesPerElement)
                    return refuse();

            const auto* tag = identifierFor (name);

            if (tag == nullptr)
                return refuse();

            auto element = std::make_unique<juce::XmlElement> (*tag);
            const bool isRootsChild = openElements.size() == 1;

            // Expat has refused the document if a name appeared twice, so
            // each attribute is a new one.
            for (int i = 0; i < numAttributes; ++i)
            {
                // A name left out still counts towards the limit, so that the
                // parameter tree takes exactly the documents read() takes.
                const auto* attribute = identifierFor (attributes[2 * i]);

                if (attribute == nullptr)
                    return refuse();

                if (leaveOutBinaryAttributes && std::strncmp (attributes[2 * i], "base64:", 7) == 0
                     && (isRootsChild || ! holdsBinaryAsWritten (attributes[2 * i + 1])))
                    continue;

                element->setAttribute (*attribute, juce::String::fromUTF8 (attributes[2 * i + 1]));
            }

            openElements.push_back ({ std::move (element), finished.size() });
        }

        // An element is complete: its children (the finished elements after
        // its start) are moved into it, and it joins its parent's children.
        void close()
        {
            auto element = std::move (openElements.back());
            openElements.pop_back();

            // Prepending from the last keeps the order, without walking the
            // list of children for each.
            for (auto i = finished.size(); i > element.firstChild; --i)
                element.xml->prependChildElement (finished[i - 1].release());

            finished.resize (element.firstChild);

            if (openElements.empty())
                root = std::move (element.xml);
            else
                finished.push_back (std::move (element.xml));
        }

        // The framework's form of binary data: the byte count in decimal, a
        // point, and exactly the characters that many bytes take in its
        // alphabet, six bits each.
        static bool holdsBinaryAsWritten (const XML_Char* value)
        {
            size_t count = 0;
            int digits = 0;

            for (; *value >= '0' && *value <= '9'; ++value)
            {
                if (++digits > 9)
                    return false;

                count = count * 10 + (size_t) (*value - '0');
            }

            if (digits == 0 || *value++ != '.')
                return false;

            static constexpr char alphabet[] = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+";
            size_t characters = 0;

            for (; *value != 0; ++value, ++characters)
                if (std::strchr (alphabet, *value) == nullptr)
                    return false;

            return characters == (count * 8 + 5) / 6;
        }

        const juce::Identifier* identifierFor (const XML_Char* name)
        {
            scratch.assign (name);
            auto found = identifiers.find (scratch);

            if (found != identifiers.end())
                return &found->second;

            if ((int) identifiers.size() >= StateBlock::maxNames)
                return nullptr;

            return &identifiers.emplace (scratch, juce::Identifier (juce::String::fromUTF8 (name))).first->second;
        }

        struct OpenElement
        {
            std::unique_ptr<juce::XmlElement> xml;
            size_t firstChild;   // in finished
        };

        XML_Parser parser = nullptr;
        std::vector<OpenElement> openElements;
        std::vector<std::unique_ptr<juce::XmlElement>> finished;
        std::unique_ptr<juce::XmlElement> root;
        std::unordered_map<std::string, juce::Identifier> identifiers;
        std::string scratch;
        int numElements = 0;
        bool refused = false;
        const bool leaveOutBinaryAttributes;
    };

    // How much of `present` bytes of text to parse: up to the first zero
    // byte, and without a character cut off by the end. Nothing for text
    // that is empty, not UTF-8, or longer than the limit (no more than that
    // is looked at).
    std::optional<size_t> parsableLength (const char* text, size_t present)
    {
        const auto* zero = static_cast<const char*> (std::memchr (text, 0, std::min (present, (size_t) StateBlock::maxTextBytes + 1)));
        const auto end = zero != nullptr ? (size_t) (zero - text) : present;

        if (end > (size_t) StateBlock::maxTextBytes)
            return {};

        const auto size = wholeUtf8Prefix (text, end);

        if (! size.has_value() || *size == 0)
            return {};

        return size;
    }

    // The text of a block, as the header and its end say: a length field
    // larger than the block is cut to the bytes present, and then as above.
    // Nothing for a block that is not one of ours.
    std::optional<std::pair<const char*, size_t>> textOf (const void* data, int sizeInBytes)
    {
        if (data == nullptr || sizeInBytes <= 8 || juce::ByteOrder::littleEndianInt (data) != StateBlock::magic)
            return {};

        const auto length = (int) juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data, 4));

        if (length <= 0)
            return {};

        const auto* text = static_cast<const char*> (data) + 8;

        if (const auto size = parsableLength (text, (size_t) std::min (length, sizeInBytes - 8)))
            return std::make_pair (text, *size);

        return {};
    }

    std::unique_ptr<juce::XmlElement> readBlock (const void* data, int sizeInBytes, bool forParameterTree)
    {
        if (const auto text = textOf (data, sizeInBytes))
            return TreeReader (forParameterTree).read (text->first, text->second);

        return {};
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
    return readBlock (data, sizeInBytes, false);
}

std::unique_ptr<juce::XmlElement> StateBlock::readDocument (const char* text, size_t size)
{
    if (text == nullptr)
        return {};

    if (const auto length = parsableLength (text, size))
        return TreeReader (false).read (text, *length);

    return {};
}

void Processor::getStateInformation (juce::MemoryBlock& destData)
{
    getStateInformation (destData, nullptr, 0);
}

void Processor::getStateInformation (juce::MemoryBlock& destData, const std::optional<float>* plainValues, size_t count)
{
    publishParameterChanges();

    auto state = parameters.copyState();

    // A value given here is saved as the parameter would hold it, had it
    // been set to it, and as its tree would copy it from there.
    for (size_t i = 0; i < std::min (count, ownParameters.size()); ++i)
    {
        if (! plainValues[i].has_value())
            continue;

        auto& parameter = *ownParameters[i];
        const auto held = parameter.convertFrom0to1 (juce::jlimit (0.0f, 1.0f, parameter.convertTo0to1 (*plainValues[i])));
        const auto copied = parameter.convertFrom0to1 (parameter.convertTo0to1 (held));

        for (auto child : state)
            if (child.hasType (paramType) && child.getProperty (idProperty).toString() == parameter.paramID)
                child.setProperty (valueProperty, (double) copied, nullptr);
    }

    writeValuesAsFixedPoint (state);
    writeEditorZoom (state, editorZoom.load());

    if (auto xml = state.createXml())
        StateBlock::write (*xml, destData);
}

void Processor::setStateInformation (const void* data, int sizeInBytes)
{
    loadState (data, sizeInBytes);
}

bool Processor::loadState (const void* data, int sizeInBytes)
{
    // The tree compares what it loads with its copy of each value, which
    // must be the value in force.
    publishParameterChanges();

    auto xml = readBlock (data, sizeInBytes, true);
    const auto applies = xml != nullptr && equalsIgnoringAsciiCase (xml->getTagName(), parameters.state.getType().toString());

    if (applies)
    {
        makeValuesSafe (*xml, parameters);

        ready = false;
        parameters.replaceState (juce::ValueTree::fromXml (*xml));
        ready = true;

        // A state without a zoom leaves this instance's as it was.
        if (const auto zoom = readEditorZoom (*xml))
            editorZoom = *zoom;
    }

    // Whatever the block held, a prepared engine follows the parameters.
    setCurrentProgram (1);
    return applies;
}
