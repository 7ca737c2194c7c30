#pragma once

#include "common/dsp/Lanes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace sv
{

// A power-of-two ring of floats with its write position, read back at fractional delays with
// linear interpolation (the reverb's pre-delay) or four-point cubic (Catmull-Rom) interpolation
// (the delay's lines, the width's doubles). Three guard samples mirror the start of the ring
// behind its end, so the four points of any read are contiguous and reads over a chunk are plain
// loops. Sized in prepare (allocates); audio thread only after that.
class DelayLine
{
public:
    // Where a cubic read lands: the first of its four points and their weights.
    struct Tap
    {
        std::uint32_t start;
        float w0, w1, w2, w3;
    };

    // Smallest power of two of at least minimumLength samples (at least 4), cleared.
    void prepare(int minimumLength)
    {
        size = 4;
        while (static_cast<int>(size) < minimumLength)
            size <<= 1;
        mask = size - 1u;
        buffer.assign(size + guard, 0.0f);
        writePos = 0;
        written = false;
    }

    // Zeros (unless nothing went in since it last was), and the write position back at the start.
    void clear() noexcept
    {
        if (written)
            std::fill(buffer.begin(), buffer.end(), 0.0f);
        writePos = 0;
        written = false;
    }

    int getLength() const noexcept { return static_cast<int>(size); }

    // The slot the next sample goes to. Positions handed to the cubic reads may run past the
    // length; they are taken modulo it.
    std::uint32_t getWritePosition() const noexcept { return writePos; }

    void push(float x) noexcept
    {
        written = true;
        buffer[writePos] = x;
        if (writePos < guard)
            buffer[size + writePos] = x;
        writePos = (writePos + 1u) & mask;
    }

    // n samples at once, the same as n pushes.
    void write(const float* x, int n) noexcept
    {
        written = true;
        auto remaining = static_cast<std::uint32_t>(std::max(n, 0));
        while (remaining > 0)
        {
            const std::uint32_t run = std::min(remaining, size - writePos);
            std::memcpy(buffer.data() + writePos, x, sizeof(float) * run);
            x += run;
            remaining -= run;
            writePos = (writePos + run) & mask;
        }
        std::memcpy(buffer.data() + size, buffer.data(), sizeof(float) * guard);
    }

    // Linear: x[n - delay], x[n] being the newest sample, with the delay clamped to
    // 1..length - 2. `olderBy` reads as if the newest `olderBy` samples had not been written yet, so
    // that a reader can run over a piece after the whole piece went in; the caller keeps
    // delay + olderBy inside the line.
    float readLinear(float delaySamples, int olderBy = 0) const noexcept
    {
        const float d = clampDelay(delaySamples);
        const int whole = static_cast<int>(d);
        const float frac = d - static_cast<float>(whole);
        const std::uint32_t newer = newest(olderBy + whole);
        const float a = buffer[newer];
        const float b = buffer[(newer - 1u) & mask];
        return a + frac * (b - a);
    }

    // out[t] += gain x readLinear(delaySamples, olderAtStart - t) for t = 0..n - 1: one fixed
    // delay over a chunk of samples, with the same arithmetic as readLinear.
    void addRun(float delaySamples, int olderAtStart, float gain, float* out, int n) const noexcept
    {
        const float d = clampDelay(delaySamples);
        const int whole = static_cast<int>(d);
        const float frac = d - static_cast<float>(whole);
        // The older of the two points of the chunk's first read; the newer one follows it (in the
        // guard when the older is the ring's last slot).
        std::uint32_t older = (newest(olderAtStart + whole) - 1u) & mask;
        const float* const x = buffer.data();
        int t = 0;
        while (t < n)
        {
            const int len = static_cast<int>(std::min(static_cast<std::uint32_t>(n - t), size - older));
            const float* const pb = x + older;
            float* const o = out + t;
            for (int i = 0; i < len; ++i)
                o[i] += gain * (pb[i + 1] + frac * (pb[i] - pb[i + 1]));
            t += len;
            older = (older + static_cast<std::uint32_t>(len)) & mask;
        }
    }

    // Cubic: the read `delaySamples` behind slot `now` (delay 0 is the sample in slot now). A
    // whole delay gives weights (0, 0, 1, 0): that sample exactly.
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

    // out[i] = the cubic read `delaySamples` behind now + i, for i < n.
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

    // out[i] = the cubic read delay[i] behind now + i, for i < n: the same values as read(), but
    // chunks with one whole delay read contiguous memory, so a slow glide vectorises.
    void readPath(std::uint32_t now, const double* delay, float* out, int n) const noexcept
    {
        int i = 0;
        while (i < n)
        {
            const auto whole = static_cast<std::uint32_t>(delay[i]);
            const std::uint32_t start = (now + static_cast<std::uint32_t>(i) - whole - 2u) & mask;
            const int limit = i + static_cast<int>(std::min(static_cast<std::uint32_t>(n - i), size - start));
            const int end = chunkEnd(delay, i, limit, whole);
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

    float clampDelay(float delaySamples) const noexcept
    {
        return std::min(std::max(delaySamples, 1.0f), static_cast<float>(mask - 1u));
    }

    // The first index from i + 1 up to limit whose delay has another whole part than `whole`
    // (or limit), four at a time while they agree.
    static int chunkEnd(const double* delay, int i, int limit, std::uint32_t whole) noexcept
    {
        using Two = sv::Double2;
        const double low = static_cast<double>(whole);
        const Two lowest = {low, low}, above = {low + 1.0, low + 1.0};
        int end = i + 1;
        while (end + 4 <= limit)
        {
            Two a, b;
            std::memcpy(&a, delay + end, sizeof a);
            std::memcpy(&b, delay + end + 2, sizeof b);
            const auto inside = (a >= lowest) & (a < above) & (b >= lowest) & (b < above);
            if ((inside[0] & inside[1]) == 0)
                break;
            end += 4;
        }
        while (end < limit && static_cast<std::uint32_t>(delay[end]) == whole)
            ++end;
        return end;
    }

    // The slot `back` samples behind the newest one.
    std::uint32_t newest(int back) const noexcept
    {
        return (writePos - 1u - static_cast<std::uint32_t>(back)) & mask;
    }

    static constexpr std::uint32_t guard = 3;
    std::vector<float> buffer = std::vector<float>(4 + guard, 0.0f);
    std::uint32_t size = 4;
    std::uint32_t mask = 3;
    std::uint32_t writePos = 0;
    bool written = false;
};

} // namespace sv
