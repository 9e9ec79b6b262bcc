// The seven front-panel pictures and the application's icons, rendered in
// memory.
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
    juce::Image image;   // the whole picture; film strips have their frames stacked downwards
    int frames = 1;
    bool hasAlpha = true; // false: written as a PNG without an alpha channel
    bool opaque = true;   // every pixel fully opaque

    // For controls painted into the background: where the control sits on
    // the panel. Frame 0 must equal the background under this rectangle.
    std::optional<juce::Rectangle<int>> panelArea;

    int frameHeight() const { return image.getHeight() / frames; }
};

// The sizes of the application's icons (square, in pixels): those of the
// desktops' hicolor icon theme.
inline constexpr int iconSizes[] = { 16, 22, 24, 32, 48, 64, 128, 256 };

// Renders all pictures; background.png comes first, the icons
// (icons/icon-SIZE.png) last.
std::vector<Picture> renderArtwork (const Fonts& fonts);

} // namespace tessamune::artwork
