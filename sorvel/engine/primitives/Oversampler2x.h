#pragma once

#include <array>

namespace sv
{

// Doubles or halves the sample rate of one channel with a 63-tap linear-phase half-band FIR, so
// that the compressor and the shimmer can run at twice the host rate without aliasing. Up then
// down delays by exactly 31 host-rate samples. One object serves one channel in one direction;
// audio thread after prepare.
class Oversampler2x
{
public:
    static constexpr int numTaps = 63;
    static constexpr int centreTap = 31;
    static constexpr int foldedTaps = 16;       // non-zero side taps on one side of the centre
    static constexpr int roundTripSamples = 31; // host-rate delay of up then down

    Oversampler2x() { prepare(); }

    // Builds the kernel and the polyphase taps and clears the history.
    void prepare();

    // Clears the history only (a down-sampler whose signal was not fed for a while).
    void clear() noexcept;

    // n host-rate samples in, 2n doubled-rate samples out. in and out must not overlap.
    void up(const float* in, float* out, int n) noexcept;

    // 2n doubled-rate samples in, n host-rate samples out. out may be the same memory as in.
    void down(const float* in, float* out, int n) noexcept;

    // The symmetric FIR at the heart of both directions:
    // out[k] = sum over j < 16 of taps[j] (history[k + j] + history[k + 31 - j]), k < n.
    // Reads history[0 .. n + 30]; 4-wide vector arithmetic, 8 outputs at a time.
    static void sumFolded(const float* history, const float* taps, float* out, int n) noexcept;

    // The normalised kernel h[0..62] (sums to 1).
    const std::array<double, numTaps>& getKernel() const noexcept { return kernel; }

private:
    static constexpr int chunk = 128;               // host-rate samples filtered in one go
    static constexpr int span = 2 * foldedTaps - 1; // host-rate samples that one folded sum reaches back

    void buildKernel();

    std::array<double, numTaps> kernel{};
    alignas(16) std::array<float, foldedTaps> upTaps{};   // side taps times 2, the interpolation gain
    alignas(16) std::array<float, foldedTaps> downTaps{}; // side taps as they are
    float upCentre = 1.0f;
    float downCentre = 0.5f;

    // Up: the last `span` input samples, then the chunk being filtered.
    alignas(16) std::array<float, span + chunk> upHistory{};
    // Down: even-indexed input samples (folded branch) and odd-indexed ones (centre tap), each after
    // the history their branch needs.
    alignas(16) std::array<float, span + chunk> evenHistory{};
    alignas(16) std::array<float, foldedTaps + chunk> oddHistory{};
    alignas(16) std::array<float, chunk> folded{};
};

} // namespace sv
