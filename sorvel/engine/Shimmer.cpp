#include "sorvel/engine/Shimmer.h"

#include "sorvel/engine/ShimmerSteps.h"
#include "common/dsp/ClampSetting.h"
#include "common/dsp/FastMath.h"
#include "common/dsp/Lanes.h"
#include "common/dsp/OnePole.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// One doubled-rate sample of a shimmer core, in order (the steps are in ShimmerSteps.h, the loops
// that run them over a chunk in ShimmerKernel.cpp):
//  1. negative amounts (or a reduction still releasing): the harshness taming measures the
//     three Q 2 bands and the full band of the mono input, follows its target reduction and
//     cuts the harsh band of each channel with a dynamic bell;
//  2. the ess measurement: the mono input's 5..10 kHz band against the full band gives the
//     easing (with the de-esser's detection as a floor while the amount is positive), followed
//     by the easing follower, whose peak the next control update reads;
//  3. the shelf (its coefficients gliding to a new design over a control interval) runs on
//     every channel;
//  4. "Glass": the sparkle band, its gated references, its harmonics, filtered and added at the
//     band's level times the amount, eased;
//  5. the display sums (sparkle power, taming peak, lift) are weighted and added.
// At every control update (64 samples) the shelf's gain is worked out from the amount and the
// easing peak and redesigned when it moved, and the sparkle's level glides.
namespace eng::vocal
{

using namespace shimmer;

namespace
{
float coefficient(double seconds, double rate)
{
    return static_cast<float>(sv::onePoleCoefficient(seconds, rate));
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
