#include "plugin/ProcessorHarness.h"

#include "plugin/ParameterListenerEngine.h"
#include "plugin/State.h"
#include "support/ExpectedState.h"
#include "support/ScopedLocale.h"
#include "support/StateBlocks.h"

#include <gtest/gtest.h>

#include <clocale>
#include <random>
#include <string>
#include <vector>

namespace
{
    juce::MemoryBlock save (Processor& p)
    {
        juce::MemoryBlock block;
        p.getStateInformation (block);
        return block;
    }

    void load (Processor& p, const juce::MemoryBlock& block)
    {
        p.setStateInformation (block.getData(), (int) block.getSize());
    }

    juce::String documentOf (const juce::MemoryBlock& block)
    {
        return juce::String::fromUTF8 (static_cast<const char*> (block.getData()) + 8, (int) block.getSize() - 9);
    }

    juce::uint32 lengthField (const juce::MemoryBlock& block)
    {
        return juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (block.getData(), 4));
    }

    void setLengthField (juce::MemoryBlock& block, juce::uint32 length)
    {
        auto* b = static_cast<juce::uint8*> (block.getData());
        for (int i = 0; i < 4; ++i)
            b[4 + i] = (juce::uint8) (length >> (8 * i));
    }

    /** A block around any bytes: the magic, a length field (the byte count
        plus lengthExtra) and, if asked for, the terminating zero. */
    juce::MemoryBlock blockOfBytes (const std::string& bytes, int lengthExtra = 0, bool terminator = true)
    {
        return StateBlocks::around (bytes, lengthExtra, terminator);
    }

    /** A block around any text, with a correct header. */
    juce::MemoryBlock blockFor (const juce::String& text)
    {
        return blockOfBytes (text.toStdString());
    }

    const char* const defaultDocument =
        "<ChorusID>"
        "<PARAM id=\"chorus_on\" value=\"1.00000000000000000000\"/>"
        "<PARAM id=\"chorus_depth\" value=\"0.00000000000000000000\"/>"
        "<PARAM id=\"chorus_speed\" value=\"0.00000000000000000000\"/>"
        "<PARAM id=\"chorus_mix\" value=\"10.00000000000000000000\"/>"
        "<PARAM id=\"stereo_proc\" value=\"1.00000000000000000000\"/>"
        "</ChorusID>";
}

TEST (State, FreshProcessorSavesTheDefaultDocument)
{
    Processor p;
    const auto block = save (p);

    ASSERT_GT (block.getSize(), 9u);
    EXPECT_EQ (juce::ByteOrder::littleEndianInt (block.getData()), 0x21324356u);
    EXPECT_EQ (memcmp (block.getData(), "VC2!", 4), 0);
    EXPECT_EQ (documentOf (block), defaultDocument);
    EXPECT_EQ (lengthField (block), block.getSize() - 9);
    EXPECT_EQ (static_cast<const char*> (block.getData())[block.getSize() - 1], 0);
}

TEST (State, RoundTripRestoresEveryValue)
{
    ProcessorHarness a;
    a.prepare();
    a.set ("chorus_on", 0.0f);
    a.set ("chorus_depth", 3.3f);
    a.set ("chorus_speed", 7.1f);
    a.set ("chorus_mix", 0.4f);
    a.set ("stereo_proc", 0.0f);
    const auto block = save (a.processor);

    ProcessorHarness b;
    b.prepare();
    load (b.processor, block);

    for (auto* id : { "chorus_on", "chorus_depth", "chorus_speed", "chorus_mix", "stereo_proc" })
        EXPECT_EQ (b.raw (id), a.raw (id)) << id;

    // The engine was refreshed from the loaded values.
    EXPECT_EQ (b.processor.engine.depthPercent.load(), a.processor.engine.depthPercent.load());
    EXPECT_EQ (b.processor.engine.mix.load(), a.processor.engine.mix.load());
    EXPECT_EQ (b.processor.engine.routing, &ChorusEngine::processCopy);
}

TEST (State, AcceptedVariants)
{
    // The length field may count the terminator; the root tag may differ in
    // letter case; values may be written with any number of digits; a length
    // beyond the block is cut to the bytes present; a declaration may come
    // first.
    const juce::String doc ("<?xml version=\"1.0\" encoding=\"UTF-8\"?> <!-- saved --> <chorusid><PARAM id=\"chorus_mix\" value=\"2.5\"/><PARAM id=\"chorus_on\" value=\"0.00000000000000000000\"/></chorusid>");

    auto countsTerminator = blockFor (doc);
    setLengthField (countsTerminator, lengthField (countsTerminator) + 1);
    auto tooLong = blockFor (doc);
    setLengthField (tooLong, 100000);

    for (const auto* block : { &countsTerminator, &tooLong })
    {
        Processor p;
        load (p, *block);
        EXPECT_EQ (p.parameters.getRawParameterValue ("chorus_mix")->load(), 2.5f);
        EXPECT_EQ (p.parameters.getRawParameterValue ("chorus_on")->load(), 0.0f);
        EXPECT_EQ (p.parameters.getRawParameterValue ("chorus_depth")->load(), 0.0f);   // missing: default

        // The loaded form of the root tag and the loaded text are written back.
        const auto again = documentOf (save (p));
        EXPECT_TRUE (again.startsWith ("<chorusid><PARAM id=\"chorus_mix\" value=\"2.5\"/>")) << again;
        EXPECT_TRUE (again.contains ("<PARAM id=\"chorus_depth\"/>")) << again;   // appended, id only
    }
}

// A parameter that the document leaves out, or lists without a value, takes
// its default, whatever it was set to before.
TEST (State, ParametersTheDocumentLeavesOutTakeTheirDefaults)
{
    ProcessorHarness h;
    h.prepare();
    h.set ("chorus_depth", 4.0f);
    h.set ("chorus_speed", 6.0f);
    h.set ("chorus_mix", 3.0f);

    load (h.processor, blockFor ("<ChorusID><PARAM id=\"chorus_speed\"/><PARAM id=\"chorus_mix\" value=\"2\"/></ChorusID>"));

    EXPECT_EQ (h.raw ("chorus_depth"), 0.0f);
    EXPECT_EQ (h.raw ("chorus_speed"), 0.0f);
    EXPECT_EQ (h.raw ("chorus_mix"), 2.0f);
    EXPECT_EQ (h.processor.engine.depthPercent.load(), 0.0f);
    EXPECT_EQ (h.processor.engine.speedHz.load(), 0.02f);
}

TEST (State, UnknownContentIsKeptAndWrittenBack)
{
    Processor p;
    load (p, blockFor ("<ChorusID extra=\"1\"><PARAM id=\"chorus_depth\" value=\"4\" note=\"x\"/><Other a=\"b\"/></ChorusID>"));
    EXPECT_EQ (p.parameters.getRawParameterValue ("chorus_depth")->load(), 4.0f);

    const auto again = documentOf (save (p));
    EXPECT_TRUE (again.startsWith ("<ChorusID extra=\"1\"><PARAM id=\"chorus_depth\" value=\"4\" note=\"x\"/><Other a=\"b\"/>")) << again;
}

TEST (State, ForeignOrDamagedBlocksChangeNoParameterButStillRefresh)
{
    const auto good = blockFor ("<ChorusID><PARAM id=\"chorus_mix\" value=\"1\"/></ChorusID>");

    auto otherMagic = good;
    static_cast<char*> (otherMagic.getData())[3] = '?';
    auto zeroLength = good;
    setLengthField (zeroLength, 0);
    auto negativeLength = good;
    setLengthField (negativeLength, 0x80000000u);

    juce::String deep;
    for (int i = 0; i < 20000; ++i)
        deep << "<a>";

    std::vector<std::pair<juce::String, juce::MemoryBlock>> cases {
        { "empty", juce::MemoryBlock() },
        { "eight bytes", juce::MemoryBlock (good.getData(), 8) },
        { "other magic", otherMagic },
        { "zero length", zeroLength },
        { "negative length", negativeLength },
        { "unclosed root", blockFor ("<ChorusID><PARAM id=\"chorus_mix\" value=\"1\"/>") },
        { "cut attribute", blockFor ("<ChorusID><PARAM id=\"chorus_mix\" value=\"1") },
        { "not XML", blockFor ("hello") },
        { "other root", blockFor ("<SomethingElse><PARAM id=\"chorus_mix\" value=\"1\"/></SomethingElse>") },
        { "deeply nested", blockFor ("<ChorusID>" + deep) },
        { "entity declared in a document type",
          blockFor ("<!DOCTYPE ChorusID [<!ENTITY e \"<a><?x?>y</a>\">]><ChorusID>&e;<PARAM id=\"chorus_mix\" value=\"1\"/></ChorusID>") },
        { "document type alone", blockFor ("<!DOCTYPE ChorusID><ChorusID><PARAM id=\"chorus_mix\" value=\"1\"/></ChorusID>") },
        { "unquoted value", blockFor ("<ChorusID><PARAM id=chorus_mix value=1/></ChorusID>") },
        { "attribute twice", blockFor ("<ChorusID><PARAM id=\"chorus_mix\" value=\"1\" value=\"2\"/></ChorusID>") },
        { "tags crossed", blockFor ("<ChorusID><PARAM id=\"chorus_mix\" value=\"1\"><a></PARAM></a></ChorusID>") },
        { "markup after the root", blockFor ("<ChorusID><PARAM id=\"chorus_mix\" value=\"1\"/></ChorusID><ChorusID/>") },
        { "text after the root", blockFor ("<ChorusID><PARAM id=\"chorus_mix\" value=\"1\"/></ChorusID>x") },
        { "declaration after white space", blockFor (" <?xml version=\"1.0\"?><ChorusID><PARAM id=\"chorus_mix\" value=\"1\"/></ChorusID>") },
        { "another XML version", blockFor ("<?xml version=\"1.1\"?><ChorusID><PARAM id=\"chorus_mix\" value=\"1\"/></ChorusID>") },
        { "entity of no name", blockFor ("<ChorusID><PARAM id=\"chorus_mix\" value=\"1&AMP;\"/></ChorusID>") },
        { "control character", blockFor ("<ChorusID><PARAM id=\"chorus_mix\" value=\"1\x01\"/></ChorusID>") },
    };

    // A character reference that is cut short or names no character: at the
    // end of a block cut short, or inside a document that goes on after it,
    // in a value or in the text. A lenient reader takes most of these for
    // some character (or none) and loads the value "1".
    for (auto* reference : { "&#x", "&#x1", "&#", "&#x;", "&#;", "&#0;", "&#x1F", "&#xD800;", "&#x110000;", "&#99999999999;" })
    {
        const juce::String r (reference);
        cases.emplace_back ("block cut after " + r, blockFor ("<ChorusID><PARAM id=\"chorus_mix\" value=\"1\"/>" + r));
        cases.emplace_back ("in a value: " + r, blockFor ("<ChorusID><PARAM id=\"chorus_mix\" value=\"1" + r + "\"/></ChorusID>"));
        cases.emplace_back ("in the text: " + r, blockFor ("<ChorusID><PARAM id=\"chorus_mix\" value=\"1\"/>" + r + "</ChorusID>"));
    }

    for (const auto& [name, block] : cases)
    {
        ProcessorHarness h;
        h.prepare();
        h.set ("chorus_mix", 6.0f);
        h.processor.engine.mix = 0.5f;   // out of step with the parameter

        EXPECT_FALSE (ExpectedState::afterLoading (h.processor, block.getData(), (int) block.getSize()).has_value()) << name;
        load (h.processor, block);
        EXPECT_EQ (h.raw ("chorus_mix"), 6.0f) << name;
        EXPECT_EQ (h.processor.engine.mix.load(), (float) (6.0 * 0.075)) << name;
    }

    Processor p;
    p.setStateInformation (nullptr, 100);
}

// Values are read once, with a reader defined for any text: only "nan" and
// "inf" give the default; finite text beyond the float range (or the range of
// double, or with an exponent too long for the framework's own reader) gives
// the range's end. Depth defaults to its minimum and mix to its maximum, so
// each case tells a clamp from a default.
TEST (State, LoadedValuesEndLegal)
{
    struct Case { const char* id; const char* text; float plain; };
    const Case cases[] = {
        { "chorus_depth", "nan", 0.0f },    { "chorus_mix", "-NaN", 10.0f },
        { "chorus_depth", "inf", 0.0f },    { "chorus_mix", "-inf", 10.0f },
        { "chorus_depth", "1e39", 10.0f },  { "chorus_mix", "-1e39", 0.0f },   { "chorus_depth", "3.5e38", 10.0f },
        { "chorus_depth", "1e3900000000", 10.0f },   { "chorus_mix", "-1e3900000000", 0.0f },
        { "chorus_depth", "1e99999999999999999999", 10.0f },   { "chorus_mix", "1e-3900000000", 0.0f },
        { "chorus_depth", "2e0000000000000000000001", 10.0f }, { "chorus_depth", "5e-0000000000000000000001", 0.5f },
        { "chorus_mix", "-5", 0.0f },       { "chorus_depth", "12", 10.0f },   { "chorus_depth", "3.33", 3.3f },
        { "chorus_mix", "abc", 0.0f },      { "chorus_mix", "", 0.0f },        { "chorus_depth", " 4.5xyz", 4.5f },
        { "chorus_depth", "7e-1", 0.7f },   { "chorus_depth", "0.000000000000000000000000000000000000000000000000001e50", 0.1f },
    };

    for (const auto& c : cases)
    {
        ProcessorHarness h;
        h.prepare();
        load (h.processor, blockFor (juce::String ("<ChorusID><PARAM id=\"") + c.id + "\" value=\"" + c.text + "\"/></ChorusID>"));

        EXPECT_EQ (h.raw (c.id), c.plain) << c.id << " " << c.text;
        EXPECT_EQ (h.parameter (c.id).getValue(), c.plain / 10.0f) << c.id << " " << c.text;
        const auto& e = h.processor.engine;
        EXPECT_TRUE (e.mix.load() >= 0.0f && e.mix.load() <= 0.75f) << c.text;
        EXPECT_TRUE (e.depthPercent.load() >= 0.0f && e.depthPercent.load() <= 100.0f) << c.text;

        // What is saved next reads back the same.
        ProcessorHarness again;
        load (again.processor, save (h.processor));
        EXPECT_EQ (again.raw (c.id), c.plain) << c.id << " " << c.text;
    }

    // The parameter tree takes a value from any child with the parameter's
    // ID, whatever its tag: those are read the same way.
    Processor p;
    load (p, blockFor ("<ChorusID><Other id=\"chorus_depth\" value=\"1e3900000000\"/></ChorusID>"));
    EXPECT_EQ (p.parameters.getRawParameterValue ("chorus_depth")->load(), 10.0f);
}

// The framework's decoder trusts every UTF-8 lead byte: a block that ends
// inside a character, or holds bytes that are not UTF-8, would make it read
// past the end of its copy of the text. A character cut off by the end is
// dropped (the rest of the text still loads); anything else that is not UTF-8
// is refused.
TEST (State, TextIsDecodedOnlyAsWholeUtf8Characters)
{
    const juce::String document ("<ChorusID><PARAM id=\"chorus_mix\" value=\"2\"/></ChorusID>");
    const std::string head = document.toStdString();

    struct Case { const char* name; std::string text; bool terminator; bool accepted; };
    const Case cases[] = {
        { "two-byte character cut at the end", head + "\xc3", false, true },
        { "three-byte character cut at the end", head + "\xe2\x82", false, true },
        { "four-byte character cut before the terminator", head + "\xf0\x9f\x8e", true, true },
        { "whole characters", head + "<!-- \xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xb8 -->", true, true },
        { "lone lead byte inside", "<ChorusID><PARAM id=\"chorus_mix\" value=\"2\xf0\"/></ChorusID>", true, false },
        { "continuation byte alone", "<ChorusID>\x80<PARAM id=\"chorus_mix\" value=\"2\"/></ChorusID>", true, false },
        { "overlong form", "<ChorusID><PARAM id=\"chorus_mix\" value=\"2\"/>\xc0\xbc</ChorusID>", true, false },
        { "beyond U+10FFFF", "<ChorusID><PARAM id=\"chorus_mix\" value=\"2\"/>\xf4\x90\x80\x80</ChorusID>", true, false },
        { "byte 0xff", "<ChorusID><PARAM id=\"chorus_mix\" value=\"2\"/>\xff</ChorusID>", true, false },
        { "bytes 0xff at the end", "<ChorusID><PARAM id=\"chorus_mix\" value=\"2\"/><Other id=\"x\xff\xff\xff\xff\xff", false, false },
    };

    for (const auto& c : cases)
    {
        // The framework's copy of the text ends at a different place within
        // its allocation for each length, so that reading past it shows
        // under AddressSanitizer for one of them at least.
        for (int padding = 0; padding < 8; ++padding)
        {
            ProcessorHarness h;
            h.set ("chorus_mix", 6.0f);
            load (h.processor, blockOfBytes (std::string ((size_t) padding, ' ') + c.text, 0, c.terminator));
            EXPECT_EQ (h.raw ("chorus_mix"), c.accepted ? 2.0f : 6.0f) << c.name << ", padding " << padding;
        }
    }
}

TEST (State, LoadBeforePrepareReachesTheEngineAtThePrepare)
{
    ProcessorHarness h;
    load (h.processor, blockFor ("<ChorusID><PARAM id=\"chorus_depth\" value=\"7\"/></ChorusID>"));
    EXPECT_EQ (h.raw ("chorus_depth"), 7.0f);
    EXPECT_EQ (h.processor.engine.depthPercent.load(), 50.0f);

    h.prepare();
    EXPECT_EQ (h.processor.engine.depthPercent.load(), 70.0f);
}

// Damaged blocks of every kind the reader guards against: flipped bytes,
// characters cut by the end of the block or spliced into it, deep nesting,
// long exponents, duplicate and missing elements. Each load either sets every
// parameter as its document says or changes none, and what it accepts and
// refuses is what an independent XML reader, with the same limits, accepts
// and refuses.
TEST (State, DamagedBlocksLoadWholeOrNotAtAll)
{
    std::mt19937 random (1234);
    const std::string pieces[] = {
        "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x8e\xb8", "\xc3", "\xe2\x82", "\xf0\x9f", "\x80", "\xff",
        "<a>", "</a>", "<a/>", "<!--", "-->", "&#x1F3B8;", "&#99999999999;", "&amp;", "\"", "'", "=",
        "<PARAM id=\"chorus_depth\" value=\"4\"/>", "<PARAM id=\"chorus_mix\"/>", "e3900000000", "nan", "-", ".",
        " value=\"0\"", " base64:value=\"MQ==\"", " id=\"chorus_mix\"", "<?x?>", "<?", "<![CDATA[", "]]>",
        "&#x", "&lt;", "&", " ", "\xe3\x80\x80", " not\xc3\xa4=\"x\"", "<!DOCTYPE a>",
    };

    auto nested = [] (int depth)
    {
        std::string text;
        for (int i = 0; i < depth; ++i)
            text += "<a>";
        return text;
    };

    const std::string good = juce::String (defaultDocument).replace ("value=\"0.0", "value=\"7.0").toStdString();
    int accepted = 0;

    for (int i = 0; i < 4000; ++i)
    {
        std::string text = good;
        const int edits = 1 + (int) (random() % 3);

        for (int e = 0; e < edits; ++e)
        {
            const auto at = (size_t) (random() % (text.size() + 1));

            switch (random() % 5)
            {
                case 0:  if (! text.empty()) text[at % text.size()] = (char) random(); break;
                case 1:  text.insert (at, pieces[random() % std::size (pieces)]); break;
                case 2:  text.erase (at, random() % 8); break;
                case 3:  text.insert (std::min (at, text.find ('>') + 1), nested (StateBlock::maxNesting - 3 + (int) (random() % 6))); break;
                default: text.resize (at); break;   // cut, possibly inside a character
            }
        }

        // The length field sometimes counts the terminator, or more.
        const auto block = blockOfBytes (text, (int) (random() % 3));

        ProcessorHarness h;
        h.prepare();
        h.set ("chorus_on", 0.0f);
        h.set ("chorus_speed", 2.2f);
        h.set ("chorus_mix", 3.3f);
        h.set ("stereo_proc", 0.0f);

        const auto judgement = ExpectedState::judge (block.getData(), (int) block.getSize());
        ASSERT_NE (judgement.verdict, ExpectedState::Verdict::unjudged);

        // The reader's tree is the independent reader's, element for element.
        const auto xml = StateBlock::read (block.getData(), (int) block.getSize());
        ASSERT_EQ (xml != nullptr, judgement.verdict == ExpectedState::Verdict::accepted) << "case " << i << ": " << text;

        if (xml != nullptr)
        {
            ASSERT_TRUE (ExpectedState::sameElements (*xml, judgement.document)) << "case " << i << ": " << text;
            ASSERT_LE (ExpectedState::depthOf (*xml), StateBlock::maxNesting);
        }

        const auto before = ExpectedState::current (h.processor);
        const auto expected = judgement.verdict == ExpectedState::Verdict::accepted
                                ? ExpectedState::afterLoading (h.processor, judgement.document)
                                : std::nullopt;
        load (h.processor, block);
        const auto after = ExpectedState::current (h.processor);

        accepted += expected.has_value() ? 1 : 0;
        ASSERT_EQ (after, expected.value_or (before)) << "case " << i << ": " << text;

        // The engine follows whatever the parameters now hold, and what is
        // saved now loads back to the same values.
        ASSERT_EQ (h.processor.engine.mix.load(), ParameterListenerEngine::mixGainFor (after[3])) << "case " << i;
        load (h.processor, save (h.processor));
        ASSERT_EQ (ExpectedState::current (h.processor), after) << "case " << i << ": " << text;
    }

    // Both outcomes occur often enough to mean something.
    EXPECT_GT (accepted, 300);
    EXPECT_LT (accepted, 3700);
}

// Documents that differ from a plain one only in ways XML gives no meaning
// to, or in content the parameter tree does not use, load the same values and
// are written back as their plain form is.
TEST (State, WellFormedVariantsLoadAsTheirPlainForm)
{
    const std::string plain = "<ChorusID><PARAM id=\"chorus_depth\" value=\"7\"/><PARAM id=\"chorus_mix\" value=\"2.5\"/></ChorusID>";

    struct Case { const char* name; std::string variant, plainForm; };
    const Case cases[] = {
        { "white space", "\n<ChorusID >\r\n\t<PARAM\tid = 'chorus_depth'\r\n value=\"7\" />  "
                         "<PARAM id=\"chorus_mix\"\n value=\"2.5\"></PARAM>\n</ChorusID>\n ", plain },
        { "references", "<ChorusID><PARAM id=\"chorus&#95;depth\" value=\"&#x37;\"/><PARAM id=\"chorus_mix\" value=\"2&#46;5\"/></ChorusID>", plain },
        { "declaration, comments, sections and text",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!-- saved --><ChorusID><!-- <PARAM id=\"chorus_mix\" value=\"9\"/> -->"
          "<![CDATA[<PARAM id=\"chorus_mix\" value=\"9\"/>]]>text<PARAM id=\"chorus_depth\" value=\"7\"/>&lt;more&gt;"
          "<PARAM id=\"chorus_mix\" value=\"2.5\"/></ChorusID><!-- end --> ", plain },
        { "processing instructions", "<?app before?><ChorusID><?app <PARAM id=\"chorus_mix\" value=\"9\"/>?>text"
                                     "<PARAM id=\"chorus_depth\" value=\"7\"/><PARAM id=\"chorus_mix\" value=\"2.5\"/></ChorusID><?app after?>", plain },
        { "byte order mark", "\xef\xbb\xbf" + plain, plain },
        { "declared encoding ignored", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + plain, plain },
        { "attribute order", "<ChorusID><PARAM value=\"7\" id=\"chorus_depth\"/><PARAM id=\"chorus_mix\" value=\"2.5\"/></ChorusID>",
                             "<ChorusID><PARAM value=\"7\" id=\"chorus_depth\"/><PARAM id=\"chorus_mix\" value=\"2.5\"/></ChorusID>" },
        { "unknown content",
          "<ChorusID a='&lt;&amp;&gt;&quot;&apos;'><Other b=\"1\"><Deeper c=\"&#xE9;\"/>x</Other>"
          "<PARAM id=\"chorus_depth\" value=\"7\" note='say \"hi\"'/><PARAM id=\"chorus_mix\" value=\"2.5\"></PARAM></ChorusID>",
          "<ChorusID a=\"&lt;&amp;&gt;&quot;&apos;\"><Other b=\"1\"><Deeper c=\"\xc3\xa9\"/></Other>"
          "<PARAM id=\"chorus_depth\" value=\"7\" note=\"say &quot;hi&quot;\"/><PARAM id=\"chorus_mix\" value=\"2.5\"/></ChorusID>" },
    };

    for (const auto& c : cases)
    {
        Processor fromVariant, fromPlain;
        load (fromVariant, blockOfBytes (c.variant));
        load (fromPlain, blockOfBytes (c.plainForm));

        EXPECT_EQ (fromVariant.parameters.getRawParameterValue ("chorus_depth")->load(), 7.0f) << c.name;
        EXPECT_EQ (fromVariant.parameters.getRawParameterValue ("chorus_mix")->load(), 2.5f) << c.name;
        EXPECT_EQ (documentOf (save (fromVariant)), documentOf (save (fromPlain))) << c.name;
    }

    // The plain form of unknown content is written back as it was.
    Processor p;
    load (p, blockOfBytes (cases[std::size (cases) - 1].plainForm));
    const auto again = documentOf (save (p));
    EXPECT_TRUE (again.startsWith (juce::CharPointer_UTF8 ("<ChorusID a=\"&lt;&amp;&gt;&quot;'\"><Other b=\"1\"><Deeper c=\"&#233;\"/></Other>"
                                                           "<PARAM id=\"chorus_depth\" value=\"7\" note=\"say &quot;hi&quot;\"/>"))) << again;
}

// The framework turns an attribute under its "base64:" prefix into binary
// data of the byte count the text states, before reading a character of it.
// Kept when it is binary data as the framework writes it; otherwise left
// out, and the rest of the document loads.
TEST (State, BinaryAttributesAreKeptOnlyAsTheFrameworkWritesThem)
{
    const auto written = juce::MemoryBlock ("\x01\x02\xfe", 3).toBase64Encoding();

    struct Case { const char* name; juce::String value; bool kept; };
    const Case cases[] = {
        { "as written", written, true },
        { "empty", "0.", true },
        { "negative count", "-1.AAAA", false },
        { "count beyond memory", "2000000000.AB", false },
        { "count beyond an int", "99999999999.AB", false },
        { "count with a sign", "+3.AAAA", false },
        { "too few characters", "3.AB", false },
        { "too many characters", "1.ABCD", false },
        { "a character outside the alphabet", "3.AA/A", false },
        { "no count", ".AAAA", false },
    };

    for (const auto& c : cases)
    {
        const auto document = "<ChorusID base64:r=\"" + c.value + "\"><PARAM id=\"chorus_mix\" value=\"2\"/>"
                              "<Other><Deeper base64:b=\"" + c.value + "\"/></Other></ChorusID>";
        Processor p;
        load (p, blockFor (document));
        EXPECT_EQ (p.parameters.getRawParameterValue ("chorus_mix")->load(), 2.0f) << c.name;

        const auto again = documentOf (save (p));
        EXPECT_EQ (again.contains ("<ChorusID base64:r=\"" + c.value + "\">"), c.kept) << c.name << ": " << again;
        EXPECT_EQ (again.contains ("<Other><Deeper base64:b=\"" + c.value + "\"/></Other>"), c.kept) << c.name << ": " << again;
        EXPECT_TRUE (again.contains ("<Other><Deeper")) << c.name << ": " << again;
    }
}

namespace
{
    struct Hostile
    {
        const char* name;
        std::string (*text)();
    };

    // Blocks that crashed or froze a host through the framework's own XML
    // reader: deep nesting that a scan of the text missed, and one element
    // with tens of thousands of attributes. As they came (the larger are
    // refused for their size alone), and made small enough to be parsed.
    const Hostile hostileBlocks[] = {
        { "NestingBehindComment", [] { return StateBlocks::nestingBehindComment (35000); } },
        { "NestingBehindUnquotedValue", [] { return StateBlocks::nestingBehindUnquotedValue (35000); } },
        { "ManyAttributes", [] { return StateBlocks::manyAttributes (40000); } },
        { "NestingBehindCommentParsed", [] { return StateBlocks::nestingBehindComment (25000); } },
        { "ManyAttributesParsed", [] { return StateBlocks::manyAttributes (20000); } },
    };

    void PrintTo (const Hostile& block, std::ostream* out) { *out << block.name; }
}

class HostileBlock : public testing::TestWithParam<Hostile> {};

TEST_P (HostileBlock, IsRefusedAndTheEngineStillFollows)
{
    const auto text = GetParam().text();
    const auto block = StateBlocks::around (text);

    if (juce::String (GetParam().name).endsWith ("Parsed"))
    {
        ASSERT_LE (text.size(), (size_t) StateBlock::maxTextBytes);
    }

    ProcessorHarness h;
    h.prepare();
    h.set ("chorus_mix", 6.0f);
    h.processor.engine.mix = 0.5f;   // out of step with the parameter

    EXPECT_NE (ExpectedState::judge (block.getData(), (int) block.getSize()).verdict, ExpectedState::Verdict::accepted);
    load (h.processor, block);

    EXPECT_EQ (h.raw ("chorus_mix"), 6.0f);
    EXPECT_EQ (h.processor.engine.mix.load(), (float) (6.0 * 0.075));
}

INSTANTIATE_TEST_SUITE_P (State, HostileBlock, testing::ValuesIn (hostileBlocks),
                          [] (const testing::TestParamInfo<Hostile>& block) { return std::string (block.param.name); });

// Each limit of the reader: a document at the limit loads, one just beyond it
// is refused whole, and the independent reader draws the line at the same
// place.
TEST (State, LimitsAreGenerousAndFirm)
{
    const std::string param = "<PARAM id=\"chorus_mix\" value=\"1\"/>";

    const auto nestedTo = [&] (int depth)
    {
        return "<ChorusID>" + param + StateBlocks::repeated ("<a>", depth - 1) + StateBlocks::repeated ("</a>", depth - 1) + "</ChorusID>";
    };

    const auto elements = [&] (int count)
    {
        return "<ChorusID>" + param + StateBlocks::repeated ("<a/>", count - 2) + "</ChorusID>";
    };

    // ChorusID, PARAM, id, value and a, then names n0, n1, ... spread over
    // elements a of 32 attributes each.
    const auto names = [&] (int count)
    {
        std::string text = "<ChorusID>" + param;

        for (int i = 0; i < count - 5; ++i)
            text += (i % 32 == 0 ? (i == 0 ? "<a" : "/><a") : "") + std::string (" n") + std::to_string (i) + "=\"\"";

        return text + "/></ChorusID>";
    };

    const auto textOf = [&] (int bytes)
    {
        const auto document = "<ChorusID>" + param + "</ChorusID>";
        return document + std::string ((size_t) bytes - document.size(), ' ');
    };

    struct Case { const char* name; std::string atLimit, beyond; };
    const Case cases[] = {
        { "nesting", nestedTo (StateBlock::maxNesting), nestedTo (StateBlock::maxNesting + 1) },
        { "elements", elements (StateBlock::maxElements), elements (StateBlock::maxElements + 1) },
        { "attributes", StateBlocks::manyAttributes (StateBlock::maxAttributesPerElement - 2), StateBlocks::manyAttributes (StateBlock::maxAttributesPerElement - 1) },
        { "names", names (StateBlock::maxNames), names (StateBlock::maxNames + 1) },
        { "text", textOf (StateBlock::maxTextBytes), textOf (StateBlock::maxTextBytes + 1) },
    };

    for (const auto& c : cases)
    {
        for (const bool beyond : { false, true })
        {
            const auto block = blockOfBytes (beyond ? c.beyond : c.atLimit);
            ProcessorHarness h;
            h.set ("chorus_mix", 6.0f);

            const auto verdict = ExpectedState::judge (block.getData(), (int) block.getSize()).verdict;
            EXPECT_EQ (verdict, beyond ? ExpectedState::Verdict::refused : ExpectedState::Verdict::accepted) << c.name << (beyond ? " beyond" : "");

            load (h.processor, block);
            EXPECT_EQ (h.raw ("chorus_mix"), beyond ? 6.0f : 1.0f) << c.name << (beyond ? " beyond" : "");
        }
    }

    // The size limit is on the text: a larger block whose text ends early
    // (at its first zero byte) loads.
    auto text = textOf (1000);
    text += '\0';
    text += std::string ((size_t) StateBlock::maxTextBytes, ' ');
    ProcessorHarness h;
    load (h.processor, blockOfBytes (text));
    EXPECT_EQ (h.raw ("chorus_mix"), 1.0f);
}

// The C library's character classes depend on the locale, which the host
// sets, or not: nothing the reader decides may depend on them.
TEST (State, ReadingDoesNotDependOnTheLocale)
{
    struct Case { const char* name; const char* text; bool loads; };
    const Case cases[] = {
        { "non-ASCII attribute name", "<ChorusID><PARAM id=\"chorus_depth\" value=\"7\" not\xc3\xa4=\"x\"/></ChorusID>", true },
        { "ideographic space between attributes", "<ChorusID><PARAM id=\"chorus_depth\" value=\"7\"\xe3\x80\x80note=\"x\"/></ChorusID>", false },
        { "root matching only by a non-ASCII case mapping", "<Chorus\xc4\xb1" "D><PARAM id=\"chorus_depth\" value=\"7\"/></Chorus\xc4\xb1" "D>", false },
    };

    for (const auto* locale : { "C", "C.UTF-8" })
    {
        const ScopedLocale scoped (locale);
        ASSERT_TRUE (scoped.isSet) << locale;

        for (const auto& c : cases)
        {
            ProcessorHarness h;
            h.set ("chorus_depth", 4.0f);
            load (h.processor, blockOfBytes (c.text));
            EXPECT_EQ (h.raw ("chorus_depth"), c.loads ? 7.0f : 4.0f) << c.name << ", locale " << locale;

            if (c.loads)
            {
                EXPECT_TRUE (documentOf (save (h.processor)).contains (juce::CharPointer_UTF8 ("not\xc3\xa4=\"x\""))) << c.name << ", locale " << locale;
            }
        }
    }
}

//==============================================================================
// The editor's zoom in the saved state: an element of its own after the
// parameters, which states without it, and releases that do not know it,
// are not disturbed by.
namespace
{
    float plainValueOf (Processor& p, const char* id)
    {
        auto* parameter = p.parameters.getParameter (id);
        return parameter->convertFrom0to1 (parameter->getValue());
    }

    const juce::String parametersAsSaved =
        "<PARAM id=\"chorus_on\" value=\"0.00000000000000000000\"/>"
        "<PARAM id=\"chorus_depth\" value=\"3.30000000000000000000\"/>"
        "<PARAM id=\"chorus_speed\" value=\"7.10000000000000000000\"/>"
        "<PARAM id=\"chorus_mix\" value=\"0.40000000000000000000\"/>"
        "<PARAM id=\"stereo_proc\" value=\"0.00000000000000000000\"/>";

    /** A state as a release before the zoom wrote it, and as this one writes
        it with a zoom of 150%. */
    const juce::String earlierDocument = "<ChorusID>" + parametersAsSaved + "</ChorusID>";
    const juce::String documentWithZoom = "<ChorusID>" + parametersAsSaved + "<EDITOR zoom=\"150\"/></ChorusID>";

    void expectParametersAsSaved (Processor& p)
    {
        EXPECT_EQ (plainValueOf (p, "chorus_on"), 0.0f);
        EXPECT_FLOAT_EQ (plainValueOf (p, "chorus_depth"), 3.3f);
        EXPECT_FLOAT_EQ (plainValueOf (p, "chorus_speed"), 7.1f);
        EXPECT_FLOAT_EQ (plainValueOf (p, "chorus_mix"), 0.4f);
        EXPECT_EQ (plainValueOf (p, "stereo_proc"), 0.0f);
    }
}


TEST (EditorZoomState, AChosenZoomIsSavedAfterTheParametersAndRestored)
{
    Processor a;
    load (a, blockFor (earlierDocument));
    a.editorZoom = 1.5;

    const auto block = save (a);
    EXPECT_EQ (documentOf (block), documentWithZoom);

    Processor b;
    load (b, block);
    EXPECT_EQ (b.editorZoom.load(), 1.5);
    expectParametersAsSaved (b);
}

TEST (EditorZoomState, WithoutAChosenZoomTheStateIsWhatEarlierReleasesWrote)
{
    Processor a;
    load (a, blockFor (earlierDocument));
    EXPECT_EQ (a.editorZoom.load(), 0.0);
    EXPECT_EQ (documentOf (save (a)), earlierDocument);
}

TEST (EditorZoomState, AStateWithoutAZoomLeavesTheInstancesAsItWas)
{
    Processor fresh;
    load (fresh, blockFor (earlierDocument));
    EXPECT_EQ (fresh.editorZoom.load(), 0.0);
    expectParametersAsSaved (fresh);

    Processor zoomed;
    zoomed.editorZoom = 2.5;
    load (zoomed, blockFor (earlierDocument));
    EXPECT_EQ (zoomed.editorZoom.load(), 2.5);
    expectParametersAsSaved (zoomed);

    // A damaged block changes nothing either.
    load (zoomed, blockFor ("<ChorusID><EDITOR zoom=\"150\"/>"));
    EXPECT_EQ (zoomed.editorZoom.load(), 2.5);
}

TEST (EditorZoomState, StoredZoomsAreReadIntoTheRange)
{
    struct Case { const char* element; double zoom; };
    const Case cases[] =
    {
        { "<EDITOR zoom=\"200\"/>",            2.0 },
        { "<EDITOR zoom=\"137.5\"/>",          1.375 },
        { "<EDITOR zoom=\"1000\"/>",           3.0 },
        { "<EDITOR zoom=\"50\"/>",             1.0 },
        { "<EDITOR zoom=\"1e999\"/>",          3.0 },
        { "<EDITOR zoom=\"large\"/>",          0.0 },
        { "<EDITOR zoom=\"-150\"/>",           0.0 },
        { "<EDITOR zoom=\"nan\"/>",            0.0 },
        { "<EDITOR zoom=\"\"/>",               0.0 },
        { "<EDITOR size=\"200\"/>",            0.0 },
        { "<editor zoom=\"200\"/>",            0.0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.element);
        Processor p;
        load (p, blockFor ("<ChorusID>" + parametersAsSaved + c.element + "</ChorusID>"));
        EXPECT_EQ (p.editorZoom.load(), c.zoom);
        expectParametersAsSaved (p);
    }
}

TEST (EditorZoomState, WhatTheElementHoldsBesidesAZoomIsWrittenBack)
{
    // A zoom it cannot read stays as it was; anything else the element
    // holds, from a later release say, is kept beside a new zoom.
    Processor p;
    load (p, blockFor ("<ChorusID>" + parametersAsSaved + "<EDITOR zoom=\"large\" theme=\"dark\"/></ChorusID>"));
    EXPECT_EQ (documentOf (save (p)), "<ChorusID>" + parametersAsSaved + "<EDITOR zoom=\"large\" theme=\"dark\"/></ChorusID>");

    p.editorZoom = 2.0;
    EXPECT_EQ (documentOf (save (p)), "<ChorusID>" + parametersAsSaved + "<EDITOR zoom=\"200\" theme=\"dark\"/></ChorusID>");
}

// What a release that knows nothing of the zoom does with a state saved now:
// it reads the parameters, keeps the element and saves it back unchanged.
// This test uses nothing but the state's own interface, so that it can be
// run, as it is, against the code of such a release.
TEST (EditorZoomState, AStateWithAZoomLoadsAndSavesBackUnchanged)
{
    Processor p;
    load (p, blockFor (documentWithZoom));
    expectParametersAsSaved (p);
    EXPECT_EQ (documentOf (save (p)), documentWithZoom);

    // A parameter changed afterwards is saved as ever, the zoom beside it.
    auto* mix = p.parameters.getParameter ("chorus_mix");
    mix->setValueNotifyingHost (mix->convertTo0to1 (5.0f));
    EXPECT_EQ (documentOf (save (p)),
               juce::String (documentWithZoom).replace ("value=\"0.40000000000000000000\"", "value=\"5.00000000000000000000\""));
}
