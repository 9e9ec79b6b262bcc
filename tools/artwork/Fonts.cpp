#include "Fonts.h"

namespace tessamune::artwork
{
namespace
{
    const char* const fontFolder = "/usr/share/fonts/truetype/dejavu";

    juce::Result loadFace (const char* fileName, juce::Typeface::Ptr& into)
    {
        const auto file = juce::File (fontFolder).getChildFile (fileName);
        juce::MemoryBlock data;

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
