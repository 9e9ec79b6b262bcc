/*
    Drives the built tessamune-render program as a user would and checks what
    it writes against the processor run in process with the same settings.
*/

#include "host/TestSignal.h"
#include "plugin/FactoryPresets.h"
#include "plugin/Parameters.h"
#include "plugin/ProcessorHarness.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <map>
#include <poll.h>
#include <set>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{
    /** How a run of the program ended. A run counts as exited only when
        the program returned from main or called exit: a crash, a signal or
        the time limit leave exited false, whatever status the kernel
        reports. */
    struct Result
    {
        bool exited = false;
        int exitCode = -1;      // when exited
        int signal = 0;         // the signal that ended it otherwise
        bool timedOut = false;
        juce::String output;    // stdout and stderr together
        long peakMemoryKb = 0;

        juce::String report() const
        {
            const auto ending = timedOut ? juce::String ("did not finish in time")
                              : exited   ? "exited with " + juce::String (exitCode)
                              : signal != 0 ? "was killed by signal " + juce::String (signal) + " (" + juce::String (::strsignal (signal)) + ")"
                                            : juce::String ("could not be started");
            return "the renderer " + ending + "; it said: " + output;
        }
    };

    /** Passes only for a normal exit with the given status. */
    testing::AssertionResult exitedWith (const Result& r, int status)
    {
        if (r.exited && r.exitCode == status)
            return testing::AssertionSuccess();

        return testing::AssertionFailure() << "expected a normal exit with status " << status << ": " << r.report();
    }

    /** What the child does between fork and exec to set up its conditions.
        Only async-signal-safe calls: the test process has other threads. */
    using ChildSetup = std::function<void()>;

    /** The renderer running in a child process, started with fork and exec
        and waited for with wait4, so that its real ending is known. */
    class Child
    {
    public:
        explicit Child (const juce::StringArray& args, const ChildSetup& setup = {}, const juce::StringArray& extraEnvironment = {})
        {
            std::vector<std::string> strings { TESSAMUNE_RENDER_PROGRAM };
            for (const auto& a : args)
                strings.push_back (a.toStdString());

            std::vector<std::string> environment;
            for (auto** e = environ; *e != nullptr; ++e)
                environment.emplace_back (*e);
            for (const auto& e : extraEnvironment)
                environment.push_back (e.toStdString());

            // Everything the child uses is prepared before the fork.
            std::vector<char*> argv, envp;
            for (auto& a : strings)
                argv.push_back (a.data());
            argv.push_back (nullptr);
            for (auto& e : environment)
                envp.push_back (e.data());
            envp.push_back (nullptr);

            int fds[2];
            if (::pipe2 (fds, O_CLOEXEC) != 0)
            {
                finished = true;
                return;
            }

            pid = ::fork();

            if (pid == 0)
            {
                ::dup2 (fds[1], STDOUT_FILENO);
                ::dup2 (fds[1], STDERR_FILENO);

                // The conditions a user's shell gives, whatever the test runner has.
                sigset_t none;
                sigemptyset (&none);
                ::sigprocmask (SIG_SETMASK, &none, nullptr);
                for (int s : { SIGINT, SIGTERM, SIGHUP, SIGXFSZ, SIGPIPE })
                    ::signal (s, SIG_DFL);

                if (setup)
                    setup();

                ::execve (argv[0], argv.data(), envp.data());
                ::_exit (127);
            }

            ::close (fds[1]);
            output = fds[0];

            if (pid < 0)
                finished = true;
        }

        ~Child()
        {
            if (! finished && pid > 0)
            {
                ::kill (pid, SIGKILL);
                ::waitpid (pid, nullptr, 0);
            }

            if (output >= 0)
                ::close (output);
        }

        pid_t id() const { return pid; }

        /** Whether the child has ended, without waiting for it. */
        bool hasEnded()
        {
            siginfo_t info {};
            return ::waitid (P_PID, (id_t) pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
        }

        /** Reads everything it prints and waits for it to end. */
        Result finish (int timeoutSeconds = 90)
        {
            Result r;

            if (finished)
                return r;

            std::string text;
            const auto deadline = juce::Time::getMillisecondCounterHiRes() + timeoutSeconds * 1000.0;

            for (;;)
            {
                const auto left = deadline - juce::Time::getMillisecondCounterHiRes();

                if (left <= 0.0)
                {
                    r.timedOut = true;
                    ::kill (pid, SIGKILL);
                    break;
                }

                pollfd p { output, POLLIN, 0 };
                if (::poll (&p, 1, (int) std::min (left, 1000.0)) <= 0)
                    continue;

                char chunk[4096];
                const auto n = ::read (output, chunk, sizeof (chunk));

                if (n == 0 || (n < 0 && errno != EINTR))
                    break;

                if (n > 0)
                    text.append (chunk, (size_t) n);
            }

            int status = 0;
            rusage usage {};
            while (::wait4 (pid, &status, 0, &usage) < 0 && errno == EINTR) {}
            finished = true;

            r.output = juce::String::fromUTF8 (text.data(), (int) text.size());
            r.peakMemoryKb = usage.ru_maxrss;

            if (! r.timedOut)
            {
                r.exited = WIFEXITED (status);
                r.exitCode = r.exited ? WEXITSTATUS (status) : -1;
                r.signal = WIFSIGNALED (status) ? WTERMSIG (status) : 0;
            }

            return r;
        }

    private:
        pid_t pid = -1;
        int output = -1;
        bool finished = false;
    };

    Result run (const juce::StringArray& args, const ChildSetup& setup = {}, const juce::StringArray& extraEnvironment = {})
    {
        return Child (args, setup, extraEnvironment).finish();
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

            // As the system names it, so that paths in messages compare.
            char real[PATH_MAX];
            ASSERT_NE (::realpath (dir.getFullPathName().toRawUTF8(), real), nullptr);
            dir = juce::File (juce::String::fromUTF8 (real));
        }

        void TearDown() override { dir.deleteRecursively(); }

        juce::String path (const char* name) const { return dir.getChildFile (name).getFullPathName(); }

        /** A symbolic link in the folder, saying target. */
        void makeLink (const char* target, const char* name) const
        {
            ASSERT_EQ (::symlink (target, path (name).toRawUTF8()), 0) << name;
        }

        /** The test signal as a file, as the reference sees it. */
        juce::String input (const char* name, int channels, int frames, double rate)
        {
            writeWav (dir.getChildFile (name), TestSignal::make (channels, frames, rate), rate);
            return path (name);
        }

        /** Every file in the folder: its contents and which file it is. */
        struct Entry
        {
            std::string contents;
            ino_t inode = 0;
            mode_t mode = 0;
            uid_t owner = 0;

            bool operator== (const Entry& other) const
            {
                return contents == other.contents && inode == other.inode && mode == other.mode && owner == other.owner;
            }
        };

        std::map<juce::String, Entry> listing() const
        {
            std::map<juce::String, Entry> files;

            for (const auto& entry : juce::RangedDirectoryIterator (dir, true, "*", juce::File::findFilesAndDirectories,
                                                                    juce::File::FollowSymlinks::no))
            {
                const auto file = entry.getFile();
                auto& e = files[file.getRelativePathFrom (dir)];
                struct stat info {};
                if (::lstat (file.getFullPathName().toRawUTF8(), &info) == 0)
                    e.inode = info.st_ino;
                e.mode = info.st_mode;
                e.owner = info.st_uid;

                // A link: what it says; anything but a file (a pipe, which
                // would wait for a writer, a device) is known by its inode.
                juce::MemoryBlock data;
                char link[4096];
                if (S_ISLNK (info.st_mode))
                    e.contents = "-> " + std::string (link, (size_t) std::max<ssize_t> (0, ::readlink (file.getFullPathName().toRawUTF8(), link, sizeof (link))));
                else if (S_ISREG (info.st_mode) && file.loadFileAsData (data) && data.getSize() > 0)
                    e.contents.assign (static_cast<const char*> (data.getData()), data.getSize());
            }

            return files;
        }

        /** What differs between two listings, one name a line; empty when
            nothing does. */
        static std::string changes (const std::map<juce::String, Entry>& before, const std::map<juce::String, Entry>& after)
        {
            std::string text;

            for (const auto& [name, entry] : before)
            {
                const auto now = after.find (name);
                if (now == after.end())
                    text += "removed: " + name.toStdString() + "\n";
                else if (now->second.inode != entry.inode)
                    text += "replaced: " + name.toStdString() + "\n";
                else if (! (now->second == entry))
                    text += "changed: " + name.toStdString() + "\n";
            }

            for (const auto& [name, entry] : after)
                if (before.count (name) == 0)
                    text += "added: " + name.toStdString() + "\n";

            return text;
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
        ASSERT_TRUE (exitedWith (r, 0));
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
            ASSERT_TRUE (exitedWith (r, 0));

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
            EXPECT_TRUE (exitedWith (r, 0)) << name;
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
        ASSERT_TRUE (exitedWith (saved, 0));

        // The same bytes a host stores for those settings.
        juce::MemoryBlock state;
        ASSERT_TRUE (dir.getChildFile ("state.bin").loadFileAsData (state));
        const Settings settings { { chorusDepth, 6.3f }, { chorusSpeed, 2.0f }, { chorusMix, 4.0f }, { stereoProc, 0.0f } };
        EXPECT_EQ (state, referenceState (settings));

        // Loaded again, it gives the same render.
        const auto loaded = run ({ in, path ("loaded.wav"), "--quiet", "--state", path ("state.bin") });
        ASSERT_TRUE (exitedWith (loaded, 0));
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
        ASSERT_TRUE (exitedWith (overridden, 0));

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
        ASSERT_TRUE (exitedWith (r, 0));

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
        EXPECT_TRUE (exitedWith (help, 0));
        EXPECT_TRUE (help.output.startsWith ("usage: tessamune-render")) << help.output;

        const auto version = run ({ "--version" });
        EXPECT_TRUE (exitedWith (version, 0));
        EXPECT_EQ (version.output.trim(), "tessamune-render " TESSAMUNE_VERSION);
    }

    //==========================================================================
    // The factory presets: listed as the table lists them, and each, named in
    // any letter case, renders what the processor renders with its values;
    // options given beside a preset override it.
    TEST_F (Render, ListsThePresetsAndRendersEachAsTheProcessorDoes)
    {
        const auto listed = run ({ "--list-presets" });
        ASSERT_TRUE (exitedWith (listed, 0));

        juce::StringArray table;
        for (const auto& preset : FactoryPresets::all())
            table.add (preset.name);

        EXPECT_EQ (juce::StringArray::fromLines (listed.output.trimEnd()), table);

        const auto in = input ("in.wav", 2, matchFrames, 44100.0);

        for (const auto& preset : FactoryPresets::all())
        {
            SCOPED_TRACE (preset.name);
            Settings settings;
            for (size_t i = 0; i < preset.values.size(); ++i)
                settings.emplace_back (ParameterIDs::all[i], preset.values[i]);

            // Started from other settings, which the preset replaces.
            const auto r = run ({ in, path ("out.wav"), "--quiet", "--mode", "mono", "--off",
                                  "--preset", juce::String (preset.name).toLowerCase() });
            ASSERT_TRUE (exitedWith (r, 0));

            // --mode and --off given with the preset override it.
            settings.emplace_back (stereoProc, 0.0f);
            settings.emplace_back (chorusOn, 0.0f);
            const auto out = readWav (dir.getChildFile ("out.wav"));
            const auto expected = reference (2, 2, 44100.0, 512, matchFrames, settings);
            ASSERT_EQ (out.channels.size(), 2u);
            for (int ch = 0; ch < 2; ++ch)
                EXPECT_EQ (firstDifference (out.channels[(size_t) ch], expected[(size_t) ch]), -1) << "channel " << ch;

            const auto alone = run ({ in, path ("alone.wav"), "--quiet", "--preset", preset.name });
            ASSERT_TRUE (exitedWith (alone, 0));
            settings.resize (settings.size() - 2);
            const auto aloneOut = readWav (dir.getChildFile ("alone.wav"));
            const auto aloneExpected = reference (2, 2, 44100.0, 512, matchFrames, settings);
            ASSERT_EQ (aloneOut.channels.size(), 2u);
            for (int ch = 0; ch < 2; ++ch)
                EXPECT_EQ (firstDifference (aloneOut.channels[(size_t) ch], aloneExpected[(size_t) ch]), -1) << "channel " << ch;
        }
    }

    //==========================================================================
    /** Writes to files are cut at a size, as a shell's ulimit -f does; with
        the signal that the kernel sends at the limit left to end the
        program, or ignored (then the write fails with EFBIG). */
    ChildSetup limitFileSize (rlim_t bytes, bool ignoreSignal)
    {
        if (bytes == 0)
            return {};

        return [bytes, ignoreSignal]
        {
            const rlimit limit { bytes, bytes };
            ::setrlimit (RLIMIT_FSIZE, &limit);

            if (ignoreSignal)
                ::signal (SIGXFSZ, SIG_IGN);
        };
    }

    /** A folder that holds the outputs of an earlier run (out.wav, plot.png,
        state.bin) besides the inputs: whatever goes wrong, a run may not
        change any of them. */
    class OldOutputs : public Render
    {
    protected:
        void SetUp() override
        {
            Render::SetUp();
            input ("in.wav", 2, 4800, 48000.0);

            writeWav (dir.getChildFile ("out.wav"), TestSignal::make (2, 300, 44100.0), 44100.0, 16);
            dir.getChildFile ("plot.png").replaceWithText ("the picture of an earlier run\n");
            const auto earlier = referenceState ({ { chorusDepth, 1.0f } });
            dir.getChildFile ("state.bin").replaceWithData (earlier.getData(), earlier.getSize());
        }

        /** Expects the WAV in a file to be the render of in.wav with the settings. */
        void expectRenderOfInput (const juce::File& file, const Settings& settings)
        {
            const auto out = readWav (file);
            const auto expected = reference (2, 2, 48000.0, 512, 4800, settings);
            ASSERT_EQ (out.channels.size(), 2u);
            for (int ch = 0; ch < 2; ++ch)
                EXPECT_EQ (firstDifference (out.channels[(size_t) ch], expected[(size_t) ch]), -1) << "channel " << ch;
        }
    };

    //==========================================================================
    // Every mistake and every failure: a one-line message, a normal exit with
    // the status for it, and every file as it was, old outputs included.
    struct BadCase
    {
        const char* name;
        std::vector<juce::String> args;   // "@" stands for the test's folder
        int status;                       // 2: a mistake on the command line, 1: the run failed
        const char* message;              // "@" stands for the test's folder
        rlim_t fileSizeLimit = 0;         // bytes, or 0 for none
        bool ignoreFileSizeSignal = false;
    };

    void PrintTo (const BadCase& c, std::ostream* os) { *os << c.name; }

    class RenderRefuses : public OldOutputs, public testing::WithParamInterface<BadCase>
    {
    protected:
        void SetUp() override
        {
            OldOutputs::SetUp();
            writeWav (dir.getChildFile ("three.wav"), TestSignal::make (3, 4800, 48000.0), 48000.0);
            writeWav (dir.getChildFile ("slow.wav"), TestSignal::make (1, 100, 20.0), 20.0);
            writeWav (dir.getChildFile ("fast.wav"), TestSignal::make (1, 4800, 3000000.0), 3000000.0);
            dir.getChildFile ("notes.txt").replaceWithText ("not audio at all\n");
            dir.getChildFile ("folder").createDirectory();

            // A saved state cut short.
            auto state = referenceState ({ { chorusDepth, 5.0f } });
            state.setSize (state.getSize() / 2);
            dir.getChildFile ("damaged.bin").replaceWithData (state.getData(), state.getSize());

            // What an output may name besides a file: a pipe, a device (made
            // here where the system lets us, else a link to the system's
            // /dev/null), a file made read-only and a link to one, a link
            // that leads to itself, a link into a folder that does not
            // exist, and a folder reached through a link.
            const auto at = [this] (const char* name) { return path (name).toStdString(); };
            ASSERT_EQ (::mkfifo (at ("pipe").c_str(), 0644), 0);
            if (::mknod (at ("null").c_str(), S_IFCHR | 0666, makedev (1, 3)) != 0)
            {
                makeLink ("/dev/null", "null");
            }
            writeWav (dir.getChildFile ("final.wav"), TestSignal::make (2, 300, 44100.0), 44100.0, 16);
            ASSERT_EQ (::chmod (at ("final.wav").c_str(), 0444), 0);
            makeLink ("final.wav", "take.wav");
            makeLink ("loop.wav", "loop.wav");
            makeLink ("missing/take.wav", "lost.wav");
            ASSERT_TRUE (dir.getChildFile ("d").createDirectory());
            makeLink ("d", "e");
        }
    };

    TEST_P (RenderRefuses, WithOneLineAndEveryFileAsItWas)
    {
        const auto& c = GetParam();
        juce::StringArray args;
        for (auto a : c.args)
            args.add (a.replace ("@", dir.getFullPathName()));

        const auto before = listing();
        const auto r = run (args, limitFileSize (c.fileSizeLimit, c.ignoreFileSizeSignal));

        EXPECT_TRUE (exitedWith (r, c.status));
        EXPECT_TRUE (r.output.startsWith ("tessamune-render: ")) << r.output;
        EXPECT_TRUE (r.output.contains (juce::String (c.message).replace ("@", dir.getFullPathName()))) << r.output;
        EXPECT_EQ (r.output.trimEnd().indexOfChar ('\n'), -1) << r.output;
        EXPECT_EQ (changes (before, listing()), "");
    }

    constexpr rlim_t kilobytes = 1024;

    INSTANTIATE_TEST_SUITE_P (
        Cases, RenderRefuses,
        testing::Values (
            // Mistakes on the command line.
            BadCase { "UnknownOption", { "@/in.wav", "@/out.wav", "--chorus-please" }, 2, "unknown option --chorus-please" },
            BadCase { "UnknownPreset", { "@/in.wav", "@/out.wav", "--preset", "Jet Flanger" }, 2,
                      "unknown preset \"Jet Flanger\" (the presets: Default, Subtle Doubler," },
            BadCase { "PresetWithoutName", { "@/in.wav", "@/out.wav", "--preset" }, 2, "--preset needs a value" },
            BadCase { "KnobAboveTen", { "@/in.wav", "@/out.wav", "--depth", "10.5" }, 2, "outside 0 to 10" },
            BadCase { "KnobBelowZero", { "@/in.wav", "@/out.wav", "--mix", "-0.1" }, 2, "outside 0 to 10" },
            BadCase { "KnobNotANumber", { "@/in.wav", "@/out.wav", "--speed", "fast" }, 2, "needs a number" },
            BadCase { "KnobHalfANumber", { "@/in.wav", "@/out.wav", "--depth", "5x" }, 2, "needs a number" },
            BadCase { "KnobWithoutValue", { "@/in.wav", "@/out.wav", "--depth" }, 2, "needs a value" },
            BadCase { "KnobValueIsAnOption", { "@/in.wav", "@/out.wav", "--depth", "--speed", "3" }, 2,
                      "--depth needs a value, not the option --speed" },
            BadCase { "PlotValueIsAnOption", { "@/in.wav", "@/out.wav", "--plot", "--quiet" }, 2,
                      "--plot needs a value, not the option --quiet" },
            BadCase { "SavedStateValueIsAnOption", { "@/in.wav", "@/out.wav", "--save-state=--mix" }, 2,
                      "--save-state needs a value, not the option --mix" },
            BadCase { "OptionAfterTheEndOfOptionsIsAFile", { "--", "@/in.wav", "@/out.wav", "--quiet" }, 2, "too many file names" },
            BadCase { "NoOutputGiven", { "--depth", "3" }, 2, "no OUTPUT" },
            BadCase { "BadFormat", { "@/in.wav", "@/out.wav", "--format", "s8" }, 2, "--format must be" },

            // Found before rendering.
            BadCase { "MissingInput", { "@/nothing.wav", "@/out.wav" }, 1, "does not exist" },
            BadCase { "InputIsAFolder", { "@/folder", "@/out.wav" }, 1, "is a folder" },
            BadCase { "InputIsNotAudio", { "@/notes.txt", "@/out.wav" }, 1, "not an audio file" },
            BadCase { "ThreeChannels", { "@/three.wav", "@/out.wav" }, 1, "3 channels" },
            BadCase { "RateTooLow", { "@/slow.wav", "@/out.wav" }, 1, "sample rate of 20 Hz" },
            BadCase { "RateTooHigh", { "@/fast.wav", "@/out.wav" }, 1, "sample rate of 3000000 Hz" },
            BadCase { "OutputFolderMissing", { "@/in.wav", "@/missing/out.wav" }, 1, "does not exist" },
            BadCase { "OutputFolderIsAFile", { "@/in.wav", "@/notes.txt/out.wav" }, 1, "not a folder" },
            BadCase { "OutputIsAFolder", { "@/in.wav", "@/folder" }, 1, "is a folder" },
            BadCase { "OutputIsTheInput", { "@/in.wav", "@/in.wav", "--depth", "5" }, 1, "is the input file" },
            BadCase { "PlotIsTheOutput", { "@/in.wav", "@/out.wav", "--plot", "@/out.wav" }, 1, "are the same file" },
            BadCase { "DamagedState", { "@/in.wav", "@/out.wav", "--state", "@/damaged.bin" }, 1, "damaged or not a Tessamune state" },
            BadCase { "StateNotAState", { "@/in.wav", "@/out.wav", "--state", "@/notes.txt", "--save-state", "@/state.bin" }, 1,
                      "damaged" },
            BadCase { "PlotFolderMissing", { "@/in.wav", "@/out.wav", "--plot", "@/missing/plot.png" }, 1, "does not exist" },
            BadCase { "MonoOutFromStereo", { "@/in.wav", "@/out.wav", "--mono-out" }, 1, "--mono-out needs a mono input" },

            // Outputs that are not files to replace, or not to be replaced.
            BadCase { "OutputIsAPipe", { "@/in.wav", "@/pipe" }, 1, "is a named pipe, not a file" },
            BadCase { "OutputIsADevice", { "@/in.wav", "@/null" }, 1, "is a device, not a file" },
            BadCase { "OutputIsReadOnly", { "@/in.wav", "@/final.wav" }, 1, "the output \"@/final.wav\" is not writable" },
            BadCase { "PlotLinksToAReadOnlyFile", { "@/in.wav", "@/out.wav", "--plot", "@/take.wav" }, 1,
                      "the plot \"@/take.wav\" (a link to \"@/final.wav\") is not writable" },
            BadCase { "OutputLinkLeadsToItself", { "@/in.wav", "@/loop.wav" }, 1, "leads through too many symbolic links" },
            BadCase { "OutputLinksIntoAMissingFolder", { "@/in.wav", "@/lost.wav" }, 1,
                      "the folder for the output \"@/lost.wav\" (a link to \"@/missing/take.wav\") does not exist" },
            BadCase { "TwoOutputsOneNewFileThroughALinkedFolder", { "@/in.wav", "@/d/new.wav", "--save-state", "@/e/new.wav" }, 1,
                      "the saved state and the output are the same file" },

            // Failing while rendering: the demo's 4 MB of WAV meet a 1 MB
            // limit a quarter of the way through (with the signal that the
            // kernel sends there ignored by the caller, or left for the
            // renderer to handle), and a 110 kB plot meets a limit that the
            // 38 kB WAV and the state pass, after both are finished.
            BadCase { "WavCutShortByAFileSizeLimit", { "@/out.wav", "--save-state", "@/state.bin" }, 1,
                      "cannot write the output", 1024 * kilobytes, true },
            BadCase { "WavCutShortByAFileSizeLimitAndItsSignal", { "@/out.wav", "--plot", "@/plot.png" }, 1,
                      "File too large", 1024 * kilobytes, false },
            BadCase { "PlotCutShortByAFileSizeLimit", { "@/in.wav", "@/out.wav", "--plot", "@/plot.png", "--save-state", "@/state.bin" },
                      1, "cannot write the plot", 64 * kilobytes, true }),
        [] (const auto& test) { return std::string (test.param.name); });

    //==========================================================================
    // Stopped by a signal in the middle of a render, the run removes its
    // temporary files, leaves the old outputs as they were and exits with
    // 128 + the signal's number, as a shell reports a program the signal
    // ended.
    TEST_F (OldOutputs, AnInterruptedRenderChangesNoFile)
    {
        // A minute of audio in small blocks: long enough to be caught in the middle.
        const double rate = 48000.0;
        writeWav (dir.getChildFile ("long.wav"), TestSignal::make (1, (int) (60 * rate), rate), rate, 16);

        for (const auto& [signal, status] : { std::pair { SIGINT, 130 }, std::pair { SIGTERM, 143 }, std::pair { SIGHUP, 129 } })
        {
            SCOPED_TRACE (::strsignal (signal));
            const auto before = listing();

            Child child ({ path ("long.wav"), path ("out.wav"), "--quiet", "--mono-out", "--format", "s16", "--block", "64",
                           "--plot", path ("plot.png"), "--save-state", path ("state.bin") });

            // Rendering is under way once a new file holds a good part of
            // the 5.8 MB of audio.
            bool rendering = false;
            const auto giveUp = juce::Time::getMillisecondCounterHiRes() + 60000.0;

            while (! rendering && ! child.hasEnded() && juce::Time::getMillisecondCounterHiRes() < giveUp)
            {
                for (const auto& entry : juce::RangedDirectoryIterator (dir, false, "*", juce::File::findFiles))
                    rendering = rendering || (before.count (entry.getFile().getFileName()) == 0 && entry.getFileSize() > 256 * 1024);

                if (! rendering)
                    juce::Thread::sleep (1);
            }

            ASSERT_TRUE (rendering) << "the render was not caught in the middle: " << child.finish (1).report();
            ASSERT_EQ (::kill (child.id(), signal), 0);
            const auto r = child.finish();

            EXPECT_TRUE (exitedWith (r, status));
            EXPECT_TRUE (r.output.startsWith ("tessamune-render: interrupted")) << r.output;
            EXPECT_EQ (changes (before, listing()), "");
        }
    }

    //==========================================================================
    /** Runs the child as another user. */
    ChildSetup asUser (uid_t user, gid_t group)
    {
        return [user, group]
        {
            if (::setgroups (0, nullptr) != 0 || ::setgid (group) != 0 || ::setuid (user) != 0)
                ::_exit (126);
        };
    }

    // In a folder with the sticky bit, such as /tmp, only a file's owner may
    // replace it. The renderer says so before it renders, and in particular
    // does not put the WAV in place first.
    TEST_F (OldOutputs, AnotherUsersFileInAStickyFolderIsRefusedBeforeRendering)
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root, to run the renderer as another user";

        ASSERT_EQ (::chmod (dir.getFullPathName().toRawUTF8(), 01777), 0);
        const auto before = listing();

        const auto r = run ({ path ("in.wav"), path ("new.wav"), "--save-state", path ("state.bin") }, asUser (65534, 65534));

        EXPECT_TRUE (exitedWith (r, 1));
        EXPECT_TRUE (r.output.contains ("cannot replace the saved state")) << r.output;
        EXPECT_TRUE (r.output.contains ("belongs to another user")) << r.output;
        EXPECT_EQ (changes (before, listing()), "");
    }

    // A file the user may not write is kept, as cp keeps it, although the
    // folder would let the renderer put another in its place.
    TEST_F (OldOutputs, AFileTheUserMayNotWriteIsRefusedBeforeRendering)
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root, to run the renderer as another user";

        ASSERT_EQ (::chmod (dir.getFullPathName().toRawUTF8(), 0777), 0);
        const auto before = listing();

        const auto r = run ({ path ("in.wav"), path ("out.wav") }, asUser (65534, 65534));

        EXPECT_TRUE (exitedWith (r, 1));
        EXPECT_TRUE (r.output.contains ("the output \"" + path ("out.wav") + "\" is not writable")) << r.output;
        EXPECT_EQ (changes (before, listing()), "");
    }

    // In a folder that everybody may write to and only owners may delete
    // from, such as /tmp, a link that another user put there is not
    // followed (the system's own rule): nobody can lead a run, root's
    // included, into somebody else's files.
    TEST_F (OldOutputs, ALinkAnotherUserPutInASharedFolderIsNotFollowed)
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root, to make a link that belongs to another user";

        ASSERT_EQ (::chmod (dir.getFullPathName().toRawUTF8(), 01777), 0);
        makeLink ("out.wav", "planted.wav");
        ASSERT_EQ (::lchown (path ("planted.wav").toRawUTF8(), 65534, 65534), 0);
        const auto before = listing();

        const auto r = run ({ path ("in.wav"), path ("planted.wav") });

        EXPECT_TRUE (exitedWith (r, 1));
        EXPECT_TRUE (r.output.contains ("is a link that another user put in")) << r.output;
        EXPECT_EQ (changes (before, listing()), "");
    }

    /** Marks a file immutable while it lives, where the user's rights and
        the file system allow it: then nobody, root included, can replace
        it. */
    class Immutable
    {
    public:
        explicit Immutable (const juce::File& f) : path (f.getFullPathName().toStdString()) { marked = mark (true); }
        ~Immutable() { if (marked) mark (false); }

        bool marked = false;

    private:
        bool mark (bool on)
        {
            const int fd = ::open (path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            int flags = 0;
            bool done = false;

            if (fd >= 0 && ::ioctl (fd, FS_IOC_GETFLAGS, &flags) == 0)
            {
                flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
                done = ::ioctl (fd, FS_IOC_SETFLAGS, &flags) == 0;
            }

            if (fd >= 0)
                ::close (fd);

            return done;
        }

        std::string path;
    };

    // The outputs move in the order WAV, plot, state. When the last one
    // cannot be moved, the two before it, already in place, go back.
    TEST_F (OldOutputs, AMoveThatFailsLateUndoesTheMovesBeforeIt)
    {
        const Immutable locked (dir.getChildFile ("state.bin"));
        if (! locked.marked)
            GTEST_SKIP() << "cannot mark a file immutable here (needs root and a file system that supports it)";

        const auto before = listing();
        const auto r = run ({ path ("in.wav"), path ("out.wav"), "--plot", path ("plot.png"), "--save-state", path ("state.bin") });

        EXPECT_TRUE (exitedWith (r, 1));
        EXPECT_TRUE (r.output.contains ("cannot move the finished saved state to \"" + path ("state.bin") + "\"")) << r.output;
        EXPECT_TRUE (r.output.contains ("no file was changed")) << r.output;
        EXPECT_EQ (r.output.trimEnd().indexOfChar ('\n'), -1) << r.output;
        EXPECT_EQ (changes (before, listing()), "");
    }

    /** The environment a child needs to see a file system that cannot swap
        two names: the test library that refuses the swap, loaded first. */
    juce::StringArray withoutNameSwaps()
    {
        // A sanitizer runtime linked dynamically wants to be loaded first.
        const auto* asan = std::getenv ("ASAN_OPTIONS");
        const auto asanOptions = juce::String (asan != nullptr && *asan != 0 ? juce::String (asan) + ":" : juce::String())
                                 + "verify_asan_link_order=0";
        return { "LD_PRELOAD=" TESSAMUNE_NO_NAME_SWAP_LIBRARY, "ASAN_OPTIONS=" + asanOptions };
    }

    // Where the old files cannot be kept aside until the end, a failing
    // move says exactly which outputs were already replaced (they are
    // complete), and the rest are as they were.
    TEST_F (OldOutputs, WithoutNameSwapsALateFailureSaysWhatWasReplaced)
    {
        const Immutable locked (dir.getChildFile ("state.bin"));
        if (! locked.marked)
            GTEST_SKIP() << "cannot mark a file immutable here (needs root and a file system that supports it)";

        const auto before = listing();
        const auto r = run ({ path ("in.wav"), path ("out.wav"), "--plot", path ("plot.png"), "--save-state", path ("state.bin") },
                            {}, withoutNameSwaps());

        EXPECT_TRUE (exitedWith (r, 1));
        EXPECT_TRUE (r.output.contains ("cannot move the finished saved state")) << r.output;
        EXPECT_TRUE (r.output.contains ("the output \"" + path ("out.wav") + "\" was already replaced by the new one")) << r.output;
        EXPECT_TRUE (r.output.contains ("the plot \"" + path ("plot.png") + "\" was already replaced by the new one")) << r.output;
        EXPECT_TRUE (r.output.contains ("every other file is as it was")) << r.output;
        EXPECT_EQ (changes (before, listing()), "replaced: out.wav\nreplaced: plot.png\n");

        // What was replaced is the finished render.
        expectRenderOfInput (dir.getChildFile ("out.wav"), {});
    }

    //==========================================================================
    // A successful run replaces each old output with the new one, and
    // leaves nothing else behind. A part file that a killed earlier run
    // left, under a name made of the new run's own process id, is not
    // taken up: it is somebody else's file.
    TEST_F (OldOutputs, ASuccessfulRunReplacesEachOutputAndLeavesNothingElse)
    {
        const auto stalePrefix = dir.getChildFile (".out.wav.part-").getFullPathName().toStdString();

        const ChildSetup leaveAStalePartFile = [stalePrefix]
        {
            char name[4096];
            size_t n = std::min (stalePrefix.size(), sizeof (name) - 24);
            std::memcpy (name, stalePrefix.data(), n);

            char digits[24];
            int k = 0;
            for (auto id = (unsigned long) ::getpid(); id > 0 || k == 0; id /= 10)
                digits[k++] = (char) ('0' + id % 10);
            while (k > 0)
                name[n++] = digits[--k];
            name[n] = 0;

            const int fd = ::open (name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd >= 0)
            {
                static const char junk[] = "the start of a render that was killed";
                (void) ! ::write (fd, junk, sizeof (junk) - 1);
                ::close (fd);
            }
        };

        const auto before = listing();
        Child child ({ path ("in.wav"), path ("out.wav"), "--quiet", "--depth", "4", "--plot", path ("plot.png"),
                       "--save-state", path ("state.bin") },
                     leaveAStalePartFile);
        const auto r = child.finish();
        ASSERT_TRUE (exitedWith (r, 0));

        const auto stale = ".out.wav.part-" + juce::String (child.id());
        EXPECT_EQ (changes (before, listing()), "replaced: out.wav\nreplaced: plot.png\nreplaced: state.bin\nadded: " + stale + "\n");
        EXPECT_EQ (dir.getChildFile (stale).loadFileAsString(), "the start of a render that was killed");

        expectRenderOfInput (dir.getChildFile ("out.wav"), { { chorusDepth, 4.0f } });

        juce::MemoryBlock state;
        ASSERT_TRUE (dir.getChildFile ("state.bin").loadFileAsData (state));
        EXPECT_EQ (state, referenceState ({ { chorusDepth, 4.0f } }));

        const auto image = juce::ImageFileFormat::loadFrom (dir.getChildFile ("plot.png"));
        EXPECT_EQ (image.getWidth(), 1200);
        EXPECT_EQ (image.getHeight(), 800);
    }

    // An output that is a symbolic link is written where the link leads, and
    // the link stays: through a chain of two links, a link to a file not yet
    // made, and a relative link in a folder reached through another link,
    // which leads on from where that folder really is. The file replaced
    // keeps its permissions.
    TEST_F (OldOutputs, LinksAreWrittenThroughAndKept)
    {
        const auto at = [this] (const char* name) { return path (name).toStdString(); };
        ASSERT_TRUE (dir.getChildFile ("takes").createDirectory());
        writeWav (dir.getChildFile ("takes/final.wav"), TestSignal::make (2, 300, 44100.0), 44100.0, 16);
        ASSERT_EQ (::chmod (at ("takes/final.wav").c_str(), 0640), 0);
        makeLink ("takes/final.wav", "take.wav");
        makeLink ("take.wav", "latest.wav");
        makeLink ("takes/sketch.png", "sketch.png");
        ASSERT_TRUE (dir.getChildFile ("deep/inner").createDirectory());
        makeLink ("deep/inner", "inner");
        makeLink ("../state.bin", "deep/inner/state.bin");
        const auto before = listing();

        const auto r = run ({ path ("in.wav"), path ("latest.wav"), "--quiet", "--depth", "4", "--plot", path ("sketch.png"),
                              "--save-state", path ("inner/state.bin") });
        ASSERT_TRUE (exitedWith (r, 0));

        EXPECT_EQ (changes (before, listing()), "replaced: takes/final.wav\nadded: deep/state.bin\nadded: takes/sketch.png\n");

        struct stat info {};
        ASSERT_EQ (::stat (at ("takes/final.wav").c_str(), &info), 0);
        EXPECT_EQ (info.st_mode & 07777, 0640u);

        expectRenderOfInput (dir.getChildFile ("takes/final.wav"), { { chorusDepth, 4.0f } });

        juce::MemoryBlock state;
        ASSERT_TRUE (dir.getChildFile ("deep/state.bin").loadFileAsData (state));
        EXPECT_EQ (state, referenceState ({ { chorusDepth, 4.0f } }));
        EXPECT_TRUE (juce::ImageFileFormat::loadFrom (dir.getChildFile ("takes/sketch.png")).isValid());
    }

    // A file put in the place of another keeps the old one's permissions,
    // and (where the user may give it) its owner.
    TEST_F (OldOutputs, AReplacedFileKeepsItsPermissionsAndOwner)
    {
        const auto out = path ("out.wav").toStdString(), state = path ("state.bin").toStdString();
        ASSERT_EQ (::chmod (out.c_str(), 0604), 0);
        const bool root = ::geteuid() == 0;
        if (root)
        {
            ASSERT_EQ (::chown (state.c_str(), 65534, 65534), 0);
        }

        const auto r = run ({ path ("in.wav"), path ("out.wav"), "--quiet", "--save-state", path ("state.bin") });
        ASSERT_TRUE (exitedWith (r, 0));

        struct stat info {};
        ASSERT_EQ (::stat (out.c_str(), &info), 0);
        EXPECT_EQ (info.st_mode & 07777, 0604u);

        if (root)
        {
            ASSERT_EQ (::stat (state.c_str(), &info), 0);
            EXPECT_EQ (info.st_uid, 65534u);
            EXPECT_EQ (info.st_gid, 65534u);
        }
    }

    // After "--" every argument is a file name, even one that starts with a dash.
    TEST_F (Render, NamesAfterTheEndOfOptionsAreFiles)
    {
        input ("-in.wav", 1, matchFrames, 44100.0);
        const auto folder = dir.getFullPathName().toStdString();

        const auto r = run ({ "--quiet", "--depth", "3", "--", "-in.wav", "-out.wav" },
                            [folder] { if (::chdir (folder.c_str()) != 0) ::_exit (126); });
        ASSERT_TRUE (exitedWith (r, 0));

        const auto out = readWav (dir.getChildFile ("-out.wav"));
        const auto expected = reference (1, 2, 44100.0, 512, matchFrames, { { chorusDepth, 3.0f } });
        ASSERT_EQ (out.channels.size(), 2u);
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_EQ (firstDifference (out.channels[(size_t) ch], expected[(size_t) ch]), -1) << "channel " << ch;
    }

    //==========================================================================
    // Ten times the audio may not take more memory: the file streams through.
    TEST_F (Render, MemoryStaysFlatWhateverTheLength)
    {
        const double rate = 48000.0;
        writeWav (dir.getChildFile ("short.wav"), TestSignal::make (2, (int) (12 * rate), rate), rate, 16);
        writeWav (dir.getChildFile ("long.wav"), TestSignal::make (2, (int) (120 * rate), rate), rate, 16);

        const auto shortRun = run ({ path ("short.wav"), path ("short-out.wav"), "--quiet", "--plot", path ("short.png") });
        const auto longRun = run ({ path ("long.wav"), path ("long-out.wav"), "--quiet", "--plot", path ("long.png") });
        ASSERT_TRUE (exitedWith (shortRun, 0));
        ASSERT_TRUE (exitedWith (longRun, 0));

        // Holding the long file's samples would take 46 MB more.
        EXPECT_LT (longRun.peakMemoryKb - shortRun.peakMemoryKb, 8 * 1024)
            << "short: " << shortRun.peakMemoryKb << " kB, long: " << longRun.peakMemoryKb << " kB";
    }
}
