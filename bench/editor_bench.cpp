// How long the editor takes to open, with the pictures still to be decoded
// (cold) and already in the pictures' store (warm), and to paint the whole panel,
// at 100%, 200% and 300% (the argument).
//
// Each iteration does the same work at 100% too, in turn with the zoom
// measured, and the counter "x100%" gives the zoom's time as a multiple of
// that: a ratio measured in the same run, on the same processor (named in the
// context above the results), which means more across machines than the
// times themselves.
//
// Run it without a display (DISPLAY unset) or on a screen of at least
// 1110 x 1428: a window opens no larger than the screen, so on a smaller one
// 300% would open at 200%, and the benchmark says so rather than measure it.

#include "BenchContext.h"

#include "plugin/Processor.h"
#include "ui/Editor.h"
#include "ui/Pictures.h"

#include <juce_events/juce_events.h>

#include <chrono>

namespace
{
    // Made in main(), while the framework is running.
    Processor* benchProcessor = nullptr;

    using Clock = std::chrono::steady_clock;

    double secondsOf (Clock::duration d)
    {
        return std::chrono::duration<double> (d).count();
    }

    /** An editor opening at a zoom, as a window of an instance that keeps it. */
    std::unique_ptr<Editor> openAt (double zoom)
    {
        benchProcessor->editorZoom = zoom;
        return std::make_unique<Editor> (*benchProcessor, benchProcessor->parameters);
    }

    void paintWhole (Editor& editor)
    {
        juce::Image image (juce::Image::ARGB, editor.getWidth(), editor.getHeight(), false);
        juce::Graphics g (image);
        editor.paintEntireComponent (g, false);
    }

    /** Times work at the benchmark's zoom and, in turn, at 100%; the zoom's
        time is the iteration's, the ratio a counter. */
    template <typename Work>
    void againstHundredPercent (benchmark::State& state, Work&& work)
    {
        const auto zoom = (double) state.range (0) / 100.0;
        double atZoom = 0.0, atHundred = 0.0;

        {
            // The zoom must be the one asked for (see above).
            const auto probe = openAt (zoom);

            if (probe->getZoom() != zoom)
            {
                state.SkipWithError ("the screen is too small for this zoom: run without a display");
                return;
            }
        }

        for (auto _ : state)
        {
            const auto hundred = work (1.0);
            const auto measured = work (zoom);
            atHundred += hundred;
            atZoom += measured;
            state.SetIterationTime (measured);
        }

        state.counters["x100%"] = atZoom / atHundred;
    }

    void BM_OpenEditorCold (benchmark::State& state)
    {
        againstHundredPercent (state, [] (double zoom)
        {
            Pictures::releaseUnused();

            const auto start = Clock::now();
            const auto editor = openAt (zoom);
            paintWhole (*editor);
            return secondsOf (Clock::now() - start);
        });
    }

    void BM_OpenEditorWarm (benchmark::State& state)
    {
        // Windows kept open at both zooms hold their pictures in the store.
        const auto keepsHundred = openAt (1.0);
        const auto keepsZoom = openAt ((double) state.range (0) / 100.0);

        againstHundredPercent (state, [] (double zoom)
        {
            const auto start = Clock::now();
            const auto editor = openAt (zoom);
            paintWhole (*editor);
            return secondsOf (Clock::now() - start);
        });
    }

    void BM_PaintWholePanel (benchmark::State& state)
    {
        const auto atHundred = openAt (1.0);
        const auto atZoom = openAt ((double) state.range (0) / 100.0);
        juce::Image hundredImage (juce::Image::ARGB, atHundred->getWidth(), atHundred->getHeight(), true);
        juce::Image zoomImage (juce::Image::ARGB, atZoom->getWidth(), atZoom->getHeight(), true);

        againstHundredPercent (state, [&] (double zoom)
        {
            auto& editor = zoom == 1.0 ? *atHundred : *atZoom;
            auto& image = zoom == 1.0 ? hundredImage : zoomImage;

            const auto start = Clock::now();
            juce::Graphics g (image);
            editor.paintEntireComponent (g, false);
            benchmark::ClobberMemory();
            return secondsOf (Clock::now() - start);
        });
    }

    void zooms (benchmark::internal::Benchmark* b)
    {
        b->Arg (100)->Arg (200)->Arg (300)->UseManualTime();
    }

    BENCHMARK (BM_OpenEditorCold)->Apply (zooms)->Unit (benchmark::kMillisecond);
    BENCHMARK (BM_OpenEditorWarm)->Apply (zooms)->Unit (benchmark::kMicrosecond);
    BENCHMARK (BM_PaintWholePanel)->Apply (zooms)->Unit (benchmark::kMicrosecond);
}

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI framework;

    Processor processor;
    benchProcessor = &processor;

    benchmark::Initialize (&argc, argv);

    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;

    addMachineContext();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
