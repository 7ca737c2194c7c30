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

} // namespace testsupport
