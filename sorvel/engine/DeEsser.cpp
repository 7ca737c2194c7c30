#include "sorvel/engine/DeEsser.h"

#include "sorvel/engine/DeEsserSteps.h"
#include "sorvel/engine/Latency.h"
#include "sorvel/engine/primitives/FilterDesign.h"
#include "common/dsp/ClampSetting.h"
#include "common/dsp/FastMath.h"
#include "common/dsp/Lanes.h"
#include "common/dsp/OnePole.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

// One sample of the de-esser, in order (the steps are in DeEsserSteps.h, the loops that run them
// over a chunk in DeEsserKernel.cpp); s is the mono detector input:
//  1. the sidechain: s through the two high-passes at the split (the ess band above it);
//  2. the upper-band and full-band power followers (0.5 ms attack, the character's release);
//  3. their levels in dB, the knee (upper band over full band) and the level gate; the
//     detection is the smoothstep of each, multiplied;
//  4. the reduction follows detection x amount (0.35 ms attack, the release); its peak and the
//     ess flag are kept for the meters; the upper-band gain is G = 10^(-1.3 r / 20);
//  5. in Auto, the analysis band-passes run and, while their gate is open, average their energies;
//  6. the on/off ramp advances; the detection trace is detection x ramp;
//  7. per channel, the look-ahead's delayed sample through the crossover: x + ramp (low + G high -
//     x), and (1 - G) ramp high is what listening to the de-esser plays.
// At every control update (32 samples) the character values glide, the ess frequency glides (and
// in Auto is found again every 32nd update) and the crossover follows it.
namespace eng::vocal
{

using namespace deess;

namespace
{
constexpr double sqrtHalf = 0.70710678118654752;

constexpr double bankLowHz = 4000.0;
constexpr double bankHighHz = 10000.0;
constexpr double bankQ = 4.3;
constexpr double analysisWaitSeconds = 0.05;
constexpr unsigned analysisEvery = 32; // control updates

// The ess-frequency glide lands on its target once it is this close (octaves); float rounding
// would otherwise leave it a few ulps short for ever.
constexpr float glideSnapOctaves = 1e-6f;

float releaseCoefficient(float releaseMs, double sampleRate)
{
    return static_cast<float>(sv::onePoleCoefficient(releaseMs * 0.001, sampleRate));
}
} // namespace

void DeEsser::prepare(double rate, int channelCount)
{
    sampleRate = rate;
    numChannels = std::clamp(channelCount, 1, 2);
    lookahead = deEssLookaheadSamples(sampleRate);

    lookaheadLine.prepare(numChannels, lookahead, controlInterval);

    followerAttack = static_cast<float>(sv::onePoleCoefficient(0.0005, sampleRate));
    reductionAttack = static_cast<float>(sv::onePoleCoefficient(0.00035, sampleRate));
    charGlide = static_cast<float>(sv::onePoleCoefficient(0.010, sampleRate / controlInterval));
    freqGlide = static_cast<float>(sv::onePoleCoefficient(0.25, sampleRate / controlInterval));
    bankAveraging = 1.0 - sv::onePoleCoefficient(0.6, sampleRate);
    secondsPerSample = 1.0 / sampleRate;

    const double analysisHz = std::min(4000.0, 0.45 * sampleRate);
    sv::Biquad analysisHighPass;
    sv::setHighPass(analysisHighPass, sampleRate, analysisHz, sqrtHalf);
    setLane(FilterLanes::analysis, analysisHighPass);
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

float DeEsser::kneeShutRatioFor(float kneeLowDb) noexcept
{
    // 0.01 dB under the knee's corner: far beyond the error of the logarithms.
    return static_cast<float>(std::pow(10.0, (kneeLowDb - 0.01) / 10.0));
}

void DeEsser::deriveCharacterValues() noexcept
{
    release = releaseCoefficient(current.releaseMs, sampleRate);
    kneeLowDb = current.thresholdDb - 0.5f * current.kneeDb;
    kneeInvWidth = 1.0f / std::max(current.kneeDb, 0.5f);
    kneeShutRatio = kneeShutRatioFor(kneeLowDb);
}

void DeEsser::clearFiltersAndFollowers() noexcept
{
    filters.s1First.fill(0.0f);
    filters.s2First.fill(0.0f);
    filters.s1Second.fill(0.0f);
    filters.s2Second.fill(0.0f);
    bank.s1.fill(0.0);
    bank.s2.fill(0.0);
    powers.fill(0.0f);
    reductionDb = 0.0f;
}

void DeEsser::set(const Settings& settings) noexcept
{
    const float units = sv::clampSetting(settings.amount, 0.0f, 10.0f);
    amountDb = units * dbPerUnit;
    target = chars[static_cast<size_t>(sv::clampChoice(settings.character, 3))];
    autoMode = !(settings.freqHz >= autoBelowHz);
    if (!autoMode)
        targetHz = sv::clampSetting(settings.freqHz, 3000.0f, 12000.0f);
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
    for (size_t lane = 0; lane < 4; ++lane)
        setLane(lane, lane % 2 == 0 ? lowPass : highPass);
    setLane(FilterLanes::sidechain, highPass);
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

void DeEsser::setLane(size_t lane, const sv::Biquad& section) noexcept
{
    filters.b0[lane] = section.b0;
    filters.b1[lane] = section.b1;
    filters.b2[lane] = section.b2;
    filters.a1[lane] = section.a1;
    filters.a2[lane] = section.a2;
}

void DeEsser::controlUpdate() noexcept
{
    const tune::DeEssChar before = current;
    current.thresholdDb = target.thresholdDb + charGlide * (current.thresholdDb - target.thresholdDb);
    current.kneeDb = target.kneeDb + charGlide * (current.kneeDb - target.kneeDb);
    current.releaseMs = target.releaseMs + charGlide * (current.releaseMs - target.releaseMs);
    // The release costs an exponential: only when the character glided.
    if (current.thresholdDb != before.thresholdDb || current.kneeDb != before.kneeDb ||
        current.releaseMs != before.releaseMs)
        deriveCharacterValues();

    ++controlCount;
    if (autoMode && openSeconds > analysisWaitSeconds && controlCount % analysisEvery == 0)
        analyse();

    if (essHz != targetHz)
    {
        // The target's octaves are kept while the target stays.
        if (targetHz != octavesOf)
        {
            octavesOf = targetHz;
            targetOctaves = std::log2(targetHz);
        }
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

} // namespace eng::vocal
