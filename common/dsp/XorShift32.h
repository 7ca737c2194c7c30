#pragma once

#include <cstdint>

namespace sv
{

// 32-bit xorshift (13, 17, 5). Mirrel's placements, the reverb's line modulation and the width
// module's drift all draw from this one generator, each with its own seed.
class XorShift32
{
public:
    constexpr explicit XorShift32(std::uint32_t seed = 0x9E3779B9u) noexcept : state(seed) {}

    constexpr std::uint32_t next() noexcept
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }

    // A state as a uniform number in [0, 1): its top 24 bits.
    static constexpr float toUniform(std::uint32_t s) noexcept
    {
        return static_cast<float>(s >> 8) * (1.0f / 16777216.0f);
    }

    // Uniform in [0, 1) from a fresh step.
    constexpr float uniform() noexcept { return toUniform(next()); }

    std::uint32_t state;
};

} // namespace sv
