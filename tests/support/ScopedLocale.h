#pragma once

#include <clocale>
#include <string>

/** Sets the C library's locale for as long as it lives, then restores the
    previous one. isSet tells whether the machine has the locale. */
struct ScopedLocale
{
    explicit ScopedLocale (const char* name)
        : previous (std::setlocale (LC_ALL, nullptr)),
          isSet (std::setlocale (LC_ALL, name) != nullptr)
    {
    }

    ~ScopedLocale() { std::setlocale (LC_ALL, previous.c_str()); }

    const std::string previous;
    const bool isSet;
};
