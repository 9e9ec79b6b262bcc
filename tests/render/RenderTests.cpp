/*
    Drives the built tessamune-render program as a user would and checks what
    it writes against the processor run in process with the same settings.
*/

#include "host/TestSignal.h"
#include "plugin/Parameters.h"
#include "plugin/ProcessorHarness.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{
    struct Result
    {
        int exitCode = -1;
        juce::String output;   // stdout and stderr together
    };

    Result run (const juce::StringArray& args)
    {
        juce::StringArray command { TESSAMUNE_RENDER_PROGRAM };
        command.addArray (args);

        juce::ChildProcess process;
        Result r;

        if (! process.start (command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
            return r;

        r.output = process.readAllProcessOutput();
        process.waitForProcessToFinish (60000);
        r.exitCode = (int) process.getExitCode();
        return r;
    }

    struct Audio
    {
        double rate = 0;
        int bits = 0;
        std::vector<std::vector<float>> channels;
    };

    void writeWav (const juce::File& file, const std::vector<std::vector<float>>& channels, double rate, int bits = 32)
    {
        file.deleteFile();
        auto stream = std::make_unique<juce::FileOutputStream> (file);
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (
            wav.createWriterFor (stream.get(), rate, (unsigned int) channels.size(), bits, {}, 0));
        ASSERT_NE (writer, nullptr);
        stream.release();

        std::vector<const float*> pointers;
        for (const auto& c : channels)
            pointers.push_back (c.data());

        ASSERT_TRUE (writer->writeFromFloatArrays (pointers.data(), (int) pointers.size(), (int) channels[0].size()));
    }

    Audio readWav (const juce::File& file)
    {
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (file.createInputStream().release(), true));
        Audio a;

        if (reader == nullptr)
            return a;

        a.rate = reader->sampleRate;
        a.bits = (int) reader->bitsPerSample;
        a.channels.assign (reader->numChannels, std::vector<float> ((size_t) reader->lengthInSamples));

        std::vector<float*> pointers;
        for (auto& c : a.channels)
            pointers.push_back (c.data());

        reader->read (pointers.data(), (int) pointers.size(), 0, (int) reader->lengthInSamples);
        return a;
    }

    /** Index of the first sample where two channels differ by more than a
        tolerance, or -1. */
    long firstDifference (const std::vector<float>& a, const std::vector<float>& b, float tolerance = 0.0f)
    {
        if (a.size() != b.size())
            return 0;

        for (size_t i = 0; i < a.size(); ++i)
            if (! (std::abs (a[i] - b[i]) <= tolerance))
                return (long) i;

        return -1;
    }

    using Settings = std::vector<std::pair<const char*, float>>;   // parameter ID, plain value

    /** The in-process processor's output for the test signal, set up the
        way a host sets it up: layout, prepare, then the settings. */
    std::vector<std::vector<float>> reference (int ins, int outs, double rate, int block, int frames,
                                               const Settings& settings, bool bypass = false)
    {
        ProcessorHarness h (ins, outs);
        h.prepare (rate, block);

        for (const auto& [id, value] : settings)
            h.set (id, value);

        juce::MidiBuffer midi;
        return TestSignal::renderInBlocks (ins, outs, frames, block, rate, [&] (juce::AudioBuffer<float>& buffer)
                                           {
                                               if (bypass)
                                                   h.processor.processBlockBypassed (buffer, midi);
                                               else
                                                   h.process (buffer);
                                           });
    }

    juce::MemoryBlock referenceState (const Settings& settings)
    {
        ProcessorHarness h;
        for (const auto& [id, value] : settings)
            h.set (id, value);

        juce::MemoryBlock block;
        h.processor.getStateInformation (block);
        return block;
    }

    /** A fresh folder per test, removed afterwards. Named after the
        process, so that tests run at once in several processes cannot both
        take the same one. */
    class Render : public testing::Test
    {
    protected:
        void SetUp() override
        {
            dir = juce::File::getSpecialLocation (juce::File::tempDirectory)
                      .getNonexistentChildFile ("tessamune-render-test-" + juce::String ((int) ::getpid()), "");
            ASSERT_TRUE (dir.createDirectory());
        }

        void TearDown() override { dir.deleteRecursively(); }

        juce::String path (const char* name) const { return dir.getChildFile (name).getFullPathName(); }

        /** The test signal as a file, as the reference sees it. */
        juce::String input (const char* name, int channels, int frames, double rate)
        {
            writeWav (dir.getChildFile (name), TestSignal::make (channels, frames, rate), rate);
            return path (name);
        }

        /** Names and sizes of everything in the folder. */
        std::map<juce::String, juce::int64> listing() const
        {
            std::map<juce::String, juce::int64> files;
            for (const auto& entry : juce::RangedDirectoryIterator (dir, true, "*", juce::File::findFilesAndDirectories))
                files[entry.getFile().getRelativePathFrom (dir)] = entry.getFile().getSize();
            return files;
        }

        juce::File dir;
    };

    //==========================================================================
    struct MatchCase
    {
        const char* name;
        int ins, outs;
        double rate;
        int block;
        std::vector<juce::String> args;
        Settings settings;
        bool bypass = false;
    };

    void PrintTo (const MatchCase& c, std::ostream* os) { *os << c.name; }

    constexpr int matchFrames = 20000;   // not a whole number of blocks: the last block is shorter

    class RenderMatchesProcessor : public Render, public testing::WithParamInterface<MatchCase> {};

    TEST_P (RenderMatchesProcessor, SampleForSample)
    {
        const auto& c = GetParam();
        const auto in = input ("in.wav", c.ins, matchFrames, c.rate);

        juce::StringArray args { in, path ("out.wav"), "--quiet", "--block", juce::String (c.block) };
        for (const auto& a : c.args)
            args.add (a);

        const auto r = run (args);
        ASSERT_EQ (r.exitCode, 0) << r.output;
        EXPECT_TRUE (r.output.isEmpty()) << r.output;

        const auto out = readWav (dir.getChildFile ("out.wav"));
        EXPECT_EQ (out.rate, c.rate);
        EXPECT_EQ (out.bits, 32);
        ASSERT_EQ ((int) out.channels.size(), c.outs);

        const auto expected = reference (c.ins, c.outs, c.rate, c.block, matchFrames, c.settings, c.bypass);
        for (int ch = 0; ch < c.outs; ++ch)
            EXPECT_EQ (firstDifference (out.channels[(size_t) ch], expected[(size_t) ch]), -1) << "channel " << ch;
    }

    using namespace ParameterIDs;

    INSTANTIATE_TEST_SUITE_P (
        Cases, RenderMatchesProcessor,
        testing::Values (
            MatchCase { "MonoFileDefaultsComesOutStereo", 1, 2, 44100.0, 512, {}, {} },
            MatchCase { "MonoFileKeptMonoOddBlock", 1, 1, 48000.0, 100, { "--mono-out", "--depth", "4", "--speed", "9", "--mix", "3" },
                        { { chorusDepth, 4.0f }, { chorusSpeed, 9.0f }, { chorusMix, 3.0f } } },
            MatchCase { "StereoFileDeepAndFast", 2, 2, 48000.0, 512, { "--depth", "10", "--speed", "10", "--mix", "10" },
                        { { chorusDepth, 10.0f }, { chorusSpeed, 10.0f }, { chorusMix, 10.0f } } },
            MatchCase { "StereoFileInMonoMode", 2, 2, 96000.0, 1000, { "--mode", "mono", "--depth=5.5", "--speed", "2", "--mix", "7" },
                        { { stereoProc, 0.0f }, { chorusDepth, 5.5f }, { chorusSpeed, 2.0f }, { chorusMix, 7.0f } } },
            MatchCase { "ChorusOff", 2, 2, 44100.0, 256, { "--off", "--depth", "7" }, { { chorusOn, 0.0f }, { chorusDepth, 7.0f } } },
            MatchCase { "HostBypassStereo", 2, 2, 44100.0, 512, { "--bypass", "--depth", "7" }, { { chorusDepth, 7.0f } }, true },
            MatchCase { "HostBypassMonoInStereoOut", 1, 2, 44100.0, 512, { "--bypass" }, {}, true }),
        [] (const auto& test) { return std::string (test.param.name); });

    //==========================================================================
    // Integer formats hold the same signal to within one step of their resolution.
    TEST_F (Render, OutputFormatsKeepTheSignalToTheirResolution)
    {
        const auto in = input ("in.wav", 2, matchFrames, 44100.0);
        const Settings settings { { chorusDepth, 6.0f }, { chorusSpeed, 4.0f } };
        const auto expected = reference (2, 2, 44100.0, 512, matchFrames, settings);

        for (const auto& [format, bits] : { std::pair { "f32", 32 }, std::pair { "s24", 24 }, std::pair { "s16", 16 } })
        {
            SCOPED_TRACE (format);
            const auto r = run ({ in, path ("out.wav"), "--quiet", "--format", format, "--depth", "6", "--speed", "4" });
            ASSERT_EQ (r.exitCode, 0) << r.output;

            const auto out = readWav (dir.getChildFile ("out.wav"));
            EXPECT_EQ (out.bits, bits);
            ASSERT_EQ (out.channels.size(), 2u);

            const float step = bits == 32 ? 0.0f : 1.0f / (float) (1 << (bits - 1));
            for (int ch = 0; ch < 2; ++ch)
                EXPECT_EQ (firstDifference (out.channels[(size_t) ch], expected[(size_t) ch], step), -1) << "channel " << ch;
        }
    }

    //==========================================================================
    // FLAC and AIFF decode to exactly the samples of the same 24-bit WAV, so
    // their renders are identical; Ogg Vorbis is lossy and only has to render.
    TEST_F (Render, ReadsEveryBasicFormat)
    {
        const double rate = 44100.0;
        const auto signal = TestSignal::make (2, matchFrames, rate);

        const auto encode = [&] (juce::AudioFormat& format, const char* name, int bits, int quality)
        {
            const auto file = dir.getChildFile (name);
            auto stream = std::make_unique<juce::FileOutputStream> (file);
            std::unique_ptr<juce::AudioFormatWriter> writer (format.createWriterFor (stream.get(), rate, 2, bits, {}, quality));
            ASSERT_NE (writer, nullptr) << name;
            stream.release();
            const float* channels[] { signal[0].data(), signal[1].data() };
            ASSERT_TRUE (writer->writeFromFloatArrays (channels, 2, matchFrames));
        };

        const auto render = [&] (const char* name)
        {
            const auto r = run ({ path (name), path ("out.wav"), "--quiet", "--depth", "5", "--speed", "5" });
            EXPECT_EQ (r.exitCode, 0) << name << ": " << r.output;
            return readWav (dir.getChildFile ("out.wav"));
        };

        juce::WavAudioFormat wav;
        juce::FlacAudioFormat flac;
        juce::AiffAudioFormat aiff;
        juce::OggVorbisAudioFormat ogg;
        encode (wav, "in.wav", 24, 0);
        encode (flac, "in.flac", 24, 0);
        encode (aiff, "in.aiff", 24, 0);
        encode (ogg, "in.ogg", 16, 5);

        const auto fromWav = render ("in.wav");
        ASSERT_EQ (fromWav.channels.size(), 2u);

        for (const auto* name : { "in.flac", "in.aiff" })
        {
            SCOPED_TRACE (name);
            const auto other = render (name);
            ASSERT_EQ (other.channels.size(), 2u);
            for (int ch = 0; ch < 2; ++ch)
                EXPECT_EQ (firstDifference (other.channels[(size_t) ch], fromWav.channels[(size_t) ch]), -1) << "channel " << ch;
        }

        const auto fromOgg = render ("in.ogg");
        EXPECT_EQ (fromOgg.rate, rate);
        ASSERT_EQ (fromOgg.channels.size(), 2u);
        EXPECT_EQ (fromOgg.channels[0].size(), (size_t) matchFrames);
        EXPECT_GT (juce::FloatVectorOperations::findMaximum (fromOgg.channels[0].data(), matchFrames), 0.3f);
    }

    //==========================================================================
    TEST_F (Render, SavedStateIsWhatTheProcessorStoresAndLoadsBack)
    {
        const auto in = input ("in.wav", 2, matchFrames, 48000.0);
        const auto saved = run ({ in, path ("set.wav"), "--quiet", "--depth", "6.3", "--speed", "2", "--mix", "4",
                                  "--mode", "mono", "--save-state", path ("state.bin") });
        ASSERT_EQ (saved.exitCode, 0) << saved.output;

        // The same bytes a host stores for those settings.
        juce::MemoryBlock state;
        ASSERT_TRUE (dir.getChildFile ("state.bin").loadFileAsData (state));
        const Settings settings { { chorusDepth, 6.3f }, { chorusSpeed, 2.0f }, { chorusMix, 4.0f }, { stereoProc, 0.0f } };
        EXPECT_EQ (state, referenceState (settings));

        // Loaded again, it gives the same render.
        const auto loaded = run ({ in, path ("loaded.wav"), "--quiet", "--state", path ("state.bin") });
        ASSERT_EQ (loaded.exitCode, 0) << loaded.output;
        const auto a = readWav (dir.getChildFile ("set.wav")), b = readWav (dir.getChildFile ("loaded.wav"));
        ASSERT_EQ (a.channels.size(), 2u);
        ASSERT_EQ (b.channels.size(), 2u);
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_EQ (firstDifference (a.channels[(size_t) ch], b.channels[(size_t) ch]), -1) << "channel " << ch;

        // A state a host stored with the chorus off, with one knob overridden
        // on the command line.
        const auto dawState = referenceState ({ { chorusOn, 0.0f }, { chorusMix, 5.0f } });
        ASSERT_TRUE (dir.getChildFile ("daw.bin").replaceWithData (dawState.getData(), dawState.getSize()));
        const auto overridden = run ({ in, path ("daw.wav"), "--quiet", "--state", path ("daw.bin"), "--depth", "3" });
        ASSERT_EQ (overridden.exitCode, 0) << overridden.output;

        const auto expected = reference (2, 2, 48000.0, 512, matchFrames, { { chorusOn, 0.0f }, { chorusMix, 5.0f }, { chorusDepth, 3.0f } });
        const auto c = readWav (dir.getChildFile ("daw.wav"));
        ASSERT_EQ (c.channels.size(), 2u);
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_EQ (firstDifference (c.channels[(size_t) ch], expected[(size_t) ch]), -1) << "channel " << ch;
    }

    //==========================================================================
    TEST_F (Render, DemoIsMusicAndItsPlotIsAPictureOfTheStatedSize)
    {
        const auto r = run ({ path ("demo.wav"), "--depth", "8", "--speed", "5", "--plot", path ("demo.png") });
        ASSERT_EQ (r.exitCode, 0) << r.output;

        // A summary, and no progress bar: stderr is not a terminal here.
        EXPECT_TRUE (r.output.contains ("x real time")) << r.output;
        EXPECT_FALSE (r.output.containsChar ('\r')) << r.output;

        const auto demo = readWav (dir.getChildFile ("demo.wav"));
        EXPECT_EQ (demo.rate, 48000.0);
        ASSERT_EQ (demo.channels.size(), 2u);
        EXPECT_GT (demo.channels[0].size(), (size_t) (5 * 48000));

        for (const auto& channel : demo.channels)
        {
            double sum = 0.0;
            float peak = 0.0f;
            for (auto s : channel)
            {
                sum += (double) s * s;
                peak = std::max (peak, std::abs (s));
            }

            const auto rms = std::sqrt (sum / (double) channel.size());
            EXPECT_GT (rms, 0.01);       // well above -40 dBFS
            EXPECT_LT (peak, 1.0f);      // and not clipping
        }

        const auto image = juce::ImageFileFormat::loadFrom (dir.getChildFile ("demo.png"));
        ASSERT_TRUE (image.isValid());
        EXPECT_EQ (image.getWidth(), 1200);
        EXPECT_EQ (image.getHeight(), 800);

        // Something is drawn: many distinct colours, not a blank picture.
        std::set<juce::uint32> colours;
        for (int y = 0; y < image.getHeight(); y += 3)
            for (int x = 0; x < image.getWidth(); x += 3)
                colours.insert (image.getPixelAt (x, y).getARGB());
        EXPECT_GT (colours.size(), 50u);
    }

    TEST_F (Render, HelpAndVersion)
    {
        const auto help = run ({ "--help" });
        EXPECT_EQ (help.exitCode, 0);
        EXPECT_TRUE (help.output.startsWith ("usage: tessamune-render")) << help.output;

        const auto version = run ({ "--version" });
        EXPECT_EQ (version.exitCode, 0);
        EXPECT_EQ (version.output.trim(), "tessamune-render " TESSAMUNE_VERSION);
    }

    //==========================================================================
    // Every mistake: a one-line message, a non-zero exit, and nothing written.
    struct BadCase
    {
        const char* name;
        std::vector<juce::String> args;   // "@" stands for the test's folder
        const char* message;
    };

    void PrintTo (const BadCase& c, std::ostream* os) { *os << c.name; }

    class RenderRefuses : public Render, public testing::WithParamInterface<BadCase>
    {
    protected:
        void SetUp() override
        {
            Render::SetUp();
            input ("in.wav", 2, 4800, 48000.0);
            writeWav (dir.getChildFile ("three.wav"), TestSignal::make (3, 4800, 48000.0), 48000.0);
            writeWav (dir.getChildFile ("slow.wav"), TestSignal::make (1, 100, 20.0), 20.0);
            writeWav (dir.getChildFile ("fast.wav"), TestSignal::make (1, 4800, 3000000.0), 3000000.0);
            dir.getChildFile ("notes.txt").replaceWithText ("not audio at all\n");
            dir.getChildFile ("folder").createDirectory();

            // A saved state cut short.
            auto state = referenceState ({ { chorusDepth, 5.0f } });
            state.setSize (state.getSize() / 2);
            dir.getChildFile ("damaged.bin").replaceWithData (state.getData(), state.getSize());
        }
    };

    TEST_P (RenderRefuses, WithOneLineAndNoOutput)
    {
        juce::StringArray args;
        for (auto a : GetParam().args)
            args.add (a.replace ("@", dir.getFullPathName()));

        const auto before = listing();
        const auto r = run (args);

        EXPECT_NE (r.exitCode, 0);
        EXPECT_TRUE (r.output.startsWith ("tessamune-render: ")) << r.output;
        EXPECT_TRUE (r.output.contains (GetParam().message)) << r.output;
        EXPECT_EQ (r.output.trimEnd().indexOfChar ('\n'), -1) << r.output;
        EXPECT_EQ (listing(), before) << "files were left behind or changed";
    }

    INSTANTIATE_TEST_SUITE_P (
        Cases, RenderRefuses,
        testing::Values (
            BadCase { "MissingInput", { "@/nothing.wav", "@/out.wav" }, "does not exist" },
            BadCase { "InputIsAFolder", { "@/folder", "@/out.wav" }, "is a folder" },
            BadCase { "InputIsNotAudio", { "@/notes.txt", "@/out.wav" }, "not an audio file" },
            BadCase { "UnknownOption", { "@/in.wav", "@/out.wav", "--chorus-please" }, "unknown option --chorus-please" },
            BadCase { "KnobAboveTen", { "@/in.wav", "@/out.wav", "--depth", "10.5" }, "outside 0 to 10" },
            BadCase { "KnobBelowZero", { "@/in.wav", "@/out.wav", "--mix", "-0.1" }, "outside 0 to 10" },
            BadCase { "KnobNotANumber", { "@/in.wav", "@/out.wav", "--speed", "fast" }, "needs a number" },
            BadCase { "KnobHalfANumber", { "@/in.wav", "@/out.wav", "--depth", "5x" }, "needs a number" },
            BadCase { "KnobWithoutValue", { "@/in.wav", "@/out.wav", "--depth" }, "needs a value" },
            BadCase { "ThreeChannels", { "@/three.wav", "@/out.wav" }, "3 channels" },
            BadCase { "RateTooLow", { "@/slow.wav", "@/out.wav" }, "sample rate of 20 Hz" },
            BadCase { "RateTooHigh", { "@/fast.wav", "@/out.wav" }, "sample rate of 3000000 Hz" },
            BadCase { "OutputFolderMissing", { "@/in.wav", "@/missing/out.wav" }, "does not exist" },
            BadCase { "OutputFolderIsAFile", { "@/in.wav", "@/notes.txt/out.wav" }, "not a folder" },
            BadCase { "OutputIsAFolder", { "@/in.wav", "@/folder" }, "is a folder" },
            BadCase { "OutputIsTheInput", { "@/in.wav", "@/in.wav", "--depth", "5" }, "is the input file" },
            BadCase { "DamagedState", { "@/in.wav", "@/out.wav", "--state", "@/damaged.bin" }, "damaged or not a Tessamune state" },
            BadCase { "StateNotAState", { "@/in.wav", "@/out.wav", "--state", "@/notes.txt", "--save-state", "@/new.bin" }, "damaged" },
            BadCase { "PlotFolderMissing", { "@/in.wav", "@/out.wav", "--plot", "@/missing/plot.png" }, "does not exist" },
            BadCase { "MonoOutFromStereo", { "@/in.wav", "@/out.wav", "--mono-out" }, "--mono-out needs a mono input" },
            BadCase { "NoOutputGiven", { "--depth", "3" }, "no OUTPUT" },
            BadCase { "BadFormat", { "@/in.wav", "@/out.wav", "--format", "s8" }, "--format must be" }),
        [] (const auto& test) { return std::string (test.param.name); });

    //==========================================================================
    /** Runs the program and returns its peak resident memory in kilobytes. */
    long peakMemoryKb (const juce::StringArray& args)
    {
        std::vector<std::string> strings { TESSAMUNE_RENDER_PROGRAM };
        for (const auto& a : args)
            strings.push_back (a.toStdString());

        std::vector<char*> argv;
        for (auto& s : strings)
            argv.push_back (s.data());
        argv.push_back (nullptr);

        pid_t pid = 0;
        if (posix_spawn (&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            return -1;

        int status = 0;
        rusage usage {};
        if (wait4 (pid, &status, 0, &usage) != pid || ! WIFEXITED (status) || WEXITSTATUS (status) != 0)
            return -1;

        return usage.ru_maxrss;
    }

    // Ten times the audio may not take more memory: the file streams through.
    TEST_F (Render, MemoryStaysFlatWhateverTheLength)
    {
        const double rate = 48000.0;
        writeWav (dir.getChildFile ("short.wav"), TestSignal::make (2, (int) (12 * rate), rate), rate, 16);
        writeWav (dir.getChildFile ("long.wav"), TestSignal::make (2, (int) (120 * rate), rate), rate, 16);

        const auto shortRun = peakMemoryKb ({ path ("short.wav"), path ("short-out.wav"), "--quiet", "--plot", path ("short.png") });
        const auto longRun = peakMemoryKb ({ path ("long.wav"), path ("long-out.wav"), "--quiet", "--plot", path ("long.png") });
        ASSERT_GT (shortRun, 0);
        ASSERT_GT (longRun, 0);

        // Holding the long file's samples would take 46 MB more.
        EXPECT_LT (longRun - shortRun, 8 * 1024) << "short: " << shortRun << " kB, long: " << longRun << " kB";
    }
}
