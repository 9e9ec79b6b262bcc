/*
    tessamune-host-check: loads the Tessamune VST3 through the framework's
    VST3 hosting, as a DAW on the same system would, and runs one check
    given on its command line. Built for Windows (run under Wine) and for
    Linux, so that the two builds can be compared through the same host
    code: the audio they make, and the states they save and restore.

      process VST3 IN.wav OUT.wav BLOCK [name=value]...
                                   renders IN through the plug-in (stereo, or
                                   mono in and stereo out for a mono IN) as
                                   the renderer does, into a 32-bit WAV
      parameters VST3              sets every parameter to a table of values
                                   and checks what it reads back
      save VST3 FILE [name=value]...    sets parameters, saves the state
      load VST3 FILE               restores a state and prints every
                                   parameter as name=value
      editor VST3 SCALE            opens the editor at a scale (1 or 2),
                                   checks its size, closes it
    name=value sets a parameter by name ("Chorus Depth=7.3") to a plain
    value. Exit status 0 when the check passes; a failure says why.
*/

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cmath>
#include <iostream>

namespace
{
    struct Failure { juce::String message; };

    [[noreturn]] void fail (const juce::String& message) { throw Failure { message }; }

    juce::File fileFor (const juce::String& path)
    {
        return juce::File::getCurrentWorkingDirectory().getChildFile (path);
    }

    std::unique_ptr<juce::AudioPluginInstance> load (const juce::String& path, double rate, int block)
    {
        juce::VST3PluginFormat format;
        juce::OwnedArray<juce::PluginDescription> found;
        format.findAllTypesForFile (found, fileFor (path).getFullPathName());

        if (found.isEmpty())
            fail ("no VST3 plug-in found in " + path);

        juce::String error;
        auto instance = format.createInstanceFromDescription (*found[0], rate, block, error);

        if (instance == nullptr)
            fail ("cannot load " + path + ": " + error);

        return instance;
    }

    juce::AudioProcessorParameter& parameter (juce::AudioPluginInstance& p, const juce::String& name)
    {
        for (auto* q : p.getParameters())
            if (q->getName (100) == name)
                return *q;

        fail ("no parameter named \"" + name + "\"");
    }

    // Plain values as the plug-in declares them: the knobs 0 to 10, the
    // switches 0 or 1.
    float plainRangeOf (juce::AudioProcessorParameter& q) { return q.getNumSteps() == 2 ? 1.0f : 10.0f; }

    void set (juce::AudioPluginInstance& p, const juce::String& nameAndValue)
    {
        auto& q = parameter (p, nameAndValue.upToFirstOccurrenceOf ("=", false, false));
        const auto plain = nameAndValue.fromFirstOccurrenceOf ("=", false, false).getFloatValue();
        q.beginChangeGesture();
        q.setValueNotifyingHost (plain / plainRangeOf (q));
        q.endChangeGesture();
    }

    void settle()
    {
        // Parameter changes reach the plug-in's controller through the
        // message thread.
        juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    }

    int process (const juce::StringArray& args)
    {
        juce::AudioFormatManager formats;
        formats.registerBasicFormats();
        std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (fileFor (args[2])));

        if (reader == nullptr)
            fail ("cannot read " + args[2]);

        const int ins = (int) reader->numChannels, outs = 2;
        const int block = args[4].getIntValue();
        const double rate = reader->sampleRate;
        auto plugin = load (args[1], rate, block);

        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (juce::AudioChannelSet::canonicalChannelSet (ins));
        layout.outputBuses.add (juce::AudioChannelSet::canonicalChannelSet (outs));

        if (! plugin->setBusesLayout (layout))
            fail ("the plug-in refuses " + juce::String (ins) + " in, " + juce::String (outs) + " out");

        for (int i = 5; i < args.size(); ++i)
            set (*plugin, args[i]);
        settle();

        plugin->setNonRealtime (true);
        plugin->setRateAndBufferSizeDetails (rate, block);
        plugin->prepareToPlay (rate, block);

        const auto output = fileFor (args[3]);
        output.deleteFile();
        std::unique_ptr<juce::OutputStream> stream (output.createOutputStream());
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (stream != nullptr
            ? wav.createWriterFor (stream.get(), rate, (unsigned int) outs, 32, {}, 0) : nullptr);

        if (writer == nullptr)
            fail ("cannot write " + args[3]);
        stream.release();

        juce::AudioBuffer<float> buffer (std::max (ins, outs), block);
        juce::MidiBuffer midi;

        for (juce::int64 position = 0; position < reader->lengthInSamples;)
        {
            const int n = (int) std::min<juce::int64> (block, reader->lengthInSamples - position);
            buffer.setSize (buffer.getNumChannels(), n, false, false, true);
            buffer.clear();
            reader->read (&buffer, 0, n, position, true, ins > 1);

            if (ins == 1)
                buffer.clear (1, 0, n);

            plugin->processBlock (buffer, midi);

            if (! writer->writeFromFloatArrays (buffer.getArrayOfReadPointers(), outs, n))
                fail ("cannot write " + args[3]);

            position += n;
        }

        plugin->releaseResources();
        return 0;
    }

    int parameters (const juce::StringArray& args)
    {
        auto plugin = load (args[1], 48000.0, 512);
        int problems = 0;

        const auto expect = [&] (juce::AudioProcessorParameter& q, float given, float expected)
        {
            q.setValueNotifyingHost (given);

            // A value between two steps is read back once the host has
            // answered the plug-in's request to read its values again,
            // which comes a moment after the last such value.
            for (int wait = 0; wait < 40 && ! (std::abs (q.getValue() - expected) < 1.0e-6f); ++wait)
                settle();

            const auto got = q.getValue();
            const auto ok = std::abs (got - expected) < 1.0e-6f;
            std::cout << (ok ? "ok    " : "FAIL  ") << q.getName (100) << ": set " << given << ", reads "
                      << got << " (\"" << q.getCurrentValueAsText() << "\"), expected " << expected << "\n";
            problems += ok ? 0 : 1;
        };

        for (auto* q : plugin->getParameters())
        {
            if (q->getName (100).containsIgnoreCase ("bypass"))
                continue;

            if (q->getNumSteps() == 2)
            {
                // A switch takes the step the value falls in.
                for (auto [given, expected] : { std::pair { 0.0f, 0.0f }, { 1.0f, 1.0f }, { 0.32f, 0.0f },
                                                { 0.74f, 1.0f }, { 0.0f, 0.0f } })
                    expect (*q, given, expected);
            }
            else
            {
                // A knob takes its nearest tenth.
                for (auto [given, expected] : { std::pair { 0.0f, 0.0f }, { 1.0f, 1.0f }, { 0.73f, 0.73f },
                                                { 0.456f, 0.46f }, { 0.1234f, 0.12f } })
                    expect (*q, given, expected);
            }
        }

        std::cout << "parameters: " << (problems == 0 ? "all read back as set" : juce::String (problems) + " wrong") << "\n";
        return problems == 0 ? 0 : 1;
    }

    void printParameters (juce::AudioPluginInstance& plugin)
    {
        for (auto* q : plugin.getParameters())
            if (! q->getName (100).containsIgnoreCase ("bypass"))
                std::cout << q->getName (100) << "=" << q->getCurrentValueAsText() << "\n";
    }

    int save (const juce::StringArray& args)
    {
        auto plugin = load (args[1], 48000.0, 512);

        for (int i = 3; i < args.size(); ++i)
            set (*plugin, args[i]);
        settle();

        juce::MemoryBlock state;
        plugin->getStateInformation (state);

        if (state.isEmpty() || ! fileFor (args[2]).replaceWithData (state.getData(), state.getSize()))
            fail ("cannot save the state into " + args[2]);

        printParameters (*plugin);
        return 0;
    }

    int restore (const juce::StringArray& args)
    {
        auto plugin = load (args[1], 48000.0, 512);
        juce::MemoryBlock state;

        if (! fileFor (args[2]).loadFileAsData (state))
            fail ("cannot read " + args[2]);

        plugin->setStateInformation (state.getData(), (int) state.getSize());
        settle();
        printParameters (*plugin);
        return 0;
    }

    int editor (const juce::StringArray& args)
    {
        const auto scale = args[2].getFloatValue();
        auto plugin = load (args[1], 48000.0, 512);
        std::unique_ptr<juce::AudioProcessorEditor> editor (plugin->createEditor());

        if (editor == nullptr)
            fail ("the plug-in made no editor");

        editor->setScaleFactor (scale);
        editor->addToDesktop (juce::ComponentPeer::windowHasTitleBar);
        editor->setVisible (true);
        juce::MessageManager::getInstance()->runDispatchLoopUntil (1500);

        const auto* peer = editor->getPeer();
        const auto width = editor->getWidth(), height = editor->getHeight();
        const auto physicalWidth = juce::roundToInt ((float) width * (peer != nullptr ? (float) peer->getPlatformScaleFactor() : 1.0f));
        std::cout << "editor at " << scale << ": " << width << " x " << height << " (window " << physicalWidth << " wide)\n";

        // The panel is 370 x 476 at 100%; a host's scale makes it that much larger.
        const auto expectedWidth = juce::roundToInt (370.0f * scale), expectedHeight = juce::roundToInt (476.0f * scale);
        const bool sized = peer != nullptr && std::abs (physicalWidth - expectedWidth) <= 1
                           && std::abs (juce::roundToInt ((float) height * (float) peer->getPlatformScaleFactor()) - expectedHeight) <= 1;

        editor->setVisible (false);
        editor->removeFromDesktop();
        editor.reset();
        juce::MessageManager::getInstance()->runDispatchLoopUntil (200);

        if (! sized)
            fail ("the editor is not " + juce::String (expectedWidth) + " x " + juce::String (expectedHeight));

        std::cout << "editor opened and closed\n";
        return 0;
    }
}

int main (int argc, char** argv)
{
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));

    const juce::ScopedJuceInitialiser_GUI framework;

    try
    {
        const auto command = args[0];

        if (command == "process" && args.size() >= 5)   return process (args);
        if (command == "parameters" && args.size() == 2) return parameters (args);
        if (command == "save" && args.size() >= 3)      return save (args);
        if (command == "load" && args.size() == 3)      return restore (args);
        if (command == "editor" && args.size() == 3)    return editor (args);

        std::cerr << "usage: tessamune-host-check process|parameters|save|load|editor VST3 ...\n";
        return 2;
    }
    catch (const Failure& f)
    {
        std::cerr << "tessamune-host-check: " << f.message << "\n";
        return 1;
    }
}
