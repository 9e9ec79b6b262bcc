#include "Verify.h"

namespace tessamune::artwork
{
namespace
{
    std::uint32_t bigEndian32 (const juce::uint8* bytes)
    {
        return ((std::uint32_t) bytes[0] << 24) | ((std::uint32_t) bytes[1] << 16)
             | ((std::uint32_t) bytes[2] << 8) | (std::uint32_t) bytes[3];
    }

    juce::String describe (juce::Point<int> p) { return "(" + juce::String (p.x) + ", " + juce::String (p.y) + ")"; }

    juce::String pixelCount (int count) { return juce::String (count) + (count == 1 ? " pixel" : " pixels"); }

    juce::Image decodePng (const juce::MemoryBlock& data)
    {
        juce::MemoryInputStream stream (data, false);
        return juce::PNGImageFormat().decodeImage (stream);
    }
}

std::optional<PngHeader> readPngHeader (const juce::MemoryBlock& data)
{
    static const juce::uint8 signature[] { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };

    // Signature, then the IHDR chunk: length, type, 13 bytes of fields.
    if (data.getSize() < 8 + 8 + 13 || std::memcmp (data.getData(), signature, sizeof (signature)) != 0)
        return std::nullopt;

    const auto* bytes = static_cast<const juce::uint8*> (data.getData());

    if (bigEndian32 (bytes + 8) != 13 || std::memcmp (bytes + 12, "IHDR", 4) != 0)
        return std::nullopt;

    PngHeader header;
    header.width = (int) bigEndian32 (bytes + 16);
    header.height = (int) bigEndian32 (bytes + 20);
    header.bitDepth = bytes[24];
    header.colourType = bytes[25];
    header.interlace = bytes[28];
    return header;
}

juce::MemoryBlock encodePng (const juce::Image& image)
{
    juce::MemoryOutputStream stream;
    juce::PNGImageFormat().writeImageToStream (image, stream);
    return stream.getMemoryBlock();
}

std::optional<Difference> compareImages (const juce::Image& a, juce::Rectangle<int> areaOfA,
                                         const juce::Image& b, juce::Rectangle<int> areaOfB)
{
    jassert (areaOfA.getWidth() == areaOfB.getWidth() && areaOfA.getHeight() == areaOfB.getHeight());

    const juce::Image::BitmapData pixelsA (a, juce::Image::BitmapData::readOnly);
    const juce::Image::BitmapData pixelsB (b, juce::Image::BitmapData::readOnly);
    std::optional<Difference> difference;

    for (int y = 0; y < areaOfA.getHeight(); ++y)
    {
        for (int x = 0; x < areaOfA.getWidth(); ++x)
        {
            const auto colourA = pixelsA.getPixelColour (areaOfA.getX() + x, areaOfA.getY() + y).getARGB();
            const auto colourB = pixelsB.getPixelColour (areaOfB.getX() + x, areaOfB.getY() + y).getARGB();

            if (colourA != colourB)
            {
                if (! difference.has_value())
                    difference = Difference { { x, y }, 0 };

                ++difference->count;
            }
        }
    }

    return difference;
}

juce::StringArray checkFileContents (const Picture& expected, const juce::MemoryBlock& data)
{
    juce::StringArray problems;
    const auto problem = [&] (const juce::String& text) { problems.add (expected.fileName + ": " + text); };

    const auto header = readPngHeader (data);

    if (! header.has_value())
    {
        problem ("not a PNG file");
        return problems;
    }

    const auto wantedColourType = expected.hasAlpha ? pngColourTypeRgba : pngColourTypeRgb;

    if (header->width != expected.image.getWidth() || header->height != expected.image.getHeight())
        problem ("size is " + juce::String (header->width) + " x " + juce::String (header->height)
                 + ", should be " + juce::String (expected.image.getWidth()) + " x " + juce::String (expected.image.getHeight()));

    if (header->bitDepth != 8)
        problem ("bit depth is " + juce::String (header->bitDepth) + ", should be 8");

    if (header->colourType != wantedColourType)
        problem ("colour type is " + juce::String (header->colourType) + ", should be "
                 + juce::String (wantedColourType) + (expected.hasAlpha ? " (RGBA)" : " (RGB)"));

    if (header->interlace != 0)
        problem ("is interlaced");

    if (! problems.isEmpty())
        return problems;

    const auto decoded = decodePng (data);

    if (! decoded.isValid() || decoded.getBounds() != expected.image.getBounds())
    {
        problem ("cannot be decoded");
        return problems;
    }

    // Opaque pixels come back from a PNG exactly as drawn. Translucent ones
    // are stored unpremultiplied and rounded, so those are compared with the
    // drawn picture after the same trip through PNG.
    const auto reference = expected.opaque ? expected.image : decodePng (encodePng (expected.image));

    if (const auto difference = compareImages (decoded, decoded.getBounds(), reference, reference.getBounds()))
    {
        const auto frame = expected.framesAcross ? difference->first.x / expected.frameWidth()
                                                 : difference->first.y / expected.frameHeight();
        problem ("differs from the generated picture in " + pixelCount (difference->count) + ", the first at "
                 + describe (difference->first) + " (frame " + juce::String (frame) + ")");
    }

    return problems;
}

juce::StringArray checkConsistency (const std::vector<Picture>& pictures)
{
    juce::StringArray problems;

    if (pictures.empty())
        return problems;

    const auto& background = pictures.front().image;

    for (const auto& picture : pictures)
    {
        const auto problem = [&] (const juce::String& text) { problems.add (picture.fileName + ": " + text); };
        const auto& image = picture.image;
        const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readOnly);

        if (picture.opaque)
        {
            int seeThrough = 0;

            for (int y = 0; y < image.getHeight(); ++y)
                for (int x = 0; x < image.getWidth(); ++x)
                    if (pixels.getPixelColour (x, y).getAlpha() != 255)
                        ++seeThrough;

            if (seeThrough > 0)
                problem ("has " + pixelCount (seeThrough) + " that are not opaque");
        }
        else
        {
            // The symbol must not touch the edge of its frame, and must be there.
            for (int frame = 0; frame < picture.frames; ++frame)
            {
                const auto area = picture.frameArea (frame);
                int edgeInk = 0, ink = 0;

                for (int y = area.getY(); y < area.getBottom(); ++y)
                {
                    for (int x = area.getX(); x < area.getRight(); ++x)
                    {
                        if (pixels.getPixelColour (x, y).getAlpha() == 0)
                            continue;

                        ++ink;
                        const auto onEdge = x == area.getX() || x == area.getRight() - 1
                                         || y == area.getY() || y == area.getBottom() - 1;
                        edgeInk += onEdge ? 1 : 0;
                    }
                }

                if (edgeInk > 0)
                    problem ("frame " + juce::String (frame) + " is not transparent at its edge");

                if (ink == 0)
                    problem ("frame " + juce::String (frame) + " is empty");
            }
        }

        if (picture.panelArea.has_value())
        {
            const auto area = *picture.panelArea;

            if (! background.getBounds().contains (area) || picture.frameWidth() != area.getWidth()
                || picture.frameHeight() != area.getHeight())
            {
                problem ("frame size does not match the control's place on the background");
            }
            else if (const auto difference = compareImages (image, area.withPosition (0, 0), background, area))
            {
                problem ("frame 0 differs from the background under the control in " + pixelCount (difference->count)
                         + ", the first at " + describe (difference->first));
            }
        }
    }

    return problems;
}

juce::StringArray verifyFolder (const juce::File& folder, const std::vector<Picture>& expected)
{
    juce::StringArray problems;
    std::vector<Picture> found;

    for (const auto& picture : expected)
    {
        const auto file = folder.getChildFile (picture.fileName);
        juce::MemoryBlock data;

        if (! file.existsAsFile())
        {
            problems.add (picture.fileName + ": missing from " + folder.getFullPathName());
            continue;
        }

        if (! file.loadFileAsData (data))
        {
            problems.add (picture.fileName + ": cannot be read");
            continue;
        }

        const auto fileProblems = checkFileContents (picture, data);
        problems.addArray (fileProblems);

        if (fileProblems.isEmpty())
        {
            auto decoded = picture;
            decoded.image = decodePng (data);
            found.push_back (decoded);
        }
    }

    // The relations between pictures are checked on the files themselves,
    // and only when the background could be read.
    if (! found.empty() && found.front().fileName == expected.front().fileName)
        problems.addArray (checkConsistency (found));

    return problems;
}

} // namespace tessamune::artwork
