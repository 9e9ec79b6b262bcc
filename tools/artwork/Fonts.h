// The typefaces used for the lettering, read from fixed font files so the
// pictures come out the same whatever fonts a machine has installed.
#pragma once

#include <juce_graphics/juce_graphics.h>

namespace tessamune::artwork
{
struct Fonts
{
    juce::Typeface::Ptr sans;
    juce::Typeface::Ptr sansBold;
    juce::Typeface::Ptr serifBold;

    // Loads the DejaVu faces from /usr/share/fonts/truetype/dejavu (Debian
    // package fonts-dejavu-core); fails with a message naming a missing file.
    static juce::Result load (Fonts& into);
};

} // namespace tessamune::artwork
