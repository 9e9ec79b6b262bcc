#pragma once

#include <juce_core/juce_core.h>

#include <optional>

/**
    The scale at which the desktop asks programs to draw, for a window that
    the window system would otherwise show at its own pixel size.

    The framework applies a display's scale to a program's windows only in a
    stand-alone application, and only where it finds one; inside a host it
    never does, and most Linux hosts pass a plug-in no scale. The desktop
    tells it in other ways, which are read here, the first one found
    winning:

    - the GDK_SCALE environment variable (a whole number);
    - the X settings' Gdk/WindowScalingFactor (a whole number, as GNOME and
      Xfce set it);
    - Xft.dpi, from the X settings (Xft/DPI) or the X resources (as KDE and
      xrdb set it), divided by 96, to a quarter;
    - the X screen's own resolution (as `Xvfb -dpi` or an X server set up
      for a dense screen report it), divided by 96, to a whole number as
      the framework does for displays.

    Where the framework already draws at a display scale above 1, this gives
    1: that scale is in place. Message thread only.
*/
namespace DesktopScale
{
    /** The desktop's scale not yet applied, from 1 to 3; 1 where nothing
        says otherwise or there is no display. */
    double unapplied();

    /** The scale for an Xft.dpi value: dpi / 96 to the nearest quarter,
        within 1 to 3; nothing for a value that is no resolution. */
    std::optional<double> fromXftDpi (double dpi);

    /** The Xft.dpi value in the text of an X resource database
        ("Xft.dpi:\t192"), if it has a usable one. */
    std::optional<double> xftDpiIn (const juce::String& resources);

    /** The scale a GDK_SCALE value asks for: a whole number from 1 to 3. */
    std::optional<double> fromGdkScale (const juce::String& value);
}
