#pragma once

#include "common/dsp/AtomicMax.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace sv2
{

// One metering record, written every 10 ms while audio flows.
struct MeteringRecord
{
    enum Field
    {
        inputPeak,
        inputRms,
        outputPeak,
        outputRms,
        deessReductionDb,
        essSounding,
        compStage1Db,
        compStage2Db,
        shimmerSparkleDb,
        shimmerTamingDb,
        shimmerLiftDb,
        duckingDb,
        reverbReturnDb,
        delayReturnDb,
        widthReturnDb,
        numFields
    };

    std::array<float, numFields> values{};

    float& operator[](Field f) noexcept { return values[static_cast<size_t>(f)]; }
    float operator[](Field f) const noexcept { return values[static_cast<size_t>(f)]; }

    // Levels at -120 dB, reductions at 0: what the editor shows before any audio.
    static MeteringRecord silent() noexcept
    {
        MeteringRecord r;
        for (auto f : {inputPeak, inputRms, outputPeak, outputRms})
            r[f] = 0.0f;
        for (auto f : {shimmerSparkleDb, reverbReturnDb, delayReturnDb, widthReturnDb})
            r[f] = -120.0f;
        return r;
    }
};

// The last 512 records, published by a counter: a record is complete before the counter moves
// past it. The audio thread writes; the editor reads records from counter - 512 up to counter.
// Every float of a slot is an atomic of its own (relaxed: plain moves), so a reader that falls
// behind the writer reads stale or mixed values, never undefined ones; readNewest() tells which
// of the records it copied no push can have touched meanwhile.
class RecordRing
{
public:
    static constexpr std::uint32_t size = 512;

    void push(const MeteringRecord& r) noexcept
    {
        const auto n = counter.load(std::memory_order_relaxed);
        // Orders the counter's current value before the new values: a reader that sees any of
        // them sees a counter of at least n afterwards (readNewest's check).
        std::atomic_thread_fence(std::memory_order_release);
        auto& slot = slots[n % size];
        for (size_t f = 0; f < MeteringRecord::numFields; ++f)
            slot[f].store(r.values[f], std::memory_order_relaxed);
        counter.store(n + 1, std::memory_order_seq_cst);
    }

    std::uint32_t count() const noexcept { return counter.load(std::memory_order_seq_cst); }

    // Record `index` as it is in its slot now (the slot of index + 512 once that is pushed).
    MeteringRecord at(std::uint32_t index) const noexcept
    {
        MeteringRecord r;
        const auto& slot = slots[index % size];
        for (size_t f = 0; f < MeteringRecord::numFields; ++f)
            r.values[f] = slot[f].load(std::memory_order_relaxed);
        return r;
    }

    // Copies records first .. end - 1 (all published: end <= count()) into out[0 ..] and returns
    // how many of the oldest copies a push overwrote while they were read: out[0 .. n - 1] are
    // to be dropped. 0 unless the writer came within a slot of `first` during the copy.
    std::uint32_t readNewest(std::uint32_t first, std::uint32_t end, MeteringRecord* out) const noexcept
    {
        for (std::uint32_t i = first; i != end; ++i)
            out[i - first] = at(i);
        std::atomic_thread_fence(std::memory_order_acquire);
        // Record i is intact when no push of i + 512 had begun: the counter was at most i + 511.
        const auto now = counter.load(std::memory_order_relaxed);
        const auto intactFrom = now - (size - 1);
        if (static_cast<std::int32_t>(intactFrom - first) <= 0)
            return 0;
        const auto spoilt = intactFrom - first;
        return spoilt < end - first ? spoilt : end - first;
    }

private:
    std::array<std::array<std::atomic<float>, MeteringRecord::numFields>, size> slots{};
    std::atomic<std::uint32_t> counter{0};
};

// Three mono taps per sample for the spectrum view (after the input gain; after the de-esser;
// after the EQ). Single writer (audio thread), single reader (editor); a full FIFO drops the
// newest samples whole, never a torn entry.
class TapFifo
{
public:
    static constexpr std::uint32_t capacity = 32768;

    struct Entry
    {
        float a, b, c;
    };

    // Writes as many of the n samples as fit; returns how many.
    std::uint32_t push(const float* a, const float* b, const float* c, std::uint32_t n) noexcept
    {
        const auto w = write.load(std::memory_order_relaxed);
        const auto r = read.load(std::memory_order_acquire);
        const auto free = capacity - (w - r);
        const auto k = n < free ? n : free;
        for (std::uint32_t i = 0; i < k; ++i)
            entries[(w + i) & (capacity - 1)] = {a[i], b[i], c[i]};
        write.store(w + k, std::memory_order_release);
        return k;
    }

    // Editor side: hands every waiting entry to fn, then frees them.
    template <typename Fn> std::uint32_t pop(Fn&& fn)
    {
        const auto w = write.load(std::memory_order_acquire);
        auto r = read.load(std::memory_order_relaxed);
        const auto n = w - r;
        for (; r != w; ++r)
            fn(entries[r & (capacity - 1)]);
        read.store(r, std::memory_order_release);
        return n;
    }

private:
    std::array<Entry, capacity> entries{};
    std::atomic<std::uint32_t> write{0};
    std::atomic<std::uint32_t> read{0};
};

// What the audio thread publishes for the editor, and the two requests the editor makes. Every
// value is an atomic of its own; peaks are raised with an atomic maximum and taken with
// exchange(0).
struct EditorFeed
{
    std::atomic<int> blocksProcessed{0};
    std::atomic<bool> idle{true};
    std::atomic<float> inputPeak{0.0f}, outputPeak{0.0f};
    std::atomic<float> compStage1Peak{0.0f}, compStage2Peak{0.0f}, deessPeak{0.0f}, duckPeak{0.0f};
    std::atomic<float> matchOffsetDb{0.0f};
    std::atomic<float> deessFreqHz{6500.0f};
    std::atomic<float> hostBpm{120.0f};

    std::atomic<bool> resetLoudness{false}; // editor: reset button
    std::atomic<bool> tapEnabled{false};    // editor: while the spectrum is shown

    RecordRing records;
    TapFifo taps;
};

} // namespace sv2
