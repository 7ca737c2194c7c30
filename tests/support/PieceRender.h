#pragma once

// Drives a return module (mono send in, two returns out) the way the chain does: its settings
// before every piece, then the piece.
#include <algorithm>
#include <random>
#include <vector>

namespace testsupport
{

// A settings change that takes effect from sample `at` on.
template <typename Settings> struct SettingsChange
{
    int at;
    Settings settings;
};

struct StereoOut
{
    std::vector<float> left, right;
};

// Pieces are `piece` samples long (0: random lengths 1..700) and break at every change.
// `apply(module, settings)` hands the settings over. `out` is sized by the caller, so this
// allocates nothing itself.
template <typename Module, typename Settings, typename Apply>
void renderPieces(Module& module, const std::vector<float>& in, Settings first,
                  const std::vector<SettingsChange<Settings>>& changes, int piece, unsigned seed,
                  StereoOut& out, Apply&& apply)
{
    std::minstd_rand random(seed);
    Settings current = first;
    size_t next = 0;
    const int total = static_cast<int>(in.size());
    for (int pos = 0; pos < total;)
    {
        while (next < changes.size() && changes[next].at <= pos)
            current = changes[next++].settings;
        int n = std::min(piece > 0 ? piece : 1 + static_cast<int>(random() % 700u), total - pos);
        if (next < changes.size())
            n = std::min(n, changes[next].at - pos);
        apply(module, current);
        module.process(in.data() + pos, out.left.data() + pos, out.right.data() + pos, n);
        pos += n;
    }
}

// Index of the first sample where two renders differ, -1 when they are identical.
inline long firstDifference(const std::vector<float>& a, const std::vector<float>& b)
{
    const auto m = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return m.first == a.end() && m.second == b.end() ? -1L : static_cast<long>(m.first - a.begin());
}

} // namespace testsupport
