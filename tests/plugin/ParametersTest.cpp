#include "plugin/ProcessorHarness.h"

#include "plugin/Parameters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <locale>

TEST (Parameters, LayoutAsHostsSeeIt)
{
    struct Expected { const char* id; const char* name; int steps; float defaultNormalised; const char* defaultText; };
    const Expected expected[] = {
        { "chorus_on", "Chorus", 2, 1.0f, "On" },
        { "chorus_depth", "Chorus Depth", 101, 0.0f, "0.0" },
        { "chorus_speed", "Chorus Speed", 101, 0.0f, "0.0" },
        { "chorus_mix", "Chorus Mix", 101, 1.0f, "10.0" },
        { "stereo_proc", "Processing Mode", 2, 1.0f, "Stereo" },
    };

    Processor processor;
    const auto& params = processor.getParameters();
    ASSERT_EQ (params.size(), 5);

    for (int i = 0; i < 5; ++i)
    {
        const auto& e = expected[i];
        auto* p = dynamic_cast<juce::RangedAudioParameter*> (params[i]);
        ASSERT_NE (p, nullptr);
        EXPECT_EQ (p->paramID, e.id);
        EXPECT_EQ (p->getName (100), e.name);
        EXPECT_EQ (p->getLabel(), "");
        EXPECT_EQ (p->getNumSteps(), e.steps) << e.id;
        EXPECT_EQ (p->getDefaultValue(), e.defaultNormalised) << e.id;
        EXPECT_EQ (p->getValue(), e.defaultNormalised) << e.id;
        EXPECT_EQ (p->getCurrentValueAsText(), e.defaultText) << e.id;
        EXPECT_TRUE (p->isAutomatable());
        EXPECT_FALSE (p->isMetaParameter());
        EXPECT_FALSE (p->isDiscrete());
        EXPECT_FALSE (p->isBoolean());
        EXPECT_EQ (p->getCategory(), juce::AudioProcessorParameter::genericParameter);
        EXPECT_EQ (p->getNormalisableRange().skew, 1.0f);
        EXPECT_EQ (p->getNormalisableRange().start, 0.0f);
    }
}

namespace
{
    /** A C++ locale that writes numbers with a decimal comma and groups
        thousands, as many users' systems do. */
    struct CommaDecimals : std::numpunct<char>
    {
        char do_decimal_point() const override { return ','; }
        char do_thousands_sep() const override { return '.'; }
        std::string do_grouping() const override { return "\3"; }
    };

    /** Makes the comma locale the program's global C++ locale while it lives. */
    struct GlobalCommaLocale
    {
        GlobalCommaLocale() : previous (std::locale::global (std::locale (std::locale::classic(), new CommaDecimals))) {}
        ~GlobalCommaLocale() { std::locale::global (previous); }
        const std::locale previous;
    };
}

// Knobs show the plain value with one decimal, as the panel's 0 to 10 scale
// reads, with a point whatever the locale; a value between steps or outside
// 0..1 shows the value the knob would take.
TEST (Parameters, TextFromValue)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();

    struct Case { const char* id; float normalised; const char* text; };
    const Case cases[] = {
        { "chorus_on", 0.0f, "Off" }, { "chorus_on", 0.4f, "Off" }, { "chorus_on", 0.6f, "On" }, { "chorus_on", 1.0f, "On" },
        { "stereo_proc", 0.0f, "Mono" }, { "stereo_proc", 1.0f, "Stereo" },
        { "chorus_depth", 0.5f, "5.0" }, { "chorus_speed", 0.37f, "3.7" }, { "chorus_mix", 0.333f, "3.3" },
        { "chorus_speed", 0.376f, "3.8" }, { "chorus_mix", 1.0f, "10.0" }, { "chorus_depth", 0.0f, "0.0" },
        { "chorus_depth", 0.01f, "0.1" }, { "chorus_mix", 0.99f, "9.9" },
        { "chorus_depth", 1.5f, "10.0" }, { "chorus_speed", -0.2f, "0.0" }, { "chorus_mix", nan, "10.0" }, { "chorus_depth", nan, "0.0" },
    };

    Processor processor;
    const auto check = [&] (const char* where)
    {
        for (const auto& c : cases)
            EXPECT_EQ (processor.parameters.getParameter (c.id)->getText (c.normalised, 128), juce::String (c.text))
                << c.id << " " << c.normalised << " " << where;
    };

    check ("in the classic locale");
    const GlobalCommaLocale comma;
    check ("with decimal commas");
}

// Whatever text a host shows for a knob's step, typed back, sets the same
// step: every step from 0 to 10, for each knob, in either locale.
TEST (Parameters, KnobTextReadsBackAsTheSameValue)
{
    ProcessorHarness h;

    const auto everyStep = [&] (const char* where)
    {
        for (auto* id : { "chorus_depth", "chorus_speed", "chorus_mix" })
        {
            auto& p = h.parameter (id);

            for (int step = 0; step <= 100; ++step)
            {
                p.setValueNotifyingHost ((float) step / 100.0f);
                const auto shown = p.getCurrentValueAsText();
                const auto value = p.getValue();
                const auto plain = h.raw (id);
                EXPECT_EQ (shown, juce::String (step / 10) + "." + juce::String (step % 10)) << id << " step " << step << " " << where;

                p.setValueNotifyingHost (0.5f);   // somewhere else first
                p.setValueNotifyingHost (p.getValueForText (shown));
                EXPECT_EQ (p.getValue(), value) << id << " \"" << shown << "\" " << where;
                EXPECT_EQ (h.raw (id), plain) << id << " \"" << shown << "\" " << where;
            }
        }
    };

    everyStep ("in the classic locale");
    const GlobalCommaLocale comma;
    everyStep ("with decimal commas");
}

TEST (Parameters, ValueFromText)
{
    struct Case { const char* id; const char* text; float normalised; };
    const Case cases[] = {
        // Only the exact words switch to 0.
        { "chorus_on", "Off", 0.0f }, { "chorus_on", "off", 1.0f }, { "chorus_on", "0", 1.0f },
        { "chorus_on", "Off ", 1.0f }, { "chorus_on", "On", 1.0f },
        { "stereo_proc", "Mono", 0.0f }, { "stereo_proc", "mono", 1.0f }, { "stereo_proc", "Stereo", 1.0f },
        // Knobs read a plain value from 0 to 10, as they show it.
        { "chorus_depth", "5", 0.5f }, { "chorus_speed", "2.5", 0.25f }, { "chorus_mix", "10", 1.0f },
        { "chorus_depth", "5.0", 0.5f }, { "chorus_mix", "10.0", 1.0f }, { "chorus_speed", "0.0", 0.0f },
        { "chorus_mix", "12", 1.0f }, { "chorus_mix", "-3", 0.0f }, { "chorus_depth", "abc", 0.0f },
        { "chorus_mix", "nan", 1.0f }, { "chorus_depth", "inf", 1.0f },
        // Beyond the float range, and exponents too long for the framework's
        // own number reader: clamped.
        { "chorus_depth", "1e39", 1.0f }, { "chorus_mix", "-1e39", 0.0f },
        { "chorus_depth", "1e3900000000", 1.0f }, { "chorus_mix", "-2.5e-99999999999999", 0.0f },
        { "chorus_speed", " 7.5 Hz", 0.75f },
    };

    Processor processor;
    for (const auto& c : cases)
        EXPECT_EQ (processor.parameters.getParameter (c.id)->getValueForText (c.text), c.normalised) << c.id << " '" << c.text << "'";
}

TEST (Parameters, AnythingAHostSendsEndsAtALegalValue)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();

    struct Case { const char* id; float sent; float plain; };
    const Case cases[] = {
        { "chorus_depth", nan, 0.0f }, { "chorus_mix", nan, 10.0f }, { "chorus_mix", inf, 10.0f },
        { "chorus_speed", -inf, 0.0f }, { "chorus_depth", -0.5f, 0.0f }, { "chorus_depth", 7.0f, 10.0f },
        { "chorus_on", nan, 1.0f }, { "stereo_proc", 0.3f, 0.0f }, { "stereo_proc", 0.7f, 1.0f },
        { "chorus_speed", 0.333f, 3.3f }, { "chorus_mix", -1.0f, 0.0f }, { "chorus_speed", 2.0f, 10.0f },
        { "chorus_on", -1.0f, 0.0f }, { "stereo_proc", 2.0f, 1.0f }, { "stereo_proc", -inf, 1.0f },
    };

    for (const auto& c : cases)
    {
        ProcessorHarness h;
        h.prepare();
        h.parameter ("chorus_depth").setValueNotifyingHost (0.2f);   // something other than the default first
        h.parameter (c.id).setValueNotifyingHost (c.sent);

        EXPECT_EQ (h.raw (c.id), c.plain) << c.id << " " << c.sent;
        EXPECT_TRUE (std::isfinite (h.processor.engine.depthPercent.load()));
        EXPECT_GE (h.processor.engine.mix.load(), 0.0f);
        EXPECT_LE (h.processor.engine.mix.load(), 0.75f);
    }
}

// A value a host sets reads back at once as the value the parameter takes,
// which is what the processor applies, shows as text and saves: a switch
// takes the step the value falls in (off below one half), a knob its
// nearest tenth. Saved and restored into another processor, it reads back
// the same.
TEST (Parameters, AValueReadsBackAsTakenAppliedAndSaved)
{
    struct Case { const char* id; float set; float taken; const char* text; };
    const Case cases[] = {
        { "chorus_on", 0.32f, 0.0f, "Off" }, { "chorus_on", 0.49f, 0.0f, "Off" }, { "chorus_on", 0.5f, 1.0f, "On" },
        { "stereo_proc", 0.436f, 0.0f, "Mono" }, { "stereo_proc", 0.999f, 1.0f, "Stereo" },
        { "chorus_depth", 0.372f, 0.37f, "3.7" }, { "chorus_speed", 0.376f, 0.38f, "3.8" }, { "chorus_mix", 0.0049f, 0.0f, "0.0" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.id) + " set to " + juce::String (c.set));
        ProcessorHarness h;
        h.prepare();
        auto& p = h.parameter (c.id);
        p.setValueNotifyingHost (c.set);

        EXPECT_FLOAT_EQ (p.getValue(), c.taken);
        EXPECT_EQ (p.getCurrentValueAsText(), c.text);
        EXPECT_EQ (h.raw (c.id), p.convertFrom0to1 (c.taken));

        // A knob's engine value is the one for the value taken.
        const auto plain = (double) p.convertFrom0to1 (c.taken);
        const juce::String id (c.id);
        if (id == "chorus_depth") { EXPECT_EQ (h.processor.engine.depthPercent.load(), (float) plain * 10.0f); }
        if (id == "chorus_speed") { EXPECT_EQ (h.processor.engine.speedHz.load(), (float) (plain * 0.498 + 0.02)); }
        if (id == "chorus_mix")   { EXPECT_EQ (h.processor.engine.mix.load(), (float) (plain * 0.075)); }

        juce::MemoryBlock state;
        h.processor.getStateInformation (state);

        ProcessorHarness other;
        other.processor.setStateInformation (state.getData(), (int) state.getSize());
        EXPECT_EQ (other.parameter (c.id).getValue(), p.getValue());
        EXPECT_EQ (other.raw (c.id), h.raw (c.id));
    }
}
