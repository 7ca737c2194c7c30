#include "sorvel/engine/HighPass.h"
#include "sorvel/engine/primitives/Ramp.h"
#include "support/Signals.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using eng::vocal::HighPass;

using testsupport::largestStep;
using testsupport::rmsDb;
using testsupport::sine;

namespace
{
constexpr double rates[] = {44100.0, 48000.0, 96000.0};

int fadeLength(double rate)
{
    return static_cast<int>(std::lround(0.020 * rate));
}

// Runs [from, to) of a mono buffer through a mono module in pieces of `piece` samples.
void run(HighPass& hp, std::vector<float>& x, int from, int to, int piece = 64)
{
    for (int pos = from; pos < to; pos += piece)
    {
        float* ch[2] = {x.data() + pos, x.data() + pos};
        hp.process(ch, std::min(piece, to - pos));
    }
}

} // namespace

TEST(HighPass, eachCornerIs18DbPerOctaveAndOffIsUntouched)
{
    const float corners[] = {60.0f, 90.0f, 130.0f, 180.0f};
    for (double rate : rates)
    {
        for (int choice = 1; choice <= 4; ++choice)
        {
            const double fc = corners[choice - 1];
            struct Probe
            {
                double hz;
                double expectedDb;
                double toleranceDb;
            };
            // Butterworth, order 3: -3.01 dB at the corner, -18.1 dB an octave below.
            const Probe probes[] = {{fc, -3.01, 0.05}, {fc / 2.0, -18.13, 0.1}, {fc * 8.0, 0.0, 0.01}};
            for (const auto& p : probes)
            {
                HighPass hp;
                hp.prepare(rate, 1);
                hp.set({choice});
                const int n = static_cast<int>(rate); // one second; the last half is measured
                auto x = sine(rate, p.hz, n, 0.5f);
                const auto dry = x;
                run(hp, x, 0, n, 512);
                const double gain = rmsDb(x, n / 2, n) - rmsDb(dry, n / 2, n);
                EXPECT_NEAR(gain, p.expectedDb, p.toleranceDb)
                    << "choice " << choice << " at " << p.hz << " Hz, rate " << rate;
            }
        }

        HighPass off;
        off.prepare(rate, 2);
        off.set({0});
        auto x = sine(rate, 30.0, 4096, 0.5f);
        const auto dry = x;
        run(off, x, 0, 4096);
        EXPECT_EQ(x, dry) << "Off passes the audio untouched at " << rate;
    }
}

TEST(HighPass, offTo60HzIsA20msLinearCrossfadeWithoutClick)
{
    for (double rate : rates)
    {
        const int change = 4000;
        const int fade = fadeLength(rate);
        const int total = change + fade + 2000;
        const auto input = sine(rate, 40.0, total, 0.9f);

        // The change, at a piece boundary.
        HighPass hp;
        hp.prepare(rate, 1);
        hp.set({0});
        auto out = input;
        run(hp, out, 0, change);
        hp.set({1});
        EXPECT_TRUE(hp.isFading());
        run(hp, out, change, change + fade - 1, 37);
        EXPECT_TRUE(hp.isFading()) << "one sample before the end of the fade";
        run(hp, out, change + fade - 1, total);
        EXPECT_FALSE(hp.isFading());
        EXPECT_EQ(hp.getActiveChoice(), 1);

        // The fade mixes the dry signal with a freshly started 60 Hz filter along a linear ramp.
        HighPass fresh;
        fresh.prepare(rate, 1);
        fresh.set({1});
        auto wet = input;
        run(fresh, wet, change, total);
        eng::vocal::Ramp r;
        r.setLength(fade);
        r.restart(0.0f, 1.0f);
        for (int i = change; i < total; ++i)
        {
            const float g = r.next();
            const float dry = input[static_cast<size_t>(i)];
            const float expected = dry + g * (wet[static_cast<size_t>(i)] - dry);
            ASSERT_NEAR(out[static_cast<size_t>(i)], expected, 1e-6f) << "sample " << i << " at " << rate;
        }
        EXPECT_NEAR(r.getValue(), 1.0f, 0.0f);

        // No click: the largest step through the change stays near the steady renders' own.
        HighPass steady;
        steady.prepare(rate, 1);
        steady.set({1});
        auto filtered = input;
        run(steady, filtered, 0, total);
        const float steadyStep =
            std::max(largestStep(input, change, total), largestStep(filtered, change, total));
        const float changeStep = largestStep(out, change - 1, change + fade + 1);
        EXPECT_LT(changeStep, 1.3f * steadyStep) << rate;
        // A hard switch would have jumped by the whole difference, many times that bound.
        float difference = 0.0f;
        for (int i = change; i < change + fade; ++i)
            difference = std::max(difference,
                                  std::abs(filtered[static_cast<size_t>(i)] - input[static_cast<size_t>(i)]));
        EXPECT_GT(difference, 10.0f * steadyStep);
    }
}

TEST(HighPass, choicesDuringAFadeKeepOnlyTheLast)
{
    const double rate = 48000.0;
    const int fade = fadeLength(rate);
    HighPass hp;
    hp.prepare(rate, 1);
    hp.set({0});
    EXPECT_FALSE(hp.isFading()) << "the first choice is set directly";

    auto x = sine(rate, 100.0, 4 * fade, 0.5f);
    hp.set({1});
    run(hp, x, 0, 100);
    for (int choice : {2, 3, 4})
    {
        hp.set({choice});
        EXPECT_EQ(hp.getPendingChoice(), choice);
    }
    run(hp, x, 100, fade);
    // The first fade ended on its last sample; the one to the last choice starts on the next.
    EXPECT_EQ(hp.getActiveChoice(), 1);
    EXPECT_TRUE(hp.isFading());
    EXPECT_EQ(hp.getPendingChoice(), -1);
    run(hp, x, fade, 2 * fade - 1);
    EXPECT_TRUE(hp.isFading());
    run(hp, x, 2 * fade - 1, 2 * fade);
    EXPECT_FALSE(hp.isFading());
    EXPECT_EQ(hp.getActiveChoice(), 4);
}

TEST(HighPass, choiceSetBackDuringAFadeFadesBackAfterIt)
{
    const double rate = 44100.0;
    const int fade = fadeLength(rate);
    auto x = sine(rate, 100.0, 4 * fade, 0.5f);

    // Back to the active slot's choice: remembered, and faded back to after the running fade.
    HighPass hp;
    hp.prepare(rate, 1);
    hp.set({2});
    hp.set({0});
    run(hp, x, 0, 10);
    hp.set({2});
    EXPECT_EQ(hp.getPendingChoice(), 2);
    run(hp, x, 10, fade);
    EXPECT_EQ(hp.getActiveChoice(), 0);
    EXPECT_TRUE(hp.isFading());
    run(hp, x, fade, 2 * fade);
    EXPECT_EQ(hp.getActiveChoice(), 2);
    EXPECT_FALSE(hp.isFading());

    // The same choice again every piece (as the chain does) ends the fade with no second one.
    HighPass steady;
    steady.prepare(rate, 1);
    steady.set({0});
    steady.set({3});
    for (int pos = 0; pos < fade; pos += 64)
    {
        steady.set({3});
        run(steady, x, pos, std::min(pos + 64, fade));
    }
    EXPECT_FALSE(steady.isFading());
    EXPECT_EQ(steady.getActiveChoice(), 3);
    EXPECT_EQ(steady.getPendingChoice(), -1);
}

TEST(HighPass, monoRunsChannelZeroOnlyAndStereoRunsBoth)
{
    std::vector<float> left = sine(48000.0, 50.0, 2048, 0.5f), right = left, spare = left;
    const auto dry = left;

    HighPass mono;
    mono.prepare(48000.0, 1);
    mono.set({4});
    float* ch[2] = {left.data(), right.data()};
    mono.process(ch, 2048);
    EXPECT_NE(left, dry);
    EXPECT_EQ(right, dry) << "the second channel of a mono module is never touched";

    HighPass stereo;
    stereo.prepare(48000.0, 2);
    stereo.set({4});
    std::vector<float> l2 = dry;
    float* both[2] = {l2.data(), spare.data()};
    stereo.process(both, 2048);
    EXPECT_EQ(l2, left);
    EXPECT_EQ(spare, left);
}

TEST(HighPass, samePiecesOrOneLongRunGiveTheSameOutput)
{
    const double rate = 48000.0;
    std::mt19937 rng(3u);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> input(20000);
    for (auto& v : input)
        v = noise(rng);

    // Choice changes at fixed samples; both renders call the setter there.
    const std::vector<std::pair<int, int>> changes = {{0, 0}, {1000, 1}, {1500, 3}, {2100, 0}, {9000, 2}};
    const auto render = [&](bool randomPieces)
    {
        HighPass hp;
        hp.prepare(rate, 1);
        auto x = input;
        std::mt19937 pieces(11u);
        std::uniform_int_distribution<int> size(1, 700);
        for (size_t c = 0; c < changes.size(); ++c)
        {
            hp.set({changes[c].second});
            const int end = c + 1 < changes.size() ? changes[c + 1].first : static_cast<int>(x.size());
            for (int pos = changes[c].first; pos < end;)
            {
                const int n = randomPieces ? std::min(size(pieces), end - pos) : end - pos;
                float* ch[1] = {x.data() + pos};
                hp.process(ch, n);
                pos += n;
            }
        }
        return x;
    };
    EXPECT_EQ(render(false), render(true));
}

TEST(HighPass, settingAndProcessingNeverTouchTheHeap)
{
    HighPass hp;
    hp.prepare(96000.0, 2);
    std::vector<float> l = sine(96000.0, 80.0, 8192, 0.5f), r = l;
    float* ch[2] = {l.data(), r.data()};
    EXPECT_NO_HEAP(hp.set({1}));
    EXPECT_NO_HEAP(hp.process(ch, 512));
    EXPECT_NO_HEAP(hp.set({3}));
    EXPECT_NO_HEAP(hp.set({0}));
    EXPECT_NO_HEAP(hp.process(ch, 8192));
    EXPECT_NO_HEAP(hp.set({4}));
    EXPECT_NO_HEAP(hp.process(ch, 8192));
}
