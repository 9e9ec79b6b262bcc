// tessamune_artwork: draws Tessamune's front-panel pictures.
//
//   tessamune_artwork <output-folder>     write the seven PNG files and the
//                                         icons (in its folder icons/)
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

    if (problems.isEmpty())
    {
        std::cout << "artwork in " << folder.getFullPathName() << " matches the generator\n";
        return 0;
    }

    std::cerr << "artwork in " << folder.getFullPathName() << " does not match the generator:\n";

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

    const auto pictures = renderArtwork (fonts);
    const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile (args[args.size() - 1]);

    if (isSelfTest)
    {
        const auto failures = runSelfTest (pictures);
        std::cout << (failures == 0 ? "the check rejects every damaged copy\n" : "self-test failed\n");
        return failures == 0 ? 0 : 1;
    }

    return isCheck ? check (pictures, folder) : writeAll (pictures, folder);
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
