#pragma once

#include <cstdint>
#include <cstring>

namespace sv
{

// Reads NaN and infinities as silence, in place. A broken plug-in earlier in a host's chain can
// hand those over; once inside, one of them would stay in a filter or a feedback path for good.
// Both plug-ins run their input through this before anything else sees it. Audio thread; written
// so that the loop vectorises.
inline void silenceNonFinite(float* samples, int numSamples) noexcept
{
    for (int i = 0; i < numSamples; ++i)
    {
        std::uint32_t bits;
        std::memcpy(&bits, samples + i, sizeof bits);
        // Every exponent bit set: an infinity or a NaN.
        samples[i] = (bits & 0x7f800000u) == 0x7f800000u ? 0.0f : samples[i];
    }
}

} // namespace sv
