// The renderer's output files on Windows: the same contract as the POSIX
// version in Render.cpp (every output written under a temporary name beside
// its target and moved into place only once all are complete, all or none),
// with Windows' own calls. Windows has no symbolic links in ordinary use,
// no owners to keep and no pipes among file names, so a target is simply
// the file its path names. Included inside Render.cpp's anonymous
// namespace, after fail() and quoted().

juce::String systemErrorText (DWORD error)
{
    wchar_t* text = nullptr;
    const auto length = ::FormatMessageW (FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                              | FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, error, 0, reinterpret_cast<wchar_t*> (&text), 0, nullptr);
    const auto result = length > 0 ? juce::String (text, (size_t) length).trim() : "error " + juce::String ((int) error);
    ::LocalFree (text);
    return result;
}

struct OutputTarget
{
    juce::String given;         // as on the command line
    const char* what = "";      // "output", "plot", "saved state"
    juce::File file;            // where it is written
    bool exists = false;

    juce::String shown (const juce::String& text) const { return quoted (text); }
    juce::String shown() const { return shown (given); }

    // File names compare without regard to case, as Windows compares them.
    bool isSameFileAs (const OutputTarget& other) const { return file == other.file; }

    bool isFile (const juce::String& otherPath) const
    {
        return exists && file == juce::File::getCurrentWorkingDirectory().getChildFile (otherPath);
    }
};

OutputTarget resolveOutput (const juce::String& given, const char* what)
{
    OutputTarget t;
    t.given = given;
    t.what = what;
    t.file = juce::File::getCurrentWorkingDirectory().getChildFile (given);

    const auto describe = juce::String ("the ") + what + " " + t.shown();
    const auto folder = t.file.getParentDirectory();

    if (given.isEmpty() || t.file.getFileName().isEmpty())
        fail (describe + " names a folder, not a file");

    if (! folder.isDirectory())
        fail ("cannot reach the folder for " + describe + ": " + quoted (folder.getFullPathName())
              + (folder.exists() ? " is not a folder" : " does not exist"));

    t.exists = t.file.exists();
    return t;
}

void checkCanReplace (const OutputTarget& t)
{
    const auto describe = juce::String ("the ") + t.what + " " + t.shown();

    if (! t.exists)
        return;

    if (t.file.isDirectory())
        fail (describe + " is a folder");

    const auto attributes = ::GetFileAttributesW (t.file.getFullPathName().toWideCharPointer());

    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        fail (describe + " is not writable");

    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DEVICE) != 0)
        fail (describe + " is a device, not a file; name a file to write to");
}

class PendingFile
{
public:
    explicit PendingFile (const OutputTarget& t)
        : what (t.what),
          target (t.file),
          given (t.file.getFullPathName()),
          shown (t.shown (given)),
          printed (given)
    {
        temporary = createUniqueSibling ("part", handle);
        ownsTemporary = true;
    }

    ~PendingFile()
    {
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle (handle);

        if (ownsTemporary)
            ::DeleteFileW (temporary.getFullPathName().toWideCharPointer());

        if (backup != juce::File())
            ::DeleteFileW (backup.getFullPathName().toWideCharPointer());
    }

    const juce::String what;
    const juce::File target;
    const juce::String given;
    const juce::String shown;
    const juce::String printed;

    std::unique_ptr<juce::OutputStream> createStream() { return std::make_unique<Stream> (*this); }

    void write (const void* data, size_t size)
    {
        append (data, size);
        finish();
    }

    void finish()
    {
        if (handle != INVALID_HANDLE_VALUE)
        {
            flushBuffer();

            if (error == 0 && ! ::FlushFileBuffers (handle))
                error = ::GetLastError();

            if (! ::CloseHandle (handle) && error == 0)
                error = ::GetLastError();

            handle = INVALID_HANDLE_VALUE;
        }

        if (error != 0)
            fail ("cannot write the " + what + " " + shown + ": " + systemErrorText (error));
    }

    /*
        An existing target is first moved aside to a name of its own, then
        the finished file moved to the target's name; a new target is
        created without replacing anything. If any step fails, the steps
        taken are undone in reverse and no target has changed.
    */
    static void commit (const std::vector<PendingFile*>& files)
    {
        PendingFile* failed = nullptr;
        DWORD failure = 0;

        for (auto* f : files)
        {
            const auto to = f->target.getFullPathName();

            if (f->target.exists())
            {
                HANDLE unused = INVALID_HANDLE_VALUE;
                f->backup = f->createUniqueSibling ("old", unused);
                ::CloseHandle (unused);

                if (! ::MoveFileExW (to.toWideCharPointer(), f->backup.getFullPathName().toWideCharPointer(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                {
                    failure = ::GetLastError();
                    ::DeleteFileW (f->backup.getFullPathName().toWideCharPointer());
                    f->backup = juce::File();
                    failed = f;
                    break;
                }

                f->movedAside = true;
            }

            if (! ::MoveFileExW (f->temporary.getFullPathName().toWideCharPointer(), to.toWideCharPointer(),
                                 MOVEFILE_WRITE_THROUGH))
            {
                failure = ::GetLastError();
                failed = f;
                break;
            }

            f->moved = true;
            f->ownsTemporary = false;
        }

        if (failed == nullptr)
            return;

        juce::StringArray consequences;

        for (auto it = files.rbegin(); it != files.rend(); ++it)
        {
            auto* f = *it;
            const auto to = f->target.getFullPathName().toWideCharPointer();

            if (f->moved && ! ::DeleteFileW (to))
                consequences.add ("a new " + f->what + " was left at " + f->shown);
            else if (f->movedAside
                     && ! ::MoveFileExW (f->backup.getFullPathName().toWideCharPointer(), to, MOVEFILE_WRITE_THROUGH))
            {
                consequences.add ("the old " + f->what + " " + f->shown + " is kept as "
                                  + quoted (f->backup.getFullPathName()));
                f->backup = juce::File();
            }
            else if (f->movedAside)
                f->backup = juce::File();
        }

        fail ("cannot move the finished " + failed->what + " to " + failed->shown + ": "
              + systemErrorText (failure) + "; "
              + (consequences.isEmpty() ? juce::String ("no file was changed")
                                        : consequences.joinIntoString ("; ") + "; every other file is as it was"));
    }

private:
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

    /** A new, empty file beside the target, ".NAME.KIND-" and 16 random
        hexadecimal digits; a name that is taken is never opened. */
    juce::File createUniqueSibling (const char* kind, HANDLE& opened) const
    {
        auto& random = juce::Random::getSystemRandom();

        for (int attempt = 0;; ++attempt)
        {
            const auto tag = juce::String::toHexString (random.nextInt64() ^ ((juce::int64) ::GetCurrentProcessId() << 20));
            const auto name = target.getSiblingFile ("." + target.getFileName() + "." + kind + "-" + tag.paddedLeft ('0', 16));
            opened = ::CreateFileW (name.getFullPathName().toWideCharPointer(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);

            if (opened != INVALID_HANDLE_VALUE)
                return name;

            if (const auto openError = ::GetLastError(); openError != ERROR_FILE_EXISTS || attempt == 100)
                fail ("cannot write the " + what + " into " + quoted (target.getParentDirectory().getFullPathName())
                      + ": " + systemErrorText (openError));
        }
    }

    bool append (const void* data, size_t size)
    {
        if (error != 0 || handle == INVALID_HANDLE_VALUE)
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

        LARGE_INTEGER to;
        to.QuadPart = position;

        if (! ::SetFilePointerEx (handle, to, nullptr, FILE_BEGIN))
        {
            error = ::GetLastError();
            return false;
        }

        written = position;
        return true;
    }

    bool writeOut (const char* data, size_t size)
    {
        while (size > 0 && error == 0)
        {
            DWORD n = 0;
            const auto chunk = (DWORD) std::min (size, (size_t) (1 << 30));

            if (! ::WriteFile (handle, data, chunk, &n, nullptr))
                error = ::GetLastError();
            else if (n == 0)
                error = ERROR_DISK_FULL;
            else
            {
                data += n;
                size -= n;
                written += n;
            }
        }

        return error == 0;
    }

    juce::File temporary, backup;
    bool ownsTemporary = false, moved = false, movedAside = false;
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    juce::int64 written = 0;
    std::vector<char> buffer = std::vector<char> (1 << 16);
    size_t buffered = 0;
};
