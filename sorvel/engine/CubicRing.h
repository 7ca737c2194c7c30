#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace eng::vocal
{

// A power-of-two ring of floats read at fractional delays with four-point cubic (Catmull-Rom)
// interpolation. Three guard samples mirror the start of the ring behind its end, so the four
// points of any read are contiguous and fixed-delay reads run as a plain four-tap loop.
// prepare() allocates (message thread); everything else is for the audio thread.
class CubicRing
{
public:
    // Where a read lands: the first of its four points and their weights.
    struct Tap
    {
        std::uint32_t start;
        float w0, w1, w2, w3;
    };

    void prepare(std::uint32_t minimumLength)
    {
        size = 4;
        while (size < minimumLength)
            size <<= 1;
        mask = size - 1u;
        buffer.assign(size + guard, 0.0f);
    }

    void clear() noexcept { std::fill(buffer.begin(), buffer.end(), 0.0f); }

    std::uint32_t length() const noexcept { return size; }

    // Writes n samples at positions pos, pos + 1, ... (wrapping).
    void write(std::uint32_t pos, const float* source, int n) noexcept
    {
        auto remaining = static_cast<std::uint32_t>(n);
        pos &= mask;
        while (remaining > 0)
        {
            const std::uint32_t run = std::min(remaining, size - pos);
            std::memcpy(buffer.data() + pos, source, sizeof(float) * run);
            source += run;
            remaining -= run;
            pos = (pos + run) & mask;
        }
        std::memcpy(buffer.data() + size, buffer.data(), sizeof(float) * guard);
    }

    // The read `delaySamples` behind position `now` (delay 0 is the sample at `now` itself).
    // A whole delay gives weights (0, 0, 1, 0): that sample exactly.
    Tap tap(std::uint32_t now, double delaySamples) const noexcept
    {
        const auto whole = static_cast<std::uint32_t>(delaySamples);
        return weights((now - whole - 2u) & mask, fraction(delaySamples, whole));
    }

    float read(const Tap& t) const noexcept
    {
        const float* x = buffer.data() + t.start;
        return t.w0 * x[0] + t.w1 * x[1] + t.w2 * x[2] + t.w3 * x[3];
    }

    float read(std::uint32_t now, double delaySamples) const noexcept { return read(tap(now, delaySamples)); }

    // out[i] = the read `delaySamples` behind now + i, for i < n.
    void readFixed(std::uint32_t now, double delaySamples, float* out, int n) const noexcept
    {
        const Tap t = tap(now, delaySamples);
        std::uint32_t start = t.start;
        int done = 0;
        while (done < n)
        {
            const int run = static_cast<int>(std::min(static_cast<std::uint32_t>(n - done), size - start));
            const float* x = buffer.data() + start;
            float* o = out + done;
            for (int i = 0; i < run; ++i)
                o[i] = t.w0 * x[i] + t.w1 * x[i + 1] + t.w2 * x[i + 2] + t.w3 * x[i + 3];
            done += run;
            start = (start + static_cast<std::uint32_t>(run)) & mask;
        }
    }

    // out[i] = the read delay[i] behind now + i, for i < n: the same values as read(), but
    // stretches with one whole delay read contiguous memory, so a slow glide vectorises.
    void readPath(std::uint32_t now, const double* delay, float* out, int n) const noexcept
    {
        int i = 0;
        while (i < n)
        {
            const auto whole = static_cast<std::uint32_t>(delay[i]);
            const std::uint32_t start = (now + static_cast<std::uint32_t>(i) - whole - 2u) & mask;
            const int limit = i + static_cast<int>(std::min(static_cast<std::uint32_t>(n - i), size - start));
            int end = i + 1;
            while (end < limit && static_cast<std::uint32_t>(delay[end]) == whole)
                ++end;
            const float* x = buffer.data() + start;
            const double* d = delay + i;
            float* o = out + i;
            const int count = end - i;
            for (int k = 0; k < count; ++k)
            {
                const Tap t = weights(0u, fraction(d[k], whole));
                o[k] = t.w0 * x[k] + t.w1 * x[k + 1] + t.w2 * x[k + 2] + t.w3 * x[k + 3];
            }
            i = end;
        }
    }

private:
    // Position of the read between its second and third point, 0 < f <= 1.
    static float fraction(double delaySamples, std::uint32_t whole) noexcept
    {
        return static_cast<float>(1.0 - (delaySamples - static_cast<double>(whole)));
    }

    static Tap weights(std::uint32_t start, float f) noexcept
    {
        const float f2 = f * f;
        const float f3 = f2 * f;
        return {start, 0.5f * (2.0f * f2 - f3 - f), 0.5f * (3.0f * f3 - 5.0f * f2 + 2.0f),
                0.5f * (4.0f * f2 - 3.0f * f3 + f), 0.5f * (f3 - f2)};
    }

    static constexpr std::uint32_t guard = 3;
    std::vector<float> buffer;
    std::uint32_t size = 4;
    std::uint32_t mask = 3;
};

} // namespace eng::vocal
