#include "ResponseCurves.h"

#include "sorvel/engine/Tune.h"

#include <algorithm>

namespace svui
{
namespace
{
namespace tune = eng::vocal::tune;

constexpr float amountScaleDb = 0.6f; // the EQ module's: +-10 is +-6 dB

// |H|^2 of one EQ band's analog prototype at w = f / f0.
double bandSquared(const tune::Band& band, double gainDb, double w)
{
    const double A = std::pow(10.0, gainDb / 40.0), Q = band.q, w2 = w * w;
    const auto sq = [](double x) { return x * x; };
    switch (band.kind)
    {
    case 1: // low shelf
    {
        const double cross = sq(std::sqrt(A) * w / Q);
        return A * A * (sq(A - w2) + cross) / (sq(1.0 - A * w2) + cross);
    }
    case 2: // high shelf
    {
        const double cross = sq(std::sqrt(A) * w / Q);
        return A * A * (sq(1.0 - A * w2) + cross) / (sq(A - w2) + cross);
    }
    default: // bell
        return (sq(1.0 - w2) + sq(A * w / Q)) / (sq(1.0 - w2) + sq(w / (A * Q)));
    }
}

double bandDb(const std::array<tune::Band, 3>& table, float amount, int index, double hz)
{
    const double gainDb = static_cast<double>(amount) * amountScaleDb;
    if (std::abs(gainDb) < 0.001)
        return 0.0;
    const auto& band = table[static_cast<size_t>(std::clamp(index, 0, 2))];
    return 10.0 * std::log10(bandSquared(band, gainDb, hz / static_cast<double>(band.hz)));
}
} // namespace

float interpLog(const GuidePoint* table, std::size_t n, float hz)
{
    if (!(hz > table[0].hz))
        return table[0].db;
    if (hz > table[n - 1].hz)
        return table[n - 1].db;
    std::size_t i = 1;
    while (i < n - 1 && table[i].hz < hz)
        ++i;
    const float t = std::log(hz / table[i - 1].hz) / std::log(table[i].hz / table[i - 1].hz);
    return table[i - 1].db + t * (table[i].db - table[i - 1].db);
}

double responseDb(int mode, const float* values, const int* indices, double hz)
{
    if (mode == highPassResponse)
    {
        const double corner = values[0];
        if (corner <= 0.0)
            return 0.0;
        const double r = std::pow(hz / corner, 6.0);
        return 10.0 * std::log10(r / (r + 1.0) + 1e-12);
    }
    return bandDb(tune::bassBands, values[0], indices[0], hz) +
           bandDb(tune::trebleBands, values[1], indices[1], hz);
}

void responsePath(juce::Path& path, juce::Rectangle<float> area, int mode, const float* values,
                  const int* indices, float topDb, float bottomDb, int n)
{
    path.clear();
    if (n < 2)
        return;
    const double span = static_cast<double>(topDb) - bottomDb;
    for (int k = 0; k < n; ++k)
    {
        const float x = area.getX() + area.getWidth() * static_cast<float>(k) / static_cast<float>(n - 1);
        const double level = responseDb(mode, values, indices, logAxisHz(k, n));
        const auto y = static_cast<float>(area.getY() + area.getHeight() * (topDb - level) / span);
        const float clamped = juce::jlimit(area.getY(), area.getBottom(), y);
        if (k == 0)
            path.startNewSubPath(x, clamped);
        else
            path.lineTo(x, clamped);
    }
}
} // namespace svui
