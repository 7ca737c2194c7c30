#pragma once

#include <cmath>

namespace sv
{

// Coefficient a of a one-pole follower y = x + a (y - x) that covers `timeConstants` time
// constants in `samples` (1: it gets to 1/e of the way left; 2.3026: to a tenth); 0 for no
// samples. The one spelling of exp(-1 / (time x rate)) for every follower, smoother and glide.
inline double onePoleCoefficientForSamples(double samples, double timeConstants = 1.0) noexcept
{
    return samples > 0.0 ? std::exp(-timeConstants / samples) : 0.0;
}

// The same for a time in seconds at a rate (samples = seconds x rate).
inline double onePoleCoefficient(double seconds, double sampleRate, double timeConstants = 1.0) noexcept
{
    return onePoleCoefficientForSamples(seconds * sampleRate, timeConstants);
}

} // namespace sv
