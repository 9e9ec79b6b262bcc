// What a host may hand the processor at its edges: odd buffers, odd block
// lengths, every sample rate, many preparations, and an editor opened and
// closed while audio runs. None of it may crash, leak, or make the output
// anything but finite.

#include "plugin/ProcessorHarness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace
{
    bool allFinite (const juce::AudioBuffer<float>& b)
    {
        for (int c = 0; c < b.getNumChannels(); ++c)
            for (int s = 0; s < b.getNumSamples(); ++s)
                if (! std::isfinite (b.getSample (c, s)))
                    return false;

        return true;
    }

    struct RoutingCase { const char* name; int inputs; int outputs; float on; float stereo; ChorusEngine::Routing routing; };

    const RoutingCase routings[] = {
        { "copy",           2, 2, 0.0f, 1.0f, ChorusEngine::processCopy },
        { "mono",           1, 1, 1.0f, 1.0f, ChorusEngine::processMono },
        { "mono to stereo", 1, 2, 1.0f, 1.0f, ChorusEngine::processMonoToStereo },
        { "stereo",         2, 2, 1.0f, 1.0f, ChorusEngine::processStereo },
    };
}

// Buffers with 0 to 3 channels, blocks of no samples and blocks far longer
// than the prepared size, in every routing. Whatever the layout says, the
// processor only touches the channels the buffer has.
TEST (HostBoundary, AnyBufferInEveryRouting)
{
    for (const auto& r : routings)
    {
        ProcessorHarness h (r.inputs, r.outputs);
        h.prepare (48000.0, 64);
        h.set ("chorus_on", r.on);
        h.set ("stereo_proc", r.stereo);
        h.set ("chorus_depth", 10.0f);
        h.set ("chorus_speed", 10.0f);

        for (int channels = 0; channels <= 3; ++channels)
        {
            for (int samples : { 0, 1, 64, 4096 })
            {
                SCOPED_TRACE (juce::String (r.name) + ", " + juce::String (channels) + " channels, " + juce::String (samples) + " samples");

                juce::AudioBuffer<float> buffer (channels, samples);
                for (int c = 0; c < channels; ++c)
                    for (int s = 0; s < samples; ++s)
                        buffer.setSample (c, s, 0.5f * std::sin (0.02f * (float) (s + 7 * c)));

                const juce::AudioBuffer<float> input (buffer);
                h.process (buffer);
                EXPECT_EQ (h.processor.engine.routing, r.routing);
                EXPECT_TRUE (allFinite (buffer));

                // Channels beyond the two processed ones are left alone, except
                // that copying puts channel 0 everywhere.
                for (int c = 2; c < channels; ++c)
                    for (int s = 0; s < samples; ++s)
                        ASSERT_EQ (buffer.getSample (c, s), input.getSample (r.routing == ChorusEngine::processCopy ? 0 : c, s));

                juce::MidiBuffer midi;
                h.processor.processBlockBypassed (buffer, midi);
                EXPECT_TRUE (allFinite (buffer));
            }
        }
    }
}

// Every common rate sizes the engine for itself and is heard; rates the
// engine cannot hold leave it as it was.
TEST (HostBoundary, EverySampleRate)
{
    struct Case { double rate; uint32_t engineRate; };
    const Case cases[] = {
        { 8000.0, 8000 }, { 22050.0, 22050 }, { 44100.0, 44100 }, { 48000.0, 48000 }, { 96000.0, 96000 },
        { 192000.0, 192000 }, { 384000.0, 384000 }, { 49.0, 44100 }, { 1.0, 44100 }, { 0.5, 44100 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.rate);
        ProcessorHarness h (1, 2);
        h.prepare (c.rate, 512);
        EXPECT_EQ (h.processor.engine.sampleRate, c.engineRate);
        EXPECT_EQ (h.processor.engine.preDelay[0].length, (int) (c.engineRate * 20 / 1000));

        // An impulse comes back after the pre-delay and the voice's delay.
        const int frames = (int) (c.engineRate / 10);
        juce::AudioBuffer<float> buffer (2, frames);
        buffer.clear();
        buffer.setSample (0, 0, 1.0f);
        h.process (buffer);

        EXPECT_TRUE (allFinite (buffer));
        EXPECT_NE (buffer.getMagnitude (1, frames / 10, frames - frames / 10), 0.0f);
    }
}

// A hundred preparations, each with its release, at alternating rates and
// block sizes: the engine ends prepared for the last one and still plays.
TEST (HostBoundary, HundredPrepareReleaseCycles)
{
    ProcessorHarness h (2, 2);
    h.set ("chorus_depth", 6.0f);

    for (int i = 0; i < 100; ++i)
    {
        h.prepare (i % 2 == 0 ? 44100.0 : 96000.0, 32 << (i % 5));
        auto block = h.signal (128, i * 128);
        h.process (block);
        ASSERT_TRUE (allFinite (block)) << i;
        h.processor.releaseResources();
    }

    EXPECT_EQ (h.processor.engine.sampleRate, 96000u);
    EXPECT_EQ (h.processor.engine.depthPercent.load(), 60.0f);
}

// The editor opened in a window and closed again, a hundred times, while an
// audio thread runs blocks as a host's wrapper does.
TEST (HostBoundary, EditorOpenedAndClosedWhileAudioRuns)
{
    ProcessorHarness h (2, 2);
    h.prepare (48000.0, 256);
    std::atomic<bool> stop { false };
    std::atomic<bool> finite { true };

    std::thread audio ([&]
    {
        const auto input = h.signal (256);
        juce::AudioBuffer<float> block (input);
        juce::MidiBuffer midi;

        while (! stop.load())
        {
            block.makeCopyOf (input, true);
            const juce::ScopedLock lock (h.processor.getCallbackLock());
            h.processor.processBlock (block, midi);
            finite = finite.load() && allFinite (block);
        }
    });

    for (int i = 0; i < 100; ++i)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (h.processor.createEditorIfNeeded());
        ASSERT_NE (editor, nullptr);
        editor->addToDesktop (juce::ComponentPeer::windowAppearsOnTaskbar | juce::ComponentPeer::windowHasTitleBar);
        editor->setVisible (true);
        h.set ("chorus_mix", (float) (i % 11));   // a host's change reaching the open editor
        editor->createComponentSnapshot (editor->getLocalBounds());
        editor.reset();
        EXPECT_EQ (h.processor.getActiveEditor(), nullptr);
    }

    stop = true;
    audio.join();
    EXPECT_TRUE (finite.load());
}
