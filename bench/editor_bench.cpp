// How long the editor takes to open, with the pictures still to be decoded
// (cold) and already in the image cache (warm), and to paint the whole panel.

#include "plugin/Processor.h"
#include "ui/Editor.h"

#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

namespace
{
    // Made in main(), while the framework is running.
    Processor* benchProcessor = nullptr;

    Processor& sharedProcessor()
    {
        return *benchProcessor;
    }

    void BM_OpenEditorCold (benchmark::State& state)
    {
        auto& processor = sharedProcessor();

        for (auto _ : state)
        {
            state.PauseTiming();
            juce::ImageCache::releaseUnusedImages();
            state.ResumeTiming();

            Editor editor (processor, processor.parameters);
            benchmark::DoNotOptimize (&editor);
        }
    }
    BENCHMARK (BM_OpenEditorCold)->Unit (benchmark::kMillisecond);

    void BM_OpenEditorWarm (benchmark::State& state)
    {
        auto& processor = sharedProcessor();
        Editor keepsPicturesCached (processor, processor.parameters);

        for (auto _ : state)
        {
            Editor editor (processor, processor.parameters);
            benchmark::DoNotOptimize (&editor);
        }
    }
    BENCHMARK (BM_OpenEditorWarm)->Unit (benchmark::kMicrosecond);

    void BM_PaintWholePanel (benchmark::State& state)
    {
        auto& processor = sharedProcessor();
        Editor editor (processor, processor.parameters);
        juce::Image image (juce::Image::ARGB, 370, 476, true);

        for (auto _ : state)
        {
            juce::Graphics g (image);
            editor.paintEntireComponent (g, false);
            benchmark::ClobberMemory();
        }
    }
    BENCHMARK (BM_PaintWholePanel)->Unit (benchmark::kMicrosecond);
}

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI framework;

    // Unused pictures leave the cache as soon as they are released, so each
    // cold run really decodes.
    juce::ImageCache::setCacheTimeout (0);

    Processor processor;
    benchProcessor = &processor;

    benchmark::Initialize (&argc, argv);

    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
