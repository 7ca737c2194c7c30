#pragma once

#include <algorithm>
#include <vector>

namespace sv
{

// A power-of-two ring of floats written one sample at a time and read back at a fractional
// delay with linear interpolation: the reverb's pre-delay line. Sized in prepare; audio thread
// only after that.
class DelayLine
{
public:
    // Smallest power of two of at least minimumLength samples (at least 4), cleared.
    void prepare(int minimumLength)
    {
        int length = 4;
        while (length < minimumLength)
            length *= 2;
        buffer.assign(static_cast<size_t>(length), 0.0f);
        mask = length - 1;
        writePos = 0;
    }

    void clear() noexcept
    {
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        writePos = 0;
    }

    void push(float x) noexcept
    {
        buffer[static_cast<size_t>(writePos)] = x;
        writePos = (writePos + 1) & mask;
    }

    // n samples at once, the same as n pushes.
    void write(const float* x, int n) noexcept
    {
        while (n > 0)
        {
            const int len = std::min(n, mask + 1 - writePos);
            std::copy(x, x + len, buffer.begin() + writePos);
            writePos = (writePos + len) & mask;
            x += len;
            n -= len;
        }
    }

    // x[n - delay], x[n] being the newest sample, with the delay clamped to 1..length - 2.
    // `olderBy` reads as if the newest `olderBy` samples had not been written yet, so that a
    // reader can run over a piece after the whole piece went in; the caller keeps delay + olderBy
    // inside the line.
    float readLinear(float delaySamples, int olderBy = 0) const noexcept
    {
        const float d = clampDelay(delaySamples);
        const int whole = static_cast<int>(d);
        const float frac = d - static_cast<float>(whole);
        const int newer = (writePos - 1 - olderBy - whole) & mask;
        const float a = buffer[static_cast<size_t>(newer)];
        const float b = buffer[static_cast<size_t>((newer - 1) & mask)];
        return a + frac * (b - a);
    }

    // out[t] += gain x readLinear(delaySamples, olderAtStart - t) for t = 0..n - 1: one fixed
    // delay over a run of samples, with the same arithmetic as readLinear.
    void addRun(float delaySamples, int olderAtStart, float gain, float* out, int n) const noexcept
    {
        const float d = clampDelay(delaySamples);
        const int whole = static_cast<int>(d);
        const float frac = d - static_cast<float>(whole);
        const int start = writePos - 1 - olderAtStart - whole;
        const float* const x = buffer.data();
        int t = 0;
        while (t < n)
        {
            const int newer = (start + t) & mask;
            if (newer == 0)
            {
                const float a = x[0], b = x[mask];
                out[t] += gain * (a + frac * (b - a));
                ++t;
                continue;
            }
            // Up to the end of the buffer both neighbours are contiguous.
            const int len = std::min(n - t, mask + 1 - newer);
            const float* const pa = x + newer;
            float* const o = out + t;
            for (int i = 0; i < len; ++i)
                o[i] += gain * (pa[i] + frac * (pa[i - 1] - pa[i]));
            t += len;
        }
    }

    int getLength() const noexcept { return mask + 1; }

private:
    float clampDelay(float delaySamples) const noexcept
    {
        return std::min(std::max(delaySamples, 1.0f), static_cast<float>(mask - 1));
    }

    std::vector<float> buffer = std::vector<float>(4, 0.0f);
    int mask = 3;
    int writePos = 0;
};

} // namespace sv
