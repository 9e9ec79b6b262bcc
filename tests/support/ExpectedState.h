#pragma once

#include "plugin/DecimalText.h"
#include "plugin/Parameters.h"
#include "plugin/Processor.h"
#include "plugin/State.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <array>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

/**
    What a load must do, worked out from the block alone, without the
    plug-in's reader: the header and the text's end are read here, the XML by
    libxml2, and the reader's limits are checked on the tree libxml2 gives.

    A block whose header is not ours, whose text is not well-formed XML 1.0
    in UTF-8 (after a character cut off by the end is dropped), holds a
    document type declaration, goes beyond a limit, or has another root
    changes nothing. Any other block sets every parameter from the last child
    of the root with its ID, whatever its tag (the default when there is none
    or it has no value, and for "nan" and "inf"), clamped into the range and
    snapped to the interval.
*/
namespace ExpectedState
{
    using Values = std::array<float, 5>;   // plain values in creation order

    inline Values current (Processor& p)
    {
        Values v {};
        for (size_t i = 0; i < v.size(); ++i)
            v[i] = p.parameters.getRawParameterValue (ParameterIDs::all[i])->load();
        return v;
    }

    /** A document as libxml2 reads it: elements only, in document order;
        elements[0] is the root. */
    struct Element
    {
        std::string name;
        std::vector<std::pair<std::string, std::string>> attributes;
        std::vector<size_t> children;
        int depth = 1;
    };

    using Document = std::vector<Element>;

    enum class Verdict { refused, accepted, unjudged };

    struct Judgement
    {
        Verdict verdict = Verdict::refused;
        Document document;   // when accepted
    };

    namespace Detail
    {
        // Well-formed UTF-8 sequences of two bytes and more (the Unicode
        // standard's table): the range of the first byte, the range of the
        // second, and the sequence's length. Further bytes are 80..BF.
        struct Form { unsigned char firstLow, firstHigh, secondLow, secondHigh; size_t length; };

        constexpr Form forms[] = {
            { 0xc2, 0xdf, 0x80, 0xbf, 2 }, { 0xe0, 0xe0, 0xa0, 0xbf, 3 }, { 0xe1, 0xec, 0x80, 0xbf, 3 },
            { 0xed, 0xed, 0x80, 0x9f, 3 }, { 0xee, 0xef, 0x80, 0xbf, 3 }, { 0xf0, 0xf0, 0x90, 0xbf, 4 },
            { 0xf1, 0xf3, 0x80, 0xbf, 4 }, { 0xf4, 0xf4, 0x80, 0x8f, 4 },
        };

        /** The length of the text without a character that the end cuts
            off: the beginning of a well-formed sequence that lacks its last
            bytes. Anything else is left for the XML reader to judge. */
        inline size_t withoutCutCharacter (const unsigned char* text, size_t size)
        {
            for (size_t back = 1; back <= 3 && back <= size; ++back)
            {
                const auto start = size - back;
                const auto lead = text[start];

                if (lead >= 0x80 && lead <= 0xbf)
                    continue;   // a following byte: look further back

                for (const auto& form : forms)
                {
                    if (lead < form.firstLow || lead > form.firstHigh || back >= form.length)
                        continue;

                    bool prefix = true;

                    for (size_t k = 1; k < back; ++k)
                    {
                        const auto low = k == 1 ? form.secondLow : 0x80;
                        const auto high = k == 1 ? form.secondHigh : 0xbf;
                        prefix = prefix && text[start + k] >= low && text[start + k] <= high;
                    }

                    return prefix ? start : size;
                }

                return size;
            }

            return size;
        }

        // libxml2 2.9 compares each attribute of a tag with every earlier one,
        // which takes seconds for a tag with tens of thousands. A tag holds no
        // more attributes than there are '=' between its '<' and the next '<'
        // (neither a name nor a value may hold a '<'): text where that count
        // goes beyond this is not judged.
        constexpr size_t mostEqualSignsJudged = 1024;

        inline bool tooCostlyToJudge (const char* text, size_t size)
        {
            size_t count = 0;

            for (size_t i = 0; i < size; ++i)
            {
                if (text[i] == '<')
                    count = 0;
                else if (text[i] == '=' && ++count > mostEqualSignsJudged)
                    return true;
            }

            return false;
        }

        struct Reader
        {
            Document document;
            std::vector<size_t> open;
            bool sawDocumentType = false;
        };

        inline Reader& readerOf (void* context)
        {
            return *static_cast<Reader*> (static_cast<xmlParserCtxtPtr> (context)->_private);
        }

        inline void startElement (void* context, const xmlChar* name, const xmlChar** attributes)
        {
            auto& reader = readerOf (context);
            Element element;
            element.name = reinterpret_cast<const char*> (name);
            element.depth = (int) reader.open.size() + 1;

            for (auto* a = attributes; a != nullptr && a[0] != nullptr; a += 2)
                element.attributes.emplace_back (reinterpret_cast<const char*> (a[0]),
                                                 a[1] != nullptr ? reinterpret_cast<const char*> (a[1]) : "");

            const auto index = reader.document.size();

            if (! reader.open.empty())
                reader.document[reader.open.back()].children.push_back (index);

            reader.document.push_back (std::move (element));
            reader.open.push_back (index);
        }

        inline void endElement (void* context, const xmlChar*)
        {
            auto& reader = readerOf (context);

            if (! reader.open.empty())
                reader.open.pop_back();
        }

        inline void documentType (void* context, const xmlChar*, const xmlChar*, const xmlChar*)
        {
            readerOf (context).sawDocumentType = true;
            xmlStopParser (static_cast<xmlParserCtxtPtr> (context));
        }

        inline bool withinLimits (const Document& document)
        {
            if (document.size() > (size_t) StateBlock::maxElements)
                return false;

            std::set<std::string> names;

            for (const auto& element : document)
            {
                if (element.depth > StateBlock::maxNesting || element.attributes.size() > (size_t) StateBlock::maxAttributesPerElement)
                    return false;

                names.insert (element.name);

                for (const auto& attribute : element.attributes)
                    names.insert (attribute.first);
            }

            return names.size() <= (size_t) StateBlock::maxNames;
        }

        inline bool equalsIgnoringAsciiCase (const std::string& a, const char* b)
        {
            const auto lower = [] (char c) { return c >= 'A' && c <= 'Z' ? (char) (c + 32) : c; };

            if (a.size() != std::strlen (b))
                return false;

            for (size_t i = 0; i < a.size(); ++i)
                if (lower (a[i]) != lower (b[i]))
                    return false;

            return true;
        }
    }

    /** The document a block holds, judged without the plug-in's reader. */
    inline Judgement judge (const void* data, int size)
    {
        Judgement refused;

        if (data == nullptr || size <= 8)
            return refused;

        const auto* bytes = static_cast<const unsigned char*> (data);
        const auto word = [bytes] (int at) { return (uint32_t) bytes[at] | (uint32_t) bytes[at + 1] << 8
                                                  | (uint32_t) bytes[at + 2] << 16 | (uint32_t) bytes[at + 3] << 24; };

        if (word (0) != 0x21324356u || (int32_t) word (4) <= 0)
            return refused;

        const auto* text = reinterpret_cast<const char*> (bytes + 8);
        auto length = std::min ((size_t) (int32_t) word (4), (size_t) size - 8);
        length = strnlen (text, length);

        if (length > (size_t) StateBlock::maxTextBytes)
            return refused;

        length = Detail::withoutCutCharacter (bytes + 8, length);

        if (length == 0)
            return refused;

        if (Detail::tooCostlyToJudge (text, length))
            return { Verdict::unjudged, {} };

        // SAX1 reports names and attributes as written, without namespace
        // processing, as the plug-in reads them; values with their references
        // replaced (the predefined entities and characters: a document type,
        // which could declare others, stops the parser). XML 1.0 before its
        // fifth edition, as expat has it (names, and version "1.0" only); the
        // declared encoding is ignored, the text is UTF-8; no limits of
        // libxml2's own (ours are checked below).
        xmlSAXHandler handler;
        std::memset (&handler, 0, sizeof (handler));
        handler.initialized = 1;
        handler.startElement = Detail::startElement;
        handler.endElement = Detail::endElement;
        handler.internalSubset = Detail::documentType;

        xmlInitParser();
        auto* context = xmlCreateMemoryParserCtxt (text, (int) length);

        if (context == nullptr)
            return refused;

        xmlCtxtUseOptions (context, XML_PARSE_NOENT | XML_PARSE_OLD10 | XML_PARSE_IGNORE_ENC | XML_PARSE_HUGE
                                      | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
        xmlSwitchEncoding (context, XML_CHAR_ENCODING_UTF8);

        Detail::Reader reader;
        auto* ownHandler = context->sax;
        context->sax = &handler;   // a SAX1 handler: no namespace processing
        context->userData = context;
        context->_private = &reader;

        xmlParseDocument (context);
        const bool wellFormed = context->wellFormed != 0 && ! reader.sawDocumentType;

        context->sax = ownHandler;
        xmlFreeParserCtxt (context);

        if (! wellFormed || reader.document.empty() || ! Detail::withinLimits (reader.document))
            return refused;

        return { Verdict::accepted, std::move (reader.document) };
    }

    /** The values a load of an accepted document leaves, or nothing when its
        root is not ours. */
    inline std::optional<Values> afterLoading (Processor& p, const Document& document)
    {
        if (document.empty() || ! Detail::equalsIgnoringAsciiCase (document[0].name, "ChorusID"))
            return std::nullopt;

        Values v {};

        for (size_t i = 0; i < v.size(); ++i)
        {
            auto& parameter = *dynamic_cast<ChorusParameter*> (p.parameters.getParameter (ParameterIDs::all[i]));
            v[i] = parameter.getDefaultPlainValue();

            for (auto index : document[0].children)
            {
                const auto& attributes = document[index].attributes;
                const auto find = [&attributes] (const char* name) -> const std::string*
                {
                    for (const auto& a : attributes)
                        if (a.first == name)
                            return &a.second;

                    return nullptr;
                };

                const auto* id = find ("id");

                if (id == nullptr || *id != ParameterIDs::all[i])
                    continue;

                const auto* value = find ("value");
                v[i] = value != nullptr ? parameter.legalPlainValue (DecimalText::read (value->c_str()))
                                        : parameter.getDefaultPlainValue();
            }
        }

        return v;
    }

    /** The values a load of a block leaves, or nothing when the block
        changes no parameter. For blocks that can be judged. */
    inline std::optional<Values> afterLoading (Processor& p, const void* data, int size)
    {
        const auto judgement = judge (data, size);
        jassert (judgement.verdict != Verdict::unjudged);

        if (judgement.verdict != Verdict::accepted)
            return std::nullopt;

        return afterLoading (p, judgement.document);
    }

    /** Whether an element tree holds exactly the document's elements, names
        and attributes, in order (text, which the tree does not keep, aside). */
    inline bool sameElements (const juce::XmlElement& root, const Document& document)
    {
        if (document.empty())
            return false;

        std::vector<std::pair<const juce::XmlElement*, size_t>> pending { { &root, 0 } };

        while (! pending.empty())
        {
            const auto [xml, index] = pending.back();
            pending.pop_back();
            const auto& element = document[index];

            if (xml->getTagName().toStdString() != element.name
                || xml->getNumAttributes() != (int) element.attributes.size())
                return false;

            for (int i = 0; i < xml->getNumAttributes(); ++i)
                if (xml->getAttributeName (i).toStdString() != element.attributes[(size_t) i].first
                    || xml->getAttributeValue (i).toStdString() != element.attributes[(size_t) i].second)
                    return false;

            size_t child = 0;

            for (auto* c : xml->getChildIterator())
            {
                if (c->isTextElement())
                    continue;

                if (child >= element.children.size())
                    return false;

                pending.emplace_back (c, element.children[child++]);
            }

            if (child != element.children.size())
                return false;
        }

        return true;
    }

    /** How deeply an element tree nests (the root alone is 1). */
    inline int depthOf (const juce::XmlElement& root)
    {
        int deepest = 0;
        std::vector<std::pair<const juce::XmlElement*, int>> pending { { &root, 1 } };

        while (! pending.empty())
        {
            const auto [xml, depth] = pending.back();
            pending.pop_back();
            deepest = std::max (deepest, depth);

            for (auto* c : xml->getChildIterator())
                pending.emplace_back (c, depth + 1);
        }

        return deepest;
    }

    /** How deeply a value tree nests (the root alone is 1). */
    inline int depthOf (const juce::ValueTree& root)
    {
        int deepest = 0;
        std::vector<std::pair<juce::ValueTree, int>> pending { { root, 1 } };

        while (! pending.empty())
        {
            const auto [tree, depth] = pending.back();
            pending.pop_back();
            deepest = std::max (deepest, depth);

            for (const auto& c : tree)
                pending.emplace_back (c, depth + 1);
        }

        return deepest;
    }
}
