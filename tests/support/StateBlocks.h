#pragma once

#include <juce_core/juce_core.h>

#include <string>

/**
    State blocks for the tests, the fuzzers' seeds and the benchmarks: the
    header around any bytes, and documents made to take a host down through
    its XML reader (deep nesting hidden where a scan of the text does not
    look for it, and one element with a great many attributes).
*/
namespace StateBlocks
{
    /** The magic "VC2!", a length field (the byte count plus lengthExtra),
        the bytes and, if asked for, the terminating zero. */
    inline juce::MemoryBlock around (const std::string& bytes, int lengthExtra = 0, bool terminator = true)
    {
        juce::MemoryBlock block;
        juce::MemoryOutputStream out (block, false);
        out.writeInt (0x21324356);
        out.writeInt ((int) bytes.size() + lengthExtra);
        out.write (bytes.data(), bytes.size());

        if (terminator)
            out.writeByte (0);

        out.flush();
        return block;
    }

    inline std::string repeated (const std::string& piece, int count)
    {
        std::string text;
        text.reserve (piece.size() * (size_t) count);

        for (int i = 0; i < count; ++i)
            text += piece;

        return text;
    }

    /** Elements nested `depth` deep after a comment full of "</", which a
        scan that counts tags everywhere takes for closing tags. */
    inline std::string nestingBehindComment (int depth)
    {
        return "<ChorusID><!--" + repeated ("</", depth) + "-->" + repeated ("<a>", depth)
             + repeated ("</a>", depth) + "</ChorusID>";
    }

    /** Elements nested `depth` deep after an unquoted attribute value: a
        lenient reader ends the value at the space, while a scan that knows
        only quoted values takes the rest of the tag for a string. */
    inline std::string nestingBehindUnquotedValue (int depth)
    {
        return "<ChorusID><x y=z \"" + repeated ("<a>", depth) + "\"/></ChorusID>";
    }

    /** A PARAM for chorus_mix (value 1) with `count` further attributes, all
        names different. */
    inline std::string manyAttributes (int count)
    {
        std::string text = "<ChorusID><PARAM id=\"chorus_mix\" value=\"1\"";

        for (int i = 0; i < count; ++i)
            text += " x" + std::to_string (i) + "=\"1\"";

        return text + "/></ChorusID>";
    }
}
