#pragma once

#include <cstddef>

/**
    Counts heap allocations and lock acquisitions made by the current thread
    while a guard is alive. The test executable replaces the global operator
    new and interposes the pthread locking calls to do so.
*/
class RealtimeGuard
{
public:
    RealtimeGuard();
    ~RealtimeGuard();

    std::size_t allocations() const;
    std::size_t locks() const;

    RealtimeGuard (const RealtimeGuard&) = delete;
    RealtimeGuard& operator= (const RealtimeGuard&) = delete;
};
