#pragma once

#include <cmath>

namespace sv
{

// Single-precision second-order section, transposed direct form II, coefficients normalised by
// a0. The loudness meter's K-weighting, Mirrel's detector and the de-esser's analysis run on it.
// Owned and run by one audio thread.
struct Biquad
{
    float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    float s1 = 0, s2 = 0;

    float process(float x) noexcept
    {
        const float y = b0 * x + s1;
        s1 = b1 * x - a1 * y + s2;
        s2 = b2 * x - a2 * y;
        return y;
    }

    void clear() noexcept { s1 = s2 = 0; }

    void setCoefficients(double nb0, double nb1, double nb2, double na0, double na1, double na2) noexcept
    {
        b0 = static_cast<float>(nb0 / na0);
        b1 = static_cast<float>(nb1 / na0);
        b2 = static_cast<float>(nb2 / na0);
        a1 = static_cast<float>(na1 / na0);
        a2 = static_cast<float>(na2 / na0);
    }
};

// Cookbook (RBJ) high- and low-pass sections, alpha = sin(w) / (2 Q).
inline void setHighPass(Biquad& f, double sampleRate, double hz, double q) noexcept
{
    const double w = 2.0 * 3.14159265358979323846 * hz / sampleRate;
    const double alpha = std::sin(w) / (2.0 * q), c = std::cos(w);
    f.setCoefficients((1.0 + c) / 2.0, -(1.0 + c), (1.0 + c) / 2.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha);
}

inline void setLowPass(Biquad& f, double sampleRate, double hz, double q) noexcept
{
    const double w = 2.0 * 3.14159265358979323846 * hz / sampleRate;
    const double alpha = std::sin(w) / (2.0 * q), c = std::cos(w);
    f.setCoefficients((1.0 - c) / 2.0, 1.0 - c, (1.0 - c) / 2.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha);
}

} // namespace sv
