#pragma once

#include <juce_graphics/juce_graphics.h>

#include <array>

/**
    The front panel's pictures, compiled into the module at three scales: the
    panel's own pixels (scale 1) and two and three pixels per panel pixel in
    each direction, for larger windows and denser screens. The set at scale 1
    is the one of 370 x 476 pixels that the panel has always shown.

    A picture is decoded only when asked for and then kept in a store of
    this module's own, so a window that never needs a scale never decodes
    its pictures and a second window at the same scale decodes nothing. The
    store keeps them until releaseUnused(): an editor that closes calls it,
    so that the decoded pictures (tens of megabytes at scale 3) go with the
    last window that shows them. The store runs no timer and posts no
    message, so nothing of it needs a message loop. Any thread.
*/
namespace Pictures
{
    enum Id
    {
        background,
        knobDepth,
        knobSpeed,
        knobMix,
        chorusLed,
        footswitch,
        toggleStereo,
        readoutDigits,
        numIds
    };

    inline constexpr int scales[] { 1, 2, 3 };
    inline constexpr int maximumScale = 3;

    /** The scale of the pictures to draw with where one panel pixel covers
        effectiveScale device pixels: the least dense set that has at least
        as many pixels, or the densest set. */
    int scaleFor (double effectiveScale) noexcept;

    /** The picture at one of the scales above (any other scale is read as
        the nearest one); an invalid image if it cannot be decoded. */
    juce::Image get (Id id, int scale);

    /** Every picture at a scale, as get() gives them. Those not in the store
        yet are decoded side by side, the large ones each on a thread of its
        own, so that a window opening at a larger zoom waits for the largest
        of them rather than for all in turn. Where the system cannot start a
        thread, a picture is decoded on the calling thread instead. */
    std::array<juce::Image, numIds> getAll (int scale);

    /** Drops the pictures nothing but the store holds any more; those an
        open window still draws from stay. */
    void releaseUnused();

    /** True where a strip holds its frames side by side rather than stacked:
        the knobs' strips above scale 1. */
    bool framesAcross (Id id, int scale) noexcept;
}
