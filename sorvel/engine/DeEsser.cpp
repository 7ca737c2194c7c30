#include "DeEsser.h"

#include "sorvel/engine/FilterDesign.h"
#include "sorvel/engine/Latency.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace eng::vocal
{

namespace
{
constexpr double sqrtHalf = 0.70710678118654752;

constexpr float dbPerUnit = 1.2f;
// The upper band is lowered by this much more than the reduction itself:
// G = 10^(-1.3 r / 20) = 2^(r * octavesPerReductionDb).
constexpr float upperBandFactor = 1.3f;
constexpr float octavesPerReductionDb = -upperBandFactor / 20.0f * 3.32192809489f;
// 10 log10(x) = dbPerOctave * log2(x).
constexpr float dbPerOctave = 3.01029995664f;

constexpr float gateFloorDb = -66.0f;
constexpr float gateWidthDb = 12.0f;

constexpr double bankLowHz = 4000.0;
constexpr double bankHighHz = 10000.0;
constexpr double bankQ = 4.3;
// Analysis gate: analysis band within 5 dB of the full band and above -60 dB (the level gate
// plus 6 dB). Compared as powers, so no logarithm is needed per sample.
constexpr float analysisRatio = 0.31622777f; // 10^(-5/10)
constexpr float analysisFloor = 1e-6f;       // 10^(-60/10)
constexpr double analysisWaitSeconds = 0.05;
constexpr unsigned analysisEvery = 32; // control updates

// The ess-frequency glide lands on its target once it is this close (octaves); float rounding
// would otherwise leave it a few ulps short for ever.
constexpr float glideSnapOctaves = 1e-6f;

// log2 of a positive normal float, to float precision; branch-free so that loops over a chunk
// vectorise (the library's log is a call per sample). The mantissa is taken to
// [sqrt(1/2), sqrt(2)) and log2(m) = 2 / ln 2 x atanh((m - 1) / (m + 1)) by its series.
inline float log2Positive(float x) noexcept
{
    constexpr std::int32_t sqrtHalfBits = 0x3f3504f3;
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const std::int32_t offset = static_cast<std::int32_t>(bits) - sqrtHalfBits;
    const std::int32_t exponent = offset >> 23;
    bits = static_cast<std::uint32_t>((offset & 0x7fffff) + sqrtHalfBits);
    float m;
    std::memcpy(&m, &bits, sizeof m);
    const float t = (m - 1.0f) / (m + 1.0f), t2 = t * t;
    return static_cast<float>(exponent) +
           t * (2.8853900818f +
                t2 * (0.9617966939f + t2 * (0.5770780164f + t2 * (0.4121985831f + t2 * 0.3205988979f))));
}

// 2^x for x <= 0 (clamped to [-126, 0]), within 1e-7 relative; branch-free like log2Positive.
inline float exp2NonPositive(float x) noexcept
{
    x = std::min(std::max(x, -126.0f), 0.0f);
    const int whole = static_cast<int>(x - 0.5f); // rounds to nearest for x <= 0
    const float f = (x - static_cast<float>(whole)) * 0.69314718056f;
    // e^f by its Taylor series to f^7 (|f| <= ln 2 / 2).
    float p = 1.0f / 5040.0f;
    for (const float c : {1.0f / 720.0f, 1.0f / 120.0f, 1.0f / 24.0f, 1.0f / 6.0f, 0.5f, 1.0f, 1.0f})
        p = c + f * p;
    const auto bits = static_cast<std::uint32_t>(whole + 127) << 23;
    float scale;
    std::memcpy(&scale, &bits, sizeof scale);
    return p * scale;
}

// One step of a power or level follower: attack coefficient while the input is above the
// follower, release otherwise.
inline float follow(float follower, float input, float attack, float release) noexcept
{
    return input + (input > follower ? attack : release) * (follower - input);
}

float clampFloat(float x, float lo, float hi)
{
    return std::min(std::max(x, lo), hi);
}

float releaseCoefficient(float releaseMs, double sampleRate)
{
    return releaseMs > 0.0f ? static_cast<float>(std::exp(-1.0 / (releaseMs * 0.001 * sampleRate))) : 0.0f;
}
} // namespace

void DeEsser::prepare(double rate, int channelCount)
{
    sampleRate = rate;
    numChannels = std::clamp(channelCount, 1, 2);
    lookahead = deEssLookaheadSamples(sampleRate);

    int lineLength = 1;
    while (lineLength < lookahead + 6)
        lineLength *= 2;
    for (auto& line : lines)
        line.assign(static_cast<size_t>(lineLength), 0.0f);
    lineMask = lineLength - 1;
    writePos = 0;

    followerAttack = static_cast<float>(std::exp(-1.0 / (0.0005 * sampleRate)));
    reductionAttack = static_cast<float>(std::exp(-1.0 / (0.00035 * sampleRate)));
    charGlide = static_cast<float>(std::exp(-1.0 / (sampleRate / controlInterval * 0.010)));
    freqGlide = static_cast<float>(std::exp(-1.0 / (sampleRate / controlInterval * 0.25)));
    bankAveraging = 1.0 - std::exp(-1.0 / (0.6 * sampleRate));
    secondsPerSample = 1.0 / sampleRate;

    const double analysisHz = std::min(4000.0, 0.45 * sampleRate);
    sv::setHighPass(analysisHighPass1, sampleRate, analysisHz, sqrtHalf);
    sv::setHighPass(analysisHighPass2, sampleRate, analysisHz, sqrtHalf);
    for (int k = 0; k < bankSize; ++k)
    {
        const auto i = static_cast<size_t>(k);
        bank.centreHz[i] = bankLowHz * std::pow(bankHighHz / bankLowHz, k / 8.0);
        const md::Section s = md::designBandPass(sampleRate, bank.centreHz[i], bankQ);
        bank.b0[i] = s.b0;
        bank.b1[i] = s.b1;
        bank.b2[i] = s.b2;
        bank.a1[i] = s.a1;
        bank.a2[i] = s.a2;
    }
    bank.energy.fill(0.0);
    openSeconds = 0.0;
    controlCount = 0;
    samplesToControl = 0;

    essHz = targetHz = initialEssHz;
    autoMode = true;
    lastSplitHz = -1.0f;
    chars = tune::deessChars;
    current = target = chars[1];
    deriveCharacterValues();

    ramp.setLength(static_cast<int>(std::lround(0.020 * sampleRate)));
    ramp.jumpTo(0.0f);
    amountDb = 0.0f;
    initialised = false;

    clearFiltersAndFollowers();
    resetMeters();
}

void DeEsser::deriveCharacterValues() noexcept
{
    release = releaseCoefficient(current.releaseMs, sampleRate);
    kneeLowDb = current.thresholdDb - 0.5f * current.kneeDb;
    kneeInvWidth = 1.0f / std::max(current.kneeDb, 0.5f);
}

void DeEsser::clearFiltersAndFollowers() noexcept
{
    crossover.s1First.fill(0.0f);
    crossover.s2First.fill(0.0f);
    crossover.s1Second.fill(0.0f);
    crossover.s2Second.fill(0.0f);
    sidechain1.clear();
    sidechain2.clear();
    analysisHighPass1.clear();
    analysisHighPass2.clear();
    bank.s1.fill(0.0);
    bank.s2.fill(0.0);
    upperPower = fullPower = reductionDb = 0.0f;
    analysisPower = analysisFullPower = 0.0f;
}

void DeEsser::set(float amount, int character, float freqHz) noexcept
{
    const float units = amount > 0.0f ? std::min(amount, 10.0f) : 0.0f; // NaN counts as 0
    amountDb = units * dbPerUnit;
    target = chars[static_cast<size_t>(std::clamp(character, 0, 2))];
    autoMode = !(freqHz >= autoBelowHz);
    if (!autoMode)
        targetHz = clampFloat(freqHz, 3000.0f, 12000.0f);
    const float onTarget = units > 0.0f ? 1.0f : 0.0f;

    if (!initialised)
    {
        current = target;
        deriveCharacterValues();
        essHz = targetHz;
        ramp.jumpTo(onTarget);
        updateSplit(true);
        initialised = true;
        return;
    }

    if (onTarget > 0.0f && isOff())
        clearFiltersAndFollowers();
    ramp.setTarget(onTarget);
}

void DeEsser::updateSplit(bool force) noexcept
{
    const float split = clampFloat(essHz * splitRatio, 2000.0f, static_cast<float>(0.4 * sampleRate));
    if (!force && std::abs(split / lastSplitHz - 1.0f) < 0.003f)
        return;
    const double designHz = std::min(static_cast<double>(split), 0.45 * sampleRate);
    sv::Biquad lowPass, highPass;
    sv::setLowPass(lowPass, sampleRate, designHz, sqrtHalf);
    sv::setHighPass(highPass, sampleRate, designHz, sqrtHalf);
    // Coefficients only: the running states carry on under the new design.
    const auto take = [](sv::Biquad& dst, const sv::Biquad& src)
    {
        dst.b0 = src.b0;
        dst.b1 = src.b1;
        dst.b2 = src.b2;
        dst.a1 = src.a1;
        dst.a2 = src.a2;
    };
    for (size_t lane = 0; lane < Crossover::lanes; ++lane)
    {
        const sv::Biquad& section = lane % 2 == 0 ? lowPass : highPass;
        crossover.b0[lane] = section.b0;
        crossover.b1[lane] = section.b1;
        crossover.b2[lane] = section.b2;
        crossover.a1[lane] = section.a1;
        crossover.a2[lane] = section.a2;
    }
    take(sidechain1, highPass);
    take(sidechain2, highPass);
    lastSplitHz = split;
}

float DeEsser::takePeakReductionDb() noexcept
{
    const float peak = peakReductionDb;
    peakReductionDb = 0.0f;
    return peak;
}

bool DeEsser::takeEssFlag() noexcept
{
    const bool flag = essFlag;
    essFlag = false;
    return flag;
}

void DeEsser::resetMeters() noexcept
{
    peakReductionDb = 0.0f;
    essFlag = false;
}

void DeEsser::controlUpdate() noexcept
{
    current.thresholdDb = target.thresholdDb + charGlide * (current.thresholdDb - target.thresholdDb);
    current.kneeDb = target.kneeDb + charGlide * (current.kneeDb - target.kneeDb);
    current.releaseMs = target.releaseMs + charGlide * (current.releaseMs - target.releaseMs);
    deriveCharacterValues();

    ++controlCount;
    if (autoMode && openSeconds > analysisWaitSeconds && controlCount % analysisEvery == 0)
        analyse();

    if (essHz != targetHz)
    {
        const float targetOctaves = std::log2(targetHz);
        const float offset = freqGlide * (std::log2(essHz) - targetOctaves);
        essHz = std::abs(offset) < glideSnapOctaves ? targetHz : std::exp2(targetOctaves + offset);
    }
    updateSplit(false);
    samplesToControl = controlInterval;
}

void DeEsser::analyse() noexcept
{
    // Energy per Hz: a constant-Q band widens with its centre.
    std::array<double, bankSize> perHz{};
    int best = 0;
    for (int k = 0; k < bankSize; ++k)
    {
        const auto i = static_cast<size_t>(k);
        perHz[i] = bank.energy[i] / bank.centreHz[i];
        if (perHz[i] > perHz[static_cast<size_t>(best)])
            best = k;
    }
    const auto b = static_cast<size_t>(best);
    if (perHz[b] <= 1e-24)
        return;

    double offset = 0.0;
    if (best > 0 && best < bankSize - 1)
    {
        const double below = 10.0 * std::log10(perHz[b - 1] + 1e-30);
        const double centre = 10.0 * std::log10(perHz[b] + 1e-30);
        const double above = 10.0 * std::log10(perHz[b + 1] + 1e-30);
        const double curvature = below - 2.0 * centre + above;
        if (curvature < -1e-6)
            offset = std::clamp(0.5 * (below - above) / curvature, -0.5, 0.5);
    }
    targetHz = static_cast<float>(bankLowHz * std::pow(bankHighHz / bankLowHz, (best + offset) / 8.0));
}

void DeEsser::process(float* const* channels, int n, float* detectionTrace, float* const* listen) noexcept
{
    int done = 0;
    while (done < n)
    {
        if (isOff())
        {
            delayOnly(channels, done, n - done, detectionTrace, listen);
            return;
        }
        if (samplesToControl <= 0)
            controlUpdate();
        int chunk = std::min(n - done, samplesToControl);
        // A ramp on its way out ends a chunk where it reaches 0, so that the rest is delay only
        // wherever the piece boundaries fall.
        if (ramp.isMoving() && ramp.getTarget() <= 0.0f)
            chunk = std::min(chunk, ramp.getRemaining());
        processChunk(channels, done, chunk, detectionTrace, listen);
        samplesToControl -= chunk;
        done += chunk;
    }
}

void DeEsser::delayOnly(float* const* channels, int start, int n, float* detectionTrace,
                        float* const* listen) noexcept
{
    const int lineLength = lineMask + 1;
    for (int c = 0; c < numChannels; ++c)
    {
        float* x = channels[c] + start;
        float* line = lines[static_cast<size_t>(c)].data();
        for (int i = 0; i < n; ++i)
        {
            line[(writePos + i) & lineMask] = x[i];
            x[i] = line[(writePos + i + lineLength - lookahead) & lineMask];
        }
        if (listen != nullptr)
            std::fill(listen[c] + start, listen[c] + start + n, 0.0f);
    }
    writePos = (writePos + n) & lineMask;
    if (detectionTrace != nullptr)
        std::fill(detectionTrace + start, detectionTrace + start + n, 0.0f);
}

void DeEsser::processChunk(float* const* channels, int start, int n, float* detectionTrace,
                           float* const* listen) noexcept
{
    // n <= controlInterval: a chunk never crosses a control update.
    float mono[controlInterval];
    float upper[controlInterval];
    float full[controlInterval];
    float detection[controlInterval];
    float gain[controlInterval];
    float rampValue[controlInterval];
    float high[2][controlInterval];

    if (numChannels == 2)
    {
        const float* left = channels[0] + start;
        const float* right = channels[1] + start;
        for (int i = 0; i < n; ++i)
            mono[i] = 0.5f * (left[i] + right[i]);
    }
    else
    {
        std::copy(channels[0] + start, channels[0] + start + n, mono);
    }

    // Sidechain: the ess band above the split, and both powers followed.
    {
        sv::Biquad hp1 = sidechain1, hp2 = sidechain2;
        float u = upperPower, v = fullPower;
        const float attack = followerAttack, rel = release;
        for (int i = 0; i < n; ++i)
        {
            const float s = mono[i];
            const float h = hp2.process(hp1.process(s));
            const float hh = h * h, ss = s * s;
            u = follow(u, hh, attack, rel);
            v = follow(v, ss, attack, rel);
            upper[i] = u;
            full[i] = v;
        }
        sidechain1 = hp1;
        sidechain2 = hp2;
        upperPower = u;
        fullPower = v;
    }

    // Detection: smoothstep of the knee (upper band over full band) times smoothstep of the gate.
    for (int i = 0; i < n; ++i)
    {
        const float upperDb = dbPerOctave * log2Positive(std::max(upper[i], 1e-20f));
        const float fullDb = dbPerOctave * log2Positive(std::max(full[i], 1e-20f));
        const float k = clampFloat((upperDb - fullDb - kneeLowDb) * kneeInvWidth, 0.0f, 1.0f);
        const float g = clampFloat((upperDb - gateFloorDb) * (1.0f / gateWidthDb), 0.0f, 1.0f);
        detection[i] = g * g * (3.0f - 2.0f * g) * k * k * (3.0f - 2.0f * k);
    }

    // Reduction: fast attack, the character's release. In Auto mode it runs inside the analysis
    // loop, where the band-passes leave room for its serial chain.
    float r = reductionDb, peak = peakReductionDb;
    bool ess = essFlag;
    const float reductionAtt = reductionAttack, rel = release, scale = amountDb;
    const auto reduce = [&](int i)
    {
        r = follow(r, detection[i] * scale, reductionAtt, rel);
        peak = std::max(peak, r);
        ess |= detection[i] > 0.5f;
        gain[i] = r;
    };

    if (autoMode)
    {
        sv::Biquad hp1 = analysisHighPass1, hp2 = analysisHighPass2;
        float ua = analysisPower, va = analysisFullPower;
        const float attack = followerAttack;
        const double averaging = bankAveraging;
        double open = openSeconds;
        for (int i = 0; i < n; ++i)
        {
            reduce(i);

            const float s = mono[i];
            const float a = hp2.process(hp1.process(s));
            ua = follow(ua, a * a, attack, rel);
            va = follow(va, s * s, attack, rel);

            // The band-passes always run so their states stay current; energies only grow while
            // the gate is open.
            const double x = s;
            std::array<double, bankSize> y;
            for (size_t k = 0; k < bankSize; ++k)
            {
                y[k] = bank.b0[k] * x + bank.s1[k];
                bank.s1[k] = bank.b1[k] * x - bank.a1[k] * y[k] + bank.s2[k];
                bank.s2[k] = bank.b2[k] * x - bank.a2[k] * y[k];
            }
            if (ua > analysisFloor && ua > analysisRatio * va)
            {
                for (size_t k = 0; k < bankSize; ++k)
                    bank.energy[k] += averaging * (y[k] * y[k] - bank.energy[k]);
                open += secondsPerSample;
            }
        }
        analysisHighPass1 = hp1;
        analysisHighPass2 = hp2;
        analysisPower = ua;
        analysisFullPower = va;
        openSeconds = open;
    }
    else
    {
        for (int i = 0; i < n; ++i)
            reduce(i);
    }
    reductionDb = r;
    peakReductionDb = peak;
    essFlag = ess;

    // Upper-band gain 10^(-1.3 r / 20).
    for (int i = 0; i < n; ++i)
        gain[i] = exp2NonPositive(gain[i] * octavesPerReductionDb);

    if (ramp.isMoving())
    {
        for (int i = 0; i < n; ++i)
            rampValue[i] = ramp.next();
    }
    else
    {
        std::fill(rampValue, rampValue + n, ramp.getValue());
    }
    if (detectionTrace != nullptr)
        for (int i = 0; i < n; ++i)
            detectionTrace[start + i] = detection[i] * rampValue[i];

    // The delayed channels through the crossover, all four lanes at once. A mono module feeds the
    // right lanes silence.
    float delayed[2][controlInterval];
    float low[2][controlInterval];
    {
        Crossover xo = crossover;
        const int lineLength = lineMask + 1;
        const int read = writePos + lineLength - lookahead;
        float* lineLeft = lines[0].data();
        float* lineRight = lines[1].data();
        const float* left = channels[0] + start;
        const float* right = numChannels == 2 ? channels[1] + start : nullptr;
        for (int i = 0; i < n; ++i)
        {
            lineLeft[(writePos + i) & lineMask] = left[i];
            const float dl = lineLeft[(read + i) & lineMask];
            float dr = 0.0f;
            if (right != nullptr)
            {
                lineRight[(writePos + i) & lineMask] = right[i];
                dr = lineRight[(read + i) & lineMask];
            }
            const float in[Crossover::lanes] = {dl, dl, dr, dr};
            float out[Crossover::lanes];
            for (size_t k = 0; k < Crossover::lanes; ++k)
            {
                const float y = xo.b0[k] * in[k] + xo.s1First[k];
                xo.s1First[k] = xo.b1[k] * in[k] - xo.a1[k] * y + xo.s2First[k];
                xo.s2First[k] = xo.b2[k] * in[k] - xo.a2[k] * y;
                out[k] = xo.b0[k] * y + xo.s1Second[k];
                xo.s1Second[k] = xo.b1[k] * y - xo.a1[k] * out[k] + xo.s2Second[k];
                xo.s2Second[k] = xo.b2[k] * y - xo.a2[k] * out[k];
            }
            delayed[0][i] = dl;
            delayed[1][i] = dr;
            low[0][i] = out[0];
            high[0][i] = out[1];
            low[1][i] = out[2];
            high[1][i] = out[3];
        }
        crossover = xo;
    }

    for (int c = 0; c < numChannels; ++c)
    {
        float* x = channels[c] + start;
        const float* d = delayed[c];
        const float* lo = low[c];
        const float* hi = high[c];
        for (int i = 0; i < n; ++i)
            x[i] = d[i] + rampValue[i] * (lo[i] + gain[i] * hi[i] - d[i]);
        if (listen != nullptr)
        {
            float* out = listen[c] + start;
            for (int i = 0; i < n; ++i)
                out[i] = (1.0f - gain[i]) * rampValue[i] * hi[i];
        }
    }
    writePos = (writePos + n) & lineMask;
}

} // namespace eng::vocal
