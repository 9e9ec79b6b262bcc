#include "plugin/DecimalText.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>

namespace
{
    bool isDigit (char c) noexcept                { return c >= '0' && c <= '9'; }
    bool isSpace (char c) noexcept                { return c == ' ' || (c >= '\t' && c <= '\r'); }
    char lower (char c) noexcept                  { return (char) (c | 0x20); }

    bool startsWithWord (const char* text, const char* word) noexcept
    {
        // Stops at the first mismatch, so it never reads past a terminator.
        for (; *word != 0; ++text, ++word)
            if (lower (*text) != *word)
                return false;

        return true;
    }

    // Exponents are counted only this far: anything beyond already lies far
    // outside the range of double, and the count can never overflow.
    constexpr int64_t exponentLimit = 1000000000;

    int64_t saturatingAdd (int64_t a, int64_t b) noexcept
    {
        const auto sum = a + b;   // |a|, |b| <= a few times exponentLimit
        return sum > exponentLimit ? exponentLimit : sum < -exponentLimit ? -exponentLimit : sum;
    }
}

double DecimalText::read (const char* text) noexcept
{
    while (isSpace (*text))
        ++text;

    bool negative = false;

    if (*text == '-' || *text == '+')
        negative = *text++ == '-';

    if (startsWithWord (text, "nan"))
        return std::numeric_limits<double>::quiet_NaN();

    if (startsWithWord (text, "inf"))
        return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();

    // Significant digits (without leading zeros), and the power of ten that
    // scales them: value = digits x 10^scale.
    constexpr int maxDigits = 40;
    char digits[maxDigits + 32];
    int numDigits = 0;
    int64_t scale = 0;
    bool sawDigit = false, sawPoint = false;

    for (;; ++text)
    {
        const char c = *text;

        if (c == '.' && ! sawPoint)
        {
            sawPoint = true;
            continue;
        }

        if (! isDigit (c))
            break;

        sawDigit = true;

        if (numDigits == 0 && c == '0')
        {
            if (sawPoint)
                scale = saturatingAdd (scale, -1);

            continue;
        }

        if (numDigits < maxDigits)
        {
            digits[numDigits++] = c;

            if (sawPoint)
                scale = saturatingAdd (scale, -1);
        }
        else if (! sawPoint)
        {
            scale = saturatingAdd (scale, 1);   // a dropped digit before the point
        }
    }

    if (sawDigit && (*text == 'e' || *text == 'E'))
    {
        const char* p = text + 1;
        bool negativeExponent = false;

        if (*p == '-' || *p == '+')
            negativeExponent = *p++ == '-';

        // Without digits the 'e' is not part of the number.
        if (isDigit (*p))
        {
            int64_t exponent = 0;

            for (; isDigit (*p); ++p)
                exponent = saturatingAdd (exponent * 10 > exponentLimit ? exponentLimit : exponent * 10, *p - '0');

            scale = saturatingAdd (scale, negativeExponent ? -exponent : exponent);
        }
    }

    if (numDigits == 0)
        return 0.0;

    // The magnitude is about 10^(scale + numDigits - 1).
    const auto magnitude = scale + numDigits - 1;
    const double largest = negative ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();

    if (magnitude > 400)
        return largest;

    if (magnitude < -400)
        return 0.0;

    // digits "e" scale, read without regard to the C library's locale.
    int length = numDigits;
    digits[length++] = 'e';
    const auto written = std::to_chars (digits + length, digits + sizeof (digits), (long long) scale);
    length = (int) (written.ptr - digits);

    double value = 0.0;
    const auto result = std::from_chars (digits, digits + length, value);

    if (result.ec == std::errc::result_out_of_range)
        return magnitude > 0 ? largest : 0.0;

    if (value == 0.0)
        return 0.0;

    return negative ? -value : value;
}

bool DecimalText::isPlain (const char* text) noexcept
{
    if (*text == '-')
        ++text;

    int whole = 0;
    for (; isDigit (*text); ++text)
        if (++whole > 20)
            return false;

    if (whole == 0)
        return false;

    if (*text == '.')
    {
        int fraction = 0;
        for (++text; isDigit (*text); ++text)
            if (++fraction > 30)
                return false;
    }

    return *text == 0;
}
