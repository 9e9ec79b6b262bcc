// The front-panel pictures, rendered in memory at one of the picture scales,
// and the application's icons.
#pragma once

#include "Fonts.h"

#include <juce_graphics/juce_graphics.h>

#include <optional>
#include <vector>

namespace tessamune::artwork
{
struct Picture
{
    juce::String fileName;
    juce::Image image;   // the whole picture; film strips have their frames stacked downwards,
                         // or side by side from the left where framesAcross is set
    int frames = 1;
    bool hasAlpha = true; // false: written as a PNG without an alpha channel
    bool opaque = true;   // every pixel fully opaque

    // For controls painted into the background: where the control sits on
    // the panel, in the picture's pixels. Frame 0 must equal the background
    // under this rectangle.
    std::optional<juce::Rectangle<int>> panelArea;

    // Pixels per panel pixel in each direction.
    int scale = 1;

    // Frames side by side rather than stacked: the knobs' strips above scale
    // 1, whose frames would otherwise be too far apart for PNG's compression
    // to find what one frame shares with the next (the panel around the knob).
    bool framesAcross = false;

    int frameWidth() const { return framesAcross ? image.getWidth() / frames : image.getWidth(); }
    int frameHeight() const { return framesAcross ? image.getHeight() : image.getHeight() / frames; }

    juce::Rectangle<int> frameArea (int frame) const
    {
        return framesAcross ? juce::Rectangle<int> (frame * frameWidth(), 0, frameWidth(), frameHeight())
                            : juce::Rectangle<int> (0, frame * frameHeight(), frameWidth(), frameHeight());
    }
};

// The sizes of the application's icons (square, in pixels): those of the
// desktops' hicolor icon theme.
inline constexpr int iconSizes[] = { 16, 22, 24, 32, 48, 64, 128, 256 };

// The file name of a picture at a scale: "knob_mix.png" at scale 1,
// "knob_mix@2x.png" at scale 2.
juce::String fileNameAtScale (const juce::String& fileName, int scale);

// Renders all pictures at one scale; the background comes first. At scale 1
// the icons (icons/icon-SIZE.png) follow the panel's pictures.
std::vector<Picture> renderArtwork (const Fonts& fonts, int scale);

} // namespace tessamune::artwork
