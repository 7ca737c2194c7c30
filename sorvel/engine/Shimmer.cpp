#include "Shimmer.h"

#include "common/dsp/OnePole.h"
#include "sorvel/engine/Tanh7.h"

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
// Level gate of the taming: the harsh band at most 40 dB below the full signal, fully open from
// 30 dB below (as power ratios).
constexpr float gateRatioClosed = 1e-4f;
constexpr float gateRatioOpen = 1e-3f;
constexpr float powerFloor = 1e-20f;
// A reduction below this is no reduction: the taming stage stops and its bells rest.
constexpr float reductionRestDb = 1e-6f;
constexpr float dbToNeper = 0.11512925f; // ln 10 / 20

float coefficient(double seconds, double rate)
{
    return static_cast<float>(sv::onePoleCoefficient(seconds, rate));
}

// Power follower: attack when the new value is above the follower, release otherwise.
inline float follow(float state, float in, float attack, float release) noexcept
{
    return in + (in > state ? attack : release) * (state - in);
}

inline float smoothstep(float x) noexcept
{
    x = std::clamp(x, 0.0f, 1.0f);
    return x * x * (3.0f - 2.0f * x);
}

inline md::RunningSection runningFrom(const md::Section& s) noexcept
{
    md::RunningSection r;
    r.setCoefficients(s);
    return r;
}

// One sample through a running section, rounded to single precision as between sections.
inline float step(md::RunningSection& s, float x) noexcept
{
    return static_cast<float>(s.processSample(x));
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
    md::design(d, md::highPass, 3, rate, essLowHz, 0.0, butterworthQ);
    essBand[0] = runningFrom(d.sections[0]);
    essBand[1] = runningFrom(d.sections[1]);
    md::design(d, md::lowPass, 3, rate, essHighHz, 0.0, butterworthQ);
    essBand[2] = runningFrom(d.sections[0]);
    essBand[3] = runningFrom(d.sections[1]);

    const double centreHz = row[7];
    harshBands[0] = runningFrom(md::designBandPass(rate, centreHz, harshQ));
    harshBands[1] = runningFrom(md::designBandPass(rate, 0.5 * centreHz, harshQ));
    harshBands[2] = runningFrom(md::designBandPass(rate, std::min(2.0 * centreHz, 0.4 * rate), harshQ));

    const md::Section bellBand = md::designBandPass(rate, centreHz, row[8]);
    for (auto& b : bell)
        b = runningFrom(bellBand);

    if (hasSparkle)
    {
        md::design(d, md::highPass, 1, rate, row[3], 0.0, butterworthQ);
        const md::Section bandHigh = d.sections[0];
        const md::Section bandLow = md::designLowPass2(rate, row[4], butterworthQ);
        md::design(d, md::highPass, 3, rate, row[4], 0.0, butterworthQ);
        const md::Section harmonicsHigh1 = d.sections[0];
        const md::Section harmonicsHigh2 = d.sections[1];
        const md::Section harmonicsLow = md::designLowPass2(rate, row[5], butterworthQ);
        for (auto& f : sparkleFilters)
        {
            f[0] = runningFrom(bandHigh);
            f[1] = runningFrom(bandLow);
            f[2] = runningFrom(harmonicsHigh1);
            f[3] = runningFrom(harmonicsHigh2);
            f[4] = runningFrom(harmonicsLow);
        }
    }

    clearState();
}

void ShimmerCore::clearState() noexcept
{
    samplesToControl = 0;

    shelf = shelfTarget = md::Section{};
    shelfStep = md::Section{0.0, 0.0, 0.0, 0.0, 0.0};
    shelfGlideLeft = 0;
    shelfOn = false;
    designedGainDb = 0.0;
    displayDb = 0.0f;
    shelfS1.fill(0.0);
    shelfS2.fill(0.0);

    for (auto& s : essBand)
        s.clearState();
    essBandPower = essFullPower = 0.0f;
    easing = easingPeak = 0.0f;

    for (auto& s : harshBands)
        s.clearState();
    centrePower = lowPower = highPower = fullPower = 0.0f;
    reductionDb = 0.0f;
    taming = false;
    for (auto& s : bell)
        s.clearState();

    clearSparkle();
    sparkleScale = sparkleScaleStep = sparkleScaleTarget = 0.0f;
    sparkleScaleLeft = 0;
    sparkling = false;
}

void ShimmerCore::clearSparkle() noexcept
{
    for (auto& f : sparkleFilters)
        for (auto& s : f)
            s.clearState();
    sparkleBandPower = sparkleMonoPower = bandReference = monoReference = 0.0f;
}

bool ShimmerCore::isBusy() const noexcept
{
    return shelfOn || shelfGlideLeft > 0 || reductionDb > 0.0f || sparkling;
}

void ShimmerCore::controlUpdate(float amount) noexcept
{
    samplesToControl = controlInterval;

    // Shelf: eased by the loudest easing of the interval just gone.
    const double gainDb = (amount / 10.0) * row[2] * (1.0 - easingDepth * easingPeak);
    easingPeak = 0.0f;

    bool redesigned = false;
    if (gainDb < 0.001)
    {
        if (shelfOn)
        {
            shelfTarget = md::Section{};
            shelfOn = false;
            designedGainDb = 0.0;
            displayDb = 0.0f;
            redesigned = true;
        }
    }
    else if (std::abs(gainDb - designedGainDb) >= 0.005)
    {
        shelfTarget = md::designHighShelf(rate, row[0], gainDb, row[1]);
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
        const double inv = 1.0 / controlInterval;
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
        if (channelCount == 2)
            processChunk<2>(io, n, amount, deessTrace, traceStart + done, w, meter);
        else
            processChunk<1>(io, n, amount, deessTrace, traceStart + done, w, meter);
        samplesToControl -= n;
        done += n;
    }
}

template <int Channels>
void ShimmerCore::processChunk(float* const* io, int n, float amount, const float* trace, int traceStart,
                               const float* weights, ShimmerMeter& meter) noexcept
{
    // Mono and full-band power of the input: what the ess and harshness measurements hear.
    if constexpr (Channels == 2)
    {
        const float* left = io[0];
        const float* right = io[1];
        for (int i = 0; i < n; ++i)
        {
            monoBuf[static_cast<size_t>(i)] = 0.5f * (left[i] + right[i]);
            fullBuf[static_cast<size_t>(i)] = 0.5f * (left[i] * left[i] + right[i] * right[i]);
        }
    }
    else
    {
        const float* x = io[0];
        for (int i = 0; i < n; ++i)
        {
            monoBuf[static_cast<size_t>(i)] = x[i];
            fullBuf[static_cast<size_t>(i)] = x[i] * x[i];
        }
    }

    measureEss(monoBuf.data(), n, amount, trace, traceStart);
    runShelf<Channels>(io, n);
    tame<Channels>(io, monoBuf.data(), fullBuf.data(), n, amount, weights, meter);

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

void ShimmerCore::measureEss(const float* mono, int n, float amount, const float* trace, int traceStart) noexcept
{
    // The ess band: four sections run side by side per sample, which hides their latency.
    float band[controlInterval];
    {
        md::RunningSection h1 = essBand[0], h2 = essBand[1], l1 = essBand[2], l2 = essBand[3];
        for (int i = 0; i < n; ++i)
            band[i] = step(l2, step(l1, step(h2, step(h1, mono[i]))));
        essBand = {h1, h2, l1, l2};
    }

    float fb = essBandPower, fm = essFullPower, f = easing, peak = easingPeak;
    const bool enabled = amount > 0.0f;
    for (int i = 0; i < n; ++i)
    {
        fb = follow(fb, band[i] * band[i], essAttack, essRelease);
        fm = follow(fm, mono[i] * mono[i], essAttack, essRelease);
        float e = 0.0f;
        if (enabled)
        {
            // Only a ratio inside the window needs its logarithm.
            const float ratio = fb / (fm + powerFloor);
            if (ratio >= essRatioFull)
                e = 1.0f;
            else if (ratio > essRatioNone)
                e = smoothstep((10.0f * std::log10(ratio) - essWindowLowDb) / essWindowWidthDb);
            if (trace != nullptr)
                e = std::max(e, std::clamp(trace[(traceStart + i) >> 1], 0.0f, 1.0f));
        }
        f = follow(f, e, easeAttack, easeRelease);
        peak = std::max(peak, f);
        easingBuf[static_cast<size_t>(i)] = f;
    }
    essBandPower = fb;
    essFullPower = fm;
    easing = f;
    easingPeak = peak;
}

template <int Channels> void ShimmerCore::runShelf(float* const* io, int n) noexcept
{
    if (!shelfOn && shelfGlideLeft == 0)
        return;

    double z1[static_cast<size_t>(Channels)], z2[static_cast<size_t>(Channels)];
    for (int c = 0; c < Channels; ++c)
    {
        z1[c] = shelfS1[static_cast<size_t>(c)];
        z2[c] = shelfS2[static_cast<size_t>(c)];
    }

    if (shelfGlideLeft == 0)
    {
        const double b0 = shelf.b0, b1 = shelf.b1, b2 = shelf.b2, a1 = shelf.a1, a2 = shelf.a2;
        for (int i = 0; i < n; ++i)
            for (int c = 0; c < Channels; ++c)
            {
                const double x = io[c][i];
                const double y = b0 * x + z1[c];
                z1[c] = b1 * x - a1 * y + z2[c];
                z2[c] = b2 * x - a2 * y;
                io[c][i] = static_cast<float>(y);
            }
    }
    else
    {
        md::Section k = shelf;
        int left = shelfGlideLeft;
        for (int i = 0; i < n; ++i)
        {
            if (left > 0)
            {
                if (--left == 0)
                    k = shelfTarget;
                else
                {
                    k.b0 += shelfStep.b0;
                    k.b1 += shelfStep.b1;
                    k.b2 += shelfStep.b2;
                    k.a1 += shelfStep.a1;
                    k.a2 += shelfStep.a2;
                }
            }
            for (int c = 0; c < Channels; ++c)
            {
                const double x = io[c][i];
                const double y = k.b0 * x + z1[c];
                z1[c] = k.b1 * x - k.a1 * y + z2[c];
                z2[c] = k.b2 * x - k.a2 * y;
                io[c][i] = static_cast<float>(y);
            }
        }
        shelf = k;
        shelfGlideLeft = left;
    }

    if (!shelfOn && shelfGlideLeft == 0)
    {
        // Off and at rest: the identity section, with nothing left in it.
        shelfS1.fill(0.0);
        shelfS2.fill(0.0);
        return;
    }
    for (int c = 0; c < Channels; ++c)
    {
        shelfS1[static_cast<size_t>(c)] = z1[c];
        shelfS2[static_cast<size_t>(c)] = z2[c];
    }
}

template <int Channels>
void ShimmerCore::tame(float* const* io, const float* mono, const float* fullIn, int n, float amount,
                       const float* weights, ShimmerMeter& meter) noexcept
{
    // The measurement always runs, so a turn to negative amounts starts from current levels.
    float centre[controlInterval], low[controlInterval], high[controlInterval], full[controlInterval];
    {
        md::RunningSection bc = harshBands[0], bl = harshBands[1], bh = harshBands[2];
        float pc = centrePower, pl = lowPower, ph = highPower, pf = fullPower;
        for (int i = 0; i < n; ++i)
        {
            const float m = mono[i];
            const float yc = step(bc, m), yl = step(bl, m), yh = step(bh, m);
            pc = follow(pc, yc * yc, powerAttack, powerRelease);
            pl = follow(pl, yl * yl, powerAttack, powerRelease);
            ph = follow(ph, yh * yh, powerAttack, powerRelease);
            pf = follow(pf, fullIn[i], powerAttack, powerRelease);
            centre[i] = pc;
            low[i] = pl;
            high[i] = ph;
            full[i] = pf;
        }
        harshBands = {bc, bl, bh};
        centrePower = pc;
        lowPower = pl;
        highPower = ph;
        fullPower = pf;
    }

    if (amount >= 0.0f && reductionDb <= 0.0f)
    {
        taming = false;
        return;
    }
    if (!taming)
        for (auto& b : bell)
            b.clearState();
    taming = true;

    // Per sample: target, smoothed reduction and the bell's gain minus one (kept in `low`).
    const float depth = std::max(-amount, 0.0f) * harshnessScale;
    const float windowLowDb = row[9] - 0.5f * row[10];
    const float windowWidthDb = row[10];
    // Peakiness window as power ratios centre^2 / (low x high): 10^(2 dB / 10) at both ends.
    const double peakNone = std::pow(10.0, 0.2 * windowLowDb);
    const double peakFull = std::pow(10.0, 0.2 * (windowLowDb + windowWidthDb));
    float g = reductionDb, peak = meter.tamingPeakDb;
    for (int i = 0; i < n; ++i)
    {
        float target = 0.0f;
        if (depth > 0.0f)
        {
            const float pc = std::max(centre[i], powerFloor);
            const float gateRatio = pc / std::max(full[i], powerFloor);
            float s2 = 0.0f;
            if (gateRatio >= gateRatioOpen)
                s2 = 1.0f;
            else if (gateRatio > gateRatioClosed)
                s2 = smoothstep((10.0f * std::log10(gateRatio) + 40.0f) * 0.1f);
            if (s2 > 0.0f)
            {
                // Lc - (Llo + Lhi) / 2 in dB is 5 log10(Pc^2 / (Plo Phi)).
                const double pcd = pc;
                const double peakRatio = pcd * pcd / (static_cast<double>(std::max(low[i], powerFloor)) *
                                                      std::max(high[i], powerFloor));
                float s1 = 0.0f;
                if (peakRatio >= peakFull)
                    s1 = 1.0f;
                else if (peakRatio > peakNone)
                    s1 = smoothstep((static_cast<float>(5.0 * std::log10(peakRatio)) - windowLowDb) /
                                    windowWidthDb);
                target = depth * s1 * s2;
            }
        }
        g = follow(g, target, tameAttack, tameRelease);
        if (target <= 0.0f && g < reductionRestDb)
            g = 0.0f;
        peak = std::max(peak, weights != nullptr ? g * weights[i] : g);
        low[i] = g;
    }
    reductionDb = g;
    meter.tamingPeakDb = peak;

    for (int i = 0; i < n; ++i)
        low[i] = low[i] > 0.0f ? std::exp(-low[i] * dbToNeper) - 1.0f : 0.0f;

    // A dynamic bell cut: x + (gain - 1) bp(x).
    md::RunningSection b[static_cast<size_t>(Channels)];
    for (int c = 0; c < Channels; ++c)
        b[c] = bell[static_cast<size_t>(c)];
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < Channels; ++c)
        {
            const float x = io[c][i];
            io[c][i] = x + low[i] * step(b[c], x);
        }
    for (int c = 0; c < Channels; ++c)
        bell[static_cast<size_t>(c)] = b[c];

    if (reductionDb <= 0.0f)
        taming = false;
}

template <int Channels>
void ShimmerCore::sparkle(float* const* io, int n, const float* weights, ShimmerMeter& meter) noexcept
{
    std::array<md::RunningSection, 5> f[static_cast<size_t>(Channels)];
    for (int c = 0; c < Channels; ++c)
        f[c] = sparkleFilters[static_cast<size_t>(c)];
    float bp = sparkleBandPower, mp = sparkleMonoPower, bandRef = bandReference, monoRef = monoReference;
    float scale = sparkleScale;
    int left = sparkleScaleLeft;
    const float inverseChannels = 1.0f / Channels;
    double added = 0.0;

    for (int i = 0; i < n; ++i)
    {
        if (left > 0)
        {
            if (--left == 0)
                scale = sparkleScaleTarget;
            else
                scale += sparkleScaleStep;
        }

        float band[static_cast<size_t>(Channels)];
        float bandSum = 0.0f, monoSum = 0.0f;
        for (int c = 0; c < Channels; ++c)
        {
            const float x = io[c][i];
            band[c] = step(f[c][1], step(f[c][0], x));
            bandSum += band[c] * band[c];
            monoSum += x;
        }
        const float m = monoSum * inverseChannels;
        bp = bandSum * inverseChannels + sparkleTrack * (bp - bandSum * inverseChannels);
        mp = m * m + sparkleTrack * (mp - m * m);

        // Gated like a level meter: rise fast, fall slowly only while the signal is present.
        const bool gateOpen = mp > 0.001f * monoRef;
        if (mp > monoRef)
            monoRef = mp + refRise * (monoRef - mp);
        else if (gateOpen)
            monoRef = mp + refFall * (monoRef - mp);
        if (bp > bandRef)
            bandRef = bp + refRise * (bandRef - bp);
        else if (gateOpen)
            bandRef = bp + refFall * (bandRef - bp);

        const float rms = std::sqrt(bandRef);
        const float normalise = 0.25f / (rms + 1e-7f);
        const float level = rms * scale * sparkleGain * (1.0f - easingBuf[static_cast<size_t>(i)]);
        float power = 0.0f;
        for (int c = 0; c < Channels; ++c)
        {
            const float y = 4.0f * tanh7(std::clamp(band[c] * normalise, -4.97f, 4.97f));
            // Smooth rectifier: about |y| when large, y^2 near 0, so mostly the octave above.
            const float harmonics = std::sqrt(y * y + 0.25f) - 0.5f;
            const float s = level * step(f[c][4], step(f[c][3], step(f[c][2], harmonics)));
            io[c][i] += s;
            power += s * s;
        }
        power *= inverseChannels;
        added += weights != nullptr ? power * weights[i] : power;
    }

    for (int c = 0; c < Channels; ++c)
        sparkleFilters[static_cast<size_t>(c)] = f[c];
    sparkleBandPower = bp;
    sparkleMonoPower = mp;
    bandReference = bandRef;
    monoReference = monoRef;
    sparkleScale = scale;
    sparkleScaleLeft = left;
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
    active = 0;
    pending = -1;
    crossfading = false;
    initialised = false;
    amount = 0.0f;

    const int length = std::max(1, static_cast<int>(std::lround(crossfadeSeconds * doubledRate)));
    crossfade.setLength(length);
    crossfade.jumpTo(0.0f);
    fade.setLength(length);
    fade.jumpTo(1.0f);
    meter = {};
}

void Shimmer::set(float newAmount, int character, bool on) noexcept
{
    amount = std::isfinite(newAmount) ? std::clamp(newAmount, -10.0f, 10.0f) : 0.0f;
    character = std::clamp(character, 0, 2);

    if (!initialised)
    {
        initialised = true;
        crossfading = false;
        pending = -1;
        crossfade.jumpTo(0.0f);
        cores[static_cast<size_t>(active)].configure(character);
        fade.jumpTo(on ? 1.0f : 0.0f);
        return;
    }

    const bool wasOff = fade.getValue() <= 0.0f && !fade.isMoving();
    if (wasOff)
    {
        // Nothing is heard: take the character at once, and start a fade-in from clean states.
        crossfading = false;
        pending = -1;
        crossfade.jumpTo(0.0f);
        ShimmerCore& core = cores[static_cast<size_t>(active)];
        if (core.getCharacter() != character)
            core.configure(character);
        if (on)
            for (auto& c : cores)
                c.clearState();
        fade.setTarget(on ? 1.0f : 0.0f);
        return;
    }

    fade.setTarget(on ? 1.0f : 0.0f);
    if (crossfading)
        pending = character != getIncomingCharacter() ? character : -1;
    else if (character != getCharacter())
        startCrossfade(character);
}

void Shimmer::startCrossfade(int newCharacter) noexcept
{
    cores[static_cast<size_t>(1 - active)].configure(newCharacter);
    crossfade.restart(0.0f, 1.0f);
    crossfading = true;
    pending = -1;
}

void Shimmer::finishCrossfade() noexcept
{
    active = 1 - active;
    crossfading = false;
    const int next = pending;
    pending = -1;
    if (next >= 0 && next != getCharacter())
        startCrossfade(next);
}

bool Shimmer::isActive() const noexcept
{
    const bool live = fade.getValue() > 0.0f || fade.isMoving();
    return live && (amount != 0.0f || crossfading || cores[static_cast<size_t>(active)].isBusy());
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

        int n = std::min(numSamples - pos, chunk);
        if (crossfading)
            n = std::min(n, crossfade.getRemaining());

        float* io[ShimmerCore::maxChannels] = {channels[0] + pos, channels[channelCount > 1 ? 1 : 0] + pos};
        for (int c = 0; c < channelCount; ++c)
            std::memcpy(dry[static_cast<size_t>(c)].data(), io[c], bytes(n));

        const bool steady = !fade.isMoving() && fade.getValue() >= 1.0f;
        if (!steady)
            for (int i = 0; i < n; ++i)
                fadeBuf[static_cast<size_t>(i)] = fade.next();

        ShimmerCore& outgoing = cores[static_cast<size_t>(active)];
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
            float* in[ShimmerCore::maxChannels] = {incoming[0].data(), incoming[channelCount > 1 ? 1 : 0].data()};
            for (int c = 0; c < channelCount; ++c)
                std::memcpy(in[c], dry[static_cast<size_t>(c)].data(), bytes(n));

            outgoing.process(io, n, amount, deessTrace, pos, outgoingWeight.data(), meter);
            cores[static_cast<size_t>(1 - active)].process(in, n, amount, deessTrace, pos,
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
