#include "sorvel/engine/primitives/Oversampler2x.h"

#include "sorvel/engine/Latency.h"
#include "common/dsp/Lanes.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

namespace sv
{

static_assert(Oversampler2x::roundTripSamples == eng::vocal::oversamplerRoundTripSamples,
              "the chain's latency counts on this round trip");

namespace
{

inline Float4 load4(const float* p) noexcept
{
    return loadLanes<Float4>(p);
}
inline void store4(float* p, Float4 v) noexcept
{
    storeLanes(p, v);
}

constexpr int span = 2 * Oversampler2x::foldedTaps - 1;

// Eight outputs of the folded sum: two 4-wide accumulators, taps in the same order for every
// output, so every output is computed the same way wherever a piece starts.
inline void foldedBlock(const float* h, const float* taps, float* out) noexcept
{
    Float4 acc0 = splat4(0.0f);
    Float4 acc1 = splat4(0.0f);
    for (int j = 0; j < Oversampler2x::foldedTaps; ++j)
    {
        const Float4 t = splat4(taps[j]);
        acc0 += t * (load4(h + j) + load4(h + span - j));
        acc1 += t * (load4(h + 4 + j) + load4(h + 4 + span - j));
    }
    store4(out, acc0);
    store4(out + 4, acc1);
}

// Modified Bessel function of the first kind, order 0, as a 40-term power series.
double besselI0(double x)
{
    double sum = 0.0, term = 1.0;
    const double half = 0.5 * x;
    for (int m = 0; m < 40; ++m)
    {
        if (m > 0)
            term *= half / m;
        sum += term * term;
    }
    return sum;
}

} // namespace

void Oversampler2x::prepare()
{
    buildKernel();
    clear();
}

void Oversampler2x::buildKernel()
{
    constexpr double pi = 3.14159265358979323846;
    constexpr double beta = 7.0;
    const double i0Beta = besselI0(beta);
    double sum = 0.0;
    for (int i = 0; i < numTaps; ++i)
    {
        const int a = i - centreTap;
        double ideal = 0.5;
        if (a != 0)
            ideal = (a % 2 == 0) ? 0.0 : std::sin(a * pi / 2.0) / (a * pi);
        const double r = static_cast<double>(a) / centreTap;
        const double window = besselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / i0Beta;
        kernel[static_cast<size_t>(i)] = ideal * window;
        sum += kernel[static_cast<size_t>(i)];
    }
    for (auto& h : kernel)
        h /= sum;

    // Polyphase form: side taps i = 0, 2, .., 30 (mirrored at 62 - i), and the centre alone.
    for (int j = 0; j < foldedTaps; ++j)
    {
        const double h = kernel[static_cast<size_t>(2 * j)];
        upTaps[static_cast<size_t>(j)] = static_cast<float>(2.0 * h);
        downTaps[static_cast<size_t>(j)] = static_cast<float>(h);
    }
    upCentre = static_cast<float>(2.0 * kernel[centreTap]);
    downCentre = static_cast<float>(kernel[centreTap]);
}

void Oversampler2x::clear() noexcept
{
    upHistory.fill(0.0f);
    evenHistory.fill(0.0f);
    oddHistory.fill(0.0f);
}

void Oversampler2x::sumFolded(const float* history, const float* taps, float* out, int n) noexcept
{
    int k = 0;
    for (; k + 8 <= n; k += 8)
        foldedBlock(history + k, taps, out + k);
    if (k < n)
    {
        // The last few outputs go through the same block on a zero-padded copy, so that no input
        // beyond history[n + 30] is read and every output is computed alike.
        float input[8 + span] = {};
        float result[8];
        std::memcpy(input, history + k, static_cast<size_t>(n - k + span) * sizeof(float));
        foldedBlock(input, taps, result);
        std::memcpy(out + k, result, static_cast<size_t>(n - k) * sizeof(float));
    }
}

void Oversampler2x::up(const float* in, float* out, int n) noexcept
{
    assert(in + n <= out || out + 2 * n <= in);
    for (int done = 0; done < n;)
    {
        const int count = std::min(chunk, n - done);
        float* h = upHistory.data();
        std::memcpy(h + span, in + done, static_cast<size_t>(count) * sizeof(float));
        // Even outputs: the folded 16-tap branch; odd outputs: the centre tap, a plain delay of
        // 15 samples, since every other tap of the odd phase is zero.
        sumFolded(h, upTaps.data(), folded.data(), count);
        float* o = out + 2 * done;
        const float* delayed = h + foldedTaps;
        for (int k = 0; k < count; ++k)
        {
            o[2 * k] = folded[static_cast<size_t>(k)];
            o[2 * k + 1] = upCentre * delayed[k];
        }
        std::memmove(h, h + count, static_cast<size_t>(span) * sizeof(float));
        done += count;
    }
}

void Oversampler2x::down(const float* in, float* out, int n) noexcept
{
    for (int done = 0; done < n;)
    {
        const int count = std::min(chunk, n - done);
        float* even = evenHistory.data();
        float* odd = oddHistory.data();
        const float* x = in + 2 * done;
        for (int k = 0; k < count; ++k)
        {
            even[span + k] = x[2 * k];
            odd[foldedTaps + k] = x[2 * k + 1];
        }
        // Output m is the filter at doubled-rate sample 2m: the even samples meet the side taps,
        // the odd sample 31 back meets the centre tap.
        sumFolded(even, downTaps.data(), folded.data(), count);
        float* o = out + done;
        for (int k = 0; k < count; ++k)
            o[k] = folded[static_cast<size_t>(k)] + downCentre * odd[k];
        std::memmove(even, even + count, static_cast<size_t>(span) * sizeof(float));
        std::memmove(odd, odd + count, static_cast<size_t>(foldedTaps) * sizeof(float));
        done += count;
    }
}

} // namespace sv
