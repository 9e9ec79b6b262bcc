/*
    tessamune_reference: the processor in process, as a host would drive it,
    for the host suite to compare the built binaries against. It links the
    plug-in's own code (and its copy of the framework); the suite, which loads
    the binaries, does not.

    tessamune_reference render OUT --ins N --outs M --rate R --block B --frames F
                               [--bypass] [--set ID=NORMALISED]...
        Processes TestSignal::make (N, F, R) in blocks of B in the layout
        N in, M out, and writes the M output channels one after the other as
        32-bit floats to OUT. The parameters are set after prepareToPlay, as
        a host's changes arrive just before the first block. Exit 2 if the
        processor refuses the layout.

    tessamune_reference state OUT [--set ID=NORMALISED]...
        Writes the processor's state block to OUT.

    tessamune_reference parameters
        One line per parameter, in order, fields separated by tabs: ID, name,
        range start, end and interval, default (plain), step count, and the
        text for the normalised values 0 and 1.

    tessamune_reference layouts
        For 0 to 3 inputs and outputs (but not none of either: a fresh
        processor is in that layout already), one line "INS OUTS 1|0": whether
        a fresh processor takes the layout through setBusesLayout.
*/

#include "plugin/Processor.h"

#include "TestSignal.h"

#include <cstdio>
#include <iostream>

namespace
{
    struct Options
    {
        juce::String command, outputPath;
        int ins = 2, outs = 2, block = 512, frames = 4096;
        double rate = 48000.0;
        bool bypass = false;
        juce::StringPairArray settings;
    };

    Options parse (int argc, char** argv)
    {
        Options o;
        o.command = argc > 1 ? argv[1] : "";
        int i = 2;

        if (o.command != "layouts" && o.command != "parameters" && argc > 2)
            o.outputPath = argv[i++];

        for (; i < argc; ++i)
        {
            const juce::String arg (argv[i]);
            const auto next = [&] { return i + 1 < argc ? juce::String (argv[++i]) : juce::String(); };

            if (arg == "--ins")          o.ins = next().getIntValue();
            else if (arg == "--outs")    o.outs = next().getIntValue();
            else if (arg == "--rate")    o.rate = next().getDoubleValue();
            else if (arg == "--block")   o.block = next().getIntValue();
            else if (arg == "--frames")  o.frames = next().getIntValue();
            else if (arg == "--bypass")  o.bypass = true;
            else if (arg == "--set")
            {
                const auto setting = next();
                o.settings.set (setting.upToFirstOccurrenceOf ("=", false, false),
                                setting.fromFirstOccurrenceOf ("=", false, false));
            }
            else
            {
                std::cerr << "unknown argument " << arg << "\n";
                std::exit (1);
            }
        }

        return o;
    }

    void apply (Processor& processor, const juce::StringPairArray& settings)
    {
        for (auto* parameter : processor.getParameters())
            if (auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*> (parameter))
                if (settings.containsKey (withId->paramID))
                    parameter->setValueNotifyingHost (settings[withId->paramID].getFloatValue());
    }

    bool write (const juce::String& path, const void* data, size_t size)
    {
        juce::File file (path);
        return file.replaceWithData (data, size);
    }

    int render (const Options& o)
    {
        Processor processor;

        if (! processor.setBusesLayout (TestSignal::layoutFor (o.ins, o.outs)))
            return 2;

        processor.setRateAndBufferSizeDetails (o.rate, o.block);
        processor.prepareToPlay (o.rate, o.block);
        apply (processor, o.settings);

        juce::MidiBuffer midi;
        const auto channels = TestSignal::renderInBlocks (o.ins, o.outs, o.frames, o.block, o.rate,
                                                          [&] (juce::AudioBuffer<float>& buffer)
                                                          {
                                                              if (o.bypass)
                                                                  processor.processBlockBypassed (buffer, midi);
                                                              else
                                                                  processor.processBlock (buffer, midi);
                                                          });

        // Written channel after channel.
        std::vector<float> output;
        for (const auto& channel : channels)
            output.insert (output.end(), channel.begin(), channel.end());

        processor.releaseResources();
        return write (o.outputPath, output.data(), output.size() * sizeof (float)) ? 0 : 1;
    }

    int state (const Options& o)
    {
        Processor processor;
        apply (processor, o.settings);

        juce::MemoryBlock block;
        processor.getStateInformation (block);
        return write (o.outputPath, block.getData(), block.getSize()) ? 0 : 1;
    }

    int parameters()
    {
        Processor processor;

        for (auto* parameter : processor.getParameters())
        {
            auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter);

            if (ranged == nullptr)
                return 1;

            const auto& range = ranged->getNormalisableRange();
            const auto number = [] (float v) { return juce::String (v, 9); };

            std::cout << ranged->getParameterID() << "\t" << ranged->getName (1024) << "\t"
                      << number (range.start) << "\t" << number (range.end) << "\t" << number (range.interval) << "\t"
                      << number (ranged->convertFrom0to1 (ranged->getDefaultValue())) << "\t" << ranged->getNumSteps() << "\t"
                      << ranged->getText (0.0f, 1024) << "\t" << ranged->getText (1.0f, 1024) << "\n";
        }

        return 0;
    }

    int layouts()
    {
        for (int ins = 0; ins <= 3; ++ins)
        {
            for (int outs = 0; outs <= 3; ++outs)
            {
                // A fresh processor already has both buses off.
                if (ins == 0 && outs == 0)
                    continue;

                Processor processor;
                const auto requested = TestSignal::layoutFor (ins, outs);
                const auto applied = processor.setBusesLayout (requested) && processor.getBusesLayout() == requested;
                std::cout << ins << " " << outs << " " << (applied ? 1 : 0) << "\n";
            }
        }

        return 0;
    }
}

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI framework;
    const auto options = parse (argc, argv);

    if (options.command == "render" && options.outputPath.isNotEmpty())
        return render (options);

    if (options.command == "state" && options.outputPath.isNotEmpty())
        return state (options);

    if (options.command == "layouts")
        return layouts();

    if (options.command == "parameters")
        return parameters();

    std::cerr << "usage: tessamune_reference render|state OUT [options] | layouts | parameters\n";
    return 1;
}
