#include "sorvel/engine/Shimmer.h"

#include "sorvel/engine/ShimmerSteps.h"

#include <algorithm>
#include <cstring>

// A shimmer core's kernel: the steps of ShimmerSteps.h over one chunk (up to a control
// interval): the ess measurement with the shelf, the harshness taming and the sparkle, each in
// one loop for its recursions and in loops that vectorise for the rest.
namespace eng::vocal
{

using namespace shimmer;

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
            target[i] = tamingTarget(depth, powerDb(pcs[i]), powerDb(pls[i]), powerDb(phs[i]),
                                     powerDb(pfs[i]), windowLowDb, windowWidthDb);
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

    // The harmonics of the normalised band (no recurrence: vectorised).
    for (int j = 0; j < 2 * n; ++j)
        bands[j] = sparkleHarmonic(bands[j] * scales[j]);

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

} // namespace eng::vocal
