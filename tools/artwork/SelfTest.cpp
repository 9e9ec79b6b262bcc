#include "SelfTest.h"

#include "Verify.h"

#include <functional>
#include <iostream>

namespace tessamune::artwork
{
namespace
{
    const Picture& find (const std::vector<Picture>& pictures, const juce::String& fileName)
    {
        for (const auto& picture : pictures)
            if (picture.fileName == fileName)
                return picture;

        jassertfalse;
        return pictures.front();
    }

    Picture& find (std::vector<Picture>& pictures, const juce::String& fileName)
    {
        return const_cast<Picture&> (find (std::as_const (pictures), fileName));
    }

    // Nudges the red channel of one pixel by one step.
    juce::Image withPixelNudged (const juce::Image& image, int x, int y)
    {
        auto copy = image.createCopy();
        const auto colour = copy.getPixelAt (x, y);
        copy.setPixelAt (x, y, juce::Colour::fromRGBA ((juce::uint8) (colour.getRed() ^ 1), colour.getGreen(),
                                                     colour.getBlue(), colour.getAlpha()));
        return copy;
    }

    struct EncodedFile
    {
        juce::String fileName;
        juce::MemoryBlock data;
    };

    void writeFiles (const std::vector<EncodedFile>& files, const juce::File& folder)
    {
        folder.createDirectory();

        for (const auto& file : files)
        {
            const auto destination = folder.getChildFile (file.fileName);
            destination.getParentDirectory().createDirectory();
            destination.replaceWithData (file.data.getData(), file.data.getSize());
        }
    }

    void rewrite (const juce::File& folder, const juce::String& fileName, const juce::MemoryBlock& data)
    {
        folder.getChildFile (fileName).replaceWithData (data.getData(), data.getSize());
    }

    bool mentions (const juce::StringArray& problems, const juce::String& fileName, const juce::String& words)
    {
        for (const auto& problem : problems)
            if (problem.startsWith (fileName + ":") && problem.containsIgnoreCase (words))
                return true;

        return false;
    }

    struct FileFault
    {
        const char* description;
        const char* fileName;
        const char* expectedWords;
        std::function<void (const std::vector<Picture>&, const juce::File&)> damage;
    };

    struct PictureFault
    {
        const char* description;
        const char* fileName;
        const char* expectedWords;
        std::function<void (std::vector<Picture>&)> damage;
    };
}

int runSelfTest (const std::vector<Picture>& pictures, const std::vector<Picture>& picturesAt2x)
{
    int failures = 0;
    const auto fail = [&failures] (const juce::String& text, const juce::StringArray& problems)
    {
        ++failures;
        std::cout << "FAIL: " << text << "\n";

        for (const auto& problem : problems)
            std::cout << "    reported: " << problem << "\n";
    };

    const auto encodeAll = [] (const std::vector<Picture>& set)
    {
        std::vector<EncodedFile> files;

        for (const auto& picture : set)
            files.push_back ({ picture.fileName, encodePng (picture.image) });

        return files;
    };

    const auto intactFiles = encodeAll (pictures);
    const auto intactFilesAt2x = encodeAll (picturesAt2x);

    const auto scratch = juce::File::getSpecialLocation (juce::File::tempDirectory)
                             .getNonexistentChildFile ("tessamune-artwork-check", {}, false);

    // Damage to the files on disk must be reported against the right file.
    const FileFault fileFaults[]
    {
        { "one pixel of the background off by one step", "background.png", "differ",
          [] (const auto& p, const auto& dir) { rewrite (dir, "background.png", encodePng (withPixelNudged (find (p, "background.png").image, 185, 270))); } },

        { "a pixel in the last knob frame changed", "knob_mix.png", "frame 64",
          [] (const auto& p, const auto& dir) { rewrite (dir, "knob_mix.png", encodePng (withPixelNudged (find (p, "knob_mix.png").image, 36, 64 * 73 + 20))); } },

        { "the lamp frames swapped", "chorus_led.png", "differ",
          [] (const auto& p, const auto& dir)
          {
              const auto& strip = find (p, "chorus_led.png").image;
              juce::Image swapped (juce::Image::ARGB, strip.getWidth(), strip.getHeight(), true);
              juce::Graphics g (swapped);
              g.drawImageAt (strip.getClippedImage ({ 0, 41, 39, 41 }), 0, 0);
              g.drawImageAt (strip.getClippedImage ({ 0, 0, 39, 41 }), 0, 41);
              rewrite (dir, "chorus_led.png", encodePng (swapped));
          } },

        { "the footswitch saved with an alpha channel", "footswitch.png", "colour type",
          [] (const auto& p, const auto& dir) { rewrite (dir, "footswitch.png", encodePng (find (p, "footswitch.png").image.convertedToFormat (juce::Image::ARGB))); } },

        { "a knob strip one frame short", "knob_speed.png", "size",
          [] (const auto& p, const auto& dir)
          {
              const auto& strip = find (p, "knob_speed.png").image;
              rewrite (dir, "knob_speed.png", encodePng (strip.getClippedImage ({ 0, 0, strip.getWidth(), strip.getHeight() - 73 }).createCopy()));
          } },

        { "a 16-bit header", "knob_depth.png", "bit depth",
          [] (const auto& p, const auto& dir)
          {
              auto data = encodePng (find (p, "knob_depth.png").image);
              static_cast<juce::uint8*> (data.getData())[24] = 16;
              rewrite (dir, "knob_depth.png", data);
          } },

        { "the toggle replaced by something that is not a PNG", "toggle_stereo.png", "not a PNG",
          [] (const auto&, const auto& dir) { dir.getChildFile ("toggle_stereo.png").replaceWithText ("GIF89a"); } },

        { "the lamp missing", "chorus_led.png", "missing",
          [] (const auto&, const auto& dir) { dir.getChildFile ("chorus_led.png").deleteFile(); } },

        { "an icon missing from its folder", "icons/icon-48.png", "missing",
          [] (const auto&, const auto& dir) { dir.getChildFile ("icons/icon-48.png").deleteFile(); } },

        { "an icon drawn at the wrong size", "icons/icon-32.png", "size",
          [] (const auto& p, const auto& dir) { rewrite (dir, "icons/icon-32.png", encodePng (find (p, "icons/icon-24.png").image)); } },
    };

    // Faults in how pictures fit together, which a generator bug would cause.
    const PictureFault pictureFaults[]
    {
        { "knob frame 0 not matching the background", "knob_depth.png", "frame 0",
          [] (auto& p) { auto& knob = find (p, "knob_depth.png"); knob.image = withPixelNudged (knob.image, 5, 5); } },

        { "footswitch frame 0 not matching the background", "footswitch.png", "frame 0",
          [] (auto& p) { auto& sw = find (p, "footswitch.png"); sw.image = withPixelNudged (sw.image, 50, 49); } },

        { "a see-through pixel in the background", "background.png", "not opaque",
          [] (auto& p) { auto& bg = find (p, "background.png"); bg.image = bg.image.createCopy(); bg.image.setPixelAt (0, 475, juce::Colours::transparentBlack); } },

        { "toggle ink touching the edge of its second frame", "toggle_stereo.png", "frame 1 is not transparent",
          [] (auto& p) { auto& t = find (p, "toggle_stereo.png"); t.image = t.image.createCopy(); t.image.setPixelAt (30, 39, juce::Colours::white); } },

        { "an empty toggle frame", "toggle_stereo.png", "frame 0 is empty",
          [] (auto& p) { auto& t = find (p, "toggle_stereo.png"); t.image = t.image.createCopy(); t.image.clear ({ 0, 0, 31, 20 }); } },

        { "icon ink touching its edge", "icons/icon-16.png", "frame 0 is not transparent",
          [] (auto& p) { auto& icon = find (p, "icons/icon-16.png"); icon.image = icon.image.createCopy(); icon.image.setPixelAt (0, 8, juce::Colours::white); } },
    };

    {
        const auto folder = scratch.getChildFile ("intact");
        writeFiles (intactFiles, folder);
        writeFiles (intactFilesAt2x, folder);

        if (const auto problems = verifyFolder (folder, pictures); ! problems.isEmpty())
            fail ("freshly written pictures were rejected", problems);

        if (const auto problems = verifyFolder (folder, picturesAt2x); ! problems.isEmpty())
            fail ("freshly written pictures at 2x were rejected", problems);
    }

    // A picture at the panel's own size where the 2x one belongs.
    {
        const auto folder = scratch.getChildFile ("wrong-scale");
        writeFiles (intactFilesAt2x, folder);
        rewrite (folder, "knob_depth@2x.png", encodePng (find (pictures, "knob_depth.png").image));

        if (const auto problems = verifyFolder (folder, picturesAt2x); ! mentions (problems, "knob_depth@2x.png", "size"))
            fail ("knob_depth.png saved as knob_depth@2x.png: expected a report on its size", problems);
    }

    for (const auto& fault : fileFaults)
    {
        const auto folder = scratch.getNonexistentChildFile ("damaged", {}, false);
        writeFiles (intactFiles, folder);
        fault.damage (pictures, folder);

        if (const auto problems = verifyFolder (folder, pictures); ! mentions (problems, fault.fileName, fault.expectedWords))
            fail (juce::String (fault.description) + ": expected a report on " + fault.fileName
                  + " mentioning \"" + fault.expectedWords + "\"", problems);
    }

    if (const auto problems = checkConsistency (pictures); ! problems.isEmpty())
        fail ("the generated pictures do not fit together", problems);

    if (const auto problems = checkConsistency (picturesAt2x); ! problems.isEmpty())
        fail ("the generated pictures at 2x do not fit together", problems);

    {
        // The controls' places on the background scale with the pictures.
        auto damaged = picturesAt2x;
        auto& knob = find (damaged, "knob_speed@2x.png");
        knob.image = withPixelNudged (knob.image, 140, 140);

        if (const auto problems = checkConsistency (damaged); ! mentions (problems, "knob_speed@2x.png", "frame 0"))
            fail ("2x knob frame 0 not matching the 2x background: expected a report on knob_speed@2x.png", problems);
    }

    for (const auto& fault : pictureFaults)
    {
        auto damaged = pictures;
        fault.damage (damaged);

        if (const auto problems = checkConsistency (damaged); ! mentions (problems, fault.fileName, fault.expectedWords))
            fail (juce::String (fault.description) + ": expected a report on " + fault.fileName
                  + " mentioning \"" + fault.expectedWords + "\"", problems);
    }

    scratch.deleteRecursively();
    return failures;
}

} // namespace tessamune::artwork
