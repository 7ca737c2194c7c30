#pragma once

#include <vector>

namespace sv
{

// A fixed delay for whole pieces: the chain's dry path, the stand-in for the idle oversampled
// section and the de-ess listen alignment. Sized in prepare; process never allocates and may run
// in place (out == in). Audio thread only after prepare.
class BlockDelay
{
public:
    void prepare(int numChannels, int maxPieceSamples, int delaySamples);
    void clear() noexcept;

    void process(int channel, const float* in, float* out, int n) noexcept;

    int getDelay() const noexcept { return delay; }

private:
    // Per channel: the last `delay` input samples, then room for one piece.
    std::vector<std::vector<float>> history;
    int delay = 0;
    int maxPiece = 0;
};

} // namespace sv
