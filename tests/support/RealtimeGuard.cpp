#include "support/RealtimeGuard.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sys/mman.h>

#include <cerrno>

#include <cstdlib>
#include <new>

// glibc's own allocators, called directly: the ones below replace the
// public names, and looking those up with dlsym would allocate.
extern "C" void* __libc_malloc (std::size_t);
extern "C" void* __libc_calloc (std::size_t, std::size_t);
extern "C" void* __libc_realloc (void*, std::size_t);

namespace
{
    thread_local bool watching = false;
    thread_local std::size_t allocationCount = 0;
    thread_local std::size_t lockCount = 0;
    thread_local std::size_t failingSize = 0;   // 0: no allocation fails

    void* allocate (std::size_t size)
    {
        if (watching)
            ++allocationCount;

        if (failingSize != 0 && size >= failingSize)
            throw std::bad_alloc();

        if (void* p = __libc_malloc (size == 0 ? 1 : size))
            return p;

        throw std::bad_alloc();
    }

    template <typename Fn>
    Fn next (const char* name)
    {
        return reinterpret_cast<Fn> (dlsym (RTLD_NEXT, name));
    }
}

RealtimeGuard::RealtimeGuard()
{
    // Resolve the real functions now, so that doing it cannot count.
    static bool resolved = []
    {
        pthread_mutex_t mutex;
        pthread_mutex_init (&mutex, nullptr);
        pthread_mutex_lock (&mutex);
        pthread_mutex_unlock (&mutex);
        if (pthread_mutex_trylock (&mutex) == 0)
            pthread_mutex_unlock (&mutex);
        pthread_mutex_destroy (&mutex);

        pthread_rwlock_t rw;
        pthread_rwlock_init (&rw, nullptr);
        pthread_rwlock_rdlock (&rw);
        pthread_rwlock_unlock (&rw);
        pthread_rwlock_wrlock (&rw);
        pthread_rwlock_unlock (&rw);
        pthread_rwlock_destroy (&rw);
        return true;
    }();
    (void) resolved;

    allocationCount = 0;
    lockCount = 0;
    watching = true;
}

RealtimeGuard::~RealtimeGuard()                   { watching = false; }

LargeAllocationFailure::LargeAllocationFailure (std::size_t minimumBytes)   { failingSize = minimumBytes; }
LargeAllocationFailure::~LargeAllocationFailure()                          { failingSize = 0; }
std::size_t RealtimeGuard::allocations() const    { return allocationCount; }
std::size_t RealtimeGuard::locks() const          { return lockCount; }

void* operator new (std::size_t size)                                 { return allocate (size); }
void* operator new[] (std::size_t size)                               { return allocate (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept
{
    try { return allocate (size); } catch (...) { return nullptr; }
}
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept
{
    try { return allocate (size); } catch (...) { return nullptr; }
}
void operator delete (void* p) noexcept                               { std::free (p); }
void operator delete[] (void* p) noexcept                             { std::free (p); }
void operator delete (void* p, std::size_t) noexcept                  { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept                { std::free (p); }

// What C code allocates (the lock-free queue's blocks among it), storage
// that must start at zero (calloc) and, for a delay line, memory straight
// from mmap: counted, and failed, as operator new is.
extern "C" void* malloc (std::size_t size)
{
    if (watching)
        ++allocationCount;

    if (failingSize != 0 && size >= failingSize)
        return nullptr;

    return __libc_malloc (size);
}

extern "C" void* realloc (void* p, std::size_t size)
{
    if (watching)
        ++allocationCount;

    if (failingSize != 0 && size >= failingSize)
        return nullptr;

    return __libc_realloc (p, size);
}

extern "C" void* calloc (std::size_t count, std::size_t size)
{
    if (watching)
        ++allocationCount;

    if (failingSize != 0 && size != 0 && count >= failingSize / size)
        return nullptr;

    return __libc_calloc (count, size);
}

extern "C" void* mmap (void* address, std::size_t length, int protection, int flags, int fd, off_t offset)
{
    static const auto real = next<void* (*) (void*, std::size_t, int, int, int, off_t)> ("mmap");

    if ((flags & MAP_ANONYMOUS) != 0)
    {
        if (watching)
            ++allocationCount;

        if (failingSize != 0 && length >= failingSize)
        {
            errno = ENOMEM;
            return MAP_FAILED;
        }
    }

    return real (address, length, protection, flags, fd, offset);
}

// Every blocking lock the framework or the standard library takes goes
// through these.
extern "C" int pthread_mutex_lock (pthread_mutex_t* m)
{
    static const auto real = next<int (*) (pthread_mutex_t*)> ("pthread_mutex_lock");
    if (watching)
        ++lockCount;
    return real (m);
}

extern "C" int pthread_mutex_trylock (pthread_mutex_t* m)
{
    static const auto real = next<int (*) (pthread_mutex_t*)> ("pthread_mutex_trylock");
    if (watching)
        ++lockCount;
    return real (m);
}

extern "C" int pthread_rwlock_rdlock (pthread_rwlock_t* l)
{
    static const auto real = next<int (*) (pthread_rwlock_t*)> ("pthread_rwlock_rdlock");
    if (watching)
        ++lockCount;
    return real (l);
}

extern "C" int pthread_rwlock_wrlock (pthread_rwlock_t* l)
{
    static const auto real = next<int (*) (pthread_rwlock_t*)> ("pthread_rwlock_wrlock");
    if (watching)
        ++lockCount;
    return real (l);
}
