#pragma once

// Small measurements the tests of several modules make on their renders.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace testsupport
{

constexpr double pi = 3.14159265358979323846;

// The largest sample-to-sample step of x from sample `from` (at least 1) up to `to`: a click shows
// as a step larger than the signal's own.
template <typename From, typename To> float largestStep(const std::vector<float>& x, From from, To to)
{
    float worst = 0.0f;
    const auto start = std::max(static_cast<long long>(from), 1LL), end = static_cast<long long>(to);
    for (long long i = start; i < end; ++i)
        worst = std::max(worst, std::abs(x[static_cast<size_t>(i)] - x[static_cast<size_t>(i - 1)]));
    return worst;
}

// `samples` of a sine of `hz` at `rate`, starting at phase 0.
inline std::vector<float> sine(double rate, double hz, int samples, float amplitude)
{
    std::vector<float> x(static_cast<size_t>(samples));
    for (int i = 0; i < samples; ++i)
        x[static_cast<size_t>(i)] = amplitude * static_cast<float>(std::sin(2.0 * pi * hz * i / rate));
    return x;
}

// The power of x from `from` up to `to`, in dB (floored at -200 dB).
template <typename From, typename To> double rmsDb(const std::vector<float>& x, From from, To to)
{
    const auto start = static_cast<long long>(from), end = static_cast<long long>(to);
    double sum = 0.0;
    for (long long i = start; i < end; ++i)
        sum += static_cast<double>(x[static_cast<size_t>(i)]) * x[static_cast<size_t>(i)];
    return 10.0 * std::log10(std::max(sum / static_cast<double>(end - start), 1e-20));
}

} // namespace testsupport
