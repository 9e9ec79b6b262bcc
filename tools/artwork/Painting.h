// Small drawing helpers shared by the panel and the controls.
#pragma once

#include "Random.h"

#include <juce_graphics/juce_graphics.h>

namespace tessamune::artwork
{
// The outline of a line of text, its left end on the baseline at (0, 0).
juce::Path lettering (const juce::Typeface::Ptr& face, const juce::String& text,
                      float fontHeight, float extraKerning = 0.0f);

// The same outline moved so that the middle of its ink sits at centre.
juce::Path letteringCentredAt (const juce::Typeface::Ptr& face, const juce::String& text,
                               float fontHeight, float extraKerning, juce::Point<float> centre);

// Drawing into an image that holds the panel at `scale` pixels per panel
// unit: everything is given in panel units and lands on the finer grid.
void scaleToPictureGrid (juce::Graphics& g, int scale);

// A gaussian-blurred shadow of a shape. On a scaled picture the blur works
// on the picture's own pixels, with radius and offset scaled to match.
void blurredShadow (juce::Graphics& g, const juce::Path& shape, juce::Colour colour,
                    int radius, juce::Point<int> offset);

// A round soft shadow made from a radial gradient, fading to nothing at
// radius: cheap, and never reaches past the circle it is given.
void roundShadow (juce::Graphics& g, juce::Point<float> centre, float radius,
                  float innerFraction, juce::Colour colour);

// Adds brightness noise (+/- amplitude) to the pixels of an opaque image
// inside area (in panel units), one grain per panel pixel, weighted by a
// single-channel mask of the same size as the image (or everywhere if the
// mask is null). The image holds the panel at `scale` pixels per unit: the
// grain is the same at every scale, like the paint it stands for, and random
// moves on alike, so whatever is drawn with it afterwards lands in the same
// place at every scale.
void addGrain (juce::Image& image, juce::Rectangle<int> area, const juce::Image& mask,
               XorShift32& random, int amplitude, int scale);

// Fills a shape with a metal finish brushed in straight horizontal strokes.
void fillBrushedMetal (juce::Graphics& g, const juce::Path& shape, juce::Colour light,
                       juce::Colour dark, XorShift32& random);

// A vertical gradient with the given stops (proportions 0..1 from top to bottom).
juce::ColourGradient verticalGradient (float top, float bottom,
                                       std::initializer_list<std::pair<float, juce::Colour>> stops);

// A gradient along a line, with the given stops.
juce::ColourGradient linearGradient (juce::Point<float> from, juce::Point<float> to,
                                     std::initializer_list<std::pair<float, juce::Colour>> stops);

// A radial gradient around centre, with stops as proportions of radius.
juce::ColourGradient radialGradient (juce::Point<float> centre, float radius,
                                     std::initializer_list<std::pair<float, juce::Colour>> stops);

// A point at a given distance from centre in the direction of angle
// (radians, 0 = up, increasing clockwise).
inline juce::Point<float> polar (juce::Point<float> centre, float radius, float angle)
{
    return { centre.x + radius * std::sin (angle), centre.y - radius * std::cos (angle) };
}

} // namespace tessamune::artwork
