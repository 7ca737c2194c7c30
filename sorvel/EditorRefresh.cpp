#include "EditorRefresh.h"

#include <algorithm>
#include <cmath>

namespace svui
{
float meterDb(float linear)
{
    return linear > 0.000001f ? 20.0f * std::log10(linear) : -60.0f;
}

void LevelHold::update(float levelDb)
{
    if (levelDb >= db)
    {
        db = levelDb;
        ticks = 0;
        return;
    }
    if (ticks >= 90)
        db = std::max(levelDb, db - 0.5f);
    ticks = std::min(ticks + 1, 1 << 30);
}

EditorRefresh::EditorRefresh()
{
    frames.fill(sv2::MeteringRecord::silent());
}

bool EditorRefresh::passGate(int blocksProcessed, bool idle)
{
    if (blocksProcessed != lastActivity)
    {
        lastActivity = blocksProcessed;
        staleTicks = 0;
        return true;
    }
    if (idle)
        return false;
    const int before = staleTicks;
    staleTicks = std::min(staleTicks + 1, 1 << 30);
    return before == 0;
}

int EditorRefresh::takeRecords(const sv2::RecordRing& ring)
{
    const std::uint32_t w = ring.count();
    std::uint32_t first = readIndex;
    if (w - first > maxRecords)
        first = w - maxRecords;
    int n = static_cast<int>(w - first);
    // A copy the audio thread overtook (the message thread stalled mid-copy) loses its oldest
    // records rather than showing torn ones.
    const auto spoilt = static_cast<int>(ring.readNewest(first, w, frames.data()));
    if (spoilt > 0)
    {
        std::copy(frames.begin() + spoilt, frames.begin() + n, frames.begin());
        n -= spoilt;
    }
    readIndex = w;
    return n;
}

void EditorRefresh::updateReadouts(int count)
{
    using R = sv2::MeteringRecord;
    float deess = 0, peak = 0, level = 0, sparkle = -120, tame = 0, duck = 0;
    float reverb = -120, delay = -120, doubles = -120, out = 0;
    double liftSum = 0.0;
    const int from = std::max(count - readoutRecords, 0);
    for (int k = from; k < count; ++k)
    {
        const auto& r = frames[static_cast<size_t>(k)];
        deess = std::max(deess, r[R::deessReductionDb]);
        peak = std::max(peak, r[R::compStage1Db]);
        level = std::max(level, r[R::compStage2Db]);
        sparkle = std::max(sparkle, r[R::shimmerSparkleDb]);
        tame = std::max(tame, r[R::shimmerTamingDb]);
        duck = std::max(duck, r[R::duckingDb]);
        reverb = std::max(reverb, r[R::reverbReturnDb]);
        delay = std::max(delay, r[R::delayReturnDb]);
        doubles = std::max(doubles, r[R::widthReturnDb]);
        out = std::max(out, r[R::outputRms]);
        liftSum += r[R::shimmerLiftDb];
    }

    auto& v = values;
    v.deessCut = std::max(deess, v.deessCut - 0.4f);
    v.compPeak = std::max(peak, v.compPeak - 0.3f);
    v.compLevel = std::max(level, v.compLevel - 0.2f);
    v.sparkle = std::max(sparkle, v.sparkle - 1.5f);
    v.tame = std::max(tame, v.tame - 0.3f);
    v.duck = std::max(duck, v.duck - 0.3f);
    v.reverbReturn = std::max(reverb, v.reverbReturn - 1.5f);
    v.delayReturn = std::max(delay, v.delayReturn - 1.5f);
    v.doubles = std::max(doubles, v.doubles - 1.5f);
    if (count > from)
        v.lift += 0.35f * (static_cast<float>(liftSum / (count - from)) - v.lift);
    const float outDb = out > 0.000001f ? 20.0f * std::log10(out) : -120.0f;
    v.outLevel = std::max(outDb, v.outLevel - 1.5f);
}
} // namespace svui
