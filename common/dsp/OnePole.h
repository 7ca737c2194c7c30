#pragma once

#include <cmath>

namespace sv
{

// Coefficient of a one-pole follower with time constant `seconds`: y = x + a (y - x).
inline double onePoleCoefficient(double seconds, double sampleRate) noexcept
{
    const double samples = seconds * sampleRate;
    return samples > 0.0 ? std::exp(-1.0 / samples) : 0.0;
}

// One-pole smoother / envelope follower, the one every module uses.
template <typename T> struct OnePole
{
    T coeff = 0;
    T state = 0;

    void setTime(double seconds, double sampleRate) noexcept
    {
        coeff = static_cast<T>(onePoleCoefficient(seconds, sampleRate));
    }
    T process(T x) noexcept { return state = x + coeff * (state - x); }
};

} // namespace sv
