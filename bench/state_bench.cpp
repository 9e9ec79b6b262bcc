// How long loading a saved state takes, for blocks of up to 1 MB: the
// plug-in's own block (the reference), blocks made to crash or freeze an XML
// reader, and documents that load (many unknown elements; elements with as
// many attributes as the reader takes). Each is sized to fill the block size
// given as the argument: 1 MB, and the largest block whose text the reader
// parses (larger ones are refused before parsing). Each time is also shown
// as a multiple of the reference ("x_plain"), measured in the same run.

#include "plugin/Processor.h"
#include "plugin/State.h"
#include "tests/support/StateBlocks.h"

#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

#include <ctime>
#include <functional>

namespace
{
    // Made in main(), while the framework is running.
    Processor* benchProcessor = nullptr;
    double plainLoadSeconds = 0.0;

    /** The text from make (count) for the largest count whose block fits in
        blockBytes. */
    std::string filling (int64_t blockBytes, const std::function<std::string (int)>& make)
    {
        const auto textBytes = (size_t) blockBytes - 9;
        int low = 1, high = 2;

        while (make (high).size() <= textBytes)
            high *= 2;

        while (high - low > 1)
        {
            const auto middle = low + (high - low) / 2;
            (make (middle).size() <= textBytes ? low : high) = middle;
        }

        return make (low);
    }

    /** Unknown elements up to the element limit, their size chosen to fill
        the block, after the five parameters. */
    std::string manyUnknownElements (int64_t blockBytes)
    {
        const auto textBytes = (size_t) blockBytes - 9;
        const auto count = StateBlock::maxElements - 6;
        const std::string head = "<ChorusID><PARAM id=\"chorus_on\" value=\"1\"/><PARAM id=\"chorus_depth\" value=\"5\"/>"
                                 "<PARAM id=\"chorus_speed\" value=\"2\"/><PARAM id=\"chorus_mix\" value=\"4\"/><PARAM id=\"stereo_proc\" value=\"1\"/>";
        const std::string tail = "</ChorusID>";
        const auto each = (textBytes - head.size() - tail.size()) / (size_t) count;
        const std::string element = "<Note at=\"0\" text=\"\"/>";

        std::string text = head;

        for (int i = 0; i < count; ++i)
            text += "<Note at=\"" + std::to_string (i % 10) + "\" text=\"" + std::string (std::max (each, element.size()) - element.size(), 'x') + "\"/>";

        return text + tail;
    }

    /** Elements with as many attributes as the reader takes, as many as fit. */
    std::string mostAttributes (int count)
    {
        std::string element = "<Note";

        for (int i = 0; i < StateBlock::maxAttributesPerElement; ++i)
            element += " n" + std::to_string (i) + "=\"" + std::to_string (i % 10) + "\"";

        return "<ChorusID><PARAM id=\"chorus_mix\" value=\"4\"/>" + StateBlocks::repeated (element + "/>", count) + "</ChorusID>";
    }

    juce::MemoryBlock plainBlock()
    {
        Processor p;
        juce::MemoryBlock block;
        p.getStateInformation (block);
        return block;
    }

    // Processor time, which the other programs sharing the machine do not
    // add to.
    double processorSeconds()
    {
        return (double) std::clock() / CLOCKS_PER_SEC;
    }

    void load (benchmark::State& state, const juce::MemoryBlock& block)
    {
        auto& p = *benchProcessor;
        const auto start = processorSeconds();

        for (auto _ : state)
            p.setStateInformation (block.getData(), (int) block.getSize());

        const auto each = (processorSeconds() - start) / (double) state.iterations();
        state.counters["x_plain"] = each / plainLoadSeconds;
        state.counters["bytes"] = (double) block.getSize();
    }

    void loadText (benchmark::State& state, const std::string& text)
    {
        load (state, StateBlocks::around (text));
    }

    void BM_Plain (benchmark::State& state)   { load (state, plainBlock()); }

    void BM_NestingBehindComment (benchmark::State& state)
    {
        loadText (state, filling (state.range (0), StateBlocks::nestingBehindComment));
    }

    void BM_NestingBehindUnquotedValue (benchmark::State& state)
    {
        loadText (state, filling (state.range (0), StateBlocks::nestingBehindUnquotedValue));
    }

    void BM_ManyAttributesOnOneElement (benchmark::State& state)
    {
        loadText (state, filling (state.range (0), StateBlocks::manyAttributes));
    }

    // Short names, all different: the most an XML reader has to remember.
    void BM_ManyShortNamesOnOneElement (benchmark::State& state)
    {
        loadText (state, filling (state.range (0), [] (int count)
        {
            std::string text = "<ChorusID><a";

            for (int i = 0; i < count; ++i)
                text += " g" + juce::String::toHexString (i).toStdString() + "=\"\"";

            return text + "/></ChorusID>";
        }));
    }

    void BM_ManyElements (benchmark::State& state)
    {
        loadText (state, filling (state.range (0), [] (int count) { return "<ChorusID>" + StateBlocks::repeated ("<a/>", count) + "</ChorusID>"; }));
    }

    void BM_ManyUnknownElementsLoaded (benchmark::State& state)  { loadText (state, manyUnknownElements (state.range (0))); }
    void BM_MostAttributesLoaded (benchmark::State& state)       { loadText (state, filling (state.range (0), mostAttributes)); }

    // What a host asks for next: the save of the state just loaded.
    void BM_SaveAfterManyUnknownElements (benchmark::State& state)
    {
        auto& p = *benchProcessor;
        const auto block = StateBlocks::around (manyUnknownElements (state.range (0)));
        p.setStateInformation (block.getData(), (int) block.getSize());
        juce::MemoryBlock saved;

        for (auto _ : state)
        {
            saved.reset();
            p.getStateInformation (saved);
            benchmark::DoNotOptimize (saved.getData());
        }

        state.counters["bytes"] = (double) saved.getSize();
    }

    // 1 MB, and the largest block whose text the reader parses.
    void sizes (benchmark::internal::Benchmark* b)
    {
        b->Arg (1 << 20)->Arg (StateBlock::maxTextBytes + 9)->Unit (benchmark::kMillisecond);
    }

    double timePlainLoad()
    {
        const auto block = plainBlock();
        constexpr int rounds = 20000;
        const auto start = processorSeconds();

        for (int i = 0; i < rounds; ++i)
            benchProcessor->setStateInformation (block.getData(), (int) block.getSize());

        return (processorSeconds() - start) / rounds;
    }
}

BENCHMARK (BM_Plain)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_NestingBehindComment)->Apply (sizes);
BENCHMARK (BM_NestingBehindUnquotedValue)->Apply (sizes);
BENCHMARK (BM_ManyAttributesOnOneElement)->Apply (sizes);
BENCHMARK (BM_ManyShortNamesOnOneElement)->Apply (sizes);
BENCHMARK (BM_ManyElements)->Apply (sizes);
BENCHMARK (BM_ManyUnknownElementsLoaded)->Apply (sizes);
BENCHMARK (BM_MostAttributesLoaded)->Apply (sizes);
BENCHMARK (BM_SaveAfterManyUnknownElements)->Arg (StateBlock::maxTextBytes + 9)->Unit (benchmark::kMillisecond);

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI framework;

    Processor processor;
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (juce::AudioChannelSet::stereo());
    layout.outputBuses.add (juce::AudioChannelSet::stereo());
    processor.setBusesLayout (layout);
    processor.prepareToPlay (48000.0, 512);
    benchProcessor = &processor;
    plainLoadSeconds = timePlainLoad();

    benchmark::Initialize (&argc, argv);

    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
