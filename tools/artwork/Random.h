// A small xorshift generator so every flake and brush stroke lands in the same
// place on every run and every machine.
#pragma once

#include <cstdint>

namespace tessamune::artwork
{
class XorShift32
{
public:
    explicit XorShift32 (std::uint32_t start) noexcept : state (start != 0 ? start : 0x9e3779b9u) {}

    std::uint32_t next() noexcept
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }

    // Uniform in [0, 1).
    float unit() noexcept { return (float) (next() >> 8) * (1.0f / 16777216.0f); }

    // Uniform in [low, high).
    float between (float low, float high) noexcept { return low + (high - low) * unit(); }

private:
    std::uint32_t state;
};

} // namespace tessamune::artwork
