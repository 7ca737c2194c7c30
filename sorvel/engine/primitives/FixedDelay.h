#pragma once

#include <algorithm>
#include <array>
#include <cassert>
#include <vector>

namespace sv
{

// The one ring behind every look-ahead and every fixed delay of the engine (the de-esser's and the
// compressor's look-ahead, the chain's dry path, the stand-in for the idle oversampled section and
// the de-ess listen alignment): up to two channels sharing one write position. A span goes in
// behind the last `delay` samples, then the span that many samples older comes out, so the output
// may be the input's own memory. Sized in prepare; process allocates nothing. Audio thread after
// prepare.
class FixedDelay
{
public:
    static constexpr int maxChannels = 2;

    // Room for the delay plus one span of up to maxSpanSamples written before it is read; cleared.
    void prepare(int numChannels, int delaySamples, int maxSpanSamples)
    {
        channelCount = std::clamp(numChannels, 1, maxChannels);
        delay = std::max(0, delaySamples);
        maxSpan = std::max(1, maxSpanSamples);
        unsigned length = 1;
        while (length < static_cast<unsigned>(delay + maxSpan))
            length <<= 1;
        mask = length - 1;
        for (int c = 0; c < maxChannels; ++c)
            lines[static_cast<size_t>(c)].assign(c < channelCount ? length : 0u, 0.0f);
        writeIndex = 0;
    }

    void clear() noexcept
    {
        for (auto& line : lines)
            std::fill(line.begin(), line.end(), 0.0f);
    }

    // n <= maxSpanSamples samples of each prepared channel: in[c] in, out[c] the same span
    // `delay` samples earlier. out[c] may equal in[c].
    void process(const float* const* in, float* const* out, int n) noexcept
    {
        assert(n <= maxSpan);
        const auto count = static_cast<unsigned>(n);
        const unsigned length = mask + 1;
        const unsigned readIndex = (writeIndex - static_cast<unsigned>(delay)) & mask;
        // Each copy in at most two runs, around the end of the ring; written before read, so a
        // delay shorter than the span still reads the right samples.
        const unsigned firstWrite = std::min(count, length - writeIndex);
        const unsigned firstRead = std::min(count, length - readIndex);
        for (int c = 0; c < channelCount; ++c)
        {
            float* line = lines[static_cast<size_t>(c)].data();
            const float* x = in[c];
            float* y = out[c];
            std::copy_n(x, firstWrite, line + writeIndex);
            std::copy_n(x + firstWrite, count - firstWrite, line);
            std::copy_n(line + readIndex, firstRead, y);
            std::copy_n(line, count - firstRead, y + firstRead);
        }
        writeIndex = (writeIndex + count) & mask;
    }

    int getDelay() const noexcept { return delay; }
    int getMaxSpan() const noexcept { return maxSpan; }

private:
    std::array<std::vector<float>, maxChannels> lines;
    unsigned mask = 0;
    unsigned writeIndex = 0;
    int delay = 0;
    int maxSpan = 1;
    int channelCount = 1;
};

} // namespace sv
