/*
    Loaded into the renderer with LD_PRELOAD by its tests, to stand for a
    file system that cannot swap two names in one step (some network and
    older file systems): renameat2 refuses RENAME_EXCHANGE with EINVAL, as
    the kernel does there, and does everything else as usual.
*/

#include <cerrno>
#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>

extern "C" int renameat2 (int oldFolder, const char* oldPath, int newFolder, const char* newPath, unsigned int flags)
{
    if ((flags & RENAME_EXCHANGE) != 0)
    {
        errno = EINVAL;
        return -1;
    }

    using Function = int (*) (int, const char*, int, const char*, unsigned int);
    static const auto next = reinterpret_cast<Function> (::dlsym (RTLD_NEXT, "renameat2"));

    if (next == nullptr)
    {
        errno = ENOSYS;
        return -1;
    }

    return next (oldFolder, oldPath, newFolder, newPath, flags);
}
