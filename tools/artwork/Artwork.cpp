#include "Artwork.h"

#include "Drawing.h"
#include "Layout.h"
#include "Painting.h"

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
    // into the background. The panel and the strip hold `scale` pixels per
    // panel pixel; the frames go downwards, or across.
    juce::Image renderStrip (const juce::Image& panel, juce::Rectangle<int> area, int frames, int scale, bool across,
                             const std::function<void (juce::Graphics&, int)>& drawFrame)
    {
        const auto pixels = area * scale;
        juce::Image strip (juce::Image::ARGB, pixels.getWidth() * (across ? frames : 1),
                           pixels.getHeight() * (across ? 1 : frames), true);

        for (int frame = 0; frame < frames; ++frame)
        {
            juce::Image patch (juce::Image::ARGB, pixels.getWidth(), pixels.getHeight(), true);
            copyPixels (panel, pixels, patch, {});

            {
                juce::Graphics g (patch);
                scaleToPictureGrid (g, scale);
                g.setOrigin (-area.getPosition());
                drawFrame (g, frame);
            }

            copyPixels (patch, patch.getBounds(), strip, across ? juce::Point<int> (frame * pixels.getWidth(), 0)
                                                               : juce::Point<int> (0, frame * pixels.getHeight()));
        }

        return strip;
    }

    Picture knobPicture (const juce::Image& panel, const char* fileName, juce::Rectangle<int> area, int scale)
    {
        const auto centre = knobCentre (area);
        const auto across = scale > 1;
        auto strip = renderStrip (panel, area, knobFrames, scale, across, [centre] (juce::Graphics& g, int frame)
        {
            drawKnob (g, centre, knobAngle (frame));
        });

        Picture picture { fileName, strip, knobFrames, true, true, area * scale };
        picture.framesAcross = across;
        return picture;
    }

    // Transparent frames stacked downwards, each drawn in panel units within
    // a cell of the given size.
    juce::Image renderTransparentStrip (juce::Rectangle<int> cell, int frames, int scale,
                                        const std::function<void (juce::Graphics&, juce::Rectangle<float>, int)>& drawFrame)
    {
        juce::Image strip (juce::Image::ARGB, cell.getWidth() * scale, cell.getHeight() * frames * scale, true);

        for (int frame = 0; frame < frames; ++frame)
        {
            juce::Graphics g (strip);
            scaleToPictureGrid (g, scale);
            drawFrame (g, cell.toFloat().withPosition (0.0f, (float) (frame * cell.getHeight())), frame);
        }

        return strip;
    }
}

juce::String fileNameAtScale (const juce::String& fileName, int scale)
{
    if (scale == 1)
        return fileName;

    return fileName.upToLastOccurrenceOf (".", false, false) + "@" + juce::String (scale) + "x"
         + fileName.fromLastOccurrenceOf (".", true, false);
}

std::vector<Picture> renderArtwork (const Fonts& fonts, int scale)
{
    const auto panel = renderBasePanel (fonts, scale);

    std::vector<Picture> pictures;
    pictures.push_back ({ "background.png", {}, 1, true, true, std::nullopt });

    pictures.push_back (knobPicture (panel, "knob_depth.png", depthKnobArea, scale));
    pictures.push_back (knobPicture (panel, "knob_speed.png", speedKnobArea, scale));
    pictures.push_back (knobPicture (panel, "knob_mix.png", mixKnobArea, scale));

    const auto lampCentre = lampArea.toFloat().getCentre();
    pictures.push_back ({ "chorus_led.png",
                          renderStrip (panel, lampArea, lampFrames, scale, false, [lampCentre] (juce::Graphics& g, int frame)
                          {
                              drawLamp (g, lampCentre, frame == 1);
                          }),
                          lampFrames, true, true, lampArea * scale });

    const auto switchCentre = footswitchArea.toFloat().getCentre();
    const auto switchStrip = renderStrip (panel, footswitchArea, footswitchFrames, scale, false,
                                          [switchCentre] (juce::Graphics& g, int frame)
                                          {
                                              drawFootswitch (g, switchCentre, frame == 1);
                                          });
    pictures.push_back ({ "footswitch.png", switchStrip.convertedToFormat (juce::Image::RGB),
                          footswitchFrames, false, true, footswitchArea * scale });

    pictures.push_back ({ "toggle_stereo.png",
                          renderTransparentStrip (toggleArea.withZeroOrigin(), toggleFrames, scale,
                                                  [] (juce::Graphics& g, juce::Rectangle<float> cell, int frame)
                                                  {
                                                      drawToggle (g, cell, frame == 1);
                                                  }),
                          toggleFrames, true, false, std::nullopt });

    const juce::String readout (readoutCharacters);
    pictures.push_back ({ "readout_digits.png",
                          renderTransparentStrip ({ readoutCellWidth, readoutCellHeight }, readout.length(), scale,
                                                  [&fonts, &readout] (juce::Graphics& g, juce::Rectangle<float> cell, int frame)
                                                  {
                                                      drawReadoutCharacter (g, fonts, readout[frame], cell);
                                                  }),
                          readout.length(), true, false, std::nullopt });

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

    for (auto& picture : pictures)
    {
        picture.fileName = fileNameAtScale (picture.fileName, scale);
        picture.scale = scale;
    }

    return pictures;
}

} // namespace tessamune::artwork
