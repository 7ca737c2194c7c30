#pragma once

#include <cstdint>
#include <cstring>

// Branch-free single-precision log2 and exp2 for per-sample level work (dB detectors, gain
// computers). Written so that loops over arrays of them vectorise; both are exact to about
// 1e-7 relative, far below anything a level detector can hear (1e-6 dB).
namespace sv
{

// log2(x) for normal, positive x (callers floor their levels first, e.g. at 1e-9 or 1e-20).
inline float fastLog2(float x) noexcept
{
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    // Split into exponent and a mantissa in [sqrt(1/2), sqrt(2)), so the series below converges fast.
    const std::uint32_t shifted = bits - 0x3f3504f3u; // the bits of sqrt(1/2)
    const float exponent = static_cast<float>(static_cast<std::int32_t>(shifted) >> 23);
    const std::uint32_t mantissaBits = (shifted & 0x007fffffu) + 0x3f3504f3u;
    float m;
    std::memcpy(&m, &mantissaBits, sizeof m);
    // log2(m) = 2 / ln 2 * atanh(s), s = (m - 1) / (m + 1), |s| < 0.172.
    const float s = (m - 1.0f) / (m + 1.0f);
    const float s2 = s * s;
    const float series = s * (2.885390082f + s2 * (0.961796694f + s2 * (0.577078016f + s2 * 0.412198583f)));
    return exponent + series;
}

// 2^x for x within -126..126 (every caller's gain exponent is). No clamp inside: a clamp to a
// constant lets the compiler branch around the series, which stops loops from vectorising.
inline float fastExp2(float x) noexcept
{
    // Adding 1.5 * 2^23 rounds x to an integer held in the low mantissa bits of the sum; this
    // avoids a float-to-int conversion, which keeps the loop free of anything that might trap.
    constexpr float roundingShift = 12582912.0f;
    const float shifted = x + roundingShift;
    std::uint32_t shiftedBits;
    std::memcpy(&shiftedBits, &shifted, sizeof shiftedBits);
    const float f = x - (shifted - roundingShift); // -0.5 .. 0.5
    // 2^f as a Taylor series of e^(f ln 2), degree 6 (error < 1.2e-7 on |f| <= 0.5).
    const float t = f * 0.6931471806f;
    const float p =
        1.0f + t * (1.0f + t * (0.5f + t * (1.0f / 6.0f +
                                            t * (1.0f / 24.0f + t * (1.0f / 120.0f + t * (1.0f / 720.0f))))));
    // The integer part sits in the low bits of shiftedBits, offset by 0x4b400000.
    const std::uint32_t scaleBits = (shiftedBits - 0x4b400000u + 127u) << 23;
    float scale;
    std::memcpy(&scale, &scaleBits, sizeof scale);
    return p * scale;
}

// fastLog2(max(x, floor)) for a positive normal floor and any x that is not a NaN (negative x,
// zeros and denormals give the floor's logarithm). Non-negative floats order like their bit
// patterns and negative ones come out below, so the floor is an integer maximum: no compare and
// branch, which keeps loops that mix it with other work vectorised.
inline float fastLog2AtLeast(float x, float floor) noexcept
{
    std::int32_t bits, floorBits;
    std::memcpy(&bits, &x, sizeof bits);
    std::memcpy(&floorBits, &floor, sizeof floorBits);
    bits = bits > floorBits ? bits : floorBits;
    float floored;
    std::memcpy(&floored, &bits, sizeof floored);
    return fastLog2(floored);
}

// 20 log10(x) for linear magnitudes and 10 log10(x) for powers.
inline float fastAmplitudeToDb(float x) noexcept
{
    return 6.020599913f * fastLog2(x);
}
inline float fastPowerToDb(float x) noexcept
{
    return 3.010299957f * fastLog2(x);
}
// 10 log10(max(x, floor)), as fastLog2AtLeast.
inline float fastPowerToDbAtLeast(float x, float floor) noexcept
{
    return 3.010299957f * fastLog2AtLeast(x, floor);
}

// 10^(dB / 20) and 10^(dB / 10).
inline float fastDbToAmplitude(float db) noexcept
{
    return fastExp2(0.1660964047f * db);
}
inline float fastDbToPower(float db) noexcept
{
    return fastExp2(0.3321928095f * db);
}

} // namespace sv
