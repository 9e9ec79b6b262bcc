#include "Render.h"

#include "Fonts.h"
#include "Plot.h"
#include "Source.h"

#include "plugin/FactoryPresets.h"
#include "plugin/Parameters.h"
#include "plugin/Processor.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>

#ifdef _WIN32
 #ifndef NOMINMAX
  #define NOMINMAX
 #endif
 #include <windows.h>
 #include <io.h>
#else
 #include <fcntl.h>
 #include <sys/stat.h>
 #include <unistd.h>
#endif

namespace render
{
    namespace
    {
        // The signal that asked the run to stop (SIGINT, SIGTERM or SIGHUP),
        // or 0. The handler only notes it; the render checks it between
        // blocks and before anything is moved into place.
        volatile std::sig_atomic_t stopSignal = 0;

        extern "C" void onSignal (int signal) { stopSignal = signal; }

        juce::String signalName (int signal)
        {
#ifdef _WIN32
            return signal == SIGINT ? "Interrupt" : signal == SIGTERM ? "Terminated" : "signal " + juce::String (signal);
#else
            return juce::String (::strsignal (signal));
#endif
        }

        /** A failure, described in one line for the user, and the exit status. */
        struct Failure
        {
            juce::String message;
            int status = 1;
        };

        [[noreturn]] void fail (const juce::String& message) { throw Failure { message }; }

        void failIfInterrupted()
        {
            if (const int signal = stopSignal; signal != 0)
                throw Failure { "interrupted (" + signalName (signal) + "); no file was changed", 128 + signal };
        }

        juce::String quoted (const juce::String& path) { return "\"" + path + "\""; }

#ifndef _WIN32
        juce::String errorText (int error) { return juce::String (std::strerror (error)); }

        /**
            The file an output is written to. A path that ends in symbolic
            links names the file they lead to: that file is written (or
            created), and the links stay as they are. The folder is the one
            the system reaches, every link on the way resolved, so two
            outputs are the same file exactly when they come to the same
            folder (its device and inode) and the same name in it, whatever
            links their paths take.
        */
        struct OutputTarget
        {
            juce::String given;         // as on the command line
            const char* what = "";      // "output", "plot", "saved state"
            std::string folder, name;   // where it is written
            dev_t folderDevice = 0;
            ino_t folderInode = 0;
            bool throughLink = false;   // the path ends in a link
            std::string leadsTo;        // where the links lead, as far as followed
            bool exists = false;
            struct stat info {};        // the existing file's

            std::string path() const { return (folder == "/" ? "" : folder) + "/" + name; }

            /** The path as given, for messages; a link also names the file it leads to. */
            juce::String shown (const juce::String& text) const
            {
                return quoted (text) + (throughLink ? " (a link to " + quoted (juce::String (leadsTo)) + ")" : juce::String());
            }

            juce::String shown() const { return shown (given); }

            bool isSameFileAs (const OutputTarget& other) const
            {
                if (exists && other.exists)
                    return info.st_dev == other.info.st_dev && info.st_ino == other.info.st_ino;

                return folderDevice == other.folderDevice && folderInode == other.folderInode && name == other.name;
            }

            /** Whether an existing file (an input) is this one. */
            bool isFile (const juce::String& otherPath) const
            {
                struct stat other {};
                const auto file = juce::File::getCurrentWorkingDirectory().getChildFile (otherPath);
                return exists && ::stat (file.getFullPathName().toRawUTF8(), &other) == 0
                       && other.st_dev == info.st_dev && other.st_ino == info.st_ino;
            }
        };

        /** Follows the links that a path ends in, as the system would, up to
            its limit of 40; fails with a message for a path that leads
            nowhere a file could be written. */
        OutputTarget resolveOutput (const juce::String& given, const char* what)
        {
            OutputTarget t;
            t.given = given;
            t.what = what;

            const auto describe = [&t] { return juce::String ("the ") + t.what + " " + t.shown(); };

            // Kept as text, not normalised: ".." after a linked folder leads
            // where the system says, which only the system can tell.
            auto path = given.toStdString();
            if (path.empty() || path.front() != '/')
                path = juce::File::getCurrentWorkingDirectory().getFullPathName().toStdString() + "/" + path;

            const auto start = path;

            for (int links = 0;; ++links)
            {
                t.leadsTo = path;
                const auto slash = path.find_last_of ('/');
                const auto folderText = slash == 0 ? std::string ("/") : path.substr (0, slash);
                t.name = path.substr (slash + 1);

                std::unique_ptr<char, decltype (&std::free)> real (::realpath (folderText.c_str(), nullptr), std::free);

                if (real == nullptr)
                {
                    const auto error = errno;

                    if (error == ENOENT)
                        fail ("the folder for " + describe() + " does not exist");

                    if (error == ENOTDIR)
                        fail (describe() + " is inside " + quoted (juce::String (folderText)) + ", which is not a folder");

                    fail ("cannot reach the folder for " + describe() + ": " + errorText (error));
                }

                t.folder = real.get();
                struct stat folderInfo {};

                if (::stat (t.folder.c_str(), &folderInfo) != 0)
                    fail ("cannot reach the folder for " + describe() + ": " + errorText (errno));

                if (! S_ISDIR (folderInfo.st_mode))
                    fail (describe() + " is inside " + quoted (juce::String (folderText)) + ", which is not a folder");

                t.folderDevice = folderInfo.st_dev;
                t.folderInode = folderInfo.st_ino;

                // A path that ends in "/", "." or "..": what it names is a folder.
                if (t.name.empty() || t.name == "." || t.name == "..")
                    fail (describe() + " is a folder");

                if (::lstat (t.path().c_str(), &t.info) != 0)
                {
                    if (errno != ENOENT)
                        fail ("cannot reach " + describe() + ": " + errorText (errno));

                    // A new file; unless the system's own links (such as
                    // /dev/stdout, through /proc) reach a pipe or a device
                    // that has no name to follow to.
                    t.leadsTo = t.path();
                    t.exists = t.throughLink && ::stat (start.c_str(), &t.info) == 0;
                    return t;
                }

                if (! S_ISLNK (t.info.st_mode))
                {
                    t.leadsTo = t.path();
                    t.exists = true;
                    return t;
                }

                if (links == 40)
                    fail (describe() + " leads through too many symbolic links");

                // The system's own rule for links in a folder that everybody
                // may write to and only owners may delete from (such as
                // /tmp): a link that another user put there is not followed,
                // so that nobody can lead a run into somebody else's files.
                const bool sharedFolder = (folderInfo.st_mode & S_ISVTX) != 0 && (folderInfo.st_mode & S_IWOTH) != 0;

                if (sharedFolder && t.info.st_uid != ::geteuid() && t.info.st_uid != folderInfo.st_uid)
                    fail (describe() + " is a link that another user put in " + quoted (juce::String (t.folder))
                          + "; such links are not followed");

                std::vector<char> text (std::max<size_t> ((size_t) t.info.st_size + 2, PATH_MAX + 1));
                const auto length = ::readlink (t.path().c_str(), text.data(), text.size() - 1);

                if (length <= 0)
                    fail ("cannot follow " + describe() + ": " + errorText (length < 0 ? errno : ENOENT));

                const std::string target (text.data(), (size_t) length);
                path = target.front() == '/' ? target : t.path().substr (0, t.path().size() - t.name.size()) + target;
                t.throughLink = true;
            }
        }

        /** Refuses a target that is not a file, or one that its owner made
            read-only. In a folder with the sticky bit (such as /tmp) only
            the owner of a file or of the folder may replace it (or a process
            with the right to act as any owner, taken here to be root). All
            of it is said before anything is rendered. */
        void checkCanReplace (const OutputTarget& t)
        {
            const auto describe = juce::String ("the ") + t.what + " " + t.shown();

            if (! t.exists)
                return;

            const auto type = t.info.st_mode & S_IFMT;

            if (type == S_IFDIR)
                fail (describe + " is a folder");

            // A pipe or a device would be replaced by a file, not written:
            // the program reading it would get nothing.
            if (type != S_IFREG)
                fail (describe + " is " + (type == S_IFIFO ? "a named pipe" : type == S_IFSOCK ? "a socket" : "a device")
                      + ", not a file; name a file to write to");

            struct stat folderInfo {};
            const auto user = ::geteuid();

            if (user != 0
                && ::stat (t.folder.c_str(), &folderInfo) == 0 && (folderInfo.st_mode & S_ISVTX) != 0
                && t.info.st_uid != user && folderInfo.st_uid != user)
                fail ("cannot replace " + describe + ": it belongs to another user, and in "
                      + quoted (juce::String (t.folder)) + " only a file's owner may replace it");

            // Not writable for this user, or for nobody at all: a file made
            // read-only is kept, as cp keeps it (for root too, whom the
            // permissions would not stop). A file that cannot be replaced
            // for another reason (an immutable one) fails when it is moved,
            // and the run is undone.
            if ((t.info.st_mode & 0222) == 0
                || (::faccessat (AT_FDCWD, t.path().c_str(), W_OK, AT_EACCESS) != 0 && (errno == EACCES || errno == EROFS)))
                fail (describe + " is not writable");
        }

        /**
            One output, written into a temporary file of its own (".NAME.part-"
            and 16 random hexadecimal digits) beside the target, the file its
            path leads to, and moved over the target only once every output
            of the run is complete (see commit()). The temporary file is
            created fresh (O_EXCL), so nothing left over from an earlier run,
            or anybody else's file, can end up in it. Until the commit the target is not touched;
            whatever the temporary name holds at the end is removed.

            Writes go through a buffer straight to the file descriptor, and
            the first failure is kept, a short write (a full disk, a file
            size limit) included, so that a damaged file is never taken for
            a finished one.
        */
        class PendingFile
        {
        public:
            explicit PendingFile (const OutputTarget& t)
                : what (t.what),
                  target (juce::String (t.path())),
                  given (juce::File::getCurrentWorkingDirectory().getChildFile (t.given).getFullPathName()),
                  shown (t.shown (given)),
                  printed (given + (t.throughLink ? " -> " + target.getFullPathName() : juce::String()))
            {
                const auto folder = target.getParentDirectory();

                // Creating the temporary file also proves that the folder
                // can be written, before any work is done. A name that is
                // taken is never opened: another is drawn.
                auto& random = juce::Random::getSystemRandom();

                for (int attempt = 0; descriptor < 0; ++attempt)
                {
                    const auto tag = juce::String::toHexString (random.nextInt64() ^ ((juce::int64) ::getpid() << 20));
                    temporary = target.getSiblingFile ("." + target.getFileName() + ".part-" + tag.paddedLeft ('0', 16));
                    descriptor = ::open (temporary.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);

                    if (const auto openError = errno; descriptor < 0 && (openError != EEXIST || attempt == 100))
                        fail ("cannot write the " + what + " into " + quoted (folder.getFullPathName()) + ": " + errorText (openError));
                }

                ownsTemporary = true;

                // A file that replaces another keeps its permissions, and its
                // owner and group as far as this user may give them.
                if (t.exists)
                {
                    if (::fchown (descriptor, t.info.st_uid, t.info.st_gid) != 0)
                        (void) ::fchown (descriptor, (uid_t) -1, t.info.st_gid);

                    if (::fchmod (descriptor, t.info.st_mode & 0777) != 0)
                        fail ("cannot give the " + what + " the permissions of " + shown + ": " + errorText (errno));
                }
            }

            /** Removes what the temporary name holds: an unfinished file,
                or after the commit the target's old contents. Never a
                folder: a plain unlink. */
            ~PendingFile()
            {
                if (descriptor >= 0)
                    ::close (descriptor);

                if (ownsTemporary)
                    ::unlink (temporary.getFullPathName().toRawUTF8());
            }

            const juce::String what;
            const juce::File target;     // the file written, links resolved
            const juce::String given;    // the path as given, made absolute
            const juce::String shown;    // that path quoted, and where a link leads, for messages
            const juce::String printed;  // the same for the summary

            /** A stream that writes into the temporary file, for a writer
                that wants to own one. */
            std::unique_ptr<juce::OutputStream> createStream() { return std::make_unique<Stream> (*this); }

            /** The whole contents at once. */
            void write (const void* data, size_t size)
            {
                append (data, size);
                finish();
            }

            /** Writes out what is buffered, makes it durable and closes the
                file; fails if anything written went wrong. */
            void finish()
            {
                if (descriptor >= 0)
                {
                    flushBuffer();

                    if (error == 0 && ::fsync (descriptor) != 0)
                        error = errno;

                    if (::close (descriptor) != 0 && error == 0)
                        error = errno;

                    descriptor = -1;
                }

                if (error != 0)
                    fail ("cannot write the " + what + " " + shown + ": " + errorText (error));
            }

            /** Moves every finished file over its target, all or none; see
                the definition. */
            static void commit (const std::vector<PendingFile*>&);

        private:
            enum class Moved { no, exchanged, created, replaced };

            class Stream final : public juce::OutputStream
            {
            public:
                explicit Stream (PendingFile& f) : file (f) {}
                void flush() override                       { file.flushBuffer(); }
                bool setPosition (juce::int64 p) override   { return file.seek (p); }
                juce::int64 getPosition() override          { return file.written + (juce::int64) file.buffered; }
                bool write (const void* data, size_t size) override { return file.append (data, size); }

            private:
                PendingFile& file;
            };

            bool append (const void* data, size_t size)
            {
                if (error != 0 || descriptor < 0)
                    return false;

                if (buffered + size > buffer.size())
                {
                    if (! flushBuffer())
                        return false;

                    if (size >= buffer.size())
                        return writeOut (static_cast<const char*> (data), size);
                }

                std::memcpy (buffer.data() + buffered, data, size);
                buffered += size;
                return true;
            }

            bool flushBuffer()
            {
                const auto size = buffered;
                buffered = 0;
                return writeOut (buffer.data(), size);
            }

            bool seek (juce::int64 position)
            {
                if (! flushBuffer())
                    return false;

                if (::lseek (descriptor, (off_t) position, SEEK_SET) < 0)
                {
                    error = errno;
                    return false;
                }

                written = position;
                return true;
            }

            bool writeOut (const char* data, size_t size)
            {
                while (size > 0 && error == 0)
                {
                    const auto n = ::write (descriptor, data, size);

                    if (n < 0 && errno == EINTR)
                        continue;

                    if (n <= 0)
                        error = n < 0 ? errno : ENOSPC;
                    else
                    {
                        data += n;
                        size -= (size_t) n;
                        written += n;
                    }
                }

                return error == 0;
            }

            juce::File temporary;
            bool ownsTemporary = false;
            int descriptor = -1;
            int error = 0;
            juce::int64 written = 0;   // where the descriptor stands
            std::vector<char> buffer = std::vector<char> (1 << 16);
            size_t buffered = 0;
            Moved moved = Moved::no;
        };

        /*
            Every file is complete before the first one moves. Where a target
            exists, it and the temporary file swap names in one step
            (RENAME_EXCHANGE), so the temporary name then holds the old file
            and the step can be undone; a new target is created without
            replacing anything (RENAME_NOREPLACE) and undone by removing it.
            If any step fails, the steps taken are undone in reverse and no
            target has changed. Only a file system that cannot swap names
            needs a plain rename, which replaces the old file for good: those
            come last, and a failure among them says which files were already
            replaced.
        */
        void PendingFile::commit (const std::vector<PendingFile*>& files)
        {
            const auto pathOf = [] (const juce::File& f) { return f.getFullPathName().toRawUTF8(); };
            std::vector<PendingFile*> plain;
            PendingFile* failed = nullptr;
            int failure = 0;

            for (auto* f : files)
            {
                const auto from = pathOf (f->temporary), to = pathOf (f->target);

                if (::renameat2 (AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE) == 0)
                {
                    f->moved = Moved::exchanged;
                    continue;
                }

                struct stat info {};
                const auto error = errno;
                const bool targetMissing = error == ENOENT && ::lstat (to, &info) != 0 && errno == ENOENT;

                if (targetMissing)
                {
                    auto created = ::renameat2 (AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);

                    if (created != 0 && (errno == EINVAL || errno == ENOSYS))
                        created = std::rename (from, to);

                    if (created == 0)
                    {
                        f->moved = Moved::created;
                        f->ownsTemporary = false;
                        continue;
                    }

                    failure = errno;
                }
                else if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP)
                {
                    plain.push_back (f);
                    continue;
                }
                else
                {
                    failure = error;
                }

                failed = f;
                break;
            }

            if (failed == nullptr)
            {
                for (auto* f : plain)
                {
                    if (std::rename (pathOf (f->temporary), pathOf (f->target)) != 0)
                    {
                        failure = errno;
                        failed = f;
                        break;
                    }

                    f->moved = Moved::replaced;
                    f->ownsTemporary = false;
                }
            }

            if (failed == nullptr)
                return;

            // Undo, newest first, and tell exactly what is left.
            juce::StringArray consequences;

            for (auto it = files.rbegin(); it != files.rend(); ++it)
            {
                auto* f = *it;
                const auto from = pathOf (f->temporary), to = pathOf (f->target);

                if (f->moved == Moved::exchanged && ::renameat2 (AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE) != 0)
                {
                    // The old file is only under the temporary name now: keep it.
                    consequences.add ("the " + f->what + " " + f->shown
                                      + " is the new one; the old one is kept as " + quoted (f->temporary.getFullPathName()));
                    f->ownsTemporary = false;
                }
                else if (f->moved == Moved::created && ::unlink (to) != 0)
                {
                    consequences.add ("a new " + f->what + " was left at " + f->shown);
                }
                else if (f->moved == Moved::replaced)
                {
                    consequences.add ("the " + f->what + " " + f->shown
                                      + " was already replaced by the new one");
                }
            }

            fail ("cannot move the finished " + failed->what + " to " + failed->shown + ": "
                  + errorText (failure) + "; "
                  + (consequences.isEmpty() ? juce::String ("no file was changed")
                                            : consequences.joinIntoString ("; ") + "; every other file is as it was"));
        }

#else
 #include "OutputFilesWindows.h"
#endif

        bool stderrIsTerminal()
        {
#ifdef _WIN32
            return ::_isatty (::_fileno (stderr)) != 0;
#else
            return ::isatty (STDERR_FILENO) != 0;
#endif
        }

        juce::String hertz (double rate)
        {
            return rate == std::floor (rate) ? juce::String ((juce::int64) rate) : juce::String (rate, 2);
        }

        std::unique_ptr<Source> openInput (const juce::String& path)
        {
            if (path.isEmpty())
                return std::make_unique<DemoSource>();

            const auto file = juce::File::getCurrentWorkingDirectory().getChildFile (path);

            if (! file.exists())
                fail ("the input " + quoted (path) + " does not exist");

            if (file.isDirectory())
                fail ("the input " + quoted (path) + " is a folder, not an audio file");

            auto stream = std::make_unique<juce::FileInputStream> (file);

            if (! stream->openedOk())
                fail ("cannot read the input " + quoted (path) + ": " + stream->getStatus().getErrorMessage());

            juce::AudioFormatManager formats;
            formats.registerBasicFormats();
            std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (std::move (stream)));

            if (reader == nullptr)
                fail ("the input " + quoted (path) + " is not an audio file that can be read (WAV, AIFF, FLAC or Ogg Vorbis)");

            if (reader->numChannels < 1 || reader->numChannels > 2)
                fail ("the input " + quoted (path) + " has " + juce::String (reader->numChannels)
                      + " channels; only mono and stereo files can be rendered");

            if (! ChorusEngine::isUsableSampleRate (reader->sampleRate))
                fail ("the input " + quoted (path) + " has a sample rate of " + hertz (reader->sampleRate) + " Hz; the chorus runs at "
                      + juce::String ((int) ChorusEngine::minSampleRate) + " to " + juce::String ((int) ChorusEngine::maxSampleRate) + " Hz");

            auto length = std::max<juce::int64> (0, reader->lengthInSamples);

            // A damaged header can promise far more uncompressed audio than the
            // file holds; render what is there instead of hours of silence.
            const auto frameBytes = (juce::int64) reader->numChannels * (reader->bitsPerSample / 8);
            const bool uncompressed = reader->getFormatName().startsWith ("WAV") || reader->getFormatName().startsWith ("AIFF");

            if (uncompressed && frameBytes > 0 && length > file.getSize() / frameBytes)
            {
                length = file.getSize() / frameBytes;
                std::cerr << "tessamune-render: warning: the input's header promises more audio than the file holds; "
                             "rendering what it holds\n";
            }

            const auto channels = reader->numChannels == 1 ? "mono" : "stereo";
            const auto description = file.getFileName() + " (" + juce::String (juce::roundToInt (reader->sampleRate)) + " Hz, " + channels + ")";
            return std::make_unique<FileSource> (std::move (reader), length, description);
        }

        /** Sets a parameter to a plain value the way a host's automation does. */
        void automate (Processor& processor, const char* id, float plainValue)
        {
            auto* parameter = processor.parameters.getParameter (id);
            jassert (parameter != nullptr);

            parameter->beginChangeGesture();
            parameter->setValueNotifyingHost (parameter->convertTo0to1 (plainValue));
            parameter->endChangeGesture();
        }

        float plain (Processor& processor, const char* id)
        {
            return processor.parameters.getRawParameterValue (id)->load();
        }

        void loadState (Processor& processor, const juce::String& path)
        {
            const auto file = juce::File::getCurrentWorkingDirectory().getChildFile (path);
            constexpr juce::int64 largestState = 1 << 20;   // saved states are a few hundred bytes

            if (! file.existsAsFile())
                fail ("the state file " + quoted (path) + (file.isDirectory() ? " is a folder" : " does not exist"));

            if (file.getSize() > largestState)
                fail ("the state file " + quoted (path) + " is far too large to be a saved Tessamune state");

            juce::MemoryBlock data;
            if (! file.loadFileAsData (data))
                fail ("cannot read the state file " + quoted (path));

            // The processor ignores a block it does not accept, as a host
            // would see it: mark the current state to tell whether it was
            // replaced.
            const juce::Identifier mark ("renderer_unloaded");
            processor.parameters.state.setProperty (mark, true, nullptr);
            processor.setStateInformation (data.getData(), (int) data.getSize());

            if (processor.parameters.state.hasProperty (mark))
                fail ("the state file " + quoted (path) + " is damaged or not a Tessamune state; the plug-in ignores it");
        }

        juce::String decibels (float peak)
        {
            return peak > 0.0f ? juce::String (juce::Decibels::gainToDecibels (peak, -1000.0f), 1) + " dBFS" : juce::String ("-inf dBFS");
        }

        juce::String knobText (float v) { return juce::String (v, 1); }

        juce::String clock (double seconds)
        {
            const auto s = juce::roundToInt (seconds);
            return juce::String (s / 60) + ":" + juce::String (s % 60).paddedLeft ('0', 2);
        }

        /** A progress bar on stderr, redrawn in place; only on a terminal. */
        class Progress
        {
        public:
            explicit Progress (bool show) : enabled (show) {}
            ~Progress() { clear(); }

            void update (double fraction)
            {
                if (! enabled)
                    return;

                const auto now = juce::Time::getMillisecondCounterHiRes();
                if (now - lastDraw < 100.0)
                    return;

                lastDraw = now;
                const auto elapsed = (now - start) / 1000.0;
                const auto left = fraction > 0.0 ? elapsed * (1.0 - fraction) / fraction : 0.0;
                const int filled = juce::roundToInt (fraction * 30.0);

                std::cerr << "\r[" << juce::String::repeatedString ("#", filled) << juce::String::repeatedString ("-", 30 - filled)
                          << "] " << juce::String (juce::roundToInt (fraction * 100.0)).paddedLeft (' ', 3) << "%  "
                          << clock (left) << " left " << std::flush;
                drawn = true;
            }

            void clear()
            {
                if (drawn)
                    std::cerr << "\r" << juce::String::repeatedString (" ", 60) << "\r" << std::flush;
                drawn = false;
            }

        private:
            bool enabled, drawn = false;
            double start = juce::Time::getMillisecondCounterHiRes(), lastDraw = 0.0;
        };

        /**
            The delay time of each voice at every sample of a block, for the
            plot. The engine reports a voice's oscillator and delay only as
            they are after a block; the probe replays the oscillator from the
            phase it had before the block with the settings it ran with, and
            forms each delay with the voice's own formula. The last delay it
            forms must be the one the voice reports, or only the reported one
            is used. A voice whose delay line and oscillator did not move did
            not run.
        */
        class SweepProbe
        {
        public:
            explicit SweepProbe (const ChorusEngine& e) : engine (e) {}

            void beforeBlock()
            {
                for (int v = 0; v < 2; ++v)
                    before[v] = { engine.voice[v].line.writeIndex, engine.voice[v].lfo.phase };
            }

            template <typename Add>
            void afterBlock (int n, Add&& add)
            {
                for (int v = 0; v < 2; ++v)
                {
                    const auto& voice = engine.voice[v];

                    if (voice.line.writeIndex == before[v].writeIndex && voice.lfo.phase == before[v].phase)
                        continue;

                    replay = voice.lfo;
                    replay.phase = before[v].phase;
                    delays.resize ((size_t) n);

                    for (auto& d : delays)
                        d = voice.delayMsFor (replay.tick());

                    if (replay.phase == voice.lfo.phase && delays.back() == voice.line.delayMs)
                        for (int i = 0; i < n; ++i)
                            add (v, i, delays[(size_t) i]);
                    else
                        add (v, n - 1, voice.line.delayMs);
                }
            }

        private:
            struct Mark { juce::int32 writeIndex = 0; float phase = 0; };

            const ChorusEngine& engine;
            Mark before[2];
            WavetableLfo replay;
            std::vector<float> delays = std::vector<float> ((size_t) maxBlock);
        };

        juce::String channelsName (int n) { return n == 1 ? "mono" : "stereo"; }

        int render (const Options& o)
        {
            auto source = openInput (o.input);
            const int ins = source->numChannels();
            const double rate = source->sampleRate();

            if (o.monoOut && ins != 1)
                fail ("--mono-out needs a mono input; a stereo input renders stereo");

            const int outs = o.monoOut ? 1 : 2;

            // Outputs: the files they lead to, distinct from each other, from
            // the input and from the state read, and each one a file that
            // may be replaced.
            std::vector<OutputTarget> outputs { resolveOutput (o.output, "output") };
            if (o.plot.isNotEmpty())     outputs.push_back (resolveOutput (o.plot, "plot"));
            if (o.stateOut.isNotEmpty()) outputs.push_back (resolveOutput (o.stateOut, "saved state"));

            for (size_t i = 0; i < outputs.size(); ++i)
            {
                const auto& t = outputs[i];

                if (o.input.isNotEmpty() && t.isFile (o.input))
                    fail (juce::String ("the ") + t.what + " " + quoted (t.given) + " is the input file; choose another name");

                if (o.stateIn.isNotEmpty() && t.isFile (o.stateIn))
                    fail (juce::String ("the ") + t.what + " " + quoted (t.given) + " is the state file being loaded");

                for (size_t j = 0; j < i; ++j)
                    if (t.isSameFileAs (outputs[j]))
                        fail (juce::String ("the ") + t.what + " and the " + outputs[j].what + " are the same file");
            }

            for (const auto& t : outputs)
                checkCanReplace (t);

            tessamune::artwork::Fonts fonts;
            if (o.plot.isNotEmpty())
                if (auto result = tessamune::artwork::Fonts::load (fonts); result.failed())
                    fail ("cannot draw the plot: " + result.getErrorMessage());

            // The plug-in, set up as a host sets it up.
            Processor processor;
            juce::AudioProcessor::BusesLayout layout;
            layout.inputBuses.add (juce::AudioChannelSet::canonicalChannelSet (ins));
            layout.outputBuses.add (juce::AudioChannelSet::canonicalChannelSet (outs));

            if (! processor.setBusesLayout (layout))
                fail ("the plug-in does not take " + channelsName (ins) + " in, " + channelsName (outs) + " out");

            if (o.stateIn.isNotEmpty())
                loadState (processor, o.stateIn);

            if (o.preset.isNotEmpty())
                if (const auto* preset = FactoryPresets::find (o.preset))
                    FactoryPresets::apply (*preset, processor);

            if (o.depth) automate (processor, ParameterIDs::chorusDepth, *o.depth);
            if (o.speed) automate (processor, ParameterIDs::chorusSpeed, *o.speed);
            if (o.mix)   automate (processor, ParameterIDs::chorusMix, *o.mix);
            if (o.stereoMode) automate (processor, ParameterIDs::stereoProc, *o.stereoMode ? 1.0f : 0.0f);
            if (o.off)   automate (processor, ParameterIDs::chorusOn, 0.0f);

            PendingFile output (outputs[0]);
            std::unique_ptr<PendingFile> plotFile, stateFile;
            if (o.plot.isNotEmpty())     plotFile = std::make_unique<PendingFile> (outputs[1]);
            if (o.stateOut.isNotEmpty()) stateFile = std::make_unique<PendingFile> (outputs.back());

            if (stateFile != nullptr)
            {
                juce::MemoryBlock state;
                processor.getStateInformation (state);
                stateFile->write (state.getData(), state.getSize());
            }

            std::unique_ptr<juce::AudioFormatWriter> writer;
            {
                auto stream = output.createStream();
                juce::WavAudioFormat wav;
                writer.reset (wav.createWriterFor (stream.get(), rate, (unsigned int) outs, o.bitsPerSample(), {}, 0));

                if (writer == nullptr)
                    fail ("cannot write a WAV file at " + hertz (rate) + " Hz");

                stream.release();   // the writer owns it now
            }

            processor.setNonRealtime (true);
            processor.setRateAndBufferSizeDetails (rate, o.block);
            processor.prepareToPlay (rate, o.block);

            // What the settings came to, as the plug-in reads them.
            const bool on = plain (processor, ParameterIDs::chorusOn) >= 0.5f;
            const bool stereo = plain (processor, ParameterIDs::stereoProc) >= 0.5f;
            const juce::String dot (juce::CharPointer_UTF8 ("  \xc2\xb7  "));
            const auto settings = "Depth " + knobText (plain (processor, ParameterIDs::chorusDepth)) + dot
                                  + "Speed " + knobText (plain (processor, ParameterIDs::chorusSpeed))
                                  + " (" + juce::String (processor.engine.speedHz.load(), 2) + " Hz)" + dot
                                  + "Mix " + knobText (plain (processor, ParameterIDs::chorusMix)) + dot
                                  + (stereo ? "Stereo" : "Mono") + " mode" + dot
                                  + (o.bypass ? "host bypass" : on ? "chorus on" : "chorus off") + dot
                                  + channelsName (ins) + " in, " + channelsName (outs) + " out" + dot
                                  + juce::String (juce::roundToInt (rate)) + " Hz, blocks of " + juce::String (o.block);

            const auto length = source->length();
            std::unique_ptr<Plot> plot;
            if (plotFile != nullptr)
                plot = std::make_unique<Plot> (Plot::Setup { "Tessamune chorus" + dot + source->description(), settings, rate, length,
                                                             ins, outs, "chorus off: no voice runs" });

            SweepProbe sweep (processor.engine);

            juce::AudioBuffer<float> buffer (std::max (ins, outs), o.block);
            juce::MidiBuffer midi;
            float peakIn = 0.0f, peakOut = 0.0f;
            Progress progress (! o.quiet && stderrIsTerminal() && (double) length / rate > 5.0);
            const auto started = juce::Time::getMillisecondCounterHiRes();

            for (juce::int64 position = 0; position < length;)
            {
                failIfInterrupted();

                const int n = (int) std::min<juce::int64> (o.block, length - position);
                buffer.setSize (buffer.getNumChannels(), n, false, false, true);
                buffer.clear();

                if (! source->read (buffer, n))
                    fail ("cannot read the input " + quoted (o.input) + " at " + juce::String ((double) position / rate, 2) + " s");

                for (int c = 0; c < ins; ++c)
                    peakIn = std::max (peakIn, buffer.getMagnitude (c, 0, n));
                if (plot != nullptr)
                    plot->addInput (buffer, position, n);

                if (plot != nullptr)
                    sweep.beforeBlock();

                if (o.bypass)
                    processor.processBlockBypassed (buffer, midi);
                else
                    processor.processBlock (buffer, midi);

                for (int c = 0; c < outs; ++c)
                    peakOut = std::max (peakOut, buffer.getMagnitude (c, 0, n));

                if (plot != nullptr)
                {
                    plot->addOutput (buffer, position, n);

                    sweep.afterBlock (n, [&] (int voice, int i, float ms) { plot->addDelay (voice, position + i, ms); });
                }

                if (! writer->writeFromFloatArrays (buffer.getArrayOfReadPointers(), outs, n))
                {
                    output.finish();   // fails with the system's reason
                    fail ("cannot write the output " + quoted (o.output));
                }

                position += n;
                progress.update ((double) position / (double) length);
            }

            processor.releaseResources();
            writer.reset();   // writes the WAV header
            output.finish();
            progress.clear();
            const auto seconds = (juce::Time::getMillisecondCounterHiRes() - started) / 1000.0;

            if (plot != nullptr)
            {
                juce::MemoryOutputStream png;
                juce::PNGImageFormat format;

                if (! format.writeImageToStream (plot->draw (fonts.sans, fonts.sansBold), png))
                    fail ("cannot encode the plot");

                plotFile->write (png.getData(), png.getDataSize());
            }

            // An interruption that comes later is too late to stop the
            // moves, which are quick; the run then ends as a success.
            failIfInterrupted();

            // Every file is complete: move them to their names.
            std::vector<PendingFile*> finished { &output };
            if (plotFile != nullptr)  finished.push_back (plotFile.get());
            if (stateFile != nullptr) finished.push_back (stateFile.get());
            PendingFile::commit (finished);

            if (! o.quiet)
            {
                const double audioSeconds = (double) length / rate;
                std::cout << output.printed << ": " << juce::String (audioSeconds, 2) << " s, peak in "
                          << decibels (peakIn) << ", peak out " << decibels (peakOut);
                if (seconds > 0.0 && length > 0)
                    std::cout << ", " << juce::roundToInt (audioSeconds / seconds) << "x real time";
                std::cout << "\n";

                if (o.format != Options::Format::f32 && peakOut > 1.0f)
                    std::cout << "note: the output peaks above full scale and was clipped; --format f32 keeps it\n";

                if (plotFile != nullptr)
                    std::cout << "plot: " << plotFile->printed << "\n";
                if (stateFile != nullptr)
                    std::cout << "state: " << stateFile->printed << "\n";
            }

            return 0;
        }
    }

    int run (const Options& o)
    {
        // Interrupted, the run removes its temporary files and leaves
        // every output as it was; see failIfInterrupted.
#ifdef _WIN32
        for (int signal : { SIGINT, SIGTERM })
            std::signal (signal, onSignal);
#else
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset (&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signal : { SIGINT, SIGTERM, SIGHUP })
            ::sigaction (signal, &action, nullptr);

        // Past a file size limit a write then fails and is reported, rather
        // than the signal ending the run with its temporary files left behind.
        std::signal (SIGXFSZ, SIG_IGN);
#endif

        try
        {
            return render (o);
        }
        catch (const Failure& failure)
        {
            std::cerr << "tessamune-render: " << failure.message << "\n";
            return failure.status;
        }
        catch (const std::bad_alloc&)
        {
            std::cerr << "tessamune-render: out of memory\n";
        }

        return 1;
    }
}
