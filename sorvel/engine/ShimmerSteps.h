#pragma once

// The shimmer's algorithm, one doubled-rate sample at a time, as named steps: Shimmer.cpp says in
// which order a core runs them and does the control-rate work (the shelf's design and glide, the
// sparkle's level); the kernel (ShimmerKernel.cpp) runs them over chunks of up to a control
// interval, two recursions to a vector register where it can.
#include "sorvel/engine/primitives/Tanh7.h"
#include "common/dsp/FastMath.h"
#include "common/dsp/Lanes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace eng::vocal::shimmer
{

constexpr double butterworthQ = 0.70710678118654752;
constexpr double crossfadeSeconds = 0.020;
constexpr double displayHz = 12000.0;
constexpr double essLowHz = 5000.0;
constexpr double essHighHz = 10000.0;
constexpr double harshQ = 2.0;

constexpr float easingDepth = 0.8f;
// Ess ratio window: no easing at -15 dB, full easing from -6 dB (10^-1.5 and 10^-0.6 as powers).
constexpr float essWindowLowDb = -15.0f;
constexpr float essWindowWidthDb = 9.0f;
constexpr float essRatioNone = 0.031622777f;
constexpr float essRatioFull = 0.25118864f;
constexpr float harshnessScale = 1.2f;
constexpr float powerFloor = 1e-20f;
// A reduction below this is no reduction: the taming stage stops and its bells rest.
constexpr float reductionRestDb = 1e-6f;

// Power follower: in + (in > state ? attack : release) x (state - in). The attack coefficient
// is never above the release one (a shorter time), so the step taken is always the larger of the
// two candidates: above the follower (state - in < 0) the attack one, otherwise the release one,
// exactly, as rounding keeps that order. A maximum instead of a compare keeps the loops free of
// branches that the signal would keep mispredicting.
inline float follow(float state, float in, float attack, float release) noexcept
{
    const float difference = state - in;
    return std::max(in + attack * difference, in + release * difference);
}

// Two power followers with the same times side by side: each step the same value as follow(),
// both candidates computed and the right one selected in one vector register, which leaves the
// recursion shorter than a maximum does and has no branch. Audio thread (ShimmerCore's).
struct FollowerPair
{
#if defined(__GNUC__)
    using Levels = sv::Float2;

    Levels state, attack, release;

    FollowerPair(float first, float second, float attackCoefficient, float releaseCoefficient) noexcept
        : state{first, second}, attack{attackCoefficient, attackCoefficient}, release{releaseCoefficient,
                                                                                      releaseCoefficient}
    {
    }

    void step(float first, float second) noexcept
    {
        const Levels in{first, second};
        const Levels difference = state - in;
        const Levels attacked = in + attack * difference, released = in + release * difference;
        state = in > state ? attacked : released;
    }

    float first() const noexcept
    {
        return state[0];
    }
    float second() const noexcept
    {
        return state[1];
    }
    // Both values, to to[0] and to[1].
    void store(float* to) const noexcept
    {
        std::memcpy(to, &state, 2 * sizeof(float));
    }
#else
    float a, b, attack, release;

    FollowerPair(float first, float second, float attackCoefficient, float releaseCoefficient) noexcept
        : a(first), b(second), attack(attackCoefficient), release(releaseCoefficient)
    {
    }

    void step(float first, float second) noexcept
    {
        a = follow(a, first, attack, release);
        b = follow(b, second, attack, release);
    }

    float first() const noexcept
    {
        return a;
    }
    float second() const noexcept
    {
        return b;
    }
    void store(float* to) const noexcept
    {
        to[0] = a;
        to[1] = b;
    }
#endif
};

// Smoothstep of x clamped to 0..1. The clamp is written with fabs so that loops using it
// vectorise (to the vectoriser a compare-and-select of floats is control flow).
inline float smoothstep(float x) noexcept
{
    const float low = 0.5f * (x + std::fabs(x));
    const float fromTop = 1.0f - low;
    const float v = 1.0f - 0.5f * (fromTop + std::fabs(fromTop));
    return v * v * (3.0f - 2.0f * v);
}

// 10 log10 of a power, floored at 1e-20 first.
inline float powerDb(float power) noexcept
{
    return sv::fastPowerToDb(std::max(power, powerFloor));
}

// The harshness taming's target reduction (dB): the depth times the peakiness (the centre band
// standing out above its neighbours, through the character's window) times the level gate (the
// band no more than 40 dB below the full signal, fully from 30 dB below).
inline float tamingTarget(float depth, float centreDb, float lowDb, float highDb, float fullDb,
                          float windowLowDb, float windowWidthDb) noexcept
{
    const float s1 = smoothstep((centreDb - 0.5f * (lowDb + highDb) - windowLowDb) / windowWidthDb);
    const float s2 = smoothstep((centreDb - fullDb + 40.0f) * 0.1f);
    return depth * s1 * s2;
}

// The sparkle's harmonics of one normalised band sample: clamped to +-4.97 (written with fabs,
// which vectorises), 4 tanh7, then the smooth rectifier sqrt(y^2 + 1/4) - 1/2, about |y| when
// large and y^2 near 0, so it makes even harmonics, mostly the octave above.
inline float sparkleHarmonic(float normalised) noexcept
{
    const float c = 0.5f * (std::fabs(normalised + 4.97f) - std::fabs(normalised - 4.97f));
    const float y = 4.0f * tanh7(c);
    return std::sqrt(y * y + 0.25f) - 0.5f;
}

} // namespace eng::vocal::shimmer
