#pragma once

// The de-esser's algorithm, one sample at a time, as named steps: DeEsser.cpp says in which
// order they run and does the control-rate work; the kernel (DeEsserKernel.cpp) runs them over
// chunks of up to a control interval, its filters and followers as vector lanes. Single
// precision throughout, as the module runs.
#include <algorithm>

namespace eng::vocal::deess
{

constexpr float dbPerUnit = 1.2f; // maximum reduction per unit of amount
// The upper band is lowered by this much more than the reduction itself:
// G = 10^(-1.3 r / 20) = 2^(r * octavesPerReductionDb).
constexpr float upperBandFactor = 1.3f;
constexpr float octavesPerReductionDb = -upperBandFactor / 20.0f * 3.32192809489f;
constexpr float gateFloorDb = -66.0f;
constexpr float gateWidthDb = 12.0f;
constexpr float levelFloor = 1e-20f; // powers are floored here before their logarithm
// Analysis gate: analysis band within 5 dB of the full band and above -60 dB (the level gate
// plus 6 dB). Compared as powers, so no logarithm is needed per sample.
constexpr float analysisRatio = 0.31622777f; // 10^(-5/10)
constexpr float analysisFloor = 1e-6f;       // 10^(-60/10)
constexpr float essAbove = 0.5f;             // a detection above this is an ess sounding

inline float clampFloat(float x, float lo, float hi) noexcept
{
    return std::min(std::max(x, lo), hi);
}

// A power or level follower's step: the attack coefficient while the input is above the
// follower, the release otherwise.
inline float follow(float follower, float input, float attack, float release) noexcept
{
    return input + (input > follower ? attack : release) * (follower - input);
}

// The level gate: 0 at -66 dB of upper band and below, 1 from -54 dB.
inline float gate(float upperDb) noexcept
{
    return clampFloat((upperDb - gateFloorDb) * (1.0f / gateWidthDb), 0.0f, 1.0f);
}

// The knee: how far the upper band stands out above the full band, 0 below T - W/2, 1 from
// T + W/2 (kneeInvWidth = 1 / max(W, 0.5)).
inline float knee(float upperDb, float fullDb, float kneeLowDb, float kneeInvWidth) noexcept
{
    return clampFloat((upperDb - fullDb - kneeLowDb) * kneeInvWidth, 0.0f, 1.0f);
}

// The detection: the smoothstep of the gate times the smoothstep of the knee.
inline float detection(float g, float k) noexcept
{
    return g * g * (3.0f - 2.0f * g) * k * k * (3.0f - 2.0f * k);
}

// The delayed sample x with its upper band (high) lowered by the gain: x + ramp (low + G high -
// x), and what that takes out, for listening: (1 - G) ramp high.
inline float deEssed(float x, float low, float high, float gain, float ramp) noexcept
{
    return x + ramp * (low + gain * high - x);
}

inline float takenOut(float high, float gain, float ramp) noexcept
{
    return (1.0f - gain) * ramp * high;
}

} // namespace eng::vocal::deess
