#pragma once

/**
    Reading numbers from text that a host, a user or a saved project hands
    over, with a result defined for every input.

    The grammar is the framework's (String::getDoubleValue): leading white
    space, an optional sign, digits with at most one decimal point, an
    optional exponent; whatever follows is ignored, and text without digits
    reads as 0. The framework's own reader overflows a signed integer on a
    long exponent, so nothing we are handed goes to it unchecked.
*/
namespace DecimalText
{
    /** The number at the start of a NUL-terminated text. "nan" and "inf"
        (in any letter case, after an optional sign) give NaN and infinity;
        finite text beyond the range of double gives the largest finite double
        of its sign, and text too small for it gives 0. */
    double read (const char* text) noexcept;

    /** True for plain decimal notation and nothing else: an optional minus
        sign, 1 to 20 digits, and optionally a point followed by up to 30
        digits. The framework reads such text safely and exactly as read()
        does (up to the last bit of a very long fraction). */
    bool isPlain (const char* text) noexcept;
}
