// Any text typed into each parameter, and any normalised value a host sends:
// every parameter must end at a legal value, and the text shown for a value
// must stay short. The same text as a value in a saved state: the load must
// end legal, with a tree no deeper than the limit. And the decimal reader
// must read numbers as the C library does in the C locale.

#include "plugin/DecimalText.h"
#include "plugin/Processor.h"
#include "plugin/State.h"
#include "support/ExpectedState.h"
#include "support/StateBlocks.h"

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>
#include <vector>

namespace
{
    struct Fixture
    {
        Fixture() { processor.prepareToPlay (48000.0, 512); }

        juce::ScopedJuceInitialiser_GUI framework;
        Processor processor;
    };

    void check (bool condition, const char* what)
    {
        if (! condition)
        {
            std::fprintf (stderr, "fuzz_text: %s\n", what);
            std::abort();
        }
    }

    // The bytes as Unicode text (hosts hand text over already decoded): a
    // byte below 0xf8 is the code point of that value; a byte from 0xf8 up
    // starts a code point made of the next three bytes, kept within Unicode
    // and clear of the surrogates.
    juce::String textFrom (const uint8_t* data, size_t size)
    {
        std::vector<juce::juce_wchar> points;

        for (size_t i = 0; i < size; ++i)
        {
            auto c = (uint32_t) data[i];

            if (c >= 0xf8 && i + 3 < size)
            {
                c = (((uint32_t) data[i + 1] << 16) | ((uint32_t) data[i + 2] << 8) | data[i + 3]) % 0x110000u;
                i += 3;

                if (c >= 0xd800 && c <= 0xdfff)
                    c = 0xfffd;
            }

            if (c != 0)
                points.push_back ((juce::juce_wchar) c);
        }

        points.push_back (0);
        return juce::String (juce::CharPointer_UTF32 (reinterpret_cast<const juce::CharPointer_UTF32::CharType*> (points.data())));
    }

    // The grammar that the decimal reader and strtod share: white space, an
    // optional sign, digits with at most one point, an optional exponent;
    // whatever follows ends the number for both. The bytes are mapped onto
    // the characters of that grammar and nothing else (no letters but the
    // exponent's, so no "nan", "inf" or hexadecimal, which only strtod reads).
    std::string numberTextFrom (const uint8_t* data, size_t size)
    {
        static constexpr char alphabet[] = "0123456789.eE+- \t\n";
        std::string text;

        for (size_t i = 0; i < size; ++i)
            text += alphabet[data[i] % (sizeof (alphabet) - 1)];

        return text;
    }

    // The decimal reader keeps the first 40 significant digits: beyond them
    // it may round the last bit differently from strtod.
    int significantDigits (const char* begin, const char* end)
    {
        int count = 0;

        for (auto* c = begin; c < end && *c != 'e' && *c != 'E'; ++c)
            if (*c >= '0' && *c <= '9' && (count > 0 || *c != '0'))
                ++count;

        return count;
    }

    void compareWithStrtod (const std::string& text)
    {
        static const auto cLocale = newlocale (LC_ALL_MASK, "C", (locale_t) nullptr);
        check (cLocale != (locale_t) nullptr, "no C locale");

        char* end = nullptr;
        const auto expected = strtod_l (text.c_str(), &end, cLocale);
        const auto read = DecimalText::read (text.c_str());

        if (std::isinf (expected))
        {
            // Beyond the range of double the reader gives its largest value.
            check (read == std::copysign (DBL_MAX, expected), "beyond the range of double, not the largest value");
            return;
        }

        if (significantDigits (text.c_str(), end) <= 40)
            check (read == expected, "the decimal reader and strtod differ");
        else
            check (read == expected || read == std::nextafter (expected, read), "the decimal reader and strtod differ by more than the last bit");
    }
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    static auto& f = *new Fixture();
    const auto text = textFrom (data, size);

    float sent = 0.0f;
    if (size >= sizeof (sent))
        std::memcpy (&sent, data, sizeof (sent));

    for (auto* parameter : f.processor.getParameters())
    {
        const auto fromText = parameter->getValueForText (text);
        check (std::isfinite (fromText) && fromText >= 0.0f && fromText <= 1.0f, "text read as a value outside 0..1");

        parameter->setValueNotifyingHost (fromText);

        // Any float a host may send, NaN and infinities included.
        parameter->setValueNotifyingHost (sent);
        const auto v = parameter->getValue();
        check (std::isfinite (v) && v >= 0.0f && v <= 1.0f, "a sent value left outside 0..1");

        const auto shown = parameter->getText (sent, 1024);
        check (! (sent >= 0.0f && sent <= 1.0f) || shown.length() <= 16, "text for a value in 0..1 is not short");
        check (parameter->getCurrentValueAsText().isNotEmpty(), "no text for the current value");
    }

    // The text as a saved value (markup and all).
    const auto block = StateBlocks::around ("<ChorusID><PARAM id=\"chorus_depth\" value=\"" + text.toStdString() + "\"/></ChorusID>");

    if (const auto xml = StateBlock::read (block.getData(), (int) block.getSize()))
        check (ExpectedState::depthOf (*xml) <= StateBlock::maxNesting, "an accepted tree deeper than the limit");

    f.processor.setStateInformation (block.getData(), (int) block.getSize());
    check (ExpectedState::depthOf (f.processor.parameters.copyState()) <= StateBlock::maxNesting, "a parameter tree deeper than the limit");

    for (auto* parameter : f.processor.getParameters())
    {
        const auto v = parameter->getValue();
        check (std::isfinite (v) && v >= 0.0f && v <= 1.0f, "a loaded value left outside 0..1");
    }

    const auto& e = f.processor.engine;
    check (e.mix.load() >= 0.0f && e.mix.load() <= 0.75f, "mix out of range");
    check (e.depthPercent.load() >= 0.0f && e.depthPercent.load() <= 100.0f, "depth out of range");
    check (e.speedHz.load() >= 0.02f && e.speedHz.load() <= 5.0f, "speed out of range");

    compareWithStrtod (numberTextFrom (data, size));

    juce::StringPool::getGlobalPool().garbageCollect();
    return 0;
}
