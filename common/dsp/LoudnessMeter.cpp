#include "LoudnessMeter.h"

#include <algorithm>
#include <cmath>

namespace sv
{
namespace
{
constexpr double pi = 3.14159265358979323846;

double powerToLufs(double meanPower) noexcept
{
    return meanPower > 1e-12 ? -0.691 + 10.0 * std::log10(meanPower) : LoudnessMeter::noValue;
}
} // namespace

LoudnessMeter::LoudnessMeter()
{
    prepare(sampleRate);
}

void LoudnessMeter::prepare(double newSampleRate)
{
    sampleRate = newSampleRate;
    subBlockLength = std::max(1, static_cast<int>(std::lround(sampleRate / 10.0)));

    // Pre-filter: the high shelf of BS.1770, bilinear from its analog parameters.
    {
        const double k = std::tan(pi * 1681.974450955533 / sampleRate);
        const double q = 0.7071752369554196;
        const double vh = 1.5848647011308556; // 10^(3.999843853973347 / 20)
        const double vb = 1.2587209302325617; // vh^0.4996667741545416
        for (auto& c : channels)
            c.preFilter.setCoefficients(vh + vb * k / q + k * k, 2.0 * (k * k - vh), vh - vb * k / q + k * k,
                                        1.0 + k / q + k * k, 2.0 * (k * k - 1.0), 1.0 - k / q + k * k);
    }
    // RLB high-pass, numerator (1, -2, 1) as BS.1770 gives it.
    {
        const double k = std::tan(pi * 38.13547087602444 / sampleRate);
        const double q = 0.5003270373238773;
        const double a0 = 1.0 + k / q + k * k;
        for (auto& c : channels)
            c.rlb.setCoefficients(a0, -2.0 * a0, a0, a0, 2.0 * (k * k - 1.0), 1.0 - k / q + k * k);
    }

    reset();
}

void LoudnessMeter::reset()
{
    for (auto& c : channels)
        c.clear();
    sum = 0.0;
    count = 0;
    ring.fill(0.0);
    writeIndex = 0;
    valid = 0;
    binCounts.fill(0);
    binPowers.fill(0.0);
    totalCount = 0;
    totalPower = 0.0;
    momentaryLufs.store(noValue);
    shortTermLufs.store(noValue);
    integratedLufs.store(noValue);
}

void LoudnessMeter::process(const float* left, const float* right, int numSamples) noexcept
{
    auto& kl = channels[0];
    auto& kr = channels[1];
    int i = 0;
    while (i < numSamples)
    {
        // Filter up to the end of the current sub-block in one tight loop.
        const int end = std::min(numSamples, i + (subBlockLength - count));
        double acc = 0.0;
        if (right != nullptr)
        {
            for (int j = i; j < end; ++j)
            {
                const float zl = kl.process(left[j]);
                const float zr = kr.process(right[j]);
                acc += static_cast<double>(zl) * zl + static_cast<double>(zr) * zr;
            }
        }
        else
        {
            for (int j = i; j < end; ++j)
            {
                const float zl = kl.process(left[j]);
                acc += static_cast<double>(zl) * zl;
            }
        }
        sum += acc;
        count += end - i;
        i = end;

        if (count >= subBlockLength)
            endSubBlock();
    }
}

void LoudnessMeter::endSubBlock() noexcept
{
    const double meanPower = sum / subBlockLength;
    sum = 0.0;
    count = 0;

    ring[static_cast<size_t>(writeIndex)] = meanPower;
    writeIndex = (writeIndex + 1) % ringSize;
    valid = std::min(valid + 1, ringSize);

    // Momentary: the last four sub-blocks.
    const int recent = std::min(valid, momentaryBlocks);
    double u = 0.0;
    for (int k = 1; k <= recent; ++k)
        u += ring[static_cast<size_t>((writeIndex - k + ringSize) % ringSize)];
    u /= recent;
    const double m = powerToLufs(u);
    momentaryLufs.store(valid >= momentaryBlocks ? static_cast<float>(m) : noValue);

    if (valid == ringSize)
    {
        double all = 0.0;
        for (double p : ring)
            all += p;
        shortTermLufs.store(static_cast<float>(powerToLufs(all / ringSize)));
    }
    else
    {
        shortTermLufs.store(noValue);
    }

    // Every 100 ms a 400 ms gating block (75 % overlap) goes into the histogram, so the
    // integrated value needs fixed memory for any programme length.
    if (valid >= momentaryBlocks && m > -70.0)
    {
        const int bin = std::clamp(static_cast<int>(std::lround((m + 70.0) * 10.0)), 0, histogramBins - 1);
        binCounts[static_cast<size_t>(bin)] += 1;
        binPowers[static_cast<size_t>(bin)] += u;
        totalCount += 1;
        totalPower += u;
        integratedLufs.store(integratedFromHistogram());
    }
}

float LoudnessMeter::integratedFromHistogram() const noexcept
{
    const double ungated = totalCount > 0 ? totalPower / static_cast<double>(totalCount) : 0.0;
    const double gate = ungated > 1e-12 ? -0.691 + 10.0 * std::log10(ungated) - 10.0 : -400.0;
    const int firstBin = std::max(0, static_cast<int>(std::ceil((gate + 70.0) * 10.0)));
    if (firstBin >= histogramBins)
        return noValue;

    double power = 0.0;
    std::uint64_t blocks = 0;
    for (int b = firstBin; b < histogramBins; ++b)
    {
        power += binPowers[static_cast<size_t>(b)];
        blocks += binCounts[static_cast<size_t>(b)];
    }
    if (blocks == 0)
        return noValue;
    return static_cast<float>(powerToLufs(power / static_cast<double>(blocks)));
}

} // namespace sv
