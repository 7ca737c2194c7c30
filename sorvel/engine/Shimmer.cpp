#include "sorvel/engine/Shimmer.h"

#include "sorvel/engine/primitives/Tanh7.h"
#include "common/dsp/ClampSetting.h"
#include "common/dsp/FastMath.h"
#include "common/dsp/Lanes.h"
#include "common/dsp/OnePole.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace eng::vocal
{

namespace
{

constexpr double butterworthQ = 0.70710678118654752;
constexpr double crossfadeSeconds = 0.020;
constexpr double displayHz = 12000.0;
constexpr double essLowHz = 5000.0;
constexpr double essHighHz = 10000.0;
constexpr double harshQ = 2.0;

constexpr float easingDepth = 0.8f;
// Ess ratio window: no easing at -15 dB, full easing from -6 dB (10^-1.5 and 10^-0.6 as powers).
constexpr float essWindowLowDb = -15.0f;
constexpr float essWindowWidthDb = 9.0f;
constexpr float essRatioNone = 0.031622777f;
constexpr float essRatioFull = 0.25118864f;
constexpr float harshnessScale = 1.2f;
constexpr float powerFloor = 1e-20f;
// A reduction below this is no reduction: the taming stage stops and its bells rest.
constexpr float reductionRestDb = 1e-6f;

float coefficient(double seconds, double rate)
{
    return static_cast<float>(sv::onePoleCoefficient(seconds, rate));
}

// Power follower: in + (in > state ? attack : release) x (state - in). The attack coefficient
// is never above the release one (a shorter time), so the step taken is always the larger of the
// two candidates: above the follower (state - in < 0) the attack one, otherwise the release one,
// exactly, as rounding keeps that order. A maximum instead of a compare keeps the loops free of
// branches that the signal would keep mispredicting.
inline float follow(float state, float in, float attack, float release) noexcept
{
    const float difference = state - in;
    return std::max(in + attack * difference, in + release * difference);
}

// Two power followers with the same times side by side: each step the same value as follow(),
// both candidates computed and the right one selected in one vector register, which leaves the
// recursion shorter than a maximum does and has no branch. Audio thread (ShimmerCore's).
struct FollowerPair
{
#if defined(__GNUC__)
    using Levels = sv::Float2;

    Levels state, attack, release;

    FollowerPair(float first, float second, float attackCoefficient, float releaseCoefficient) noexcept
        : state{first, second}, attack{attackCoefficient, attackCoefficient}, release{releaseCoefficient,
                                                                                      releaseCoefficient}
    {
    }

    void step(float first, float second) noexcept
    {
        const Levels in{first, second};
        const Levels difference = state - in;
        const Levels attacked = in + attack * difference, released = in + release * difference;
        state = in > state ? attacked : released;
    }

    float first() const noexcept
    {
        return state[0];
    }
    float second() const noexcept
    {
        return state[1];
    }
    // Both values, to to[0] and to[1].
    void store(float* to) const noexcept
    {
        std::memcpy(to, &state, 2 * sizeof(float));
    }
#else
    float a, b, attack, release;

    FollowerPair(float first, float second, float attackCoefficient, float releaseCoefficient) noexcept
        : a(first), b(second), attack(attackCoefficient), release(releaseCoefficient)
    {
    }

    void step(float first, float second) noexcept
    {
        a = follow(a, first, attack, release);
        b = follow(b, second, attack, release);
    }

    float first() const noexcept
    {
        return a;
    }
    float second() const noexcept
    {
        return b;
    }
    void store(float* to) const noexcept
    {
        to[0] = a;
        to[1] = b;
    }
#endif
};

// Smoothstep of x clamped to 0..1. The clamp is written with fabs so that loops using it
// vectorise (to the vectoriser a compare-and-select of floats is control flow).
inline float smoothstep(float x) noexcept
{
    const float low = 0.5f * (x + std::fabs(x));
    const float fromTop = 1.0f - low;
    const float v = 1.0f - 0.5f * (fromTop + std::fabs(fromTop));
    return v * v * (3.0f - 2.0f * v);
}

// 10 log10 of a power, floored at 1e-20 first.
inline float powerDb(float power) noexcept
{
    return sv::fastPowerToDb(std::max(power, powerFloor));
}

} // namespace

float ShimmerMeter::sparkleDb() const noexcept
{
    if (samples <= 0)
        return -120.0f;
    const double mean = std::max(sparklePower / samples, 1e-20);
    return std::max(static_cast<float>(10.0 * std::log10(mean)), -120.0f);
}

float ShimmerMeter::liftDb() const noexcept
{
    return samples > 0 ? static_cast<float>(liftSumDb / samples) : 0.0f;
}

// ---------------------------------------------------------------------------------------------
// ShimmerCore

void ShimmerCore::prepare(double sampleRate, int channels) noexcept
{
    rate = sampleRate > 0.0 ? sampleRate : 96000.0;
    channelCount = std::clamp(channels, 1, maxChannels);

    powerAttack = coefficient(0.002, rate);
    powerRelease = coefficient(0.060, rate);
    tameAttack = coefficient(0.002, rate);
    tameRelease = coefficient(0.080, rate);
    essAttack = coefficient(0.001, rate);
    essRelease = coefficient(0.040, rate);
    easeAttack = coefficient(0.001, rate);
    easeRelease = coefficient(0.060, rate);
    sparkleTrack = coefficient(0.005, rate);
    refRise = coefficient(0.015, rate);
    refFall = coefficient(0.400, rate);

    configure(character);
}

void ShimmerCore::configure(int newCharacter) noexcept
{
    character = std::clamp(newCharacter, 0, 2);
    row = tune::shimmerChars[static_cast<size_t>(character)];
    hasSparkle = row[6] > -100.0f;
    sparkleGain = hasSparkle ? static_cast<float>(std::pow(10.0, row[6] / 20.0) / 0.345) : 0.0f;

    md::Design d;
    md::design(d, md::lowPass, 3, rate, essHighHz, 0.0, butterworthQ);
    essFirst.setLane(0, d.sections[0]);
    essSecond.setLane(0, d.sections[1]);
    md::design(d, md::highPass, 3, rate, essLowHz, 0.0, butterworthQ);
    essFirst.setLane(1, d.sections[0]);
    essSecond.setLane(1, d.sections[1]);

    const double centreHz = row[7];
    harshCentreLow.setLane(0, md::designBandPass(rate, centreHz, harshQ));
    harshCentreLow.setLane(1, md::designBandPass(rate, 0.5 * centreHz, harshQ));
    harshHigh.setLane(0, md::designBandPass(rate, std::min(2.0 * centreHz, 0.4 * rate), harshQ));
    harshHigh.setLane(1, md::Section{});

    const md::Section bellBand = md::designBandPass(rate, centreHz, row[8]);
    bell.setLane(0, bellBand);
    bell.setLane(1, bellBand);

    if (hasSparkle)
    {
        md::design(d, md::highPass, 1, rate, row[3], 0.0, butterworthQ);
        const md::Section bandHigh = d.sections[0];
        const md::Section bandLow = md::designLowPass2(rate, row[4], butterworthQ);
        md::design(d, md::highPass, 3, rate, row[4], 0.0, butterworthQ);
        const md::Section sections[5] = {bandHigh, bandLow, d.sections[0], d.sections[1],
                                         md::designLowPass2(rate, row[5], butterworthQ)};
        for (size_t k = 0; k < 5; ++k)
        {
            sparkleFilters[k].setLane(0, sections[k]);
            sparkleFilters[k].setLane(1, sections[k]);
        }
    }

    clearState();
}

void ShimmerCore::clearState() noexcept
{
    samplesToControl = 0;
    resting = false;

    shelf = shelfTarget = Pair{};
    shelfStep = Pair{};
    shelfStep.b0 = Lanes{0.0, 0.0};
    shelfGlideLeft = 0;
    shelfOn = false;
    designedGainDb = 0.0;
    displayDb = 0.0f;

    essFirst.clearState();
    essSecond.clearState();
    essFirstOut = essSecondOut = Lanes{0.0, 0.0};
    essBandPower = essFullPower = 0.0f;
    easing = easingPeak = 0.0f;

    harshCentreLow.clearState();
    harshHigh.clearState();
    bell.clearState();
    centrePower = lowPower = highPower = fullPower = 0.0f;
    reductionDb = 0.0f;
    taming = measuring = false;

    clearSparkle();
    sparkleScale = sparkleScaleStep = sparkleScaleTarget = 0.0f;
    sparkleScaleLeft = 0;
    sparkling = false;
}

void ShimmerCore::clearSparkle() noexcept
{
    for (auto& f : sparkleFilters)
        f.clearState();
    sparkleBandPower = sparkleMonoPower = bandReference = monoReference = 0.0f;
}

bool ShimmerCore::isBusy() const noexcept
{
    return shelfOn || shelfGlideLeft > 0 || reductionDb > 0.0f || sparkling;
}

void ShimmerCore::controlUpdate(float amount) noexcept
{
    // Work resumes after a rest from clean states, as after switching on.
    if (resting && amount != 0.0f)
        clearState();
    samplesToControl = controlInterval;

    // Shelf: eased by the loudest easing of the interval just gone.
    const double gainDb = (amount / 10.0) * row[2] * (1.0 - easingDepth * easingPeak);
    easingPeak = 0.0f;

    bool redesigned = false;
    if (gainDb < 0.001)
    {
        if (shelfOn)
        {
            shelfTarget = Pair{};
            shelfOn = false;
            designedGainDb = 0.0;
            displayDb = 0.0f;
            redesigned = true;
        }
    }
    else if (std::abs(gainDb - designedGainDb) >= 0.005)
    {
        const md::Section design = md::designHighShelf(rate, row[0], gainDb, row[1]);
        shelfTarget.setLane(0, design);
        shelfTarget.setLane(1, design);
        shelfOn = true;
        designedGainDb = gainDb;

        const double A = std::pow(10.0, gainDb / 40.0);
        const double W2 = (displayHz / row[0]) * (displayHz / row[0]);
        const double cross = A * W2 / (static_cast<double>(row[1]) * row[1]);
        const double num = A * A * ((1.0 - A * W2) * (1.0 - A * W2) + cross);
        const double den = (A - W2) * (A - W2) + cross;
        displayDb = static_cast<float>(10.0 * std::log10(num / den));
        redesigned = true;
    }
    if (redesigned)
    {
        // Coefficients glide to the new design over the next interval instead of jumping.
        const Lanes inv{1.0 / controlInterval, 1.0 / controlInterval};
        shelfStep.b0 = (shelfTarget.b0 - shelf.b0) * inv;
        shelfStep.b1 = (shelfTarget.b1 - shelf.b1) * inv;
        shelfStep.b2 = (shelfTarget.b2 - shelf.b2) * inv;
        shelfStep.a1 = (shelfTarget.a1 - shelf.a1) * inv;
        shelfStep.a2 = (shelfTarget.a2 - shelf.a2) * inv;
        shelfGlideLeft = controlInterval;
    }

    // Sparkle scale follows amount / 10 over the interval, so amount steps do not click.
    sparkleScaleTarget = hasSparkle && amount > 0.0f ? amount / 10.0f : 0.0f;
    if (sparkleScaleTarget != sparkleScale)
    {
        sparkleScaleStep = (sparkleScaleTarget - sparkleScale) / static_cast<float>(controlInterval);
        sparkleScaleLeft = controlInterval;
    }
    else
        sparkleScaleLeft = 0;

    // Amount 0 with nothing left moving: the input passes untouched until the next update, and
    // the measurements rest with it.
    resting = amount == 0.0f && !isBusy();
}

void ShimmerCore::process(float* const* channels, int numSamples, float amount, const float* deessTrace,
                          int traceStart, const float* weights, ShimmerMeter& meter) noexcept
{
    int done = 0;
    while (done < numSamples)
    {
        if (samplesToControl <= 0)
            controlUpdate(amount);
        const int n = std::min(numSamples - done, samplesToControl);
        float* io[maxChannels] = {channels[0] + done, channels[channelCount > 1 ? 1 : 0] + done};
        const float* w = weights != nullptr ? weights + done : nullptr;
        if (!resting) // resting, the input passes untouched
        {
            if (channelCount == 2)
                processChunk<2>(io, n, amount, deessTrace, traceStart + done, w, meter);
            else
                processChunk<1>(io, n, amount, deessTrace, traceStart + done, w, meter);
        }
        samplesToControl -= n;
        done += n;
    }
}

template <int Channels>
void ShimmerCore::processChunk(float* const* io, int n, float amount, const float* trace, int traceStart,
                               const float* weights, ShimmerMeter& meter) noexcept
{
    // The mono input: what the ess and harshness measurements hear.
    if constexpr (Channels == 2)
    {
        const float* left = io[0];
        const float* right = io[1];
        for (int i = 0; i < n; ++i)
            monoBuf[static_cast<size_t>(i)] = 0.5f * (left[i] + right[i]);
    }
    else
        std::memcpy(monoBuf.data(), io[0], static_cast<size_t>(n) * sizeof(float));

    // Both measurements hear the input; the taming cuts for negative amounts, the shelf lifts for
    // positive ones (each only lets go while the other comes in). The taming goes first: the
    // shelf hears its output, the ess measurement only the mono input. The de-esser's detection
    // counts only while the easing is enabled.
    if (amount < 0.0f || reductionDb > 0.0f)
        tame<Channels>(io, monoBuf.data(), n, amount, weights, meter);
    const bool traced = amount > 0.0f && trace != nullptr;
    const float* hostTrace = traced ? trace : noTrace.data();
    const int tracePosition = traced ? traceStart : 0;
    if (shelfOn || shelfGlideLeft > 0)
        measureEssAndRunShelf<Channels, true>(io, monoBuf.data(), n, amount, hostTrace, tracePosition);
    else
        measureEssAndRunShelf<Channels, false>(io, monoBuf.data(), n, amount, hostTrace, tracePosition);

    if (hasSparkle && (sparkleScale > 0.0f || sparkleScaleLeft > 0 || sparkleScaleTarget > 0.0f))
    {
        if (!sparkling)
            clearSparkle();
        sparkling = true;
        sparkle<Channels>(io, n, weights, meter);
        sparkling = sparkleScale > 0.0f || sparkleScaleLeft > 0;
    }

    if (displayDb != 0.0f)
    {
        double weightSum = n;
        if (weights != nullptr)
        {
            weightSum = 0.0;
            for (int i = 0; i < n; ++i)
                weightSum += weights[i];
        }
        meter.liftSumDb += displayDb * weightSum;
    }
}

void ShimmerCore::easingTargets(int start, int n, float amount) noexcept
{
    float* targets = easingTargetBuf.data() + start;
    // Disabled, the follower follows 0.
    if (amount <= 0.0f)
    {
        std::fill(targets, targets + n, 0.0f);
        return;
    }

    // The ess ratio against its window: none below it, full above it, the smoothstep of its
    // level inside. Only a ratio inside the window needs its logarithm; many pieces have none,
    // so the logarithm is taken (for every sample, selected, so that the loop vectorises) only
    // in pieces that have one.
    const float* followed = essPowerBuf.data() + 2 * start;
    int inWindow = 0;
    for (int i = 0; i < n; ++i)
    {
        const float fb = followed[2 * i];
        const float reference = followed[2 * i + 1] + powerFloor;
        const bool full = fb >= essRatioFull * reference;
        inWindow |= static_cast<int>(fb > essRatioNone * reference && !full);
        targets[i] = full ? 1.0f : 0.0f;
    }
    if (inWindow != 0)
        for (int i = 0; i < n; ++i)
        {
            // The smoothstep's clamp gives 0 below the window and 1 above it.
            const float ratio = followed[2 * i] / (followed[2 * i + 1] + powerFloor);
            targets[i] = smoothstep((powerDb(ratio) - essWindowLowDb) * (1.0f / essWindowWidthDb));
        }
}

template <int Channels, bool WithShelf>
void ShimmerCore::measureEssAndRunShelf(float* const* io, const float* mono, int n, float amount,
                                        const float* trace, int traceStart) noexcept
{
    // Three recursions: the ess band with its power followers, the shelf, and the easing
    // follower. The easing's target comes from the followed powers without a recursion and is
    // worked out a sub-block at a time (vectorised), so the easing follows one sub-block behind,
    // in the loop of the next sub-block's band and shelf, and all three recursions overlap. Its
    // values are read only after the chunk (the peak, and the sparkle).
    constexpr int subBlock = 16;

    // The band: lane 0 the low-pass, lane 1 the high-pass; `second` takes what `first` gave the
    // sample before, and the low-pass what the high-pass's second section gave the sample before.
    // It stays in double between its sections: a detector signal that is never stored.
    Pair first = essFirst, second = essSecond;
    Lanes firstOut = essFirstOut, secondOut = essSecondOut;
    FollowerPair powers(essBandPower, essFullPower, essAttack, essRelease);
    float* followed = essPowerBuf.data();
    const auto measure = [&](int i)
    {
        const float m = mono[i];
        const Lanes in = Lanes{secondOut[1], m};
        secondOut = second.run(firstOut);
        firstOut = first.run(in);
        const auto b = static_cast<float>(secondOut[0]);
        powers.step(b * b, m * m);
        powers.store(followed + 2 * i);
    };

    // The easing moves smoothly, so whether it attacks or releases changes seldom: a branch on
    // it is predicted and leaves the recursion shorter than selecting between both steps does.
    // Each step is the value follow() gives.
    const float* targets = easingTargetBuf.data();
    float* easings = easingBuf.data();
    float f = easing;
    const float attack = easeAttack, release = easeRelease;
    float peak = easingPeak;
    const auto followEasing = [&](int i)
    {
        // With the de-esser's detection: one value per host sample, two doubled samples each.
        const float in = std::max(targets[i], std::clamp(trace[(traceStart + i) >> 1], 0.0f, 1.0f));
        if (in > f)
            f = in + attack * (f - in);
        else
            f = in + release * (f - in);
        peak = std::max(peak, f);
        easings[i] = f;
    };

    // While the shelf's coefficients glide, one step before each sample; the last lands on the
    // target.
    Pair k = shelf;
    int glide = shelfGlideLeft;
    float* left = io[0];
    float* right = io[Channels - 1];
    const auto runShelf = [&](int i)
    {
        if constexpr (WithShelf)
        {
            if (glide > 0)
            {
                if (--glide == 0)
                {
                    k.b0 = shelfTarget.b0;
                    k.b1 = shelfTarget.b1;
                    k.b2 = shelfTarget.b2;
                    k.a1 = shelfTarget.a1;
                    k.a2 = shelfTarget.a2;
                }
                else
                {
                    k.b0 += shelfStep.b0;
                    k.b1 += shelfStep.b1;
                    k.b2 += shelfStep.b2;
                    k.a1 += shelfStep.a1;
                    k.a2 += shelfStep.a2;
                }
            }
            const Lanes y = k.run(Lanes{left[i], Channels == 2 ? right[i] : 0.0f});
            if constexpr (Channels == 2)
                md::detail::storeAsFloats(y, left[i], right[i]);
            else
                left[i] = static_cast<float>(y[0]);
        }
    };

    int lagging = 0, laggingLength = 0; // the sub-block whose easing is still to follow
    for (int start = 0; start < n; start += subBlock)
    {
        const int length = std::min(subBlock, n - start);
        const int together = std::min(length, laggingLength);
        for (int i = 0; i < together; ++i)
        {
            measure(start + i);
            runShelf(start + i);
            followEasing(lagging + i);
        }
        for (int i = together; i < length; ++i)
        {
            measure(start + i);
            runShelf(start + i);
        }
        for (int i = together; i < laggingLength; ++i)
            followEasing(lagging + i);
        easingTargets(start, length, amount);
        lagging = start;
        laggingLength = length;
    }
    for (int i = 0; i < laggingLength; ++i)
        followEasing(lagging + i);

    essFirst = first;
    essSecond = second;
    essFirstOut = firstOut;
    essSecondOut = secondOut;
    essBandPower = powers.first();
    essFullPower = powers.second();
    easing = f;
    easingPeak = peak;
    if constexpr (WithShelf)
    {
        shelf = k;
        shelfGlideLeft = glide;
        // Off and at rest: the identity section, with nothing left in it.
        if (!shelfOn && shelfGlideLeft == 0)
            shelf.clearState();
    }
}

template <int Channels>
void ShimmerCore::tame(float* const* io, const float* mono, int n, float amount, const float* weights,
                       ShimmerMeter& meter) noexcept
{
    const float depth = std::max(-amount, 0.0f) * harshnessScale;
    // The measurement runs only while there is something to tame; it starts from nothing, as
    // after a character change.
    if (depth > 0.0f && !measuring)
    {
        harshCentreLow.clearState();
        harshHigh.clearState();
        centrePower = lowPower = highPower = fullPower = 0.0f;
    }
    measuring = depth > 0.0f;
    if (!taming)
        bell.clearState();
    taming = true;

    float* left = io[0];
    float* right = io[Channels - 1];
    float* target = gainBuf.data();
    if (measuring)
    {
        // Band powers and the full-band power; the recurrences only, so they overlap.
        float* pcs = powerBuf[0].data();
        float* pls = powerBuf[1].data();
        float* phs = powerBuf[2].data();
        float* pfs = powerBuf[3].data();
        Pair centreLow = harshCentreLow, high = harshHigh;
        float pc = centrePower, pl = lowPower, ph = highPower, pf = fullPower;
        for (int i = 0; i < n; ++i)
        {
            const double m = mono[i];
            const Lanes y = centreLow.run(Lanes{m, m});
            const Lanes yh = high.run(Lanes{m, 0.0});
            const auto yc = static_cast<float>(y[0]), yl = static_cast<float>(y[1]);
            const auto yhi = static_cast<float>(yh[0]);
            const float full =
                Channels == 2 ? 0.5f * (left[i] * left[i] + right[i] * right[i]) : left[i] * left[i];
            pc = follow(pc, yc * yc, powerAttack, powerRelease);
            pl = follow(pl, yl * yl, powerAttack, powerRelease);
            ph = follow(ph, yhi * yhi, powerAttack, powerRelease);
            pf = follow(pf, full, powerAttack, powerRelease);
            pcs[i] = pc;
            pls[i] = pl;
            phs[i] = ph;
            pfs[i] = pf;
        }
        harshCentreLow = centreLow;
        harshHigh = high;
        centrePower = pc;
        lowPower = pl;
        highPower = ph;
        fullPower = pf;

        // Target reduction: peakiness (the centre band over its neighbours) times the level gate
        // (the band against the full signal). No recurrence here.
        const float windowLowDb = row[9] - 0.5f * row[10];
        const float windowWidthDb = row[10];
        for (int i = 0; i < n; ++i)
        {
            const float centreDb = powerDb(pcs[i]);
            const float s1 = smoothstep(
                (centreDb - 0.5f * (powerDb(pls[i]) + powerDb(phs[i])) - windowLowDb) / windowWidthDb);
            const float s2 = smoothstep((centreDb - powerDb(pfs[i]) + 40.0f) * 0.1f);
            target[i] = depth * s1 * s2;
        }
    }
    else
        std::fill(target, target + n, 0.0f);

    // The reduction follows its target; the bells cut x + (gain - 1) bp(x) per channel.
    Pair bells = bell;
    float g = reductionDb, peak = meter.tamingPeakDb;
    for (int i = 0; i < n; ++i)
    {
        g = follow(g, target[i], tameAttack, tameRelease);
        if (target[i] <= 0.0f && g < reductionRestDb)
            g = 0.0f; // a reduction this small is none, and the bells may come to rest
        peak = std::max(peak, weights != nullptr ? g * weights[i] : g);
        const float gainLessOne = sv::fastDbToAmplitude(-g) - 1.0f;
        const Lanes y = bells.run(Lanes{left[i], Channels == 2 ? right[i] : 0.0f});
        left[i] += gainLessOne * static_cast<float>(y[0]);
        if constexpr (Channels == 2)
            right[i] += gainLessOne * static_cast<float>(y[1]);
    }
    bell = bells;
    reductionDb = g;
    meter.tamingPeakDb = peak;

    if (reductionDb <= 0.0f && !measuring)
        taming = false;
}

template <int Channels>
void ShimmerCore::sparkle(float* const* io, int n, const float* weights, ShimmerMeter& meter) noexcept
{
    float* left = io[0];
    float* right = io[Channels - 1];
    constexpr float inverseChannels = 1.0f / Channels;
    // Three passes, so that each keeps its filter states in registers: the band with its power
    // references, the shaping (no recurrence, vectorised) and the harmonics' filters. Channel
    // values sit interleaved, two per sample.
    float* bands = shapeBuf.data();
    float* scales = scaleBuf.data();
    float* levels = gainBuf.data();
    {
        Pair high = sparkleFilters[0], low = sparkleFilters[1];
        float bp = sparkleBandPower, mp = sparkleMonoPower, bandRef = bandReference, monoRef = monoReference;
        float scale = sparkleScale;
        int glide = sparkleScaleLeft;
        for (int i = 0; i < n; ++i)
        {
            if (glide > 0)
            {
                if (--glide == 0)
                    scale = sparkleScaleTarget;
                else
                    scale += sparkleScaleStep;
            }

            // Band and harmonics stay in double between sections: signals that are never stored.
            const float xL = left[i];
            const float xR = Channels == 2 ? right[i] : 0.0f;
            const Lanes band = low.run(high.run(Lanes{xL, xR}));
            const auto bandL = static_cast<float>(band[0]);
            const float bandR = Channels == 2 ? static_cast<float>(band[1]) : 0.0f;
            const float m = (xL + xR) * inverseChannels;
            const float bandPower = (bandL * bandL + bandR * bandR) * inverseChannels;
            bp = bandPower + sparkleTrack * (bp - bandPower);
            mp = m * m + sparkleTrack * (mp - m * m);

            // Gated like a level meter: rise fast, fall slowly only while the signal is present.
            const bool gateOpen = mp > 0.001f * monoRef;
            const float monoNext = mp + (mp > monoRef ? refRise : refFall) * (monoRef - mp);
            monoRef = mp > monoRef || gateOpen ? monoNext : monoRef;
            const float bandNext = bp + (bp > bandRef ? refRise : refFall) * (bandRef - bp);
            bandRef = bp > bandRef || gateOpen ? bandNext : bandRef;

            const float rms = std::sqrt(bandRef);
            const float normalise = 0.25f / (rms + 1e-7f);
            bands[2 * i] = bandL;
            bands[2 * i + 1] = bandR;
            scales[2 * i] = scales[2 * i + 1] = normalise;
            levels[i] = rms * scale * sparkleGain * (1.0f - easingBuf[static_cast<size_t>(i)]);
        }
        sparkleFilters[0] = high;
        sparkleFilters[1] = low;
        sparkleBandPower = bp;
        sparkleMonoPower = mp;
        bandReference = bandRef;
        monoReference = monoRef;
        sparkleScale = scale;
        sparkleScaleLeft = glide;
    }

    // Normalised band, 4 tanh7 of it, then the smooth rectifier: about |y| when large, y^2 near 0,
    // so it makes even harmonics, mostly the octave above. The clamp to +-4.97 is written with
    // fabs, which vectorises.
    for (int j = 0; j < 2 * n; ++j)
    {
        const float v = bands[j] * scales[j];
        const float c = 0.5f * (std::fabs(v + 4.97f) - std::fabs(v - 4.97f));
        const float y = 4.0f * tanh7(c);
        bands[j] = std::sqrt(y * y + 0.25f) - 0.5f;
    }

    Pair high1 = sparkleFilters[2], high2 = sparkleFilters[3], low = sparkleFilters[4];
    double added = 0.0;
    for (int i = 0; i < n; ++i)
    {
        const Lanes out = low.run(high2.run(high1.run(Lanes{bands[2 * i], bands[2 * i + 1]})));
        const float sL = levels[i] * static_cast<float>(out[0]);
        left[i] += sL;
        float power = sL * sL;
        if constexpr (Channels == 2)
        {
            const float sR = levels[i] * static_cast<float>(out[1]);
            right[i] += sR;
            power = (power + sR * sR) * inverseChannels;
        }
        added += weights != nullptr ? power * weights[i] : power;
    }
    sparkleFilters[2] = high1;
    sparkleFilters[3] = high2;
    sparkleFilters[4] = low;
    meter.sparklePower += added;
}

// ---------------------------------------------------------------------------------------------
// Shimmer

void Shimmer::prepare(double doubledRate, int channels) noexcept
{
    channelCount = std::clamp(channels, 1, ShimmerCore::maxChannels);
    for (auto& core : cores)
    {
        core.prepare(doubledRate, channelCount);
        core.configure(0);
    }
    characters.reset(0);
    initialised = false;
    amount = 0.0f;

    const int length = std::max(1, static_cast<int>(std::lround(crossfadeSeconds * doubledRate)));
    crossfade.setLength(length);
    crossfade.jumpTo(0.0f);
    fade.setLength(length);
    fade.jumpTo(1.0f);
    meter = {};
}

void Shimmer::set(const Settings& settings) noexcept
{
    amount = sv::clampSetting(settings.amount, -10.0f, 10.0f, 0.0f);
    const int character = sv::clampChoice(settings.character, 3);
    const bool on = settings.on;

    if (!initialised)
    {
        initialised = true;
        characters.cancel();
        crossfade.jumpTo(0.0f);
        cores[static_cast<size_t>(characters.current())].configure(character);
        characters.setCurrent(character);
        fade.jumpTo(on ? 1.0f : 0.0f);
        return;
    }

    const bool wasOff = fade.getValue() <= 0.0f && !fade.isMoving();
    if (wasOff)
    {
        // Nothing is heard: take the character at once, and start a fade-in from clean states.
        characters.cancel();
        crossfade.jumpTo(0.0f);
        ShimmerCore& core = cores[static_cast<size_t>(characters.current())];
        if (core.getCharacter() != character)
            core.configure(character);
        characters.setCurrent(character);
        if (on)
            for (auto& c : cores)
                c.clearState();
        fade.setTarget(on ? 1.0f : 0.0f);
        return;
    }

    fade.setTarget(on ? 1.0f : 0.0f);
    // During a crossfade the character waits; a request for the one fading in cancels it.
    if (characters.request(character))
        startCrossfade();
}

void Shimmer::startCrossfade() noexcept
{
    cores[static_cast<size_t>(characters.current())].configure(characters.currentValue());
    crossfade.restart(0.0f, 1.0f);
}

void Shimmer::finishCrossfade() noexcept
{
    characters.finish();
    if (characters.takeUpWaiting())
        startCrossfade();
}

bool Shimmer::isActive() const noexcept
{
    const bool live = fade.getValue() > 0.0f || fade.isMoving();
    return live && (amount != 0.0f || characters.isFading() || activeCore().isBusy());
}

ShimmerMeter Shimmer::takeMeter() noexcept
{
    const ShimmerMeter taken = meter;
    meter = {};
    return taken;
}

void Shimmer::process(float* const* channels, float* const* listen, int numSamples,
                      const float* deessTrace) noexcept
{
    const auto bytes = [](int n) { return static_cast<size_t>(n) * sizeof(float); };
    int pos = 0;
    while (pos < numSamples)
    {
        if (fade.getValue() <= 0.0f && !fade.isMoving())
        {
            // Fully off: the input passes untouched and the cores rest.
            if (listen != nullptr)
                for (int c = 0; c < channelCount; ++c)
                    std::memset(listen[c] + pos, 0, bytes(numSamples - pos));
            return;
        }

        const bool crossfading = characters.isFading();
        int n = std::min(numSamples - pos, chunk);
        if (crossfading)
            n = std::min(n, crossfade.getRemaining());

        float* io[ShimmerCore::maxChannels] = {channels[0] + pos, channels[channelCount > 1 ? 1 : 0] + pos};
        const bool steady = !fade.isMoving() && fade.getValue() >= 1.0f;
        // The input is kept only where something is made from it: a crossfade, the on/off fade
        // or the listen signal.
        if (crossfading || !steady || listen != nullptr)
            for (int c = 0; c < channelCount; ++c)
                std::memcpy(dry[static_cast<size_t>(c)].data(), io[c], bytes(n));

        if (!steady)
            for (int i = 0; i < n; ++i)
                fadeBuf[static_cast<size_t>(i)] = fade.next();

        ShimmerCore& outgoing = activeCore();
        if (!crossfading)
            outgoing.process(io, n, amount, deessTrace, pos, steady ? nullptr : fadeBuf.data(), meter);
        else
        {
            for (int i = 0; i < n; ++i)
            {
                const float l = crossfade.next();
                const float f = steady ? 1.0f : fadeBuf[static_cast<size_t>(i)];
                mixBuf[static_cast<size_t>(i)] = l;
                incomingWeight[static_cast<size_t>(i)] = l * f;
                outgoingWeight[static_cast<size_t>(i)] = (1.0f - l) * f;
            }
            float* in[ShimmerCore::maxChannels] = {incoming[0].data(),
                                                   incoming[channelCount > 1 ? 1 : 0].data()};
            for (int c = 0; c < channelCount; ++c)
                std::memcpy(in[c], dry[static_cast<size_t>(c)].data(), bytes(n));

            outgoing.process(io, n, amount, deessTrace, pos, outgoingWeight.data(), meter);
            cores[static_cast<size_t>(characters.current())].process(in, n, amount, deessTrace, pos,
                                                                     incomingWeight.data(), meter);

            // Each core adds x + w (y - x); x is subtracted once: (1 - l) y_old + l y_new.
            for (int c = 0; c < channelCount; ++c)
            {
                const float* x = dry[static_cast<size_t>(c)].data();
                const float* yNew = in[c];
                float* y = io[c];
                for (int i = 0; i < n; ++i)
                {
                    const float l = mixBuf[static_cast<size_t>(i)];
                    y[i] = (x[i] + (1.0f - l) * (y[i] - x[i])) + (x[i] + l * (yNew[i] - x[i])) - x[i];
                }
            }
            if (crossfade.getRemaining() == 0)
                finishCrossfade();
        }

        if (!steady)
            for (int c = 0; c < channelCount; ++c)
            {
                const float* x = dry[static_cast<size_t>(c)].data();
                float* y = io[c];
                for (int i = 0; i < n; ++i)
                {
                    // At 1 the output is taken as is, so where a chunk ends never shows.
                    const float f = fadeBuf[static_cast<size_t>(i)];
                    y[i] = f >= 1.0f ? y[i] : x[i] + f * (y[i] - x[i]);
                }
            }

        if (listen != nullptr)
            for (int c = 0; c < channelCount; ++c)
            {
                const float* x = dry[static_cast<size_t>(c)].data();
                const float* y = io[c];
                float* out = listen[c] + pos;
                for (int i = 0; i < n; ++i)
                    out[i] = y[i] - x[i];
            }

        meter.samples += n;
        pos += n;
    }
}

} // namespace eng::vocal
