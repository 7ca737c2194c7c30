#include "sorvel/engine/Compressor.h"

#include "sorvel/engine/CompressorSteps.h"
#include "sorvel/engine/primitives/Tanh7.h"
#include "common/dsp/FastMath.h"

#include <algorithm>

// The compressor's kernel: the steps of CompressorSteps.h over chunks of up to a control
// interval, in vectorised loops where a step has no recursion and in one loop per pass for the
// serial chains.
namespace eng::vocal
{

using namespace comp;

// Chunks move through three passes: in its first pass a chunk's input is measured and its
// stage 1 runs; in the second, stage 2's smoothers; in the third, stage 2's dual release, the
// statistics and the output. Each pass runs those three recursions for three consecutive
// chunks in one loop, so that their serial chains overlap; every chunk still sees exactly
// the values and the order of operations it would see alone. The pipeline drains at the end of
// every call.
void Compressor::process(float* const* channels, float* const* listen, int n) noexcept
{
    Chunk* first = nullptr;  // in its first pass
    Chunk* second = nullptr; // in its second pass
    Chunk* third = nullptr;  // in its third pass
    int done = 0;
    bool taking = true;
    for (;;)
    {
        Chunk* fresh = nullptr;
        if (taking && done < n && !isIdle())
        {
            bool afterControl = false;
            if (controlCountdown == 0)
            {
                controlGlide();
                controlCountdown = controlInterval;
                afterControl = true;
            }
            Chunk& s = chunks[nextChunk];
            nextChunk = (nextChunk + 1) % chunksInFlight;
            // The glide may have taken the amount down to 0: the rest of the call only passes the
            // delayed audio, but the control update's statistics part is still due, so an empty
            // chunk carries it.
            const int count = isIdle() ? 0 : std::min(n - done, controlCountdown);
            if (count == controlInterval)
                beginChunk(s, channels, done, Whole{}, afterControl);
            else
                beginChunk(s, channels, done, count, afterControl);
            controlCountdown -= count;
            done += count;
            taking = count > 0;
            fresh = &s;
        }
        else
            taking = false;
        third = second;
        second = first;
        first = fresh;
        if (first == nullptr && second == nullptr && third == nullptr)
            break;
        // Whole chunks (nearly all) go through loops whose length is known when compiling.
        const auto whole = [](const Chunk* s) { return s == nullptr || s->count == controlInterval; };
        if (whole(first) && whole(second) && whole(third))
            runPass<Whole>(first, second, third, channels, listen);
        else
            runPass<int>(first, second, third, channels, listen);
    }
    if (done < n)
        passThrough(channels, listen, done, n - done);
}

// A chunk's first steps: the control values it runs with, its peak level, its look-ahead and
// the power of the delayed audio.
template <typename Length>
void Compressor::beginChunk(Chunk& s, const float* const* channels, int offset, Length length,
                            bool afterControl) noexcept
{
    const int n = length;
    s.offset = offset;
    s.count = n;
    s.afterControl = afterControl;
    s.k = reductionScale;
    s.threshold1Db = threshold1Db;
    s.slope1 = slope1;
    s.stage1Release = stage1Release;
    s.stage1MarginDb = row[stage1MarginDb];
    s.threshold2Db = threshold2Db;
    s.knee2Db = knee2Db;
    s.halfOverKnee2 = halfOverKnee2;
    s.slope2 = slope2;
    s.fastRelease = fastRelease;
    s.slowRelease = slowRelease;
    s.slowAttack = slowAttack;
    s.drive = drive;
    if (n == 0)
        return;

    const auto count = static_cast<size_t>(n);
    const float* left = channels[0] + offset;
    const float* right = channels[channelCount - 1] + offset;
    // Peak level over the channels. Floor and logarithm are separate loops: fused, the compiler
    // branches around the logarithm of the floor and the loop no longer vectorises.
    float* peakDb = s.peakDb.data();
    for (size_t i = 0; i < count; ++i)
        peakDb[i] = std::max(std::max(std::abs(left[i]), std::abs(right[i])), peakFloor);
    for (size_t i = 0; i < count; ++i)
        peakDb[i] = sv::fastAmplitudeToDb(peakDb[i]);

    lookaheadDelay(channels, offset, n, s.delayed);
    const float* yl = s.delayed[0].data();
    const float* yr = s.delayed[channelCount == 2 ? 1 : 0].data();
    float* power = s.power.data();
    if (channelCount == 2)
        for (size_t i = 0; i < count; ++i)
            power[i] = 0.5f * (yl[i] * yl[i] + yr[i] * yr[i]);
    else
        for (size_t i = 0; i < count; ++i)
            power[i] = yl[i] * yl[i];
}

template <typename Length>
void Compressor::runPass(Chunk* first, Chunk* second, Chunk* third, float* const* channels,
                         float* const* listen) noexcept
{
    runRecursions(first, second, third);

    // Stage 1's gain and the power after it.
    if (first != nullptr)
    {
        Chunk& s = *first;
        const size_t count = lengthOf<Length>(s);
        for (size_t i = 0; i < count; ++i)
            s.gain1[i] = sv::fastDbToAmplitude(-s.reduction1[i]);
        for (size_t i = 0; i < count; ++i)
            s.stage1Power[i] = s.gain1[i] * s.gain1[i] * s.power[i];
    }

    // Stage 2's level and static curve.
    if (second != nullptr)
    {
        Chunk& s = *second;
        const size_t count = lengthOf<Length>(s);
        float* levelDb = s.levelDb.data();
        for (size_t i = 0; i < count; ++i)
            levelDb[i] = std::max(levelDb[i], powerFloor);
        for (size_t i = 0; i < count; ++i)
            levelDb[i] = sv::fastPowerToDb(levelDb[i]);
        // Locals, so the compiler need not fear that the writes change the curve.
        const float threshold = s.threshold2Db, knee = s.knee2Db, halfOverKnee = s.halfOverKnee2,
                    slope = s.slope2;
        for (size_t i = 0; i < count; ++i)
            s.staticDb[i] = staticReduction(levelDb[i] - threshold, knee, halfOverKnee, slope);
    }

    // Stage 2's gain, the statistics and the output; then the statistics part of the control
    // update that came before the second chunk, which must follow the third's statistics.
    Work gain2;
    if (third != nullptr)
    {
        Chunk& s = *third;
        const size_t count = lengthOf<Length>(s);
        for (size_t i = 0; i < count; ++i)
            gain2[i] = sv::fastDbToAmplitude(-s.reduction2[i]);
        // Only samples above the statistics floor count; a chunk without any (a pause: a third
        // of the time in speech) adds nothing.
        int counting = 0;
        for (size_t i = 0; i < count; ++i)
            counting += !(s.power[i] <= statisticsFloor);
        if (counting > 0)
            addStatistics<Length>(s, gain2.data());
    }
    if (second != nullptr)
    {
        if (second->afterControl)
            controlStatistics(*second);
        second->makeupGain = makeupGain;
    }
    if (third != nullptr)
        finishChunk<Length>(*third, gain2.data(), channels, listen);
}

// The recursive parts: stage 1 of the first chunk, stage 2's smoothers of the second and its
// dual release of the third. They are written as c y + (1 - c) x, with both candidates of an
// attack/release choice computed before the choice; their loop-carried chains are what bounds
// the speed here, so when all three chunks are the same length they share one loop.
void Compressor::runRecursions(Chunk* first, Chunk* second, Chunk* third) noexcept
{
    // Stage 1: envelope, running level, overshoot over the level, hold and smoothing.
    // (Absent chunks are stood in for by any chunk: their loops do not run.)
    const Chunk& a = first != nullptr ? *first : chunks[0];
    float* reduction1 = first != nullptr ? first->reduction1.data() : nullptr;
    const float* peakDb = a.peakDb.data();
    const float peakKeep = peakRelease, peakTake = 1.0f - peakRelease;
    const float attackKeep = stage1Attack, attackTake = 1.0f - stage1Attack;
    const float releaseKeep = a.stage1Release, releaseTake = 1.0f - a.stage1Release;
    const float followAbove = a.threshold1Db - followWithinDb;
    const float margin = a.stage1MarginDb + stage1HalfKneeDb;
    const float threshold1 = a.threshold1Db, slope = a.slope1, k1 = a.k;
    const int holdLength = lookahead;
    float envelope = peakEnvelopeDb, level = runningLevelDb, held = heldReductionDb, smoothed = reduction1Db;
    int hold = holdCountdown;
    float peak1 = peaks.stage1Db;

    // Stage 1 after the envelope and the running level: reduction, hold, smoothing.
    const auto reduce = [&](size_t i)
    {
        const float reduction = holdReduction(stage1Reduction(envelope, level, threshold1, margin, slope),
                                              held, hold, holdLength);
        smoothed = followReduction(smoothed, reduction, attackKeep, attackTake, releaseKeep, releaseTake);
        const float r1 = smoothed * k1;
        reduction1[i] = r1;
        peak1 = std::max(peak1, r1);
    };
    // Instant attack, release towards the peak: the larger of the two is the right one. The
    // running level is not known (below -150) until the envelope first comes within reach of
    // stage 1; from then on it follows values above followAbove, so it never goes back below.
    const auto stage1 = [&](size_t i)
    {
        envelope = peakEnvelope(envelope, peakDb[i], peakKeep, peakTake);
        level = runningLevel(level, envelope, followAbove, levelRise, levelFall);
        reduce(i);
    };

    // Stage 2: power after stage 1 through two 4 ms smoothers.
    const float* stage1Power = second != nullptr ? second->stage1Power.data() : nullptr;
    float* smoothedPower = second != nullptr ? second->levelDb.data() : nullptr;
    const float keep = powerSmoothing, take = 1.0f - powerSmoothing;
    float s1 = power1, s2 = power2;
    const auto smooth = [&](size_t i) { smoothedPower[i] = smoothPower(s1, s2, stage1Power[i], keep, take); };

    // Stage 2: dual release of the static curve's reduction.
    const Chunk& c = third != nullptr ? *third : chunks[0];
    const float* staticDb = c.staticDb.data();
    float* reduction2 = third != nullptr ? third->reduction2.data() : nullptr;
    const float fastAttackTake = 1.0f - fastAttack, fastReleaseTake = 1.0f - c.fastRelease;
    const float slowAttackTake = 1.0f - c.slowAttack, slowReleaseTake = 1.0f - c.slowRelease;
    const float fastReleaseKeep = c.fastRelease, slowAttackKeep = c.slowAttack,
                slowReleaseKeep = c.slowRelease;
    const float k2 = c.k;
    float fast = fastReductionDb, slow = slowReductionDb;
    float peak2 = peaks.stage2Db;
    const auto release = [&](size_t i)
    {
        const float z = staticDb[i];
        fast = followReduction(fast, z, fastAttack, fastAttackTake, fastReleaseKeep, fastReleaseTake);
        slow = followReduction(slow, z, slowAttackKeep, slowAttackTake, slowReleaseKeep, slowReleaseTake);
        const float r2 = dualRelease(fast, slow) * k2;
        reduction2[i] = r2;
        peak2 = std::max(peak2, r2);
    };

    const size_t count1 = first != nullptr ? static_cast<size_t>(first->count) : 0;
    const size_t count2 = second != nullptr ? static_cast<size_t>(second->count) : 0;
    const size_t count3 = third != nullptr ? static_cast<size_t>(third->count) : 0;
    size_t known = 0;
    // Until the running level is known it takes the first envelope within reach of stage 1.
    for (; known < count1 && level < unknownLevelDb; ++known)
    {
        envelope = peakEnvelope(envelope, peakDb[known], peakKeep, peakTake);
        if (envelope > followAbove)
            level = envelope;
        reduce(known);
    }

    // Stage 1 rests through a chunk where the envelope stays clear below the knee: it is never
    // above max(its start, the peaks), a convex mix of the two at each step (0.1 dB spare for
    // rounding), so the overshoot stays below -1.5 dB and every reduction is exactly 0; with
    // nothing held, the smoothing only releases (its input term is 0 times the take, an exact 0).
    // The envelope and the running level still follow. Not-a-number fails the test.
    bool resting = false;
    if (count1 > 0 && held == 0.0f)
    {
        const float clear = threshold1 + margin - stage1HalfKneeDb - 0.1f;
        int below = envelope < clear;
        for (size_t i = known; i < count1; ++i)
            below += peakDb[i] < clear;
        resting = static_cast<size_t>(below) == count1 - known + 1;
    }
    const auto rest = [&](size_t i)
    {
        envelope = peakEnvelope(envelope, peakDb[i], peakKeep, peakTake);
        level = runningLevel(level, envelope, followAbove, levelRise, levelFall);
        smoothed = releaseKeep * smoothed;
        const float r1 = smoothed * k1;
        reduction1[i] = r1;
        peak1 = std::max(peak1, r1);
    };

    // The dual release rests too where the static curve asks for nothing over the whole chunk
    // (the level below the knee): with z exactly 0 and both followers at or above 0, each only
    // releases, and its input term is an exact 0.
    int curveQuiet = 0;
    for (size_t i = 0; i < count3; ++i)
        curveQuiet += staticDb[i] == 0.0f;
    const bool releasing =
        count3 > 0 && static_cast<size_t>(curveQuiet) == count3 && fast >= 0.0f && slow >= 0.0f;
    const auto fall = [&](size_t i)
    {
        fast = fastReleaseKeep * fast;
        slow = slowReleaseKeep * slow;
        const float r2 = dualRelease(fast, slow) * k2;
        reduction2[i] = r2;
        peak2 = std::max(peak2, r2);
    };

    const auto run = [&](auto resting1, auto releasing3)
    {
        const auto firstStep = [&](size_t i)
        {
            if constexpr (decltype(resting1)::value)
                rest(i);
            else
                stage1(i);
        };
        const auto thirdStep = [&](size_t i)
        {
            if constexpr (decltype(releasing3)::value)
                fall(i);
            else
                release(i);
        };
        if (count1 == count2 && count2 == count3)
        {
            for (size_t i = 0; i < known; ++i)
            {
                smooth(i);
                thirdStep(i);
            }
            for (size_t i = known; i < count1; ++i)
            {
                firstStep(i);
                smooth(i);
                thirdStep(i);
            }
        }
        else
        {
            for (size_t i = known; i < count1; ++i)
                firstStep(i);
            for (size_t i = 0; i < count2; ++i)
                smooth(i);
            for (size_t i = 0; i < count3; ++i)
                thirdStep(i);
        }
    };
    const auto runReleasing = [&](auto resting1)
    {
        if (releasing)
            run(resting1, std::true_type{});
        else
            run(resting1, std::false_type{});
    };
    if (resting)
    {
        runReleasing(std::true_type{});
        // Every step held 0 and restarted the hold.
        held = 0.0f;
        if (count1 > known)
            hold = holdLength;
    }
    else
        runReleasing(std::false_type{});

    peakEnvelopeDb = envelope;
    runningLevelDb = level;
    heldReductionDb = held;
    holdCountdown = hold;
    reduction1Db = smoothed;
    peaks.stage1Db = peak1;
    power1 = s1;
    power2 = s2;
    fastReductionDb = fast;
    slowReductionDb = slow;
    peaks.stage2Db = peak2;
}

// The make-up's statistics over one chunk: the input power, what the real and the static
// stage 2 made of it, and the level histogram of the power after stage 1. The terms in loops that
// vectorise; then the sums in double, in order, with the histogram bin being filled kept in a
// register while the level stays in it.
template <typename Length> void Compressor::addStatistics(const Chunk& s, const float* gain2) noexcept
{
    const size_t count = lengthOf<Length>(s);
    const float k = s.k;
    const float* power = s.power.data();
    const float* stage1Power = s.stage1Power.data();
    const float* levelDb = s.levelDb.data();
    Work staticGain, realTerm, staticTerm;
    std::array<int, controlInterval> bins;
    for (size_t i = 0; i < count; ++i)
        staticGain[i] = sv::fastDbToAmplitude(-s.staticDb[i] * k);
    for (size_t i = 0; i < count; ++i)
    {
        realTerm[i] = stage1Power[i] * gain2[i] * gain2[i];
        staticTerm[i] = stage1Power[i] * staticGain[i] * staticGain[i];
    }
    for (size_t i = 0; i < count; ++i)
        bins[i] = std::clamp(static_cast<int>(levelDb[i] + 90.0f), 0, histogramBins - 1);
    double input = 0.0, real = 0.0, stat = 0.0;
    int filling = std::clamp(static_cast<int>(levelDb[0] + 90.0f), 0, histogramBins - 1); // bins[0]
    double bin = histogram[static_cast<size_t>(filling)];
    for (size_t i = 0; i < count; ++i)
    {
        if (power[i] <= statisticsFloor)
            continue;
        input += power[i];
        real += realTerm[i];
        stat += staticTerm[i];
        if (bins[i] != filling)
        {
            histogram[static_cast<size_t>(filling)] = bin;
            filling = bins[i];
            bin = histogram[static_cast<size_t>(filling)];
        }
        bin += stage1Power[i];
    }
    histogram[static_cast<size_t>(filling)] = bin;
    inputSum += input;
    realSum += real;
    staticSum += stat;
}

// Output: total gain, the "Hard" saturator, mix; listen is what all that changed.
template <typename Length>
void Compressor::finishChunk(Chunk& s, const float* gain2, float* const* channels,
                             float* const* listen) noexcept
{
    const size_t count = lengthOf<Length>(s);
    Work gain, mixValues;
    const float makeup = s.makeupGain;
    for (size_t i = 0; i < count; ++i)
        gain[i] = s.gain1[i] * (gain2[i] * makeup);
    if (mixRamp.isMoving())
        for (size_t i = 0; i < count; ++i)
            mixValues[i] = mixRamp.next();
    else
        std::fill_n(mixValues.data(), count, mixRamp.getValue());

    const bool saturate = s.drive > 0.001f;
    const float driveNow = s.drive;
    for (int c = 0; c < channelCount; ++c)
    {
        const float* y = s.delayed[static_cast<size_t>(c)].data();
        float* out = channels[c] + s.offset;
        if (saturate)
        {
            // Clamp and saturator in separate loops, for the same reason as the peak level's.
            Work driven;
            float* d = driven.data();
            for (size_t i = 0; i < count; ++i)
                d[i] = std::clamp(driveNow * (gain[i] * y[i]), -saturationLimit, saturationLimit);
            for (size_t i = 0; i < count; ++i)
                d[i] = tanh7(d[i]) / driveNow;
            for (size_t i = 0; i < count; ++i)
                out[i] = y[i] + mixValues[i] * (d[i] - y[i]);
        }
        else
            for (size_t i = 0; i < count; ++i)
                out[i] = y[i] + mixValues[i] * (gain[i] * y[i] - y[i]);
        if (listen != nullptr)
        {
            float* l = listen[c] + s.offset;
            for (size_t i = 0; i < count; ++i)
                l[i] = out[i] - y[i];
        }
    }
}

} // namespace eng::vocal
