#pragma once

// The compressor's algorithm, one oversampled sample at a time, as named steps: Compressor.cpp
// says in which order they run and does the control-rate work; the kernel
// (CompressorKernel.cpp) runs the steps over chunks of samples, interleaving three chunks
// so that their serial chains overlap. Each step is written the one way the kernel uses it: a
// follower as c y + (1 - c) x with both candidates of an attack/release choice worked out before
// the choice, curves with min and max instead of branches, so that loops over them vectorise.
#include <algorithm>

namespace eng::vocal::comp
{

// Column indices of a character row.
enum Column
{
    stage2Ratio,
    stage2KneeDb,
    stage2OffsetDb,
    stage1MarginDb,
    stage1BaseRatio,
    stage1RatioPerUnit,
    stage1ReleaseMs,
    stage2FastReleaseMs,
    stage2SlowReleaseMs,
    stage2SlowAttackMs,
    driveAtTen,
};

constexpr float peakFloor = 1e-9f;
constexpr float powerFloor = 1e-20f;
constexpr float statisticsFloor = 1e-6f; // -60 dB: quieter samples do not count for the make-up
constexpr float stage2BelowTenDb = -11.0f;
constexpr float stage2DbPerUnit = 3.0f;
constexpr float stage1AboveStage2Db = 8.0f;
constexpr float stage1HalfKneeDb = 1.5f;  // the fixed 3 dB knee of stage 1
constexpr float followWithinDb = 20.0f;   // the running level ignores envelopes further below stage 1
constexpr float unknownLevelDb = -150.0f; // a running level below this is not known yet
constexpr float slowWeight = 0.5f;
constexpr float saturationLimit = 4.97f;
constexpr int makeupEvery = 4;             // control updates per make-up estimate
constexpr float makeupRestsWithin = 1e-4f; // -80 dB: a gliding-out make-up ends on unity there

// A follower's step towards x: c y + (1 - c) x, with keep = c and take = 1 - c.
inline float follow(float y, float x, float keep, float take) noexcept
{
    return keep * y + take * x;
}

// Stage 1, step 1: the peak envelope (dB). Instant attack, release towards the peak: the larger
// of the two is the right one.
inline float peakEnvelope(float envelopeDb, float peakDb, float keep, float take) noexcept
{
    return std::max(peakDb, follow(envelopeDb, peakDb, keep, take));
}

// Stage 1, step 2: the running level (dB) follows envelopes within reach of stage 1 (above
// followAbove), rising and falling with their own times. Once known it never goes back below.
inline float runningLevel(float levelDb, float envelopeDb, float followAbove, float rise, float fall) noexcept
{
    if (envelopeDb > followAbove)
        levelDb = envelopeDb + (envelopeDb > levelDb ? rise : fall) * (levelDb - envelopeDb);
    return levelDb;
}

// Stage 1, step 3: the reduction (dB) for the envelope's overshoot over max(threshold, level)
// plus the margin, through the fixed 3 dB knee: (o + 1.5)^2 / 6 inside it, o above, 0 below,
// times the slope 1 - 1 / ratio. `marginAndHalfKnee` is the character's margin plus 1.5 dB.
inline float stage1Reduction(float envelopeDb, float levelDb, float thresholdDb, float marginAndHalfKnee,
                             float slope) noexcept
{
    const float over = envelopeDb - (marginAndHalfKnee + std::max(thresholdDb, levelDb));
    const float intoKnee = std::min(std::max(over, -stage1HalfKneeDb), stage1HalfKneeDb) + stage1HalfKneeDb;
    return slope * (intoKnee * intoKnee * (1.0f / 6.0f) + std::max(over - stage1HalfKneeDb, 0.0f));
}

// Stage 1, step 4: a reduction is held for the look-ahead, so that a peak is still caught when it
// leaves the line. Returns the reduction held or let go.
inline float holdReduction(float reduction, float& held, int& hold, int holdLength) noexcept
{
    if (reduction >= held)
    {
        held = reduction;
        hold = holdLength;
    }
    else if (hold > 0)
    {
        --hold;
        reduction = held;
    }
    else
        held = reduction;
    return reduction;
}

// Stage 1, step 5, and stage 2's two releases: a reduction follower with its attack while the
// reduction rises and its release otherwise.
inline float followReduction(float smoothed, float reduction, float attackKeep, float attackTake,
                             float releaseKeep, float releaseTake) noexcept
{
    const float attacked = follow(smoothed, reduction, attackKeep, attackTake);
    const float released = follow(smoothed, reduction, releaseKeep, releaseTake);
    return reduction > smoothed ? attacked : released;
}

// Stage 2, step 1: the power after stage 1 through two one-pole smoothers in series.
inline float smoothPower(float& first, float& second, float power, float keep, float take) noexcept
{
    first = follow(first, power, keep, take);
    second = follow(second, first, keep, take);
    return second;
}

// Stage 2, step 2: the static curve, the reduction (dB) for an overshoot over the threshold with
// a quadratic knee of width kneeDb (halfOverKnee = 1 / (2 kneeDb), 0 without a knee): 0 below the
// knee, (o + W/2)^2 s / (2W) inside it, s o above.
inline float staticReduction(float overshootDb, float kneeDb, float halfOverKnee, float slope) noexcept
{
    const float halfKnee = 0.5f * kneeDb;
    const float intoKnee = std::min(std::max(overshootDb, -halfKnee), halfKnee) + halfKnee;
    return intoKnee * intoKnee * slope * halfOverKnee + slope * std::max(overshootDb - halfKnee, 0.0f);
}

// Stage 2, step 3: the dual release joins the fast and the slow follower of the static curve.
inline float dualRelease(float fastDb, float slowDb) noexcept
{
    return std::max(fastDb, slowWeight * slowDb);
}

} // namespace eng::vocal::comp
