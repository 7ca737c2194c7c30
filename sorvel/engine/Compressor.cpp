#include "sorvel/engine/Compressor.h"

#include "sorvel/engine/CompressorSteps.h"
#include "sorvel/engine/Latency.h"
#include "common/dsp/ClampSetting.h"
#include "common/dsp/FastMath.h"
#include "common/dsp/Lanes.h"
#include "common/dsp/OnePole.h"

#include <algorithm>
#include <cmath>
#include <limits>

// One oversampled sample of the compressor, in order (the steps are in CompressorSteps.h, the
// loops that run them over chunks in CompressorKernel.cpp):
//  1. the peak level P of the channels (dB, floored at -180 dB);
//  2. stage 1: the peak envelope, the running level, the reduction for the overshoot over
//     max(threshold, level) through the 3 dB knee, held for the look-ahead, then smoothed (an
//     attack within the look-ahead, the character's release); its gain g1 = 10^(-D1 k / 20);
//  3. the look-ahead: the sample L samples old, y, and p = the mean of the channels' y^2;
//  4. stage 2: g1^2 p through the two 4 ms smoothers, its level, the static curve's reduction,
//     the dual release (fast and slow followers), its gain g2 = 10^(-D2 k / 20);
//  5. the statistics behind the make-up (samples above -60 dB only);
//  6. the total gain g1 g2 m, the "Hard" saturator, the mix with y; listen = output - y.
// At every control update (64 samples) the character and the amount glide, the derived values
// follow, the statistics decay and, every fourth update, the make-up is estimated again.
namespace eng::vocal
{

using namespace comp;

namespace
{

inline float releaseCoefficient(float ms, double rate) noexcept
{
    return static_cast<float>(sv::onePoleCoefficient(ms * 0.001, rate));
}

} // namespace

void Compressor::prepare(double hostSampleRate, int numChannels)
{
    rate = 2.0 * hostSampleRate;
    channelCount = std::clamp(numChannels, 1, maxChannels);
    lookahead = 2 * compLookaheadSamples(hostSampleRate);

    lookaheadLine.prepare(channelCount, lookahead, controlInterval);

    peakRelease = static_cast<float>(sv::onePoleCoefficient(0.060, rate));
    levelRise = static_cast<float>(sv::onePoleCoefficient(0.600, rate));
    levelFall = static_cast<float>(sv::onePoleCoefficient(0.300, rate));
    stage1Attack =
        static_cast<float>(sv::onePoleCoefficientForSamples(lookahead, 5.0)); // down within the look-ahead
    powerSmoothing = static_cast<float>(sv::onePoleCoefficient(0.004, rate));
    fastAttack = static_cast<float>(sv::onePoleCoefficient(0.010, rate));

    const double controlRate = hostSampleRate / 32.0;
    characterGlide = static_cast<float>(sv::onePoleCoefficient(0.020, controlRate));
    amountGlide = static_cast<float>(sv::onePoleCoefficient(0.030, controlRate));
    makeupGlide = static_cast<float>(sv::onePoleCoefficient(0.040, controlRate));
    statisticsDecay = sv::onePoleCoefficient(6.0, rate, controlInterval); // 6 s, once per update

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

void Compressor::set(const Settings& settings) noexcept
{
    const float mix = sv::clampSetting(settings.mix, 0.0f, 1.0f);
    targetRow = rows[static_cast<size_t>(sv::clampChoice(settings.character, 3))];
    targetAmount = sv::clampSetting(settings.amount, 0.0f, 10.0f);

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

void Compressor::controlStatistics(const Chunk& s) noexcept
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

void Compressor::estimateMakeup(const Chunk& s) noexcept
{
    // What the static stage-2 curve of the chunk's control period would make of the recent
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
    const float* from[maxChannels] = {in[0] + offset, in[channelCount - 1] + offset};
    float* to[maxChannels] = {out[0].data(), out[1].data()};
    lookaheadLine.process(from, to, n);
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

} // namespace eng::vocal
