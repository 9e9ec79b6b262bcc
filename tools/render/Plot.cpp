#include "Plot.h"

#include <cmath>

namespace render
{
    namespace
    {
        constexpr int left = 92, right = 24, top = 78;
        constexpr int waveHeight = 104, gap = 12, delayHeight = 184;
        constexpr float maxDelayShown = 35.0f;

        const juce::Colour background { 0xffffffff };
        const juce::Colour panel { 0xfff6f7f9 };
        const juce::Colour grid { 0xffdde1e6 };
        const juce::Colour ink { 0xff20252b };
        const juce::Colour faint { 0xff7a838e };
        const juce::Colour inputColour { 0xff6b7785 };
        const juce::Colour channelColour[2] { juce::Colour (0xff1f6fb4), juce::Colour (0xffd9641c) };

        // A tick step of 1, 2 or 5 times a power of ten that gives at most
        // maxTicks ticks over the span.
        double tickStep (double span, int maxTicks)
        {
            if (span <= 0.0)
                return 1.0;

            auto step = std::pow (10.0, std::floor (std::log10 (span / maxTicks)));

            for (auto factor : { 1.0, 2.0, 5.0, 10.0 })
                if (span / (step * factor) <= maxTicks)
                    return step * factor;

            return step * 10.0;
        }

        juce::String number (double v, double step)
        {
            const int decimals = step >= 1.0 ? 0 : step >= 0.1 ? 1 : 2;
            return juce::String (v, decimals);
        }
    }

    Plot::Plot (Setup s)
        : setup (std::move (s)), columns (width - left - right)
    {
        for (int c = 0; c < 2; ++c)
        {
            input[c].resize ((size_t) columns);
            output[c].resize ((size_t) columns);
            delay[c].resize ((size_t) columns);
        }
    }

    int Plot::columnOf (juce::int64 sample) const noexcept
    {
        if (setup.length <= 0)
            return 0;

        return (int) juce::jlimit<juce::int64> (0, columns - 1, sample * columns / setup.length);
    }

    void Plot::addSamples (std::vector<Range> (&into)[2], const juce::AudioBuffer<float>& buffer, int channels,
                           juce::int64 start, int n)
    {
        for (int c = 0; c < std::min (2, channels); ++c)
        {
            const auto* data = buffer.getReadPointer (c);

            for (int i = 0; i < n;)
            {
                // The run of samples that falls into one column.
                const int column = columnOf (start + i);
                int end = i + 1;
                while (end < n && columnOf (start + end) == column)
                    ++end;

                const auto range = juce::FloatVectorOperations::findMinAndMax (data + i, end - i);
                into[c][(size_t) column].add (range.getStart());
                into[c][(size_t) column].add (range.getEnd());
                i = end;
            }
        }
    }

    void Plot::addInput (const juce::AudioBuffer<float>& buffer, juce::int64 start, int n)
    {
        addSamples (input, buffer, setup.inputs, start, n);
    }

    void Plot::addOutput (const juce::AudioBuffer<float>& buffer, juce::int64 start, int n)
    {
        addSamples (output, buffer, setup.outputs, start, n);
    }

    void Plot::addDelay (int voice, juce::int64 sample, float milliseconds)
    {
        auto& column = delay[voice][(size_t) columnOf (sample)];

        if (! column.range.seen)
            column.first = milliseconds;

        column.range.add (milliseconds);
        column.last = milliseconds;
    }

    juce::Image Plot::draw (const juce::Typeface::Ptr& regular, const juce::Typeface::Ptr& bold) const
    {
        juce::Image image (juce::Image::RGB, width, height, true);
        juce::Graphics g (image);
        g.fillAll (background);

        const auto font = [&] (bool isBold, float size) { return juce::Font (isBold ? bold : regular).withHeight (size); };
        const auto plotRight = width - right;
        const auto xOf = [&] (int column) { return (float) (left + column) + 0.5f; };

        // Title and settings.
        g.setColour (ink);
        g.setFont (font (true, 21.0f));
        g.drawText (setup.title, left, 10, plotRight - left, 28, juce::Justification::centredLeft);
        g.setColour (faint);
        g.setFont (font (false, 15.0f));
        g.drawText (setup.settings, left, 40, plotRight - left, 22, juce::Justification::centredLeft);

        // Shared amplitude scale: at least -1..1, wider if the output goes beyond.
        float peak = 1.0f;
        for (const auto* set : { &input, &output })
            for (const auto& channel : *set)
                for (const auto& r : channel)
                    if (r.seen)
                        peak = std::max ({ peak, std::abs (r.lo), std::abs (r.hi) });
        const float scale = std::ceil (peak * 4.0f) / 4.0f;

        const double seconds = setup.sampleRate > 0 ? (double) setup.length / setup.sampleRate : 0.0;
        const double timeStep = tickStep (seconds, 12);

        const auto drawTimeGrid = [&] (juce::Rectangle<int> area)
        {
            g.setColour (grid);
            for (double t = 0.0; t <= seconds + 1e-9 && seconds > 0.0; t += timeStep)
            {
                const auto x = (float) left + (float) (t / seconds) * (float) columns;
                g.drawVerticalLine ((int) x, (float) area.getY(), (float) area.getBottom());
            }
        };

        const auto caption = [&] (juce::Rectangle<int> area, const juce::String& text, juce::Colour colour)
        {
            g.setColour (colour);
            g.setFont (font (true, 13.0f));
            g.drawText (text, area.reduced (8, 3).withHeight (16), juce::Justification::topLeft);
        };

        // Four waveform panels: input left/right, output left/right.
        struct Row { const std::vector<Range>* data; juce::String name; juce::Colour colour; bool present; juce::String absent; };
        const Row rows[] = {
            { &input[0], "Input, left", inputColour, true, {} },
            { &input[1], "Input, right", inputColour, setup.inputs > 1, "mono input: one channel" },
            { &output[0], "Output, left", channelColour[0], true, {} },
            { &output[1], "Output, right", channelColour[1], setup.outputs > 1, "mono output: one channel" },
        };

        int y = top;
        for (const auto& row : rows)
        {
            const juce::Rectangle<int> area (left, y, columns, waveHeight);
            g.setColour (panel);
            g.fillRect (area);
            drawTimeGrid (area);

            const auto yOf = [&] (float v) { return (float) area.getCentreY() - v / scale * (float) (waveHeight / 2 - 4); };

            g.setColour (grid);
            g.drawHorizontalLine ((int) yOf (0.0f), (float) area.getX(), (float) area.getRight());

            g.setColour (faint);
            g.setFont (font (false, 12.0f));
            for (auto v : { scale, 0.0f, -scale })
                g.drawText (v == 0.0f ? juce::String ("0") : juce::String (v, 2), left - 46, (int) yOf (v) - 8, 40, 16,
                            juce::Justification::centredRight);

            if (row.present)
            {
                g.setColour (row.colour);
                for (int c = 0; c < columns; ++c)
                {
                    const auto& r = (*row.data)[(size_t) c];
                    if (! r.seen)
                        continue;

                    const auto top0 = yOf (r.hi), bottom0 = yOf (r.lo);
                    g.fillRect (juce::Rectangle<float> ((float) (left + c), top0, 1.0f, std::max (1.0f, bottom0 - top0)));
                }
            }
            else
            {
                g.setColour (faint);
                g.setFont (font (false, 14.0f));
                g.drawText (row.absent, area, juce::Justification::centred);
            }

            caption (area, row.name, ink);
            y += waveHeight + gap;
        }

        // The amplitude axis label, along the four waveform panels.
        {
            juce::Graphics::ScopedSaveState state (g);
            const float cx = 22.0f, cy = (float) top + (float) (4 * waveHeight + 3 * gap) / 2.0f;
            g.addTransform (juce::AffineTransform::rotation (-juce::MathConstants<float>::halfPi, cx, cy));
            g.setColour (ink);
            g.setFont (font (false, 14.0f));
            g.drawText ("amplitude (full scale = 1)", juce::Rectangle<float> (cx - 150.0f, cy - 10.0f, 300.0f, 20.0f),
                        juce::Justification::centred);
        }

        // The delay-time panel.
        const juce::Rectangle<int> area (left, y, columns, delayHeight);
        g.setColour (panel);
        g.fillRect (area);
        drawTimeGrid (area);

        const auto yOfDelay = [&] (float ms) { return (float) area.getBottom() - 4.0f - ms / maxDelayShown * (float) (delayHeight - 24); };

        g.setFont (font (false, 12.0f));
        for (int ms = 0; ms <= (int) maxDelayShown; ms += 5)
        {
            g.setColour (grid);
            g.drawHorizontalLine ((int) yOfDelay ((float) ms), (float) area.getX(), (float) area.getRight());
            g.setColour (faint);
            g.drawText (juce::String (ms), left - 46, (int) yOfDelay ((float) ms) - 8, 40, 16, juce::Justification::centredRight);
        }

        bool anyVoice = false;
        const char* voiceNames[2] { "left voice", "right voice" };

        for (int v = 0; v < 2; ++v)
        {
            juce::Path path;
            bool connected = false;

            for (int c = 0; c < columns; ++c)
            {
                const auto& d = delay[v][(size_t) c];

                if (! d.range.seen)
                    continue;

                if (connected)
                    path.lineTo (xOf (c), yOfDelay (d.first));
                else
                    path.startNewSubPath (xOf (c), yOfDelay (d.first));

                if (d.range.lo != d.range.hi)
                {
                    path.lineTo (xOf (c), yOfDelay (d.range.hi));
                    path.lineTo (xOf (c), yOfDelay (d.range.lo));
                }

                path.lineTo (xOf (c), yOfDelay (d.last));
                connected = true;
            }

            const bool ran = ! path.isEmpty();
            anyVoice = anyVoice || ran;

            if (ran)
            {
                g.setColour (channelColour[v]);

                if (v == 0)
                {
                    g.strokePath (path, juce::PathStrokeType (2.5f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
                }
                else
                {
                    // Dashed, so that it stays visible where it runs on top of the left voice.
                    juce::Path dashed;
                    const float dashes[] { 6.0f, 5.0f };
                    juce::PathStrokeType (1.6f).createDashedStroke (dashed, path, dashes, 2);
                    g.fillPath (dashed);
                }
            }

            // Legend, top right.
            const juce::Rectangle<int> entry (area.getRight() - 330 + v * 165, area.getY() + 4, 160, 18);
            g.setColour (ran ? channelColour[v] : faint);
            if (v == 0)
                g.fillRect (entry.getX(), entry.getCentreY() - 1, 22, 3);
            else
                for (int dx = 0; dx < 22; dx += 9)
                    g.fillRect (entry.getX() + dx, entry.getCentreY() - 1, 5, 2);
            g.setFont (font (false, 13.0f));
            g.setColour (ran ? ink : faint);
            g.drawText (juce::String (voiceNames[v]) + (ran ? "" : " (idle)"), entry.withTrimmedLeft (28),
                        juce::Justification::centredLeft);
        }

        if (! anyVoice)
        {
            g.setColour (faint);
            g.setFont (font (false, 15.0f));
            g.drawText (setup.silentVoicesNote, area, juce::Justification::centred);
        }

        caption (area, "Delay time of each chorus voice", ink);

        {
            juce::Graphics::ScopedSaveState state (g);
            const float cx = 22.0f, cy = (float) area.getCentreY();
            g.addTransform (juce::AffineTransform::rotation (-juce::MathConstants<float>::halfPi, cx, cy));
            g.setColour (ink);
            g.setFont (font (false, 14.0f));
            g.drawText ("delay (ms)", juce::Rectangle<float> (cx - 90.0f, cy - 10.0f, 180.0f, 20.0f), juce::Justification::centred);
        }

        // The time axis under the delay panel.
        g.setFont (font (false, 12.0f));
        g.setColour (faint);
        for (double t = 0.0; t <= seconds + 1e-9 && seconds > 0.0; t += timeStep)
        {
            const auto x = (float) left + (float) (t / seconds) * (float) columns;
            g.drawText (number (t, timeStep), juce::Rectangle<float> (x - 30.0f, (float) area.getBottom() + 4.0f, 60.0f, 16.0f),
                        juce::Justification::centredTop);
        }

        g.setColour (ink);
        g.setFont (font (false, 14.0f));
        g.drawText ("time (s)", left, area.getBottom() + 20, columns, 18, juce::Justification::centred);

        return image;
    }
}
