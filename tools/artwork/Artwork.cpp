#include "Artwork.h"

#include "Drawing.h"
#include "Layout.h"
#include "Painting.h"

#include <cmath>
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

    // Shrinks an image by averaging, for each destination pixel, the source
    // pixels it covers, weighted by how much of each it covers. Works on
    // premultiplied values, so edges against transparency stay clean at any
    // ratio.
    juce::Image shrink (const juce::Image& source, int width, int height)
    {
        jassert (source.getFormat() == juce::Image::ARGB);

        juce::Image result (juce::Image::ARGB, width, height, true);
        const juce::Image::BitmapData from (source, juce::Image::BitmapData::readOnly);
        juce::Image::BitmapData to (result, juce::Image::BitmapData::writeOnly);
        const auto stepX = (double) source.getWidth() / width;
        const auto stepY = (double) source.getHeight() / height;

        for (int y = 0; y < height; ++y)
        {
            const auto top = y * stepY, bottom = (y + 1) * stepY;

            for (int x = 0; x < width; ++x)
            {
                const auto left = x * stepX, right = (x + 1) * stepX;
                double sum[4] = {};

                for (auto row = (int) top; row < juce::jmin (source.getHeight(), (int) std::ceil (bottom)); ++row)
                {
                    const auto coverY = juce::jmin (bottom, row + 1.0) - juce::jmax (top, (double) row);

                    for (auto column = (int) left; column < juce::jmin (source.getWidth(), (int) std::ceil (right)); ++column)
                    {
                        const auto weight = coverY * (juce::jmin (right, column + 1.0) - juce::jmax (left, (double) column));
                        const auto* pixel = reinterpret_cast<const juce::PixelARGB*> (from.getPixelPointer (column, row));
                        sum[0] += weight * pixel->getAlpha();
                        sum[1] += weight * pixel->getRed();
                        sum[2] += weight * pixel->getGreen();
                        sum[3] += weight * pixel->getBlue();
                    }
                }

                const auto area = stepX * stepY;
                const auto channel = [&] (int i) { return (juce::uint8) juce::jlimit (0, 255, juce::roundToInt (sum[i] / area)); };
                auto* pixel = reinterpret_cast<juce::PixelARGB*> (to.getPixelPointer (x, y));
                pixel->setARGB (channel (0), channel (1), channel (2), channel (3));
            }
        }

        return result;
    }

    // The application's icons: the pedal cut out of the panel along its
    // rounded outline, shrunk to fit a transparent square with a margin.
    void addIcons (std::vector<Picture>& pictures, const juce::Image& background)
    {
        const auto area = pedalBody.getSmallestIntegerContainer();
        juce::Image pedal (juce::Image::ARGB, area.getWidth(), area.getHeight(), true);

        {
            juce::Graphics g (pedal);
            g.setFillType (juce::FillType (background, juce::AffineTransform::translation (-area.getPosition().toFloat())));
            juce::Path outline;
            outline.addRoundedRectangle (pedalBody - area.getPosition().toFloat(), pedalCornerRadius);
            g.fillPath (outline);
        }

        for (const auto size : iconSizes)
        {
            const auto margin = juce::jmax (1, juce::roundToInt (size / 32.0));
            const auto height = size - 2 * margin;
            const auto width = juce::jmax (1, juce::roundToInt (height * pedal.getWidth() / (double) pedal.getHeight()));
            const auto shrunk = shrink (pedal, width, height);

            juce::Image icon (juce::Image::ARGB, size, size, true);
            juce::Graphics (icon).drawImageAt (shrunk, (size - width) / 2, margin);
            pictures.push_back ({ "icons/icon-" + juce::String (size) + ".png", icon, 1, true, false, std::nullopt });
        }
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

    // The icons have sizes of their own: drawn once, with the pictures at 1x.
    if (scale == 1)
        addIcons (pictures, background);

    return pictures;
}

} // namespace tessamune::artwork
