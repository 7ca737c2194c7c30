#pragma once

namespace eng::vocal
{

// Soft saturator: a Pade approximant of tanh, within 1e-4 of it for |c| <= 4.97 (the
// range every caller clamps to). Used by the compressor, the delay's feedback path and the
// shimmer's sparkle.
inline float tanh7(float c) noexcept
{
    const float c2 = c * c;
    return c * (135135.0f + c2 * (17325.0f + c2 * (378.0f + c2))) /
           (135135.0f + c2 * (62370.0f + c2 * (3150.0f + 28.0f * c2)));
}

} // namespace eng::vocal
