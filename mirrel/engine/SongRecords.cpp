#include "SongRecords.h"

#include <algorithm>
#include <cmath>

namespace mr
{

void SongRecords::reserve()
{
    if (records.size() != static_cast<size_t>(capacity))
        records.resize(static_cast<size_t>(capacity));
}

int SongRecords::lowerBound(std::int64_t key) const noexcept
{
    const auto* begin = records.data();
    return static_cast<int>(std::lower_bound(begin, begin + count, key,
                                             [](const Record& r, std::int64_t k) { return r.key < k; }) -
                            begin);
}

int SongRecords::upperBound(std::int64_t key) const noexcept
{
    const auto* begin = records.data();
    return static_cast<int>(std::upper_bound(begin, begin + count, key,
                                             [](std::int64_t k, const Record& r) { return k < r.key; }) -
                            begin);
}

void SongRecords::eraseRange(std::int64_t from, std::int64_t to) noexcept
{
    if (to <= from || count == 0)
        return;
    const int first = lowerBound(from);
    const int last = lowerBound(to);
    if (last <= first)
        return;
    auto* base = records.data();
    std::copy(base + last, base + count, base + first);
    count -= last - first;
}

void SongRecords::insert(const Record& r) noexcept
{
    if (records.empty())
        return;
    int index = upperBound(r.key);
    auto* base = records.data();
    if (count == capacity)
    {
        if (index >= capacity / 2)
        {
            std::copy(base + 1, base + count, base);
            --index;
        }
        --count;
    }
    std::copy_backward(base + index, base + count, base + count + 1);
    base[index] = r;
    ++count;
}

const SongRecords::Record* SongRecords::lastBefore(std::int64_t key) const noexcept
{
    const int i = lowerBound(key);
    return i > 0 ? &records[static_cast<size_t>(i - 1)] : nullptr;
}

std::int64_t songKey(double quarterNotes) noexcept
{
    return static_cast<std::int64_t>(std::llround(16.0 * quarterNotes));
}

Random keyedRandom(std::int64_t key, int seed) noexcept
{
    const auto seedTerm = static_cast<std::uint64_t>(std::clamp(seed, 1, 999)) << 40;
    std::uint64_t k = static_cast<std::uint64_t>(key) ^ (seedTerm ^ 0x9E3779B97F4A7C15ull);
    k ^= k >> 30;
    k *= 0xBF58476D1CE4E5B9ull;
    k ^= k >> 27;
    k *= 0x94D049BB133111EBull;
    k ^= k >> 31;
    auto h = static_cast<std::uint32_t>(k >> 32) ^ static_cast<std::uint32_t>(k);
    if (h == 0)
        h = 0x9E3779B9u;
    Random r(h);
    r.next();
    return r;
}

} // namespace mr
