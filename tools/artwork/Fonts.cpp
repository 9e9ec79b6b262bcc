#include "Fonts.h"

#if TESSAMUNE_EMBEDDED_FONTS
 #include "RenderFonts.h"
#endif

namespace tessamune::artwork
{
namespace
{
    const char* const fontFolder = "/usr/share/fonts/truetype/dejavu";

    juce::Result loadFace (const char* fileName, juce::Typeface::Ptr& into)
    {
        juce::MemoryBlock data;

#if TESSAMUNE_EMBEDDED_FONTS
        // Built in where the system has no such font files (Windows).
        for (int i = 0; i < RenderFonts::namedResourceListSize; ++i)
        {
            if (juce::String (RenderFonts::originalFilenames[i]) == fileName)
            {
                int size = 0;
                const auto* bytes = RenderFonts::getNamedResource (RenderFonts::namedResourceList[i], size);
                data.replaceAll (bytes, (size_t) size);
            }
        }

        if (data.isEmpty())
            return juce::Result::fail (juce::String ("the font ") + fileName + " is not built in");

        into = juce::Typeface::createSystemTypefaceFor (data.getData(), data.getSize());

        if (into == nullptr || into->getName().isEmpty())
            return juce::Result::fail (juce::String ("cannot use the built-in font ") + fileName);

        return juce::Result::ok();
#endif

        const auto file = juce::File (fontFolder).getChildFile (fileName);

        if (! file.existsAsFile() || ! file.loadFileAsData (data) || data.isEmpty())
            return juce::Result::fail ("cannot read the font file " + file.getFullPathName()
                                       + " (install the Debian package fonts-dejavu-core)");

        into = juce::Typeface::createSystemTypefaceFor (data.getData(), data.getSize());

        if (into == nullptr || into->getName().isEmpty())
            return juce::Result::fail ("cannot use the font file " + file.getFullPathName());

        return juce::Result::ok();
    }
}

juce::Result Fonts::load (Fonts& into)
{
    for (auto [fileName, face] : { std::pair { "DejaVuSans.ttf", &into.sans },
                                   std::pair { "DejaVuSans-Bold.ttf", &into.sansBold },
                                   std::pair { "DejaVuSerif-Bold.ttf", &into.serifBold } })
    {
        if (auto result = loadFace (fileName, *face); result.failed())
            return result;
    }

    return juce::Result::ok();
}

} // namespace tessamune::artwork
