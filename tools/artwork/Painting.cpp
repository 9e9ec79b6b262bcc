#include "Painting.h"

namespace tessamune::artwork
{
juce::Path lettering (const juce::Typeface::Ptr& face, const juce::String& text,
                      float fontHeight, float extraKerning)
{
    const auto font = juce::Font (face).withHeight (fontHeight).withExtraKerningFactor (extraKerning);

    juce::GlyphArrangement glyphs;
    glyphs.addLineOfText (font, text, 0.0f, 0.0f);

    juce::Path path;
    glyphs.createPath (path);
    return path;
}

juce::Path letteringCentredAt (const juce::Typeface::Ptr& face, const juce::String& text,
                               float fontHeight, float extraKerning, juce::Point<float> centre)
{
    auto path = lettering (face, text, fontHeight, extraKerning);
    const auto ink = path.getBounds();
    path.applyTransform (juce::AffineTransform::translation (centre - ink.getCentre()));
    return path;
}

void scaleToPictureGrid (juce::Graphics& g, int scale)
{
    // At scale 1 the context is left exactly as it was.
    if (scale != 1)
        g.addTransform (juce::AffineTransform::scale ((float) scale));
}

void blurredShadow (juce::Graphics& g, const juce::Path& shape, juce::Colour colour,
                    int radius, juce::Point<int> offset)
{
    const auto scale = g.getInternalContext().getPhysicalPixelScaleFactor();

    if (scale == 1.0f)
    {
        juce::DropShadow (colour, radius, offset).drawForPath (g, shape);
        return;
    }

    // The shadow is made in the picture's pixels: a shadow blurred at panel
    // resolution and then enlarged would show its coarser grid.
    auto onGrid = shape;
    onGrid.applyTransform (juce::AffineTransform::scale (scale));

    juce::Graphics::ScopedSaveState state (g);
    g.addTransform (juce::AffineTransform::scale (1.0f / scale));
    juce::DropShadow (colour, juce::roundToInt ((float) radius * scale),
                      (offset.toFloat() * scale).roundToInt()).drawForPath (g, onGrid);
}

void roundShadow (juce::Graphics& g, juce::Point<float> centre, float radius,
                  float innerFraction, juce::Colour colour)
{
    g.setGradientFill (radialGradient (centre, radius,
                                       { { 0.0f, colour },
                                         { innerFraction, colour },
                                         { innerFraction + (1.0f - innerFraction) * 0.45f, colour.withMultipliedAlpha (0.4f) },
                                         { 1.0f, colour.withAlpha (0.0f) } }));
    g.fillEllipse (juce::Rectangle<float> (radius * 2.0f, radius * 2.0f).withCentre (centre));
}

void addGrain (juce::Image& image, juce::Rectangle<int> area, const juce::Image& mask,
               XorShift32& random, int amplitude, int scale)
{
    area = area.getIntersection ({ image.getWidth() / scale, image.getHeight() / scale });
    juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readWrite);

    std::unique_ptr<juce::Image::BitmapData> maskPixels;

    if (mask.isValid())
        maskPixels = std::make_unique<juce::Image::BitmapData> (mask, juce::Image::BitmapData::readOnly);

    for (int y = area.getY(); y < area.getBottom(); ++y)
    {
        for (int x = area.getX(); x < area.getRight(); ++x)
        {
            const auto noise = (int) (random.next() % (std::uint32_t) (2 * amplitude + 1)) - amplitude;

            // One grain per panel pixel, over all the picture's pixels in it.
            for (int py = y * scale; py < (y + 1) * scale; ++py)
            {
                for (int px = x * scale; px < (x + 1) * scale; ++px)
                {
                    const auto weight = maskPixels != nullptr ? (int) *maskPixels->getPixelPointer (px, py) : 255;

                    if (weight == 0)
                        continue;

                    const auto delta = noise * weight / 255;
                    auto colour = pixels.getPixelColour (px, py);
                    const auto channel = [delta] (juce::uint8 c) { return (juce::uint8) juce::jlimit (0, 255, (int) c + delta); };
                    pixels.setPixelColour (px, py, juce::Colour (channel (colour.getRed()), channel (colour.getGreen()),
                                                                 channel (colour.getBlue()), colour.getAlpha()));
                }
            }
        }
    }
}

void fillBrushedMetal (juce::Graphics& g, const juce::Path& shape, juce::Colour light,
                       juce::Colour dark, XorShift32& random)
{
    const auto bounds = shape.getBounds();
    juce::Graphics::ScopedSaveState state (g);
    g.reduceClipRegion (shape);

    g.setGradientFill (verticalGradient (bounds.getY(), bounds.getBottom(),
                                         { { 0.0f, light }, { 0.45f, light.interpolatedWith (dark, 0.35f) },
                                           { 0.55f, dark.interpolatedWith (light, 0.2f) }, { 1.0f, dark } }));
    g.fillRect (bounds);

    // Brush strokes: thin horizontal streaks of slightly lighter or darker metal.
    for (float y = bounds.getY(); y < bounds.getBottom(); y += 0.5f)
    {
        const auto streaks = 2 + (int) (random.next() % 3u);

        for (int i = 0; i < streaks; ++i)
        {
            const auto x = random.between (bounds.getX() - 20.0f, bounds.getRight());
            const auto length = random.between (8.0f, bounds.getWidth() * 0.8f);
            const auto bright = random.unit() < 0.5f;
            g.setColour ((bright ? juce::Colours::white : juce::Colours::black).withAlpha (random.between (0.03f, 0.11f)));
            g.fillRect (juce::Rectangle<float> (x, y, length, 0.5f));
        }
    }
}

namespace
{
    void addStops (juce::ColourGradient& gradient, std::initializer_list<std::pair<float, juce::Colour>> stops)
    {
        gradient.clearColours();

        for (const auto& [proportion, colour] : stops)
            gradient.addColour ((double) proportion, colour);
    }
}

juce::ColourGradient verticalGradient (float top, float bottom,
                                       std::initializer_list<std::pair<float, juce::Colour>> stops)
{
    return linearGradient ({ 0.0f, top }, { 0.0f, bottom }, stops);
}

juce::ColourGradient linearGradient (juce::Point<float> from, juce::Point<float> to,
                                     std::initializer_list<std::pair<float, juce::Colour>> stops)
{
    juce::ColourGradient gradient (juce::Colours::black, from, juce::Colours::black, to, false);
    addStops (gradient, stops);
    return gradient;
}

juce::ColourGradient radialGradient (juce::Point<float> centre, float radius,
                                     std::initializer_list<std::pair<float, juce::Colour>> stops)
{
    juce::ColourGradient gradient (juce::Colours::black, centre, juce::Colours::black,
                                   centre.translated (radius, 0.0f), true);
    addStops (gradient, stops);
    return gradient;
}

} // namespace tessamune::artwork
