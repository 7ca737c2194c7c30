#include "sorvel/engine/primitives/BlockDelay.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace sv
{

void BlockDelay::prepare(int numChannels, int maxPieceSamples, int delaySamples)
{
    delay = std::max(0, delaySamples);
    maxPiece = std::max(1, maxPieceSamples);
    history.assign(static_cast<size_t>(std::max(1, numChannels)),
                   std::vector<float>(static_cast<size_t>(delay + maxPiece), 0.0f));
}

void BlockDelay::clear() noexcept
{
    for (auto& h : history)
        std::fill(h.begin(), h.end(), 0.0f);
}

void BlockDelay::process(int channel, const float* in, float* out, int n) noexcept
{
    assert(n <= maxPiece && channel < static_cast<int>(history.size()));
    float* h = history[static_cast<size_t>(channel)].data();
    const auto count = static_cast<size_t>(n);
    // Write behind the history first, so that out may alias in.
    std::memcpy(h + delay, in, count * sizeof(float));
    std::memcpy(out, h, count * sizeof(float));
    std::memmove(h, h + n, static_cast<size_t>(delay) * sizeof(float));
}

} // namespace sv
