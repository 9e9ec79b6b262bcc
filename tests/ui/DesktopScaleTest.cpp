// Reading the scale a desktop asks programs to draw at.

#include "ui/DesktopScale.h"

#include <gtest/gtest.h>

TEST (DesktopScale, XftDpiGivesQuartersWithinTheZoomsRange)
{
    struct Case { double dpi; std::optional<double> scale; };
    const Case cases[] =
    {
        { 96.0,   1.0 },
        { 120.0,  1.25 },
        { 144.0,  1.5 },
        { 168.0,  1.75 },
        { 192.0,  2.0 },
        { 110.0,  1.25 },    // nearest quarter
        { 72.0,   1.0 },     // never below 1
        { 480.0,  3.0 },     // nor above 3
        { 0.0,    std::nullopt },
        { -96.0,  std::nullopt },
        { std::numeric_limits<double>::infinity(), std::nullopt },
        { std::numeric_limits<double>::quiet_NaN(), std::nullopt },
    };

    for (const auto& c : cases)
        EXPECT_EQ (DesktopScale::fromXftDpi (c.dpi), c.scale) << c.dpi;
}

TEST (DesktopScale, FindsXftDpiInTheResourceDatabase)
{
    struct Case { const char* resources; std::optional<double> dpi; };
    const Case cases[] =
    {
        { "Xft.dpi:\t192\n",                                     192.0 },
        { "*customization:\t-color\nXft.antialias:\t1\nXft.dpi:\t144\nXft.hinting:\t1\n", 144.0 },
        { "Xft*dpi: 120",                                        120.0 },
        { "  Xft.dpi :  96.5  ",                                 96.5 },
        { "Xft.dpi:\t0\n",                                       std::nullopt },
        { "Xft.dpi:\tlarge\n",                                   std::nullopt },
        { "Xft.dpix:\t192\n",                                    std::nullopt },
        { "",                                                    std::nullopt },
    };

    for (const auto& c : cases)
        EXPECT_EQ (DesktopScale::xftDpiIn (c.resources), c.dpi) << c.resources;
}

TEST (DesktopScale, GdkScaleIsAWholeNumber)
{
    struct Case { const char* value; std::optional<double> scale; };
    const Case cases[] =
    {
        { "1", 1.0 }, { "2", 2.0 }, { " 3 ", 3.0 }, { "4", 3.0 },
        { "0", std::nullopt }, { "1.5", std::nullopt }, { "-2", std::nullopt },
        { "two", std::nullopt }, { "", std::nullopt }, { "99999999999", std::nullopt },
    };

    for (const auto& c : cases)
        EXPECT_EQ (DesktopScale::fromGdkScale (c.value), c.scale) << c.value;
}
