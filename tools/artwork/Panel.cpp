// The panel: charcoal backdrop, the top bar, the patch cables and the pedal
// with its sparkle finish, lettering, scale dots and name plate.

#include "Drawing.h"
#include "Layout.h"
#include "Painting.h"

namespace tessamune::artwork
{
namespace
{
    using juce::Colour;

    const Colour printInk { 0xfff3edf8 };          // the pedal's screen-printed lettering
    const Colour purpleLight { 0xff7a45ad };
    const Colour purpleMid { 0xff592a88 };
    const Colour purpleDark { 0xff32114b };

    juce::Path pedalOutline()
    {
        juce::Path p;
        p.addRoundedRectangle (pedalBody, pedalCornerRadius);
        return p;
    }

    //==========================================================================
    void drawBackdrop (juce::Graphics& g)
    {
        g.setGradientFill (verticalGradient (0.0f, (float) panelHeight,
                                             { { 0.0f, Colour (0xff26272b) }, { 1.0f, Colour (0xff17181b) } }));
        g.fillAll();

        // A faint pool of light where the pedal stands.
        g.setGradientFill (radialGradient ({ 185.5f, 250.0f }, 260.0f,
                                           { { 0.0f, juce::Colours::white.withAlpha (0.05f) },
                                             { 1.0f, juce::Colours::white.withAlpha (0.0f) } }));
        g.fillAll();
    }

    void drawTopBar (juce::Graphics& g, const Fonts& fonts)
    {
        const juce::Rectangle<float> bar (0.0f, 0.0f, (float) panelWidth, topBarHeight);

        // Shadow the bar casts on the backdrop.
        g.setGradientFill (verticalGradient (topBarHeight, topBarHeight + 7.0f,
                                             { { 0.0f, juce::Colours::black.withAlpha (0.45f) },
                                               { 1.0f, juce::Colours::black.withAlpha (0.0f) } }));
        g.fillRect (bar.withY (topBarHeight).withHeight (7.0f));

        g.setGradientFill (verticalGradient (0.0f, topBarHeight,
                                             { { 0.0f, Colour (0xff3a3c42) }, { 1.0f, Colour (0xff2c2e33) } }));
        g.fillRect (bar);

        g.setColour (Colour (0xff4d5058));
        g.fillRect (bar.withHeight (1.0f));
        g.setColour (Colour (0xff121316));
        g.fillRect (bar.withY (topBarHeight - 1.0f).withHeight (1.0f));

        // Label to the right of the input-mode toggle, centred on its height.
        const auto toggleMiddle = toggleArea.toFloat().getCentreY();
        auto label = lettering (fonts.sansBold, "INPUT MODE", 9.5f, 0.12f);
        const auto ink = label.getBounds();
        label.applyTransform (juce::AffineTransform::translation (70.0f - ink.getX(), toggleMiddle - ink.getCentreY()));

        g.setColour (juce::Colours::black.withAlpha (0.6f));
        g.fillPath (label, juce::AffineTransform::translation (0.0f, 1.0f));
        g.setColour (Colour (0xffc4c7cf));
        g.fillPath (label);
    }

    //==========================================================================
    // A patch cable plugged into the pedal's left side; the right one is the
    // mirror image.
    void drawPatchCable (juce::Graphics& g, float jackY, bool rightSide)
    {
        const auto mirror = rightSide ? juce::AffineTransform::scale (-1.0f, 1.0f)
                                            .translated (pedalBody.getX() + pedalBody.getRight(), 0.0f)
                                      : juce::AffineTransform();
        const auto y = jackY;
        const auto edge = pedalBody.getX();

        juce::Path cable;
        cable.startNewSubPath (edge - 42.0f, y);
        cable.cubicTo (edge - 58.0f, y + 1.0f, edge - 52.0f, y + 46.0f, edge - 66.0f, y + 96.0f);
        cable.lineTo (edge - 80.0f, y + 140.0f);

        juce::Path cableBody;
        juce::PathStrokeType (7.0f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded)
            .createStrokedPath (cableBody, cable);

        juce::Path plug;
        plug.addRoundedRectangle (edge - 32.0f, y - 7.0f, 24.0f, 14.0f, 2.5f);   // barrel
        plug.addRectangle (edge - 9.0f, y - 5.5f, 5.0f, 11.0f);                   // collar
        plug.addRectangle (edge - 5.0f, y - 3.5f, 7.0f, 7.0f);                    // sleeve

        juce::Path boot;
        boot.startNewSubPath (edge - 44.0f, y - 4.0f);
        boot.lineTo (edge - 31.0f, y - 6.0f);
        boot.lineTo (edge - 31.0f, y + 6.0f);
        boot.lineTo (edge - 44.0f, y + 4.0f);
        boot.closeSubPath();

        juce::Path silhouette (cableBody);
        silhouette.addPath (plug);
        silhouette.addPath (boot);
        silhouette.setUsingNonZeroWinding (true);
        silhouette.applyTransform (mirror);
        blurredShadow (g, silhouette, juce::Colours::black.withAlpha (0.55f), 5,
                       { rightSide ? -2 : 3, 5 });

        juce::Graphics::ScopedSaveState state (g);
        g.addTransform (mirror);

        // Cable: dark outline, body, and a soft sheen along its upper side.
        g.setColour (Colour (0xff050506));
        g.strokePath (cable, juce::PathStrokeType (8.0f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
        g.setColour (Colour (0xff1f1f25));
        g.strokePath (cable, juce::PathStrokeType (6.2f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
        {
            juce::Graphics::ScopedSaveState inside (g);
            g.reduceClipRegion (cableBody);
            g.setColour (Colour (0xff7a7a88).withAlpha (0.55f));
            g.strokePath (cable, juce::PathStrokeType (1.6f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded),
                          juce::AffineTransform::translation (-1.2f, -1.6f));
        }

        // Rubber strain relief with ribs.
        g.setGradientFill (verticalGradient (y - 6.0f, y + 6.0f,
                                             { { 0.0f, Colour (0xff4a4a52) }, { 0.3f, Colour (0xff2a2a30) },
                                               { 0.7f, Colour (0xff0c0c0e) }, { 1.0f, Colour (0xff1c1c20) } }));
        g.fillPath (boot);
        g.setColour (juce::Colours::black.withAlpha (0.55f));

        for (float x = edge - 42.0f; x < edge - 32.0f; x += 2.5f)
            g.fillRect (juce::Rectangle<float> (x, y - 6.0f, 0.8f, 12.0f).getIntersection (boot.getBounds()));

        // Chrome barrel with a knurled grip.
        const auto chrome = [y] (float halfHeight)
        {
            return verticalGradient (y - halfHeight, y + halfHeight,
                                     { { 0.0f, Colour (0xff6c7076) }, { 0.16f, Colour (0xfff6f7f9) },
                                       { 0.34f, Colour (0xffc8cbd1) }, { 0.62f, Colour (0xff767a81) },
                                       { 0.86f, Colour (0xff3b3e43) }, { 1.0f, Colour (0xff8b8e94) } });
        };

        g.setGradientFill (chrome (7.0f));
        g.fillRoundedRectangle (edge - 32.0f, y - 7.0f, 24.0f, 14.0f, 2.5f);
        g.setColour (juce::Colours::black.withAlpha (0.22f));

        for (float x = edge - 29.0f; x < edge - 17.0f; x += 1.6f)
            g.fillRect (juce::Rectangle<float> (x, y - 6.5f, 0.7f, 13.0f));

        g.setColour (juce::Colours::black.withAlpha (0.6f));
        g.drawRoundedRectangle (edge - 31.75f, y - 6.75f, 23.5f, 13.5f, 2.5f, 0.6f);

        g.setGradientFill (chrome (5.5f));
        g.fillRect (edge - 9.0f, y - 5.5f, 5.0f, 11.0f);
        g.setColour (juce::Colours::black.withAlpha (0.45f));
        g.fillRect (edge - 9.0f, y - 5.5f, 0.7f, 11.0f);

        g.setGradientFill (chrome (3.5f));
        g.fillRect (edge - 5.0f, y - 3.5f, 7.0f, 7.0f);
    }

    //==========================================================================
    void drawPedalPaint (juce::Graphics& g)
    {
        const auto outline = pedalOutline();

        blurredShadow (g, outline, juce::Colours::black.withAlpha (0.75f), 14, { 0, 8 });
        blurredShadow (g, outline, juce::Colours::black.withAlpha (0.6f), 3, { 0, 2 });

        g.setGradientFill (linearGradient (pedalBody.getTopLeft(), pedalBody.getBottomRight(),
                                           { { 0.0f, purpleLight }, { 0.45f, purpleMid }, { 1.0f, purpleDark } }));
        g.fillPath (outline);
    }

    // Metal flakes in the paint: mostly light flakes catching the
    // light, some dark ones, and a few bright glints.
    void drawSparkle (juce::Graphics& g, XorShift32& random)
    {
        juce::Graphics::ScopedSaveState state (g);
        g.reduceClipRegion (pedalOutline());

        const auto area = pedalBody;
        const auto flakes = (int) (area.getWidth() * area.getHeight() * 0.11f);
        const Colour flakeColours[] { Colour (0xffe2c6ff), Colour (0xffffb2ee), Colour (0xffffffff), Colour (0xffb68cff) };

        for (int i = 0; i < flakes; ++i)
        {
            const auto x = random.between (area.getX(), area.getRight());
            const auto y = random.between (area.getY(), area.getBottom());
            const auto radius = random.between (0.35f, 0.9f);
            const auto kind = random.unit();
            const auto alpha = random.unit();

            Colour colour;

            if (kind < 0.62f)
                colour = flakeColours[random.next() % 4u].withAlpha (0.12f + 0.5f * alpha);
            else
                colour = Colour (0xff14041f).withAlpha (0.2f + 0.4f * alpha);

            g.setColour (colour);
            g.fillEllipse (x - radius, y - radius, radius * 2.0f, radius * 2.0f);
        }

        const auto glints = (int) (area.getWidth() * area.getHeight() / 3500.0f);

        for (int i = 0; i < glints; ++i)
        {
            const auto x = random.between (area.getX(), area.getRight());
            const auto y = random.between (area.getY(), area.getBottom());
            const auto size = random.between (1.0f, 2.2f);

            g.setColour (juce::Colour (0xfff6e8ff).withAlpha (0.25f));
            g.fillRect (juce::Rectangle<float> (size * 2.0f, 0.5f).withCentre ({ x, y }));
            g.fillRect (juce::Rectangle<float> (0.5f, size * 2.0f).withCentre ({ x, y }));
            g.setColour (juce::Colour (0xfff6e8ff).withAlpha (0.75f));
            g.fillEllipse (juce::Rectangle<float> (1.2f, 1.2f).withCentre ({ x, y }));
        }
    }

    // Light and shade over the finished enclosure: a rounded bevel around the
    // edge and a broad highlight towards the top left.
    void drawPedalShading (juce::Graphics& g)
    {
        const auto outline = pedalOutline();

        juce::Graphics::ScopedSaveState state (g);
        g.reduceClipRegion (outline);

        g.setGradientFill (radialGradient ({ 120.0f, 110.0f }, 330.0f,
                                           { { 0.0f, juce::Colours::white.withAlpha (0.13f) },
                                             { 0.6f, juce::Colours::white.withAlpha (0.0f) },
                                             { 1.0f, juce::Colours::black.withAlpha (0.25f) } }));
        g.fillPath (outline);

        // Bevel: the outer 6 pixels are lit along the top and left, shaded
        // along the bottom and right.
        const auto bevel = linearGradient (pedalBody.getTopLeft(), pedalBody.getBottomRight(),
                                           { { 0.0f, juce::Colours::white.withAlpha (0.42f) },
                                             { 0.35f, juce::Colours::white.withAlpha (0.12f) },
                                             { 0.65f, juce::Colours::black.withAlpha (0.15f) },
                                             { 1.0f, juce::Colours::black.withAlpha (0.5f) } });

        for (int step = 0; step < 6; ++step)
        {
            const auto inset = 0.5f + (float) step;
            const auto strength = 1.0f - (float) step / 6.0f;
            g.setGradientFill (bevel);
            g.setOpacity (strength * strength * 0.8f);
            g.drawRoundedRectangle (pedalBody.reduced (inset), pedalCornerRadius - inset, 1.0f);
        }

        g.setOpacity (1.0f);

        // Where the bevel meets the flat top.
        g.setGradientFill (linearGradient (pedalBody.getTopLeft(), pedalBody.getBottomRight(),
                                           { { 0.0f, juce::Colours::white.withAlpha (0.22f) },
                                             { 1.0f, juce::Colours::black.withAlpha (0.35f) } }));
        g.drawRoundedRectangle (pedalBody.reduced (6.5f), pedalCornerRadius - 6.0f, 0.8f);

        g.setColour (juce::Colours::black.withAlpha (0.8f));
        g.drawRoundedRectangle (pedalBody.reduced (0.4f), pedalCornerRadius - 0.4f, 0.8f);
    }

    //==========================================================================
    void drawScaleDots (juce::Graphics& g, juce::Rectangle<int> knobArea)
    {
        const auto centre = knobCentre (knobArea);

        for (int i = 0; i < knobScaleDots; ++i)
        {
            const auto angle = juce::degreesToRadians (knobMinDegrees + knobSweepDegrees * (float) i / (float) (knobScaleDots - 1));
            const auto dot = polar (centre, knobDotRadius, angle);
            const auto radius = (i == 0 || i == knobScaleDots - 1) ? 1.6f : 1.2f;
            const auto bounds = juce::Rectangle<float> (radius * 2.0f, radius * 2.0f).withCentre (dot);

            g.setColour (juce::Colours::black.withAlpha (0.4f));
            g.fillEllipse (bounds.translated (0.0f, 0.7f));
            g.setColour (printInk);
            g.fillEllipse (bounds);
        }
    }

    void drawPrinted (juce::Graphics& g, const juce::Path& text, Colour colour)
    {
        g.setColour (juce::Colours::black.withAlpha (0.45f));
        g.fillPath (text, juce::AffineTransform::translation (0.0f, 0.9f));
        g.setColour (colour);
        g.fillPath (text);
    }

    void drawKnobLabels (juce::Graphics& g, const Fonts& fonts)
    {
        const auto labelHeight = 11.0f;
        const auto kerning = 0.1f;
        const auto below = [] (juce::Rectangle<int> area, float gap)
        {
            return juce::Point<float> (knobCentre (area).x, (float) area.getBottom() + gap);
        };

        drawPrinted (g, letteringCentredAt (fonts.sansBold, "DEPTH", labelHeight, kerning, below (depthKnobArea, 7.0f)), printInk);
        drawPrinted (g, letteringCentredAt (fonts.sansBold, "MIX", labelHeight, kerning, below (mixKnobArea, 7.0f)), printInk);
        drawPrinted (g, letteringCentredAt (fonts.sansBold, "SPEED", labelHeight, kerning, below (speedKnobArea, 7.0f)), printInk);
    }

    // The maker's name in large chrome capitals across the middle.
    void drawMakerName (juce::Graphics& g, const Fonts& fonts)
    {
        auto name = lettering (fonts.sansBold, "QUORVELLIN", 30.0f, 0.06f);
        const auto ink = name.getBounds();
        const auto width = 196.0f;
        const auto scale = width / ink.getWidth();
        const juce::Point<float> centre { pedalBody.getCentreX(), 275.0f };
        name.applyTransform (juce::AffineTransform::translation (-ink.getCentre()).scaled (scale).translated (centre));

        const auto letters = name.getBounds();
        blurredShadow (g, name, juce::Colours::black.withAlpha (0.7f), 3, { 0, 2 });

        g.setColour (Colour (0xff1a0828));
        g.strokePath (name, juce::PathStrokeType (1.2f));

        g.setGradientFill (verticalGradient (letters.getY(), letters.getBottom(),
                                             { { 0.0f, Colour (0xffffffff) }, { 0.45f, Colour (0xffe9e1f3) },
                                               { 0.55f, Colour (0xffb9a9cf) }, { 1.0f, Colour (0xffe6dcf2) } }));
        g.fillPath (name);
    }

    // A black name plate in a brushed-aluminium frame, held by four screws.
    void drawNamePlate (juce::Graphics& g, const Fonts& fonts, XorShift32& random)
    {
        const juce::Rectangle<float> plate (pedalBody.getCentreX() - 74.0f, 405.0f, 148.0f, 52.0f);

        juce::Path frame;
        frame.addRoundedRectangle (plate, 4.0f);
        blurredShadow (g, frame, juce::Colours::black.withAlpha (0.65f), 4, { 0, 2 });
        fillBrushedMetal (g, frame, Colour (0xffeceef1), Colour (0xff8a8e95), random);

        g.setColour (juce::Colours::black.withAlpha (0.55f));
        g.drawRoundedRectangle (plate.reduced (0.35f), 4.0f, 0.7f);

        const auto face = plate.reduced (3.5f);
        g.setGradientFill (verticalGradient (face.getY(), face.getBottom(),
                                             { { 0.0f, Colour (0xff222227) }, { 1.0f, Colour (0xff09090b) } }));
        g.fillRoundedRectangle (face, 2.0f);
        g.setColour (juce::Colours::black.withAlpha (0.8f));
        g.drawRoundedRectangle (face.reduced (0.3f), 2.0f, 0.6f);
        g.setColour (juce::Colours::white.withAlpha (0.18f));
        g.fillRect (face.reduced (2.0f, 0.0f).withTop (face.getBottom() - 0.6f).withHeight (0.6f));

        // Screws in the corners.
        for (const auto& corner : { face.getTopLeft() + juce::Point<float> (5.0f, 5.0f),
                                    face.getTopRight() + juce::Point<float> (-5.0f, 5.0f),
                                    face.getBottomLeft() + juce::Point<float> (5.0f, -5.0f),
                                    face.getBottomRight() + juce::Point<float> (-5.0f, -5.0f) })
        {
            const auto head = juce::Rectangle<float> (5.0f, 5.0f).withCentre (corner);
            g.setColour (juce::Colours::black.withAlpha (0.6f));
            g.fillEllipse (head.translated (0.3f, 0.6f).expanded (0.3f));
            g.setGradientFill (linearGradient (head.getTopLeft(), head.getBottomRight(),
                                               { { 0.0f, Colour (0xfff4f5f7) }, { 0.5f, Colour (0xffa9adb3) },
                                                 { 1.0f, Colour (0xff51545a) } }));
            g.fillEllipse (head);
            g.setColour (Colour (0xff2a2c30));
            g.drawLine (juce::Line<float> (polar (corner, 2.0f, 0.6f), polar (corner, 2.0f, 0.6f + juce::MathConstants<float>::pi)), 0.8f);
        }

        auto name = lettering (fonts.serifBold, "Tessamune", 23.0f, 0.02f);
        const auto nameInk = name.getBounds();
        name.applyTransform (juce::AffineTransform::translation (-nameInk.getCentre())
                                 .scaled (std::min (1.0f, 104.0f / nameInk.getWidth()))
                                 .translated (plate.getCentreX(), plate.getY() + 21.0f));
        const auto letters = name.getBounds();
        g.setColour (juce::Colours::black);
        g.fillPath (name, juce::AffineTransform::translation (0.0f, 1.0f));
        g.setGradientFill (verticalGradient (letters.getY(), letters.getBottom(),
                                             { { 0.0f, Colour (0xffffffff) }, { 0.5f, Colour (0xffd3d5da) },
                                               { 0.56f, Colour (0xff9a9ea5) }, { 1.0f, Colour (0xffd9dbe0) } }));
        g.fillPath (name);

        const auto subtitle = letteringCentredAt (fonts.sans, "STEREO CHORUS", 7.0f, 0.3f,
                                                  { plate.getCentreX(), plate.getY() + 39.5f });
        g.setColour (Colour (0xffa8a4b2));
        g.fillPath (subtitle);
    }
}

juce::Image renderBasePanel (const Fonts& fonts, int scale)
{
    juce::Image image (juce::Image::ARGB, panelWidth * scale, panelHeight * scale, true);
    const juce::Rectangle<int> panel { panelWidth, panelHeight };
    XorShift32 random (0x51a7c0deu);

    {
        juce::Graphics g (image);
        scaleToPictureGrid (g, scale);
        drawBackdrop (g);
    }

    addGrain (image, panel, {}, random, 2, scale);

    {
        juce::Graphics g (image);
        scaleToPictureGrid (g, scale);
        drawTopBar (g, fonts);
        drawPatchCable (g, 112.0f, false);
        drawPatchCable (g, 112.0f, true);
        drawPedalPaint (g);
    }

    // Fine grain in the paint, only where the enclosure is.
    juce::Image enclosure (juce::Image::SingleChannel, panelWidth * scale, panelHeight * scale, true);

    {
        juce::Graphics g (enclosure);
        scaleToPictureGrid (g, scale);
        g.setColour (juce::Colours::white);
        g.fillPath (pedalOutline());
    }

    addGrain (image, pedalBody.getSmallestIntegerContainer(), enclosure, random, 7, scale);

    {
        juce::Graphics g (image);
        scaleToPictureGrid (g, scale);
        drawSparkle (g, random);
        drawPedalShading (g);

        for (const auto& area : { depthKnobArea, speedKnobArea, mixKnobArea })
            drawScaleDots (g, area);

        drawKnobLabels (g, fonts);
        drawMakerName (g, fonts);
        drawNamePlate (g, fonts, random);
    }

    return image;
}

} // namespace tessamune::artwork
