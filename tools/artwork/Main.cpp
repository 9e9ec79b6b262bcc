// tessamune_artwork: draws Tessamune's front-panel pictures, each at the
// panel's own size and at two and three times that (NAME.png, NAME@2x.png,
// NAME@3x.png).
//
//   tessamune_artwork <output-folder>     write the PNG files, the icons in
//                                         its folder icons/
//   tessamune_artwork --check <folder>    verify the files in <folder> against
//                                         a fresh in-memory rendering
//   tessamune_artwork --self-test         make sure --check notices damage
//
// The drawing is deterministic: no clock, no randomness from an unknown start, and the
// lettering comes from fixed font files installed by the Debian package
// fonts-dejavu-core (/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf,
// DejaVuSans-Bold.ttf and DejaVuSerif-Bold.ttf).

#include "Artwork.h"
#include "Fonts.h"
#include "Layout.h"
#include "SelfTest.h"
#include "Verify.h"

#include <juce_events/juce_events.h>

#include <iostream>

namespace
{
using namespace tessamune::artwork;

int usage()
{
    std::cerr << "usage: tessamune_artwork <output-folder>\n"
                 "       tessamune_artwork --check <folder>\n"
                 "       tessamune_artwork --self-test\n";
    return 2;
}

int writeAll (const std::vector<Picture>& pictures, const juce::File& folder)
{
    if (! folder.createDirectory())
    {
        std::cerr << "tessamune_artwork: cannot create " << folder.getFullPathName() << "\n";
        return 1;
    }

    for (const auto& picture : pictures)
    {
        const auto data = encodePng (picture.image);
        const auto file = folder.getChildFile (picture.fileName);

        if (data.isEmpty() || ! file.getParentDirectory().createDirectory() || ! file.replaceWithData (data.getData(), data.getSize()))
        {
            std::cerr << "tessamune_artwork: cannot write " << file.getFullPathName() << "\n";
            return 1;
        }

        std::cout << "wrote " << file.getFullPathName() << " (" << picture.image.getWidth() << " x "
                  << picture.image.getHeight() << ")\n";
    }

    return 0;
}

int check (const std::vector<Picture>& pictures, const juce::File& folder)
{
    const auto problems = verifyFolder (folder, pictures);
    const auto scale = "at scale " + juce::String (pictures.front().scale);

    if (problems.isEmpty())
    {
        std::cout << "artwork in " << folder.getFullPathName() << " matches the generator " << scale << "\n";
        return 0;
    }

    std::cerr << "artwork in " << folder.getFullPathName() << " does not match the generator " << scale << ":\n";

    for (const auto& problem : problems)
        std::cerr << "  " << problem << "\n";

    std::cerr << "re-run tessamune_artwork " << folder.getFullPathName() << " to regenerate it\n";
    return 1;
}

int run (const juce::StringArray& args)
{
    const auto isCheck = args.size() == 2 && args[0] == "--check";
    const auto isSelfTest = args.size() == 1 && args[0] == "--self-test";
    const auto isWrite = args.size() == 1 && ! args[0].startsWith ("-");

    if (! (isCheck || isSelfTest || isWrite))
        return usage();

    Fonts fonts;

    if (const auto loaded = Fonts::load (fonts); loaded.failed())
    {
        std::cerr << "tessamune_artwork: " << loaded.getErrorMessage() << "\n";
        return 1;
    }

    if (isSelfTest)
    {
        const auto failures = runSelfTest (renderArtwork (fonts, 1), renderArtwork (fonts, 2));
        std::cout << (failures == 0 ? "the check rejects every damaged copy\n" : "self-test failed\n");
        return failures == 0 ? 0 : 1;
    }

    const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile (args[args.size() - 1]);
    int result = 0;

    // One scale at a time: the pictures at 3x alone take some 100 MB.
    for (const auto scale : pictureScales)
    {
        const auto pictures = renderArtwork (fonts, scale);
        result = std::max (result, isCheck ? check (pictures, folder) : writeAll (pictures, folder));

        if (result != 0 && ! isCheck)
            break;
    }

    return result;
}
} // namespace

int main (int argc, char* argv[])
{
    const juce::ScopedJuceInitialiser_GUI juceInitialiser;

    juce::StringArray args;

    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));

    return run (args);
}
