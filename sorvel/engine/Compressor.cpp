#include "Compressor.h"

#include "Latency.h"
#include "Tanh7.h"
#include "common/dsp/FastMath.h"
#include "common/dsp/Lanes.h"
#include "common/dsp/OnePole.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace eng::vocal
{

namespace
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
constexpr float stage1HalfKneeDb = 1.5f; // the fixed 3 dB knee of stage 1
constexpr float followWithinDb = 20.0f;  // the running level ignores envelopes further below stage 1
constexpr float slowWeight = 0.5f;
constexpr float saturationLimit = 4.97f;
constexpr int makeupEvery = 4;             // control updates per make-up estimate
constexpr float makeupRestsWithin = 1e-4f; // -80 dB: a gliding-out make-up ends on unity there

// Static gain curve of stage 2: reduction in dB for an overshoot over the threshold, with a
// quadratic knee of width kneeDb (halfOverKnee = 1 / (2 kneeDb), 0 without a knee): 0 below the
// knee, (o + W/2)^2 s / (2W) inside it, s o above. Written with min and max instead of branches,
// so that loops over it vectorise.
inline float staticReduction(float overshootDb, float kneeDb, float halfOverKnee, float slope) noexcept
{
    const float halfKnee = 0.5f * kneeDb;
    const float intoKnee = std::min(std::max(overshootDb, -halfKnee), halfKnee) + halfKnee;
    return intoKnee * intoKnee * slope * halfOverKnee + slope * std::max(overshootDb - halfKnee, 0.0f);
}

inline float releaseCoefficient(float ms, double rate) noexcept
{
    return ms > 0.0f ? static_cast<float>(std::exp(-1.0 / (ms * 0.001 * rate))) : 0.0f;
}

} // namespace

void Compressor::prepare(double hostSampleRate, int numChannels)
{
    rate = 2.0 * hostSampleRate;
    channelCount = std::clamp(numChannels, 1, maxChannels);
    lookahead = 2 * compLookaheadSamples(hostSampleRate);

    // The ring must hold the look-ahead plus one whole segment written before it is read.
    unsigned lineLength = 1;
    while (lineLength < static_cast<unsigned>(lookahead + controlInterval))
        lineLength <<= 1;
    lineMask = lineLength - 1;
    writeIndex = 0;
    for (int c = 0; c < maxChannels; ++c)
        lines[static_cast<size_t>(c)].assign(c < channelCount ? lineLength : 0u, 0.0f);

    peakRelease = static_cast<float>(sv::onePoleCoefficient(0.060, rate));
    levelRise = static_cast<float>(sv::onePoleCoefficient(0.600, rate));
    levelFall = static_cast<float>(sv::onePoleCoefficient(0.300, rate));
    stage1Attack = static_cast<float>(std::exp(-5.0 / lookahead)); // fully down within the look-ahead
    powerSmoothing = static_cast<float>(sv::onePoleCoefficient(0.004, rate));
    fastAttack = static_cast<float>(sv::onePoleCoefficient(0.010, rate));

    const double controlRate = hostSampleRate / 32.0;
    characterGlide = static_cast<float>(sv::onePoleCoefficient(0.020, controlRate));
    amountGlide = static_cast<float>(sv::onePoleCoefficient(0.030, controlRate));
    makeupGlide = static_cast<float>(sv::onePoleCoefficient(0.040, controlRate));
    statisticsDecay = std::exp(-controlInterval / (rate * 6.0));

    controlCountdown = 0;
    controlCount = 0;
    row = targetRow = rows[0];
    amount = targetAmount = 0.0f;
    deriveFromRow();

    peakEnvelopeDb = -120.0f;
    runningLevelDb = -200.0f;
    heldReductionDb = 0.0f;
    holdCountdown = 0;
    reduction1Db = 0.0f;
    power1 = power2 = 0.0f;
    fastReductionDb = slowReductionDb = 0.0f;

    histogram.fill(0.0);
    binGainCurve.fill(std::numeric_limits<float>::quiet_NaN()); // no curve worked out yet
    inputSum = realSum = staticSum = 0.0;
    makeupDb = 0.0f;
    makeupGain = 1.0f;
    makeupTargetDb = 0.0f;
    makeupTarget = 1.0f;

    mixRamp.setLength(static_cast<int>(std::lround(0.020 * rate)));
    mixRamp.jumpTo(mixRamp.getTarget());
    peaks = {};
    initialised = false;
}

void Compressor::setSettings(float newAmount, int character, float mix) noexcept
{
    // The negated comparisons also turn NaN into the lower limit.
    newAmount = !(newAmount > 0.0f) ? 0.0f : std::min(newAmount, 10.0f);
    mix = !(mix > 0.0f) ? 0.0f : std::min(mix, 1.0f);
    targetRow = rows[static_cast<size_t>(std::clamp(character, 0, 2))];
    targetAmount = newAmount;

    if (!initialised)
    {
        row = targetRow;
        amount = targetAmount;
        mixRamp.jumpTo(mix);
        deriveFromRow();
        initialised = true;
        return;
    }
    // The amount is set first: a module coming back from idle fades its mix in rather than jumping.
    if (isIdle())
        mixRamp.jumpTo(mix);
    else
        mixRamp.setTarget(mix);
}

Compressor::StagePeaks Compressor::takeStagePeaks() noexcept
{
    const StagePeaks taken = peaks;
    peaks = {};
    return taken;
}

void Compressor::deriveFromRow() noexcept
{
    reductionScale = std::min(amount, 1.0f);
    threshold2Db = row[stage2OffsetDb] + stage2BelowTenDb - stage2DbPerUnit * amount;
    threshold1Db = threshold2Db + stage1AboveStage2Db;
    ratio1 = row[stage1BaseRatio] + amount * row[stage1RatioPerUnit];
    slope1 = 1.0f - 1.0f / std::max(ratio1, 1.0f);
    knee2Db = row[stage2KneeDb];
    halfOverKnee2 = knee2Db > 0.0f ? 0.5f / knee2Db : 0.0f;
    slope2 = 1.0f - 1.0f / std::max(row[stage2Ratio], 1.0f);
    drive = row[driveAtTen] * amount * 0.1f;
    stage1Release = releaseCoefficient(row[stage1ReleaseMs], rate);
    fastRelease = releaseCoefficient(row[stage2FastReleaseMs], rate);
    slowRelease = releaseCoefficient(row[stage2SlowReleaseMs], rate);
    slowAttack = releaseCoefficient(row[stage2SlowAttackMs], rate);
}

void Compressor::controlGlide() noexcept
{
    // Nothing glides once the values sit on their targets.
    if (row != targetRow || amount != targetAmount)
    {
        const tune::CompRow before = row;
        const float amountBefore = amount;
        for (size_t i = 0; i < row.size(); ++i)
            row[i] = targetRow[i] + characterGlide * (row[i] - targetRow[i]);
        amount = targetAmount + amountGlide * (amount - targetAmount);
        if (std::abs(amount - targetAmount) < 0.001f)
            amount = targetAmount;
        // Coefficients cost four exponentials: only when something glided.
        if (row != before || amount != amountBefore)
            deriveFromRow();
    }
}

void Compressor::controlStatistics(const Stretch& s) noexcept
{
    // Two bins at a time (the compiler leaves this loop scalar by itself).
    const double decay = statisticsDecay;
    const sv::Double2 decay2 = {decay, decay};
#pragma GCC unroll 10
    for (size_t bin = 0; bin < histogram.size(); bin += 2)
        sv::storeLanes(&histogram[bin], sv::loadLanes<sv::Double2>(&histogram[bin]) * decay2);
    inputSum *= decay;
    realSum *= decay;
    staticSum *= decay;

    if (controlCount++ % makeupEvery == 0)
        estimateMakeup(s);

    // The target moves only with an estimate, and goes to unity while the amount heads for 0:
    // the module falls idle only once the make-up has glided out, so it never drops in a step.
    const float wantedDb = targetAmount > 0.0f ? makeupDb : 0.0f;
    if (wantedDb != makeupTargetDb)
    {
        makeupTargetDb = wantedDb;
        makeupTarget = static_cast<float>(std::pow(10.0, wantedDb / 20.0));
    }
    makeupGain = makeupTarget + makeupGlide * (makeupGain - makeupTarget);
    if (targetAmount == 0.0f && std::abs(makeupGain - 1.0f) < makeupRestsWithin)
        makeupGain = 1.0f;
}

void Compressor::estimateMakeup(const Stretch& s) noexcept
{
    // What the static stage-2 curve of the stretch's control period would make of the recent
    // levels: the curve's power gain per bin (worked out again only when the curve moved; locals
    // and an int counter so that the loop vectorises), then the sum in double.
    const std::array<float, 5> curve{s.threshold2Db, s.knee2Db, s.halfOverKnee2, s.slope2, s.k};
    if (curve != binGainCurve)
    {
        binGainCurve = curve;
        const float threshold = s.threshold2Db, knee = s.knee2Db, halfOverKnee = s.halfOverKnee2,
                    slope = s.slope2, scale = s.k;
        for (int bin = 0; bin < histogramBins; ++bin)
        {
            const float overshoot = (static_cast<float>(bin) - 90.0f + 0.5f) - threshold;
            binGain[static_cast<size_t>(bin)] =
                -staticReduction(overshoot, knee, halfOverKnee, slope) * scale;
        }
        for (auto& g : binGain)
            g = sv::fastDbToPower(g);
    }
    std::array<double, histogramBins> binOutput;
#pragma GCC unroll 10
    for (size_t bin = 0; bin < binGain.size(); bin += 2)
    {
        const sv::Double2 gains = {static_cast<double>(binGain[bin]), static_cast<double>(binGain[bin + 1])};
        sv::storeLanes(&binOutput[bin], sv::loadLanes<sv::Double2>(&histogram[bin]) * gains);
    }
    double output = 0.0;
    for (const double term : binOutput)
        output += term;
    if (!(output > 1e-30 && inputSum > 1e-30))
        return;
    double ratio = inputSum / output;
    // The curve's figure stands for what the static curve leaves (staticSum); the real, smoothed
    // stage 2 leaves realSum / staticSum of that, so the make-up is larger by staticSum / realSum.
    if (realSum > 1e-30 && staticSum > 1e-30)
        ratio *= std::clamp(staticSum / realSum, 0.25, 4.0);
    makeupDb = static_cast<float>(std::clamp(10.0 * std::log10(ratio), -6.0, 36.0));
}

void Compressor::lookaheadDelay(const float* const* in, int offset, int n,
                                std::array<Work, maxChannels>& out) noexcept
{
    const auto count = static_cast<unsigned>(n);
    const unsigned readIndex = (writeIndex - static_cast<unsigned>(lookahead)) & lineMask;
    const unsigned length = lineMask + 1;
    // Copies in at most two runs each, around the end of the ring.
    const unsigned firstWrite = std::min(count, length - writeIndex);
    const unsigned firstRead = std::min(count, length - readIndex);
    for (int c = 0; c < channelCount; ++c)
    {
        float* line = lines[static_cast<size_t>(c)].data();
        const float* x = in[c] + offset;
        float* y = out[static_cast<size_t>(c)].data();
        // Written before read, so a look-ahead shorter than the segment still reads the right samples.
        std::copy_n(x, firstWrite, line + writeIndex);
        std::copy_n(x + firstWrite, count - firstWrite, line);
        std::copy_n(line + readIndex, firstRead, y);
        std::copy_n(line, count - firstRead, y + firstRead);
    }
    writeIndex = (writeIndex + count) & lineMask;
}

void Compressor::passThrough(float* const* channels, float* const* listen, int offset, int n) noexcept
{
    std::array<Work, maxChannels> delayed;
    for (int done = 0; done < n;)
    {
        const int count = std::min(controlInterval, n - done);
        lookaheadDelay(channels, offset + done, count, delayed);
        for (int c = 0; c < channelCount; ++c)
        {
            std::copy_n(delayed[static_cast<size_t>(c)].data(), count, channels[c] + offset + done);
            if (listen != nullptr)
                std::fill_n(listen[c] + offset + done, count, 0.0f);
        }
        done += count;
    }
}

// Stretches move through three passes: in its first pass a stretch's input is measured and its
// stage 1 runs; in the second, stage 2's smoothers; in the third, stage 2's dual release, the
// statistics and the output. Each pass runs those three recursions for three consecutive
// stretches in one loop, so that their serial chains overlap; every stretch still sees exactly
// the values and the order of operations it would see alone. The pipeline drains at the end of
// every call.
void Compressor::process(float* const* channels, float* const* listen, int n) noexcept
{
    Stretch* first = nullptr;  // in its first pass
    Stretch* second = nullptr; // in its second pass
    Stretch* third = nullptr;  // in its third pass
    int done = 0;
    bool taking = true;
    for (;;)
    {
        Stretch* fresh = nullptr;
        if (taking && done < n && !isIdle())
        {
            bool afterControl = false;
            if (controlCountdown == 0)
            {
                controlGlide();
                controlCountdown = controlInterval;
                afterControl = true;
            }
            Stretch& s = stretches[nextStretch];
            nextStretch = (nextStretch + 1) % stretchCount;
            // The glide may have taken the amount down to 0: the rest of the call only passes the
            // delayed audio, but the control update's statistics part is still due, so an empty
            // stretch carries it.
            const int count = isIdle() ? 0 : std::min(n - done, controlCountdown);
            if (count == controlInterval)
                beginStretch(s, channels, done, Whole{}, afterControl);
            else
                beginStretch(s, channels, done, count, afterControl);
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
        // Whole stretches (nearly all) go through loops whose length is known when compiling.
        const auto whole = [](const Stretch* s) { return s == nullptr || s->count == controlInterval; };
        if (whole(first) && whole(second) && whole(third))
            runPass<Whole>(first, second, third, channels, listen);
        else
            runPass<int>(first, second, third, channels, listen);
    }
    if (done < n)
        passThrough(channels, listen, done, n - done);
}

// A stretch's first steps: the control values it runs with, its peak level, its look-ahead and
// the power of the delayed audio.
template <typename Length>
void Compressor::beginStretch(Stretch& s, const float* const* channels, int offset, Length length,
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
void Compressor::runPass(Stretch* first, Stretch* second, Stretch* third, float* const* channels,
                         float* const* listen) noexcept
{
    runRecursions(first, second, third);

    // Stage 1's gain and the power after it.
    if (first != nullptr)
    {
        Stretch& s = *first;
        const size_t count = lengthOf<Length>(s);
        for (size_t i = 0; i < count; ++i)
            s.gain1[i] = sv::fastDbToAmplitude(-s.reduction1[i]);
        for (size_t i = 0; i < count; ++i)
            s.stage1Power[i] = s.gain1[i] * s.gain1[i] * s.power[i];
    }

    // Stage 2's level and static curve.
    if (second != nullptr)
    {
        Stretch& s = *second;
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
    // update that came before the second stretch, which must follow the third's statistics.
    Work gain2;
    if (third != nullptr)
    {
        Stretch& s = *third;
        const size_t count = lengthOf<Length>(s);
        for (size_t i = 0; i < count; ++i)
            gain2[i] = sv::fastDbToAmplitude(-s.reduction2[i]);
        // Only samples above the statistics floor count; a stretch without any (a pause: a third
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
        finishStretch<Length>(*third, gain2.data(), channels, listen);
}

// The recursive parts: stage 1 of the first stretch, stage 2's smoothers of the second and its
// dual release of the third. They are written as c y + (1 - c) x, with both candidates of an
// attack/release choice computed before the choice; their loop-carried chains are what bounds
// the speed here, so when all three stretches are the same length they share one loop.
void Compressor::runRecursions(Stretch* first, Stretch* second, Stretch* third) noexcept
{
    // Stage 1: envelope, running level, overshoot over the level, hold and smoothing.
    // (Absent stretches are stood in for by any stretch: their loops do not run.)
    const Stretch& a = first != nullptr ? *first : stretches[0];
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

    // Everything after the envelope and the running level.
    const auto reduce = [&](size_t i)
    {
        // Overshoot through the fixed 3 dB knee: (o + 1.5)^2 / 6 inside it, o above, 0 below.
        const float over = envelope - (margin + std::max(threshold1, level));
        const float intoKnee =
            std::min(std::max(over, -stage1HalfKneeDb), stage1HalfKneeDb) + stage1HalfKneeDb;
        float reduction =
            slope * (intoKnee * intoKnee * (1.0f / 6.0f) + std::max(over - stage1HalfKneeDb, 0.0f));

        // Hold a reduction for the look-ahead, so a peak is still caught when it leaves the line.
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

        const float attacked = attackKeep * smoothed + attackTake * reduction;
        const float released = releaseKeep * smoothed + releaseTake * reduction;
        smoothed = reduction > smoothed ? attacked : released;
        const float r1 = smoothed * k1;
        reduction1[i] = r1;
        peak1 = std::max(peak1, r1);
    };
    // Instant attack, release towards the peak: the larger of the two is the right one. The
    // running level is not known (below -150) until the envelope first comes within reach of
    // stage 1; from then on it follows values above followAbove, so it never goes back below.
    const auto stage1 = [&](size_t i)
    {
        const float p = peakDb[i];
        envelope = std::max(p, peakKeep * envelope + peakTake * p);
        if (envelope > followAbove)
            level = envelope + (envelope > level ? levelRise : levelFall) * (level - envelope);
        reduce(i);
    };

    // Stage 2: power after stage 1 through two 4 ms smoothers.
    const float* stage1Power = second != nullptr ? second->stage1Power.data() : nullptr;
    float* smoothedPower = second != nullptr ? second->levelDb.data() : nullptr;
    const float keep = powerSmoothing, take = 1.0f - powerSmoothing;
    float s1 = power1, s2 = power2;
    const auto smooth = [&](size_t i)
    {
        s1 = keep * s1 + take * stage1Power[i];
        s2 = keep * s2 + take * s1;
        smoothedPower[i] = s2;
    };

    // Stage 2: dual release of the static curve's reduction.
    const Stretch& c = third != nullptr ? *third : stretches[0];
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
        const float fastUp = fastAttack * fast + fastAttackTake * z;
        const float fastDown = fastReleaseKeep * fast + fastReleaseTake * z;
        const float slowUp = slowAttackKeep * slow + slowAttackTake * z;
        const float slowDown = slowReleaseKeep * slow + slowReleaseTake * z;
        fast = z > fast ? fastUp : fastDown;
        slow = z > slow ? slowUp : slowDown;
        const float r2 = std::max(fast, slowWeight * slow) * k2;
        reduction2[i] = r2;
        peak2 = std::max(peak2, r2);
    };

    const size_t count1 = first != nullptr ? static_cast<size_t>(first->count) : 0;
    const size_t count2 = second != nullptr ? static_cast<size_t>(second->count) : 0;
    const size_t count3 = third != nullptr ? static_cast<size_t>(third->count) : 0;
    size_t known = 0;
    for (; known < count1 && level < -150.0f; ++known)
    {
        const float p = peakDb[known];
        envelope = std::max(p, peakKeep * envelope + peakTake * p);
        if (envelope > followAbove)
            level = envelope;
        reduce(known);
    }

    // Stage 1 rests through a stretch where the envelope stays clear below the knee: it is never
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
        envelope = std::max(peakDb[i], peakKeep * envelope + peakTake * peakDb[i]);
        if (envelope > followAbove)
            level = envelope + (envelope > level ? levelRise : levelFall) * (level - envelope);
        smoothed = releaseKeep * smoothed;
        const float r1 = smoothed * k1;
        reduction1[i] = r1;
        peak1 = std::max(peak1, r1);
    };

    // The dual release rests too where the static curve asks for nothing over the whole stretch
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
        const float r2 = std::max(fast, slowWeight * slow) * k2;
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

// The make-up's statistics over one stretch: the input power, what the real and the static
// stage 2 made of it, and the level histogram of the power after stage 1. The terms in loops that
// vectorise; then the sums in double, in order, with the histogram bin being filled kept in a
// register while the level stays in it.
template <typename Length> void Compressor::addStatistics(const Stretch& s, const float* gain2) noexcept
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
void Compressor::finishStretch(Stretch& s, const float* gain2, float* const* channels,
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
