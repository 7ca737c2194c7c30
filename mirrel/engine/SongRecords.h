#pragma once

#include "Random.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mr
{

// The placements of the latest pass over each stretch of the song, keyed by song position in
// sixty-fourth notes. After a jump they supply the last position and side before the new song
// position, so min jump and alternation go on as they did on the earlier pass. Sized once in
// prepare; never allocates afterwards. Audio thread only.
class SongRecords
{
public:
    static constexpr int capacity = 8192;

    struct Record
    {
        std::int64_t key;
        float position;
        int side;
    };

    // Sizes the store once; its records survive later preparations.
    void reserve();

    int size() const noexcept { return count; }
    const Record& operator[](int i) const noexcept { return records[static_cast<std::size_t>(i)]; }

    // Erases every record with from <= key < to.
    void eraseRange(std::int64_t from, std::int64_t to) noexcept;

    // Inserts after every record with a smaller or equal key. A full store first drops its lowest
    // record when the new one goes into the upper half, else its highest.
    void insert(const Record& r) noexcept;

    // The last record with a key below `key`, or null.
    const Record* lastBefore(std::int64_t key) const noexcept;

private:
    int lowerBound(std::int64_t key) const noexcept;
    int upperBound(std::int64_t key) const noexcept;

    std::vector<Record> records;
    int count = 0;
};

// The song-position key of a hit, in sixty-fourth notes.
std::int64_t songKey(double quarterNotes) noexcept;

// A generator seeded from a song-position key and the seed parameter (SplitMix64 finalizer), so
// the same passage with the same seed always draws the same placements.
Random keyedRandom(std::int64_t key, int seed) noexcept;

} // namespace mr
