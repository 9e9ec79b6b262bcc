#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

/**
    The saved-state block: the magic "VC2!", a little-endian 32-bit length N,
    N bytes of one-line XML without a declaration, and a terminating zero byte
    (N = block size - 9).
*/
namespace StateBlock
{
    constexpr juce::uint32 magic = 0x21324356;   // "VC2!" read as little-endian

    /** Replaces the content of destData with the block for an XML element. */
    void write (const juce::XmlElement& xml, juce::MemoryBlock& destData);

    /** The XML element in a block, or nullptr for anything that is not one of
        ours: too short, another magic, a length of zero or less as a signed
        number, text that is not UTF-8, or not well-formed XML 1.0, a document
        type declaration, or a document beyond one of the limits below. A
        length field larger than the block is cut to the bytes present, the
        text ends at its first zero byte, and a character cut off by the end
        is dropped; the text is read as UTF-8 whatever its declaration says.
        The tree holds the elements and their attributes; text, comments and
        processing instructions are not kept. Safe for any bytes a host hands
        over, and no deeper than maxNesting, so that nothing that walks the
        tree (or the value tree made from it) recursively can exhaust a
        thread's stack. */
    std::unique_ptr<juce::XmlElement> read (const void* data, int sizeInBytes);

    /** The XML element of a document on its own, without the block's header,
        read as a block's text is (UTF-8, the limits below, the text ending at
        its first zero byte): for other small documents the plug-in reads,
        such as its settings file. nullptr for anything else. */
    std::unique_ptr<juce::XmlElement> readDocument (const char* text, size_t size);

    /*  The limits of what a block may hold, each far beyond what the plug-in
        writes (two levels, six elements, two attributes on an element, four
        names, about 300 bytes) or a project edited by hand would hold, and
        low enough that reading any block, or refusing it, stays quick and
        takes little memory. Beyond any of them the block is refused whole,
        as damaged. */

    /** Elements nested inside each other (the root alone is 1). */
    constexpr int maxNesting = 64;

    /** Elements in the document. */
    constexpr int maxElements = 10000;

    /** Attributes on one element. */
    constexpr int maxAttributesPerElement = 64;

    /** Different element and attribute names in the document. */
    constexpr int maxNames = 1024;

    /** Bytes of text (up to the first zero byte). */
    constexpr int maxTextBytes = 256 * 1024;
}
