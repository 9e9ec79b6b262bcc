// The framework's X11 layer is used through its own declarations, so that
// the plug-in needs no X11 library of its own: the framework loads that at
// run time.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include <juce_gui_basics/juce_gui_basics.h>

#include "ui/DesktopScale.h"

#include "plugin/DecimalText.h"

namespace
{
    constexpr double minimumScale = 1.0;
    constexpr double maximumScale = 3.0;

    // The resolution at which desktops draw at scale 1.
    constexpr double plainDpi = 96.0;

    std::optional<double> wholeScale (int value)
    {
        if (value < 1)
            return {};

        return juce::jlimit (minimumScale, maximumScale, (double) value);
    }

#if JUCE_LINUX || JUCE_BSD
    double dpiOfScreen (::Display* display)
    {
        auto* x = juce::X11Symbols::getInstance();
        const auto screen = x->xDefaultScreen (display);
        const auto widthMm = x->xDisplayWidthMM (display, screen);
        const auto heightMm = x->xDisplayHeightMM (display, screen);

        if (widthMm <= 0 || heightMm <= 0)
            return 0.0;

        return ((x->xDisplayWidth (display, screen) * 25.4) / widthMm
                + (x->xDisplayHeight (display, screen) * 25.4) / heightMm) / 2.0;
    }

    juce::String resourceDatabase (::Display* display)
    {
        auto* x = juce::X11Symbols::getInstance();
        const auto root = x->xRootWindow (display, x->xDefaultScreen (display));

        // The whole property, as a string (at most 1 MB: 256k 32-bit units).
        const juce::XWindowSystemUtilities::GetXProperty property (display, root, XA_RESOURCE_MANAGER,
                                                                   0, 256 * 1024, false, XA_STRING);

        if (! property.success || property.data == nullptr || property.actualFormat != 8)
            return {};

        return juce::String::fromUTF8 (reinterpret_cast<const char*> (property.data), (int) property.numItems);
    }

    // The desktop's scale as the X server and its settings tell it.
    std::optional<double> fromDisplay (::Display* display)
    {
        const juce::XWindowSystemUtilities::ScopedXLock lock;

        if (auto* settings = juce::XWindowSystem::getInstance()->getXSettings())
        {
            const auto factor = settings->getSetting (juce::XWindowSystem::getWindowScalingFactorSettingName());

            if (factor.isValid() && factor.integerValue > 1)
                return wholeScale (factor.integerValue);

            // In 1024ths of a dot per inch; -1 for the default.
            const auto dpi = settings->getSetting ("Xft/DPI");

            if (dpi.isValid() && dpi.integerValue > 0)
                if (const auto scale = DesktopScale::fromXftDpi (dpi.integerValue / 1024.0))
                    return scale;
        }

        if (const auto dpi = DesktopScale::xftDpiIn (resourceDatabase (display)))
            if (const auto scale = DesktopScale::fromXftDpi (*dpi))
                return scale;

        if (const auto dpi = dpiOfScreen (display); dpi > 0.0)
            return juce::jlimit (minimumScale, maximumScale, (double) juce::roundToInt (dpi / plainDpi));

        return {};
    }
#endif
}

std::optional<double> DesktopScale::fromXftDpi (double dpi)
{
    if (! (dpi > 0.0) || ! std::isfinite (dpi))
        return {};

    const auto quarters = std::round (dpi / plainDpi * 4.0) / 4.0;
    return juce::jlimit (minimumScale, maximumScale, quarters);
}

std::optional<double> DesktopScale::xftDpiIn (const juce::String& resources)
{
    for (const auto& line : juce::StringArray::fromLines (resources))
    {
        const auto name = line.upToFirstOccurrenceOf (":", false, false).trim();

        if (name != "Xft.dpi" && name != "Xft*dpi")
            continue;

        const auto value = line.fromFirstOccurrenceOf (":", false, false).trim();
        const auto dpi = DecimalText::read (value.toRawUTF8());

        if (dpi > 0.0 && std::isfinite (dpi))
            return dpi;
    }

    return {};
}

std::optional<double> DesktopScale::fromGdkScale (const juce::String& value)
{
    const auto text = value.trim();

    if (text.isEmpty() || ! text.containsOnly ("0123456789") || text.length() > 3)
        return {};

    return wholeScale (text.getIntValue());
}

double DesktopScale::unapplied()
{
#if JUCE_LINUX || JUCE_BSD
    if (const auto scale = fromGdkScale (juce::SystemStats::getEnvironmentVariable ("GDK_SCALE", {})))
        return *scale;

    // Without a display to connect to, the framework would not open one.
    if (juce::SystemStats::getEnvironmentVariable ("DISPLAY", {}).isEmpty())
        return minimumScale;

    auto* windowSystem = juce::XWindowSystem::getInstance();
    auto* display = windowSystem != nullptr ? windowSystem->getDisplay() : nullptr;

    if (display == nullptr)
        return minimumScale;

    // A scale the framework draws at already (in a stand-alone application).
    if (const auto* main = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay())
        if (main->scale > 1.0 + 1.0e-3)
            return minimumScale;

    return fromDisplay (display).value_or (minimumScale);
#else
    // Elsewhere the framework applies the system's display scale itself, to
    // plug-in windows as well.
    return minimumScale;
#endif
}
