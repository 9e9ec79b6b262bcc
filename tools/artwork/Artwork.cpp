#include "Artwork.h"

#include "Drawing.h"
#include "Layout.h"

#include <cstring>
#include <functional>

namespace tessamune::artwork
{
namespace
{
    // Copies a rectangle of pixels between two images of the same format.
    void copyPixels (const juce::Image& source, juce::Rectangle<int> sourceArea,
                     juce::Image& destination, juce::Point<int> destinationPosition)
    {
        jassert (source.getFormat() == destination.getFormat());

        const juce::Image::BitmapData from (source, juce::Image::BitmapData::readOnly);
        juce::Image::BitmapData to (destination, juce::Image::BitmapData::writeOnly);
        const auto rowBytes = (size_t) (sourceArea.getWidth() * from.pixelStride);

        for (int row = 0; row < sourceArea.getHeight(); ++row)
            std::memcpy (to.getPixelPointer (destinationPosition.x, destinationPosition.y + row),
                         from.getPixelPointer (sourceArea.getX(), sourceArea.getY() + row),
                         rowBytes);
    }

    // A film strip for a control painted over the panel: every frame starts
    // as a copy of the panel patch under the control's rectangle, and the
    // control is then drawn in panel coordinates, so frame 0 fits seamlessly
    // into the background.
    juce::Image renderStrip (const juce::Image& panel, juce::Rectangle<int> area, int frames,
                             const std::function<void (juce::Graphics&, int)>& drawFrame)
    {
        juce::Image strip (juce::Image::ARGB, area.getWidth(), area.getHeight() * frames, true);

        for (int frame = 0; frame < frames; ++frame)
        {
            juce::Image patch (juce::Image::ARGB, area.getWidth(), area.getHeight(), true);
            copyPixels (panel, area, patch, {});

            {
                juce::Graphics g (patch);
                g.setOrigin (-area.getPosition());
                drawFrame (g, frame);
            }

            copyPixels (patch, patch.getBounds(), strip, { 0, frame * area.getHeight() });
        }

        return strip;
    }

    Picture knobPicture (const juce::Image& panel, const char* fileName, juce::Rectangle<int> area)
    {
        const auto centre = knobCentre (area);
        auto strip = renderStrip (panel, area, knobFrames, [centre] (juce::Graphics& g, int frame)
        {
            drawKnob (g, centre, knobAngle (frame));
        });

        return { fileName, strip, knobFrames, true, true, area };
    }
}

std::vector<Picture> renderArtwork (const Fonts& fonts)
{
    const auto panel = renderBasePanel (fonts);

    std::vector<Picture> pictures;
    pictures.push_back ({ "background.png", {}, 1, true, true, std::nullopt });

    pictures.push_back (knobPicture (panel, "knob_depth.png", depthKnobArea));
    pictures.push_back (knobPicture (panel, "knob_speed.png", speedKnobArea));
    pictures.push_back (knobPicture (panel, "knob_mix.png", mixKnobArea));

    const auto lampCentre = lampArea.toFloat().getCentre();
    pictures.push_back ({ "chorus_led.png",
                          renderStrip (panel, lampArea, lampFrames, [lampCentre] (juce::Graphics& g, int frame)
                          {
                              drawLamp (g, lampCentre, frame == 1);
                          }),
                          lampFrames, true, true, lampArea });

    const auto switchCentre = footswitchArea.toFloat().getCentre();
    const auto switchStrip = renderStrip (panel, footswitchArea, footswitchFrames,
                                          [switchCentre] (juce::Graphics& g, int frame)
                                          {
                                              drawFootswitch (g, switchCentre, frame == 1);
                                          });
    pictures.push_back ({ "footswitch.png", switchStrip.convertedToFormat (juce::Image::RGB),
                          footswitchFrames, false, true, footswitchArea });

    juce::Image toggle (juce::Image::ARGB, toggleArea.getWidth(), toggleArea.getHeight() * toggleFrames, true);

    for (int frame = 0; frame < toggleFrames; ++frame)
    {
        juce::Graphics g (toggle);
        drawToggle (g, toggleArea.toFloat().withPosition (0.0f, (float) (frame * toggleArea.getHeight())), frame == 1);
    }

    pictures.push_back ({ "toggle_stereo.png", toggle, toggleFrames, true, false, std::nullopt });

    // The background is the panel with every painted control in its frame-0 state.
    auto background = panel.createCopy();

    for (const auto& picture : pictures)
    {
        if (! picture.panelArea.has_value())
            continue;

        const auto frameZero = picture.image.getFormat() == background.getFormat()
                                   ? picture.image
                                   : picture.image.convertedToFormat (background.getFormat());
        copyPixels (frameZero, picture.panelArea->withPosition (0, 0), background, picture.panelArea->getPosition());
    }

    pictures.front().image = background;
    return pictures;
}

} // namespace tessamune::artwork
