// The controls: fluted knob with an aluminium cap, the lamp in its chrome
// bezel, the footswitch with its hexagonal nut, and the input-mode rings.

#include "Drawing.h"
#include "Layout.h"
#include "Painting.h"

#include <tuple>

namespace tessamune::artwork
{
namespace
{
    using juce::Colour;
    namespace Colours = juce::Colours;

    constexpr float pi = juce::MathConstants<float>::pi;

    // Light falls from the top left.
    const float lightAngle = juce::degreesToRadians (-45.0f);

    float facingLight (float angle) { return std::cos (angle - lightAngle); }

    juce::Rectangle<float> circle (juce::Point<float> centre, float radius)
    {
        return juce::Rectangle<float> (radius * 2.0f, radius * 2.0f).withCentre (centre);
    }

    juce::ColourGradient chromeAcross (juce::Point<float> centre, float radius, bool concave)
    {
        const auto from = centre + juce::Point<float> (-radius, -radius) * 0.75f;
        const auto to = centre + juce::Point<float> (radius, radius) * 0.75f;

        if (concave)
            return linearGradient (from, to, { { 0.0f, Colour (0xff55585e) }, { 0.5f, Colour (0xff9a9ea5) },
                                               { 1.0f, Colour (0xfff1f2f4) } });

        return linearGradient (from, to, { { 0.0f, Colour (0xfffbfbfc) }, { 0.3f, Colour (0xffbfc2c7) },
                                           { 0.55f, Colour (0xff5e6268) }, { 0.8f, Colour (0xffc6c9ce) },
                                           { 1.0f, Colour (0xff74787e) } });
    }

    // Wedges of light on a spun metal disc: bright towards and away from the
    // light, dim across it. Built from stacked pie slices so the edges are soft.
    void drawSpunHighlights (juce::Graphics& g, juce::Point<float> centre, float radius)
    {
        const auto disc = circle (centre, radius);

        for (const auto& [direction, colour, alpha] : { std::tuple { lightAngle, Colours::white, 0.09f },
                                                        std::tuple { lightAngle + pi, Colours::white, 0.06f },
                                                        std::tuple { lightAngle + pi * 0.5f, Colours::black, 0.05f },
                                                        std::tuple { lightAngle - pi * 0.5f, Colours::black, 0.05f } })
        {
            for (const auto width : { 0.55f, 0.38f, 0.24f, 0.12f })
            {
                juce::Path wedge;
                wedge.addPieSegment (disc, direction - width, direction + width, 0.0f);
                g.setColour (colour.withAlpha (alpha));
                g.fillPath (wedge);
            }
        }
    }

    // Fine concentric rings of slightly varying brightness: turned metal.
    void drawTurnedRings (juce::Graphics& g, juce::Point<float> centre, float from, float to,
                          std::uint32_t noiseStart, float strength)
    {
        XorShift32 random (noiseStart);

        for (auto r = from; r < to; r += 0.5f)
        {
            const auto bright = random.unit() < 0.5f;
            g.setColour ((bright ? Colours::white : Colours::black).withAlpha (random.between (0.02f, 0.09f) * strength));
            g.drawEllipse (circle (centre, r), 0.5f);
        }
    }
}

//==============================================================================
void drawKnob (juce::Graphics& g, juce::Point<float> centre, float angle)
{
    const auto skirtRadius = knobSkirtRadius;
    const auto capRadius = knobCapRadius;
    constexpr int flutes = 30;

    roundShadow (g, centre.translated (1.0f, 2.6f), skirtRadius + 4.0f, 0.74f, Colours::black.withAlpha (0.62f));

    // Fluted skirt: a scalloped outline that turns with the knob.
    juce::Path skirt;
    constexpr int steps = flutes * 12;

    for (int i = 0; i <= steps; ++i)
    {
        const auto a = angle + 2.0f * pi * (float) i / (float) steps;
        const auto phase = (float) flutes * (a - angle);
        const auto r = skirtRadius - 0.75f - 0.75f * std::cos (phase);
        const auto p = polar (centre, r, a);

        if (i == 0)
            skirt.startNewSubPath (p);
        else
            skirt.lineTo (p);
    }

    skirt.closeSubPath();

    g.setGradientFill (linearGradient (centre.translated (-skirtRadius, -skirtRadius), centre.translated (skirtRadius, skirtRadius),
                                       { { 0.0f, Colour (0xff4a4a52) }, { 0.45f, Colour (0xff1a1a1e) },
                                         { 1.0f, Colour (0xff030303) } }));
    g.fillPath (skirt);

    // Ridges: a dark groove in each flute and a ridge that catches the light
    // on the side facing it.
    for (int i = 0; i < flutes; ++i)
    {
        const auto groove = angle + 2.0f * pi * (float) i / (float) flutes;
        const auto ridge = groove + pi / (float) flutes;
        const auto inner = capRadius + 2.6f;

        g.setColour (Colours::black.withAlpha (0.75f));
        g.drawLine (juce::Line<float> (polar (centre, inner, groove), polar (centre, skirtRadius - 1.2f, groove)), 1.1f);

        const auto lit = juce::jmax (0.0f, facingLight (ridge));
        g.setColour (Colours::white.withAlpha (0.05f + 0.3f * lit * lit));
        g.drawLine (juce::Line<float> (polar (centre, inner + 0.5f, ridge), polar (centre, skirtRadius - 0.4f, ridge)), 0.9f);
    }

    g.setGradientFill (linearGradient (centre.translated (-skirtRadius, -skirtRadius), centre.translated (skirtRadius, skirtRadius),
                                       { { 0.0f, Colours::white.withAlpha (0.4f) }, { 0.5f, Colours::white.withAlpha (0.05f) },
                                         { 1.0f, Colours::black.withAlpha (0.5f) } }));
    g.strokePath (skirt, juce::PathStrokeType (0.8f));

    // The smooth collar the cap sits in.
    g.setGradientFill (linearGradient (centre.translated (-capRadius, -capRadius), centre.translated (capRadius, capRadius),
                                       { { 0.0f, Colour (0xff050505) }, { 1.0f, Colour (0xff3a3a40) } }));
    g.fillEllipse (circle (centre, capRadius + 2.4f));

    // Brushed-aluminium cap.
    const auto cap = circle (centre, capRadius);
    g.setGradientFill (linearGradient (cap.getTopLeft(), cap.getBottomRight(),
                                       { { 0.0f, Colour (0xfff2f3f5) }, { 0.5f, Colour (0xffb9bcc1) },
                                         { 1.0f, Colour (0xff6e7177) } }));
    g.fillEllipse (cap);

    {
        juce::Graphics::ScopedSaveState state (g);
        g.reduceClipRegion (cap.getSmallestIntegerContainer());
        drawTurnedRings (g, centre, 0.6f, capRadius, 0x4b1dca95u, 1.0f);
        drawSpunHighlights (g, centre, capRadius);
    }

    g.setColour (Colours::black.withAlpha (0.55f));
    g.drawEllipse (cap.reduced (0.3f), 0.7f);
    g.setGradientFill (linearGradient (cap.getTopLeft(), cap.getBottomRight(),
                                       { { 0.0f, Colours::white.withAlpha (0.7f) }, { 0.5f, Colours::white.withAlpha (0.0f) },
                                         { 1.0f, Colours::white.withAlpha (0.0f) } }));
    g.drawEllipse (cap.reduced (1.1f), 0.6f);

    // Pointer: a white line from near the middle out over the skirt.
    const juce::Line<float> pointer (polar (centre, 4.0f, angle), polar (centre, skirtRadius - 2.2f, angle));
    juce::Path line;
    line.startNewSubPath (pointer.getStart());
    line.lineTo (pointer.getEnd());

    g.setColour (Colours::black.withAlpha (0.55f));
    g.strokePath (line, juce::PathStrokeType (3.6f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
    g.setColour (Colour (0xfffbfbfb));
    g.strokePath (line, juce::PathStrokeType (2.0f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
}

//==============================================================================
void drawLamp (juce::Graphics& g, juce::Point<float> centre, bool lit)
{
    const auto bezelRadius = 11.5f;
    const auto lensRadius = 7.0f;
    const auto red = Colour (0xffff3420);

    roundShadow (g, centre.translated (0.8f, 2.0f), bezelRadius + 3.5f, 0.7f, Colours::black.withAlpha (0.55f));

    // Glow on the paint around the lamp; it fades out before the edge of the
    // lamp's rectangle.
    if (lit)
    {
        g.setGradientFill (radialGradient (centre, 19.0f,
                                           { { 0.0f, red.withAlpha (0.95f) }, { 0.5f, red.withAlpha (0.62f) },
                                             { 0.75f, red.withAlpha (0.24f) }, { 1.0f, red.withAlpha (0.0f) } }));
        g.fillEllipse (circle (centre, 19.0f));
    }

    g.setGradientFill (chromeAcross (centre, bezelRadius, false));
    g.fillEllipse (circle (centre, bezelRadius));
    g.setGradientFill (chromeAcross (centre, lensRadius + 2.4f, true));
    g.fillEllipse (circle (centre, lensRadius + 2.4f));

    g.setColour (Colours::black.withAlpha (0.55f));
    g.drawEllipse (circle (centre, bezelRadius - 0.35f), 0.7f);

    if (lit)
    {
        g.setColour (red.withAlpha (0.28f));
        g.fillEllipse (circle (centre, bezelRadius));
    }

    const auto lens = circle (centre, lensRadius);
    const auto lensLight = centre.translated (-1.5f, -1.5f);

    if (lit)
        g.setGradientFill (radialGradient (lensLight, lensRadius * 1.3f,
                                           { { 0.0f, Colour (0xfffff1e6) }, { 0.22f, Colour (0xffff7a55) },
                                             { 0.6f, Colour (0xfff0180c) }, { 1.0f, Colour (0xff9c0500) } }));
    else
        g.setGradientFill (radialGradient (lensLight, lensRadius * 1.3f,
                                           { { 0.0f, Colour (0xff7c1b17) }, { 0.55f, Colour (0xff4a0a08) },
                                             { 1.0f, Colour (0xff1e0202) } }));
    g.fillEllipse (lens);

    g.setColour (Colours::black.withAlpha (0.65f));
    g.drawEllipse (lens.reduced (0.3f), 0.8f);

    // Reflections on the dome of the lens.
    g.setColour (Colours::white.withAlpha (lit ? 0.8f : 0.5f));
    g.fillEllipse (juce::Rectangle<float> (3.4f, 2.3f).withCentre (centre.translated (-2.4f, -3.0f)));
    g.setColour (Colours::white.withAlpha (lit ? 0.25f : 0.12f));
    g.fillEllipse (juce::Rectangle<float> (2.4f, 1.4f).withCentre (centre.translated (2.6f, 3.6f)));
}

//==============================================================================
void drawFootswitch (juce::Graphics& g, juce::Point<float> centre, bool pressed)
{
    const auto washerRadius = 21.5f;
    const auto nutRadius = 19.0f;      // corner to centre
    const auto nutTopRadius = 15.6f;
    const auto bushingRadius = 11.3f;
    const auto capRadius = pressed ? 8.6f : 9.2f;

    roundShadow (g, centre.translated (1.0f, 2.4f), 22.4f, 0.78f, Colours::black.withAlpha (0.6f));

    // Turned washer under the nut.
    g.setGradientFill (chromeAcross (centre, washerRadius, false));
    g.fillEllipse (circle (centre, washerRadius));
    drawTurnedRings (g, centre, nutRadius * 0.85f, washerRadius, 0x1f0a5e33u, 1.5f);
    g.setColour (Colours::black.withAlpha (0.6f));
    g.drawEllipse (circle (centre, washerRadius - 0.35f), 0.7f);

    // Hexagonal nut, flats at top and bottom: six chamfer facets around a
    // flat top face.
    const auto corner = [centre] (float radius, int i)
    {
        return polar (centre, radius, juce::degreesToRadians (30.0f + 60.0f * (float) i));
    };

    juce::Path nutOutline;
    nutOutline.addPolygon (centre, 6, nutRadius, juce::degreesToRadians (30.0f));
    g.setColour (Colours::black.withAlpha (0.45f));
    g.fillPath (nutOutline, juce::AffineTransform::translation (0.5f, 1.2f));

    for (int i = 0; i < 6; ++i)
    {
        juce::Path facet;
        facet.startNewSubPath (corner (nutRadius, i));
        facet.lineTo (corner (nutRadius, i + 1));
        facet.lineTo (corner (nutTopRadius, i + 1));
        facet.lineTo (corner (nutTopRadius, i));
        facet.closeSubPath();

        const auto normal = juce::degreesToRadians (60.0f + 60.0f * (float) i);
        const auto lit = (facingLight (normal) + 1.0f) * 0.5f;
        g.setColour (Colour (0xff3e4146).interpolatedWith (Colour (0xfff5f6f8), lit * lit));
        g.fillPath (facet);
        g.setColour (Colours::black.withAlpha (0.25f));
        g.strokePath (facet, juce::PathStrokeType (0.5f));
    }

    juce::Path nutTop;
    nutTop.addPolygon (centre, 6, nutTopRadius, juce::degreesToRadians (30.0f));
    g.setGradientFill (linearGradient (centre.translated (-nutTopRadius, -nutTopRadius), centre.translated (nutTopRadius, nutTopRadius),
                                       { { 0.0f, Colour (0xffe9ebee) }, { 0.5f, Colour (0xffaeb2b8) },
                                         { 1.0f, Colour (0xff6d7177) } }));
    g.fillPath (nutTop);
    {
        juce::Graphics::ScopedSaveState state (g);
        g.reduceClipRegion (nutTop);
        drawTurnedRings (g, centre, bushingRadius, nutTopRadius + 1.0f, 0x77c3a901u, 1.2f);
    }
    g.setColour (Colours::black.withAlpha (0.6f));
    g.strokePath (nutOutline, juce::PathStrokeType (0.7f));

    // Threaded bushing.
    g.setGradientFill (chromeAcross (centre, bushingRadius, true));
    g.fillEllipse (circle (centre, bushingRadius));

    for (auto r = capRadius + 0.6f; r < bushingRadius - 0.4f; r += 1.1f)
    {
        g.setColour (Colours::black.withAlpha (0.35f));
        g.drawEllipse (circle (centre, r), 0.5f);
    }

    g.setColour (Colours::black.withAlpha (0.7f));
    g.drawEllipse (circle (centre, bushingRadius - 0.3f), 0.7f);

    // The gap round the plunger; deeper when it is pressed.
    g.setColour (Colours::black.withAlpha (pressed ? 0.85f : 0.6f));
    g.fillEllipse (circle (centre, capRadius + (pressed ? 1.5f : 0.9f)));

    // Domed chrome cap. Pressed, it sits lower: darker, with the highlight
    // moved towards the middle.
    const auto light = pressed ? centre.translated (-1.6f, -1.4f) : centre.translated (-3.0f, -3.4f);

    if (pressed)
        g.setGradientFill (radialGradient (light, capRadius * 1.45f,
                                           { { 0.0f, Colour (0xffc9ccd1) }, { 0.3f, Colour (0xff9da1a7) },
                                             { 0.7f, Colour (0xff60646a) }, { 1.0f, Colour (0xff35383c) } }));
    else
        g.setGradientFill (radialGradient (light, capRadius * 1.45f,
                                           { { 0.0f, Colour (0xffffffff) }, { 0.25f, Colour (0xffe9ebee) },
                                             { 0.6f, Colour (0xffa5a9af) }, { 0.9f, Colour (0xff5d6167) },
                                             { 1.0f, Colour (0xff4a4d52) } }));

    const auto capCircle = circle (centre, capRadius);
    g.fillEllipse (capCircle);
    g.setColour (Colours::black.withAlpha (0.6f));
    g.drawEllipse (capCircle.reduced (0.3f), 0.7f);

    g.setColour (Colours::white.withAlpha (pressed ? 0.45f : 0.85f));
    g.fillEllipse (juce::Rectangle<float> (pressed ? 3.0f : 4.2f, pressed ? 2.0f : 2.8f).withCentre (light));
    g.setColour (Colours::white.withAlpha (pressed ? 0.12f : 0.3f));
    g.fillEllipse (juce::Rectangle<float> (3.0f, 1.6f).withCentre (centre.translated (pressed ? 2.4f : 3.6f, pressed ? 3.2f : 4.6f)));
}

//==============================================================================
void drawToggle (juce::Graphics& g, juce::Rectangle<float> area, bool stereo)
{
    const auto radius = 7.0f;
    const auto thickness = 1.7f;
    const auto left = juce::Point<float> (area.getCentreX() - 5.0f, area.getCentreY());
    const auto right = juce::Point<float> (area.getCentreX() + 5.0f, area.getCentreY());

    g.setColour (stereo ? Colour (0xfff4f4f6) : Colour (0xff6e6f76));
    g.drawEllipse (circle (right, radius), thickness);
    g.setColour (Colour (0xfff4f4f6));
    g.drawEllipse (circle (left, radius), thickness);
}

//==============================================================================
void drawReadoutCharacter (juce::Graphics& g, const Fonts& fonts, juce::juce_wchar character,
                           juce::Rectangle<float> cell)
{
    // Centred across the cell by its ink, so that the editor can set the
    // characters at their own widths; on a common baseline.
    auto glyph = lettering (fonts.sansBold, juce::String::charToString (character), readoutFontHeight);
    const auto ink = glyph.getBounds();
    glyph.applyTransform (juce::AffineTransform::translation (cell.getCentreX() - ink.getCentreX(),
                                                              cell.getY() + readoutBaseline));

    g.setColour (Colour (0xfff3edf8));
    g.fillPath (glyph);
}

} // namespace tessamune::artwork
