#include "sorvel/engine/ToneEq.h"
#include "sorvel/engine/primitives/Ramp.h"
#include "support/Signals.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <iterator>
#include <random>
#include <vector>

using eng::vocal::EqBand;
using eng::vocal::ToneEq;
namespace tune = eng::vocal::tune;

using testsupport::largestStep;
using testsupport::rmsDb;
using testsupport::sine;

namespace
{
constexpr double rates[] = {44100.0, 48000.0, 96000.0};

std::vector<float> noise(int samples, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-0.5f, 0.5f);
    std::vector<float> x(static_cast<size_t>(samples));
    for (auto& v : x)
        v = u(rng);
    return x;
}

int fadeLength(double rate)
{
    return static_cast<int>(std::lround(0.020 * rate));
}

// Runs [from, to) of a mono buffer through a mono band in pieces of `piece` samples.
template <typename Module> void run(Module& m, std::vector<float>& x, int from, int to, int piece = 64)
{
    for (int pos = from; pos < to; pos += piece)
    {
        float* ch[1] = {x.data() + pos};
        m.process(ch, std::min(piece, to - pos));
    }
}

// The analog band (bell or shelf as in the tables) at hz, in dB.
double analogDb(const tune::Band& band, double gainDb, double hz)
{
    const std::complex<double> s(0.0, hz / band.hz);
    const double A = std::pow(10.0, std::abs(gainDb) / 40.0), rA = std::sqrt(A), q = band.q;
    std::complex<double> h;
    if (band.kind == 1)
        h = A * (s * s + s * rA / q + A) / (A * s * s + s * rA / q + 1.0);
    else if (band.kind == 2)
        h = A * (A * s * s + s * rA / q + 1.0) / (s * s + s * rA / q + A);
    else
        h = (s * s + s * A / q + 1.0) / (s * s + s / (A * q) + 1.0);
    return 20.0 * std::log10(std::abs(h)) * (gainDb < 0.0 ? -1.0 : 1.0);
}

// Gain of a settled band on a sine, from the second half of one second.
double measuredGainDb(double rate, float amount, const std::array<tune::Band, 3>& table, int character,
                      double hz)
{
    EqBand band(table);
    band.prepare(rate, 1);
    band.set({amount, character});
    const int n = static_cast<int>(rate);
    const auto dry = sine(rate, hz, n, 0.25f);
    auto x = dry;
    run(band, x, 0, n, 512);
    return rmsDb(x, n / 2, n) - rmsDb(dry, n / 2, n);
}
} // namespace

TEST(EqBand, amountZeroIsUnityForEveryCharacter)
{
    for (const auto* table : {&tune::bassBands, &tune::trebleBands})
        for (int character = 0; character < 3; ++character)
        {
            EqBand band(*table);
            band.prepare(48000.0, 2);
            band.set({0.0f, character});
            EXPECT_EQ(band.getActiveSlot().channels[0].count, 0);
            auto l = noise(5000, 1u), r = noise(5000, 2u);
            const auto dryL = l, dryR = r;
            float* ch[2] = {l.data(), r.data()};
            band.process(ch, 5000);
            EXPECT_EQ(l, dryL) << "character " << character;
            EXPECT_EQ(r, dryR) << "character " << character;
        }

    // A NaN amount counts as 0 and does not stick: the next amount glides as usual.
    EqBand band(tune::bassBands);
    band.prepare(48000.0, 1);
    band.set({5.0f, 1});
    band.set({std::nanf(""), 1});
    EXPECT_EQ(band.getTargetGainDb(), 0.0f);
    auto x = noise(48000, 3u);
    run(band, x, 0, 24000);
    EXPECT_EQ(band.getCurrentGainDb(), 0.0f);
    band.set({-5.0f, 1});
    run(band, x, 24000, 48000);
    EXPECT_EQ(band.getCurrentGainDb(), -3.0f);
}

TEST(EqBand, plusAndMinusTenGiveSixDbEachCharacter)
{
    // Each character at its own frequency and well inside its shelf.
    struct Probe
    {
        const std::array<tune::Band, 3>* table;
        int character;
        double hz;
    };
    const Probe probes[] = {
        {&tune::bassBands, 0, 20.0},      {&tune::bassBands, 0, 80.0},      {&tune::bassBands, 1, 150.0},
        {&tune::bassBands, 2, 250.0},     {&tune::trebleBands, 0, 3000.0},  {&tune::trebleBands, 1, 8000.0},
        {&tune::trebleBands, 1, 18000.0}, {&tune::trebleBands, 2, 12000.0}, {&tune::trebleBands, 2, 19000.0},
    };
    for (double rate : rates)
        for (const auto& p : probes)
            for (float amount : {10.0f, -10.0f, 25.0f})
            {
                const double expected = analogDb((*p.table)[static_cast<size_t>(p.character)],
                                                 std::clamp(amount, -10.0f, 10.0f) * 0.6, p.hz);
                EXPECT_NEAR(measuredGainDb(rate, amount, *p.table, p.character, p.hz), expected, 0.05)
                    << "character " << p.character << " amount " << amount << " at " << p.hz << " Hz, rate "
                    << rate;
            }

    // The bells reach the full +-6 dB at their centre; amounts beyond 10 are clamped.
    EXPECT_NEAR(measuredGainDb(48000.0, 10.0f, tune::bassBands, 1, 150.0), 6.0, 0.02);
    EXPECT_NEAR(measuredGainDb(48000.0, -10.0f, tune::trebleBands, 0, 3000.0), -6.0, 0.02);
    EXPECT_NEAR(measuredGainDb(48000.0, -40.0f, tune::bassBands, 2, 250.0), -6.0, 0.02);
}

TEST(EqBand, moveFromZeroToTenGlidesWithA25msTimeConstantInSteps32SamplesApart)
{
    for (double rate : rates)
    {
        EqBand band(tune::bassBands);
        band.prepare(rate, 1);
        band.set({0.0f, 1});
        auto x = noise(static_cast<int>(rate), 5u);
        run(band, x, 0, 100, 100);
        band.set({10.0f, 1});
        EXPECT_EQ(band.getCurrentGainDb(), 0.0f) << "a move glides; only the first setting is direct";

        const double c = std::exp(-1.0 / (0.025 * rate / 32.0));
        int updates = 0, lastChange = 0, redesigns = 0, arrivedAt = -1;
        float previous = 0.0f, designed = 0.0f;
        // Pieces of 7 samples: updates still land every 32 samples, counted from preparation.
        for (int pos = 100; pos < static_cast<int>(x.size()) && arrivedAt < 0; pos += 7)
        {
            run(band, x, pos, pos + 7, 7);
            const float now = band.getCurrentGainDb();
            if (now != previous)
            {
                const int sampleOfUpdate = ((pos + 7 - 1) / 32) * 32;
                if (updates > 0)
                {
                    EXPECT_EQ(sampleOfUpdate - lastChange, 32) << "at " << rate;
                }
                lastChange = sampleOfUpdate;
                ++updates;
                if (now == 6.0f)
                    arrivedAt = updates;
                else
                    EXPECT_NEAR(now, 6.0 * (1.0 - std::pow(c, updates)), 1e-3) << "update " << updates;
                previous = now;
            }
            const float designedNow = band.getActiveSlot().designedGainDb;
            if (designedNow != designed)
            {
                if (designedNow != 6.0f)
                {
                    EXPECT_GT(std::abs(designedNow - designed), 0.004f) << "redesigned without moving";
                }
                designed = designedNow;
                ++redesigns;
            }
        }
        // 6 c^k < 0.002 first at k = ln(3000) / ln(1/c), about 8 time constants (200 ms).
        const int expectedArrival = static_cast<int>(std::ceil(std::log(6.0 / 0.002) / -std::log(c)));
        EXPECT_NEAR(arrivedAt, expectedArrival, 1) << rate;
        EXPECT_LT(redesigns, updates);
        EXPECT_EQ(band.getActiveSlot().designedGainDb, 6.0f) << "the band lands on its gain";

        // 25 ms after the move the gain is 1 - 1/e of the way.
        EqBand early(tune::bassBands);
        early.prepare(rate, 1);
        early.set({0.0f, 1});
        early.set({10.0f, 1});
        auto y = noise(static_cast<int>(0.025 * rate), 6u);
        run(early, y, 0, static_cast<int>(y.size()));
        EXPECT_NEAR(early.getCurrentGainDb(), 6.0 * (1.0 - std::exp(-1.0)), 0.15) << rate;
    }

    // And the glided band sounds +6 dB at the bell's centre.
    EqBand band(tune::bassBands);
    band.prepare(48000.0, 1);
    band.set({0.0f, 1});
    band.set({10.0f, 1});
    const auto dry = sine(48000.0, 150.0, 48000, 0.25f);
    auto x = dry;
    run(band, x, 0, 48000);
    EXPECT_NEAR(rmsDb(x, 24000, 48000) - rmsDb(dry, 24000, 48000), 6.0, 0.002);
}

TEST(EqBand, gainGlideRedesignsUnderRunningStateWithoutClicks)
{
    for (double rate : rates)
    {
        const int n = static_cast<int>(0.4 * rate);
        const auto input = sine(rate, 150.0, n, 0.8f);

        EqBand gliding(tune::bassBands), steady(tune::bassBands);
        gliding.prepare(rate, 1);
        gliding.set({-10.0f, 1});
        gliding.set({10.0f, 1});
        steady.prepare(rate, 1);
        steady.set({10.0f, 1});
        auto out = input, loud = input;
        run(gliding, out, 0, n);
        run(steady, loud, 0, n);
        // Settled +6 dB is the loudest the glide gets, so its steps bound the glide's.
        EXPECT_LT(largestStep(out, 1, n), 1.02f * largestStep(loud, n / 2, n)) << rate;
    }
}

TEST(EqBand, characterChangeCrossfadesTheTwoSlotsOver20ms)
{
    for (double rate : rates)
    {
        const int change = 3000;
        const int fade = fadeLength(rate);
        const int total = change + fade + 1000;
        const auto input = sine(rate, 110.0, total, 0.8f);

        EqBand band(tune::bassBands);
        band.prepare(rate, 1);
        band.set({10.0f, 0}); // "Sub" at +6 dB
        auto out = input;
        run(band, out, 0, change);
        band.set({10.0f, 1}); // "Lower"
        EXPECT_TRUE(band.isFading());
        run(band, out, change, change + fade - 1, 29);
        EXPECT_TRUE(band.isFading());
        run(band, out, change + fade - 1, total);
        EXPECT_FALSE(band.isFading());
        EXPECT_EQ(band.getActiveCharacter(), 1);

        // Old slot running on, new slot from rest, mixed along the linear ramp.
        EqBand sub(tune::bassBands), lower(tune::bassBands);
        sub.prepare(rate, 1);
        sub.set({10.0f, 0});
        lower.prepare(rate, 1);
        lower.set({10.0f, 1});
        auto oldOut = input, newOut = input;
        run(sub, oldOut, 0, total);
        run(lower, newOut, change, total);
        eng::vocal::Ramp r;
        r.setLength(fade);
        r.restart(0.0f, 1.0f);
        for (int i = change; i < total; ++i)
        {
            const float g = r.next();
            const auto k = static_cast<size_t>(i);
            ASSERT_NEAR(out[k], oldOut[k] + g * (newOut[k] - oldOut[k]), 1e-6f)
                << "sample " << i << " at " << rate;
        }

        // No click: the steps stay near those of the two steady renders.
        EqBand settled(tune::bassBands);
        settled.prepare(rate, 1);
        settled.set({10.0f, 1});
        auto lowerAllAlong = input;
        run(settled, lowerAllAlong, 0, total);
        const float steadyStep =
            std::max(largestStep(oldOut, change, total), largestStep(lowerAllAlong, change, total));
        EXPECT_LT(largestStep(out, change - 1, change + fade + 1), 1.3f * steadyStep) << rate;
    }
}

TEST(EqBand, characterRequestsDuringAFade)
{
    const double rate = 48000.0;
    const int fade = fadeLength(rate);
    auto x = noise(6 * fade, 9u);

    // A -> B running; C asked, then B again: C stays pending and is faded to after the fade;
    // the next setter call (still B) fades back.
    EqBand band(tune::trebleBands);
    band.prepare(rate, 1);
    band.set({5.0f, 0});
    band.set({5.0f, 1});
    run(band, x, 0, 100);
    band.set({5.0f, 2});
    EXPECT_EQ(band.getPendingCharacter(), 2);
    band.set({5.0f, 1});
    EXPECT_EQ(band.getPendingCharacter(), 2) << "the fading-in character leaves the pending one";
    run(band, x, 100, fade);
    EXPECT_EQ(band.getActiveCharacter(), 1);
    EXPECT_TRUE(band.isFading());
    run(band, x, fade, 2 * fade);
    EXPECT_EQ(band.getActiveCharacter(), 2);
    EXPECT_FALSE(band.isFading());
    band.set({5.0f, 1});
    EXPECT_TRUE(band.isFading());
    run(band, x, 2 * fade, 3 * fade);
    EXPECT_EQ(band.getActiveCharacter(), 1);

    // Back to the fading-out character: pending, and faded back to after the fade.
    band.set({5.0f, 0});
    run(band, x, 3 * fade, 3 * fade + 10);
    band.set({5.0f, 1});
    EXPECT_EQ(band.getPendingCharacter(), 1);
    run(band, x, 3 * fade + 10, 4 * fade);
    EXPECT_EQ(band.getActiveCharacter(), 0);
    EXPECT_TRUE(band.isFading());
    run(band, x, 4 * fade, 5 * fade);
    EXPECT_EQ(band.getActiveCharacter(), 1);
    EXPECT_FALSE(band.isFading());
    EXPECT_EQ(band.getPendingCharacter(), -1);
}

TEST(EqBand, gainGlideDuringACharacterFadeRedesignsBothSlots)
{
    const double rate = 48000.0;
    EqBand band(tune::bassBands), lower(tune::bassBands);
    band.prepare(rate, 1);
    band.set({-10.0f, 0});
    band.set({10.0f, 1}); // a character change and a gain move at once
    auto x = noise(fadeLength(rate) + 40000, 4u);
    run(band, x, 0, fadeLength(rate) / 2);
    EXPECT_TRUE(band.isFading());
    EXPECT_GT(band.getCurrentGainDb(), -6.0f);
    run(band, x, fadeLength(rate) / 2, static_cast<int>(x.size()));
    EXPECT_FALSE(band.isFading());
    EXPECT_EQ(band.getCurrentGainDb(), 6.0f);
    EXPECT_EQ(band.getActiveSlot().designedGainDb, 6.0f);
}

TEST(EqBand, monoRunsChannelZeroOnly)
{
    EqBand band(tune::trebleBands);
    band.prepare(48000.0, 1);
    band.set({8.0f, 0});
    auto l = noise(4096, 1u), r = l;
    const auto dry = l;
    float* ch[2] = {l.data(), r.data()};
    band.process(ch, 4096);
    EXPECT_NE(l, dry);
    EXPECT_EQ(r, dry);

    EqBand stereo(tune::trebleBands);
    stereo.prepare(48000.0, 2);
    stereo.set({8.0f, 0});
    auto l2 = dry, r2 = dry;
    float* both[2] = {l2.data(), r2.data()};
    stereo.process(both, 4096);
    EXPECT_EQ(l2, l);
    EXPECT_EQ(r2, l);
}

TEST(ToneEq, runsBassThenTrebleInSeries)
{
    ToneEq eq;
    eq.prepare(44100.0, 1);
    eq.set({{7.0f, 2}, {-4.0f, 1}});
    EqBand bass(tune::bassBands), treble(tune::trebleBands);
    bass.prepare(44100.0, 1);
    bass.set({7.0f, 2});
    treble.prepare(44100.0, 1);
    treble.set({-4.0f, 1});

    auto x = noise(10000, 8u), y = x;
    run(eq, x, 0, 10000, 300);
    run(bass, y, 0, 10000, 300);
    run(treble, y, 0, 10000, 300);
    EXPECT_EQ(x, y);
    EXPECT_EQ(eq.getBass().getActiveCharacter(), 2);
    EXPECT_EQ(eq.getTreble().getTargetGainDb(), -4.0f * 0.6f);
}

TEST(ToneEq, samePiecesOrOneLongRunGiveTheSameOutput)
{
    const double rate = 48000.0;
    const auto input = noise(30000, 12u);
    struct Setting
    {
        int at;
        float bass;
        int bassChar;
        float treble;
        int trebleChar;
    };
    const Setting settings[] = {{0, 0.0f, 0, 3.0f, 0},      {2000, 10.0f, 0, 3.0f, 0},
                                {2500, 10.0f, 2, -6.0f, 1}, {3100, -3.0f, 1, -6.0f, 2},
                                {9000, 0.0f, 1, 0.0f, 2},   {20000, 4.0f, 0, 9.0f, 0}};
    const auto render = [&](bool randomPieces)
    {
        ToneEq eq;
        eq.prepare(rate, 2);
        auto l = input, r = input;
        std::mt19937 pieces(21u);
        std::uniform_int_distribution<int> size(1, 600);
        const int count = static_cast<int>(std::size(settings));
        for (int s = 0; s < count; ++s)
        {
            eq.set({{settings[s].bass, settings[s].bassChar}, {settings[s].treble, settings[s].trebleChar}});
            const int end = s + 1 < count ? settings[s + 1].at : static_cast<int>(input.size());
            for (int pos = settings[s].at; pos < end;)
            {
                const int n = randomPieces ? std::min(size(pieces), end - pos) : end - pos;
                float* ch[2] = {l.data() + pos, r.data() + pos};
                eq.process(ch, n);
                pos += n;
            }
        }
        EXPECT_EQ(l, r);
        return l;
    };
    EXPECT_EQ(render(false), render(true));
}

TEST(ToneEq, settingAndProcessingNeverTouchTheHeap)
{
    ToneEq eq;
    eq.prepare(96000.0, 2);
    auto l = noise(20000, 3u), r = l;
    float* ch[2] = {l.data(), r.data()};
    EXPECT_NO_HEAP(eq.set({{0.0f, 0}, {0.0f, 0}}));
    EXPECT_NO_HEAP(eq.process(ch, 512));
    EXPECT_NO_HEAP(eq.set({{10.0f, 1}, {-10.0f, 2}})); // glide and crossfade at once
    EXPECT_NO_HEAP(eq.process(ch, 20000));
    EXPECT_NO_HEAP(eq.set({{-10.0f, 2}, {10.0f, 0}}));
    EXPECT_NO_HEAP(eq.process(ch, 20000));
}
