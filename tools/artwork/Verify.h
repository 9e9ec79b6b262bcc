// Checking written pictures against what the generator draws.
#pragma once

#include "Artwork.h"

#include <optional>

namespace tessamune::artwork
{
struct PngHeader
{
    int width = 0, height = 0, bitDepth = 0, colourType = 0, interlace = 0;
};

constexpr int pngColourTypeRgb  = 2;
constexpr int pngColourTypeRgba = 6;

// Reads the image header of PNG data; nothing if the data is not a PNG.
std::optional<PngHeader> readPngHeader (const juce::MemoryBlock& data);

juce::MemoryBlock encodePng (const juce::Image& image);

// The first pixel (if any) where two images differ, and how many do.
struct Difference
{
    juce::Point<int> first;
    int count = 0;
};

std::optional<Difference> compareImages (const juce::Image& a, juce::Rectangle<int> areaOfA,
                                         const juce::Image& b, juce::Rectangle<int> areaOfB);

// Problems with one file's contents: header, size, colour type, and pixels
// compared with the picture as the generator draws it.
juce::StringArray checkFileContents (const Picture& expected, const juce::MemoryBlock& data);

// Problems in how the pictures fit together: opaque pictures have no
// transparent pixels, the toggle is transparent around its rings, and
// frame 0 of each painted control equals the background under it.
// The first picture must be the background.
juce::StringArray checkConsistency (const std::vector<Picture>& pictures);

// Everything above for the files in a folder.
juce::StringArray verifyFolder (const juce::File& folder, const std::vector<Picture>& expected);

} // namespace tessamune::artwork
