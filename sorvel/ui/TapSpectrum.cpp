#include "TapSpectrum.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr int ringMask = TapSpectrum::fftSize - 1;
constexpr int maxBin = TapSpectrum::fftSize / 2;

// 16 / (3 N^2): turns |X|^2 of a Hann-windowed transform into one-sided power, so that a sine
// of amplitude A sums to A^2 / 2 over its bins.
constexpr double hannPowerScale =
    16.0 / (3.0 * TapSpectrum::fftSize * static_cast<double>(TapSpectrum::fftSize));

constexpr double smoothingSeconds = 0.3;
constexpr double minimumBandwidthHz = 400.0; // narrower third octaves would hold too few bins
constexpr double powerFloor = 1e-14;
constexpr int freshLimit = 1 << 24; // far beyond any smoothing time; keeps the count finite
} // namespace

TapSpectrum::TapSpectrum()
{
    for (auto& tapLevels : levels)
        tapLevels.fill(silentDb);
}

float TapSpectrum::bandHz(int k)
{
    return 20.0f * std::pow(1000.0f, static_cast<float>(k) / static_cast<float>(numBands - 1));
}

void TapSpectrum::prepare(double rate)
{
    sampleRate = rate > 0.0 ? rate : 48000.0;

    window.resize(static_cast<size_t>(fftSize));
    for (int n = 0; n < fftSize; ++n)
        window[static_cast<size_t>(n)] = static_cast<float>(
            0.5 - 0.5 * std::cos(2.0 * juce::MathConstants<double>::pi * n / static_cast<double>(fftSize)));
    fftData.assign(static_cast<size_t>(2 * fftSize), 0.0f);
    for (auto& ring : rings)
        ring.assign(static_cast<size_t>(fftSize), 0.0f);

    const double binsPerHz = fftSize / sampleRate;
    const double halfBinHz = 0.5 * sampleRate / fftSize;
    for (int k = 0; k < numBands; ++k)
    {
        const double fc = 20.0 * std::pow(1000.0, k / static_cast<double>(numBands - 1));
        const double hi = fc * 1.122462, lo = fc * 0.8908987; // a third of an octave around fc
        double lower = lo, upper = hi;
        if (hi - lo < minimumBandwidthHz)
        {
            lower = std::max(fc - 0.5 * minimumBandwidthHz, halfBinHz);
            upper = fc + 0.5 * minimumBandwidthHz;
        }
        bands[static_cast<size_t>(k)] = {static_cast<float>(lower * binsPerHz),
                                         static_cast<float>(upper * binsPerHz),
                                         static_cast<float>((hi - lo) / (upper - lower))};
    }
    reset();
}

void TapSpectrum::reset()
{
    fresh = 0;
    writePos = 0;
    for (auto& ring : rings)
        std::fill(ring.begin(), ring.end(), 0.0f);
    for (auto& tapPower : power)
        tapPower.fill(0.0f);
    for (auto& tapLevels : levels)
        tapLevels.fill(silentDb);
    analysed.fill(false);
}

std::uint32_t TapSpectrum::pull(sv2::TapFifo& fifo)
{
    if (rings[0].empty())
        return 0;
    float* a = rings[0].data();
    float* b = rings[1].data();
    float* c = rings[2].data();
    int pos = writePos;
    const auto n = fifo.pop(
        [&](const sv2::TapFifo::Entry& e)
        {
            a[pos] = e.a;
            b[pos] = e.b;
            c[pos] = e.c;
            pos = (pos + 1) & ringMask;
        });
    writePos = pos;
    fresh = static_cast<int>(std::min<std::uint32_t>(static_cast<std::uint32_t>(fresh) + n, freshLimit));
    return n;
}

void TapSpectrum::drain(sv2::TapFifo& fifo)
{
    fifo.pop([](const sv2::TapFifo::Entry&) {});
}

bool TapSpectrum::analyse(const std::array<bool, numTaps>& taps)
{
    if (fresh < hop || fftData.empty())
        return false;
    const auto smoothing = static_cast<float>(1.0 - std::exp(-fresh / (smoothingSeconds * sampleRate)));
    fresh = 0;
    for (int tap = 0; tap < numTaps; ++tap)
        if (taps[static_cast<size_t>(tap)])
            analyseTap(tap, smoothing);
    return true;
}

void TapSpectrum::analyseTap(int tap, float smoothing)
{
    const auto& ring = rings[static_cast<size_t>(tap)];
    float* data = fftData.data();
    for (int n = 0; n < fftSize; ++n)
        data[n] = ring[static_cast<size_t>((writePos + n) & ringMask)] * window[static_cast<size_t>(n)];
    std::fill(data + fftSize, data + 2 * fftSize, 0.0f);
    fft.performRealOnlyForwardTransform(data, true);

    // Bin powers in place: bin b's (re, im) sit at 2b and 2b + 1, never below b.
    for (int bin = 0; bin <= maxBin; ++bin)
    {
        const float re = data[2 * bin], im = data[2 * bin + 1];
        data[bin] = re * re + im * im;
    }

    auto& tapPower = power[static_cast<size_t>(tap)];
    auto& tapLevels = levels[static_cast<size_t>(tap)];
    const bool first = !analysed[static_cast<size_t>(tap)];
    for (size_t k = 0; k < bands.size(); ++k)
    {
        const auto& band = bands[k];
        const int firstBin = std::max(static_cast<int>(std::lround(band.low)), 1);
        const int lastBin = std::min(static_cast<int>(std::lround(band.high)), maxBin);
        double sum = 0.0;
        for (int bin = firstBin; bin <= lastBin; ++bin)
        {
            const float b = static_cast<float>(bin);
            const float overlap = std::min(band.high, b + 0.5f) - std::max(band.low, b - 0.5f);
            if (overlap > 0.0f)
                sum += static_cast<double>(overlap * data[bin]);
        }
        const auto p = static_cast<float>(sum * hannPowerScale * band.weight);
        tapPower[k] = first ? p : tapPower[k] + (p - tapPower[k]) * smoothing;
        tapLevels[k] = static_cast<float>(10.0 * std::log10(static_cast<double>(tapPower[k]) + powerFloor));
    }
    analysed[static_cast<size_t>(tap)] = true;
}
