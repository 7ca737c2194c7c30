// What Sorvel's editor keeps between two refresh ticks: whether audio is flowing (the gate), the
// copy of the newest metering records, the readout values that fall between records, and the
// level holds of the notes under the input and output knobs. Plain data and arithmetic; the
// editor reads the processor and writes the views. Message thread only.
#pragma once

#include "EditorTexts.h"

#include "sorvel/engine/EditorFeed.h"

#include <array>
#include <cstdint>

namespace svui
{
// A held level for a note: follows a new high at once, holds 90 ticks, then falls 0.5 dB a tick.
struct LevelHold
{
    float db = -60.0f;
    int ticks = 0;

    void update(float levelDb);
};

class EditorRefresh
{
public:
    // At most this many records are taken in one tick: the ring's next push overwrites the slot
    // 512 records back, and the audio thread may push a few more while the editor copies.
    static constexpr std::uint32_t maxRecords = 504;
    // The readouts look at the newest few records of a tick.
    static constexpr int readoutRecords = 6;

    EditorRefresh();

    // Whether this tick updates the meters, the history and the readouts: yes when new blocks
    // came; without new blocks once more while the processor is not idle, then no.
    bool passGate(int blocksProcessed, bool idle);

    // Copies the records published since the last call (the newest maxRecords of them) into
    // frames, oldest first; returns how many.
    int takeRecords(const sv2::RecordRing& ring);

    // Moves the readout values by the newest readoutRecords of the first `count` frames (none
    // arrived: they only fall).
    void updateReadouts(int count);

    std::array<sv2::MeteringRecord, sv2::RecordRing::size> frames;
    std::uint32_t readIndex = 0;
    int lastActivity = 0, staleTicks = 0;

    ReadoutValues values;
    LevelHold inHold, outHold;
    int switchMask = -1; // bit j: module j is on; -1 before the first tick
};

// dB of a linear level, -60 for 0.000001 and below.
float meterDb(float linear);
} // namespace svui
