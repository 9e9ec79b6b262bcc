#pragma once

#include <cmath>

/**
    One control input port of the LV2 plug-in: a parameter of the processor,
    carried as its plain value. The build generates the table of these
    (Lv2ControlPortTable.h) from the processor's parameter layout, and the
    ports' description in the bundle from the same layout, so the binary and
    its description cannot disagree.
*/
struct Lv2ControlPort
{
    const char* symbol;   // the parameter's ID
    float minimum, maximum, defaultValue;
    float interval;       // legal values are minimum + k * interval
    bool toggled;         // a switch: minimum is off, maximum on

    /** The legal value that a value found on the port stands for: the
        default for a NaN or an infinity; for a switch, on for anything above
        0 (the meaning LV2 gives a toggled port) and off otherwise; for the
        rest the value clamped into the range and snapped to the interval,
        as the parameter itself makes it legal. */
    float legalValue (float value) const noexcept
    {
        if (! std::isfinite (value))
            return defaultValue;

        if (toggled)
            return value > 0.0f ? maximum : minimum;

        const auto clamp = [this] (float v) { return v <= minimum ? minimum : (v >= maximum ? maximum : v); };
        value = clamp (value);

        if (interval > 0.0f)
            value = clamp (minimum + interval * std::floor ((value - minimum) / interval + 0.5f));

        return value;
    }
};
