#include "plugin/ProcessorHarness.h"

#include "plugin/State.h"

#include <gtest/gtest.h>

#include <random>

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

    /** A block around any text, with a correct header. */
    juce::MemoryBlock blockFor (const juce::String& text)
    {
        juce::MemoryBlock block;
        juce::MemoryOutputStream out (block, false);
        out.writeInt ((int) StateBlock::magic);
        out.writeInt ((int) text.getNumBytesAsUTF8());
        out << text;
        out.writeByte (0);
        out.flush();
        return block;
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
    // beyond the block is cut to the bytes present.
    const juce::String doc ("<chorusid><PARAM id=\"chorus_mix\" value=\"2.5\"/><PARAM id=\"chorus_on\" value=\"0.00000000000000000000\"/></chorusid>");

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
    for (int i = 0; i < 100000; ++i)
        deep << "<a>";

    const std::pair<const char*, juce::MemoryBlock> cases[] = {
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
    };

    for (const auto& [name, block] : cases)
    {
        ProcessorHarness h;
        h.prepare();
        h.set ("chorus_mix", 6.0f);
        h.processor.engine.mix = 0.5f;   // out of step with the parameter

        load (h.processor, block);
        EXPECT_EQ (h.raw ("chorus_mix"), 6.0f) << name;
        EXPECT_EQ (h.processor.engine.mix.load(), (float) (6.0 * 0.075)) << name;
    }

    Processor p;
    p.setStateInformation (nullptr, 100);
}

TEST (State, LoadedValuesEndLegal)
{
    struct Case { const char* text; float plain; };
    const Case cases[] = {
        { "nan", 10.0f }, { "inf", 10.0f }, { "-inf", 10.0f }, { "1e39", 10.0f },
        { "-5", 0.0f }, { "abc", 0.0f }, { "12", 10.0f }, { "3.33", 3.3f }, { "", 0.0f },
    };

    for (const auto& c : cases)
    {
        ProcessorHarness h;
        h.prepare();
        load (h.processor, blockFor (juce::String ("<ChorusID><PARAM id=\"chorus_mix\" value=\"") + c.text + "\"/></ChorusID>"));

        EXPECT_EQ (h.raw ("chorus_mix"), c.plain) << c.text;
        EXPECT_EQ (h.parameter ("chorus_mix").getValue(), c.plain / 10.0f) << c.text;
        const auto mix = h.processor.engine.mix.load();
        EXPECT_TRUE (mix >= 0.0f && mix <= 0.75f) << c.text;
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

TEST (State, RandomBytesNeverCrash)
{
    std::mt19937 random (1234);
    const auto good = blockFor (defaultDocument);

    for (int i = 0; i < 3000; ++i)
    {
        auto block = good;
        auto* bytes = static_cast<juce::uint8*> (block.getData());
        const int flips = 1 + (int) (random() % 8);

        for (int f = 0; f < flips; ++f)
            bytes[8 + random() % (block.getSize() - 8)] = (juce::uint8) random();

        const int size = (int) (random() % (block.getSize() + 1));
        Processor p;
        p.setStateInformation (block.getData(), size);

        for (auto* param : p.getParameters())
            ASSERT_TRUE (param->getValue() >= 0.0f && param->getValue() <= 1.0f);
    }
}
