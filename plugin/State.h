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
        number, text that is not UTF-8 or not XML, elements nested deeper
        than any of our documents would be, text that does not end with an
        element's closing ">", a document type declaration, or a processing
        instruction inside the elements (markup that the framework's reader
        mishandles). A length field larger than the
        block is cut to the bytes present, the text ends at its first zero
        byte, and a character cut off by the end is dropped. Safe for any
        bytes a host hands over. */
    std::unique_ptr<juce::XmlElement> read (const void* data, int sizeInBytes);

    /** Deepest element nesting accepted when reading; far above what a saved
        state holds, far below what would exhaust a host thread's stack. */
    constexpr int maxNesting = 64;
}
