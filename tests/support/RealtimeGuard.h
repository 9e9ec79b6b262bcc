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

/**
    While alive, every allocation of at least a given size made by the current
    thread fails with std::bad_alloc, as it would on a host whose memory is
    exhausted.
*/
class LargeAllocationFailure
{
public:
    explicit LargeAllocationFailure (std::size_t minimumBytes);
    ~LargeAllocationFailure();

    LargeAllocationFailure (const LargeAllocationFailure&) = delete;
    LargeAllocationFailure& operator= (const LargeAllocationFailure&) = delete;
};
