#include "Compressor.h"

#include "Latency.h"
#include "Tanh7.h"
#include "common/dsp/FastMath.h"
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
constexpr int makeupEvery = 4; // control updates per make-up estimate

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

void Compressor::controlUpdate() noexcept
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

    const double decay = statisticsDecay; // a local, so that the loop need not reload it
    for (auto& bin : histogram)
        bin *= decay;
    inputSum *= decay;
    realSum *= decay;
    staticSum *= decay;

    if (controlCount++ % makeupEvery == 0)
        estimateMakeup();

    // The target moves only with an estimate.
    if (makeupDb != makeupTargetDb)
    {
        makeupTargetDb = makeupDb;
        makeupTarget = static_cast<float>(std::pow(10.0, makeupDb / 20.0));
    }
    makeupGain = makeupTarget + makeupGlide * (makeupGain - makeupTarget);
}

void Compressor::estimateMakeup() noexcept
{
    // What the static stage-2 curve at the current settings would make of the recent levels:
    // the curve's power gain per bin (worked out again only when the curve moved; locals and an
    // int counter so that the loop vectorises), then the sum in double.
    const std::array<float, 5> curve{threshold2Db, knee2Db, halfOverKnee2, slope2, reductionScale};
    if (curve != binGainCurve)
    {
        binGainCurve = curve;
        const float threshold = threshold2Db, knee = knee2Db, halfOverKnee = halfOverKnee2, slope = slope2,
                    scale = reductionScale;
        for (int bin = 0; bin < histogramBins; ++bin)
        {
            const float overshoot = (static_cast<float>(bin) - 90.0f + 0.5f) - threshold;
            binGain[static_cast<size_t>(bin)] = -staticReduction(overshoot, knee, halfOverKnee, slope) * scale;
        }
        for (auto& g : binGain)
            g = sv::fastDbToPower(g);
    }
    std::array<double, histogramBins> binOutput;
    for (size_t bin = 0; bin < binGain.size(); ++bin)
        binOutput[bin] = histogram[bin] * static_cast<double>(binGain[bin]);
    double output = 0.0;
    for (const double term : binOutput)
        output += term;
    if (!(output > 1e-30 && inputSum > 1e-30))
        return;
    double ratio = inputSum / output;
    // Correct by how much the real, smoothed stage 2 took against the static curve.
    if (realSum > 1e-30 && staticSum > 1e-30)
        ratio *= std::clamp(realSum / staticSum, 0.25, 4.0);
    makeupDb = static_cast<float>(std::clamp(10.0 * std::log10(ratio), -6.0, 36.0));
}

void Compressor::lookaheadDelay(const float* const* in, int offset, int n) noexcept
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
        float* y = delayed[static_cast<size_t>(c)].data();
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
    for (int done = 0; done < n;)
    {
        const int count = std::min(controlInterval, n - done);
        lookaheadDelay(channels, offset + done, count);
        for (int c = 0; c < channelCount; ++c)
        {
            std::copy_n(delayed[static_cast<size_t>(c)].data(), count, channels[c] + offset + done);
            if (listen != nullptr)
                std::fill_n(listen[c] + offset + done, count, 0.0f);
        }
        done += count;
    }
}

void Compressor::process(float* const* channels, float* const* listen, int n) noexcept
{
    for (int done = 0; done < n;)
    {
        if (isIdle())
        {
            passThrough(channels, listen, done, n - done);
            return;
        }
        if (controlCountdown == 0)
        {
            controlUpdate(); // may have glided the amount down to 0, so look at idle again
            controlCountdown = controlInterval;
            continue;
        }
        const int count = std::min(n - done, controlCountdown);
        processSegment(channels, listen, done, count);
        controlCountdown -= count;
        done += count;
    }
}

// The make-up's statistics over one stretch: the input power, what the real and the static
// stage 2 made of it, and the level histogram of the power after stage 1. The terms in loops that
// vectorise; then the sums in double, in order, with the histogram bin being filled kept in a
// register while the level stays in it.
void Compressor::addStatistics(size_t count, const float* power, const float* stage1Power, const float* staticDb,
                               const float* gain2, const float* levelDb) noexcept
{
    const float k = reductionScale;
    Work staticGain, realTerm, staticTerm;
    std::array<int, controlInterval> bins;
    for (size_t i = 0; i < count; ++i)
        staticGain[i] = sv::fastDbToAmplitude(-staticDb[i] * k);
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

// One stretch between control updates. The recursive parts (envelopes, smoothers) run as short
// scalar loops; the logarithms, exponentials and the output run as loops over the whole stretch.
void Compressor::processSegment(float* const* channels, float* const* listen, int offset, int n) noexcept
{
    const auto count = static_cast<size_t>(n);
    const bool stereo = channelCount == 2;
    const float* left = channels[0] + offset;
    const float* right = channels[channelCount - 1] + offset;
    const float k = reductionScale;
    // Work arrays on the stack: the compiler then knows they share no memory with the channels.
    Work peakDb, power, reduction1, gain1, stage1Power, smoothedPower, levelDb, staticDb, reduction2, gain2,
        mixValues;

    // Peak level over the channels. Floor and logarithm are separate loops: fused, the compiler
    // branches around the logarithm of the floor and the loop no longer vectorises.
    for (size_t i = 0; i < count; ++i)
        peakDb[i] = std::max(std::max(std::abs(left[i]), std::abs(right[i])), peakFloor);
    for (size_t i = 0; i < count; ++i)
        peakDb[i] = sv::fastAmplitudeToDb(peakDb[i]);

    lookaheadDelay(channels, offset, n);
    const float* yl = delayed[0].data();
    const float* yr = delayed[stereo ? 1 : 0].data();
    if (stereo)
        for (size_t i = 0; i < count; ++i)
            power[i] = 0.5f * (yl[i] * yl[i] + yr[i] * yr[i]);
    else
        for (size_t i = 0; i < count; ++i)
            power[i] = yl[i] * yl[i];

    // The recursive loops below are written as c y + (1 - c) x, and with both candidates of an
    // attack/release choice computed before the choice: their loop-carried chains are what bounds
    // the speed here.

    // Stage 1: envelope, running level, overshoot over the level, hold and smoothing.
    float peak1 = peaks.stage1Db;
    {
        const float peakKeep = peakRelease, peakTake = 1.0f - peakRelease;
        const float attackKeep = stage1Attack, attackTake = 1.0f - stage1Attack;
        const float releaseKeep = stage1Release, releaseTake = 1.0f - stage1Release;
        float envelope = peakEnvelopeDb, level = runningLevelDb, held = heldReductionDb,
              smoothed = reduction1Db;
        int hold = holdCountdown;
        const float followAbove = threshold1Db - followWithinDb;
        const float margin = row[stage1MarginDb] + stage1HalfKneeDb;
        const float threshold = threshold1Db, slope = slope1;
        const int holdLength = lookahead;

        // Everything after the envelope and the running level.
        const auto reduce = [&](size_t i)
        {
            // Overshoot through the fixed 3 dB knee: (o + 1.5)^2 / 6 inside it, o above, 0 below.
            const float over = envelope - (margin + std::max(threshold, level));
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
            const float r1 = smoothed * k;
            reduction1[i] = r1;
            peak1 = std::max(peak1, r1);
        };

        // Instant attack, release towards the peak: the larger of the two is the right one. The
        // running level is not known (below -150) until the envelope first comes within reach of
        // stage 1; from then on it follows values above followAbove, so the question is settled
        // once per segment.
        size_t i = 0;
        for (; i < count && level < -150.0f; ++i)
        {
            const float p = peakDb[i];
            envelope = std::max(p, peakKeep * envelope + peakTake * p);
            if (envelope > followAbove)
                level = envelope;
            reduce(i);
        }
        for (; i < count; ++i)
        {
            const float p = peakDb[i];
            envelope = std::max(p, peakKeep * envelope + peakTake * p);
            if (envelope > followAbove)
                level = envelope + (envelope > level ? levelRise : levelFall) * (level - envelope);
            reduce(i);
        }
        peakEnvelopeDb = envelope;
        runningLevelDb = level;
        heldReductionDb = held;
        holdCountdown = hold;
        reduction1Db = smoothed;
    }
    for (size_t i = 0; i < count; ++i)
        gain1[i] = sv::fastDbToAmplitude(-reduction1[i]);

    // Stage 2: power after stage 1, two 4 ms smoothers, static curve, dual release.
    float peak2 = 0.0f;
    for (size_t i = 0; i < count; ++i)
        stage1Power[i] = gain1[i] * gain1[i] * power[i];
    {
        const float keep = powerSmoothing, take = 1.0f - powerSmoothing;
        float s1 = power1, s2 = power2;
        for (size_t i = 0; i < count; ++i)
        {
            s1 = keep * s1 + take * stage1Power[i];
            s2 = keep * s2 + take * s1;
            smoothedPower[i] = s2;
        }
        power1 = s1;
        power2 = s2;
    }
    for (size_t i = 0; i < count; ++i)
        smoothedPower[i] = std::max(smoothedPower[i], powerFloor);
    for (size_t i = 0; i < count; ++i)
        levelDb[i] = sv::fastPowerToDb(smoothedPower[i]);
    {
        // Locals, so the compiler need not fear that the writes change the curve.
        const float threshold = threshold2Db, knee = knee2Db, halfOverKnee = halfOverKnee2, slope = slope2;
        for (size_t i = 0; i < count; ++i)
            staticDb[i] = staticReduction(levelDb[i] - threshold, knee, halfOverKnee, slope);
    }
    {
        const float fastAttackTake = 1.0f - fastAttack, fastReleaseTake = 1.0f - fastRelease;
        const float slowAttackTake = 1.0f - slowAttack, slowReleaseTake = 1.0f - slowRelease;
        float fast = fastReductionDb, slow = slowReductionDb;
        float peak = peaks.stage2Db;
        for (size_t i = 0; i < count; ++i)
        {
            const float z = staticDb[i];
            const float fastUp = fastAttack * fast + fastAttackTake * z;
            const float fastDown = fastRelease * fast + fastReleaseTake * z;
            const float slowUp = slowAttack * slow + slowAttackTake * z;
            const float slowDown = slowRelease * slow + slowReleaseTake * z;
            fast = z > fast ? fastUp : fastDown;
            slow = z > slow ? slowUp : slowDown;
            const float r2 = std::max(fast, slowWeight * slow) * k;
            reduction2[i] = r2;
            peak = std::max(peak, r2);
        }
        peak2 = peak;
        fastReductionDb = fast;
        slowReductionDb = slow;
    }
    for (size_t i = 0; i < count; ++i)
        gain2[i] = sv::fastDbToAmplitude(-reduction2[i]);

    // Metering and statistics.
    peaks.stage1Db = peak1;
    peaks.stage2Db = peak2;

    // Only samples above the statistics floor count; a stretch without any (a pause: a third of
    // the time in speech) adds nothing.
    int counting = 0;
    for (size_t i = 0; i < count; ++i)
        counting += !(power[i] <= statisticsFloor);
    if (counting > 0)
        addStatistics(count, power.data(), stage1Power.data(), staticDb.data(), gain2.data(), levelDb.data());

    // Output: total gain, the "Hard" saturator, mix; listen is what all that changed.
    for (size_t i = 0; i < count; ++i)
        gain1[i] *= gain2[i] * makeupGain;
    if (mixRamp.isMoving())
        for (size_t i = 0; i < count; ++i)
            mixValues[i] = mixRamp.next();
    else
        std::fill_n(mixValues.data(), count, mixRamp.getValue());

    const bool saturate = drive > 0.001f;
    const float driveNow = drive;
    for (int c = 0; c < channelCount; ++c)
    {
        const float* y = delayed[static_cast<size_t>(c)].data();
        float* out = channels[c] + offset;
        if (saturate)
        {
            // Clamp and saturator in separate loops, for the same reason as the peak level's.
            Work driven;
            float* d = driven.data();
            for (size_t i = 0; i < count; ++i)
                d[i] = std::clamp(driveNow * (gain1[i] * y[i]), -saturationLimit, saturationLimit);
            for (size_t i = 0; i < count; ++i)
                d[i] = tanh7(d[i]) / driveNow;
            for (size_t i = 0; i < count; ++i)
                out[i] = y[i] + mixValues[i] * (d[i] - y[i]);
        }
        else
            for (size_t i = 0; i < count; ++i)
                out[i] = y[i] + mixValues[i] * (gain1[i] * y[i] - y[i]);
        if (listen != nullptr)
        {
            float* l = listen[c] + offset;
            for (size_t i = 0; i < count; ++i)
                l[i] = out[i] - y[i];
        }
    }
}

} // namespace eng::vocal
