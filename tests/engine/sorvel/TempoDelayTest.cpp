#include "sorvel/engine/primitives/FilterDesign.h"
#include "sorvel/engine/TempoDelay.h"
#include "support/Signals.h"
#include "support/AllocationCounter.h"
#include "support/SyntheticVocal.h"
#include "support/PieceRender.h"
#include "tools/wav/WavFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace
{
using eng::vocal::TempoDelay;

constexpr double fs = 48000.0;
using testsupport::pi;

struct Settings
{
    int character = 3;
    float amount = 10.0f;
    float feedbackPercent = 0.0f;
    bool pingPong = false;
    double tempo = 120.0;
};

using Change = testsupport::SettingsChange<Settings>;
using Stereo = testsupport::StereoOut;

void renderInto(TempoDelay& delay, const std::vector<float>& in, Settings first,
                const std::vector<Change>& changes, int piece, unsigned seed, Stereo& out)
{
    testsupport::renderPieces(delay, in, first, changes, piece, seed, out,
                              [](TempoDelay& m, const Settings& s) {
                                  m.set({s.amount, s.character, s.feedbackPercent, s.pingPong, s.tempo});
                              });
}

Stereo render(TempoDelay& delay, const std::vector<float>& in, Settings first,
              const std::vector<Change>& changes = {}, int piece = 480)
{
    Stereo out{std::vector<float>(in.size()), std::vector<float>(in.size())};
    renderInto(delay, in, first, changes, piece, 1, out);
    return out;
}

Stereo renderFresh(const std::vector<float>& in, Settings s, const std::vector<Change>& changes = {},
                   int piece = 480)
{
    TempoDelay delay;
    delay.prepare(fs);
    return render(delay, in, s, changes, piece);
}

std::vector<float> impulse(int length, float height = 1.0f)
{
    std::vector<float> x(static_cast<size_t>(length), 0.0f);
    x[0] = height;
    return x;
}

int firstNonZero(const std::vector<float>& x)
{
    for (size_t i = 0; i < x.size(); ++i)
        if (x[i] != 0.0f)
            return static_cast<int>(i);
    return -1;
}

double energy(const std::vector<float>& x, int from, int to)
{
    double e = 0.0;
    for (int i = std::max(0, from); i < std::min(to, static_cast<int>(x.size())); ++i)
        e += static_cast<double>(x[static_cast<size_t>(i)]) * x[static_cast<size_t>(i)];
    return e;
}

// Power-weighted mean frequency of a stretch (plain DFT, no window: the stretch holds one whole
// repeat, silent before and decayed at its end).
double spectralCentroid(const std::vector<float>& x, int from, int length)
{
    double weighted = 0.0, total = 0.0;
    for (int k = 1; k < length / 2; ++k)
    {
        double re = 0.0, im = 0.0;
        for (int i = 0; i < length; ++i)
        {
            const double v = x[static_cast<size_t>(from + i)];
            re += v * std::cos(2.0 * pi * k * i / length);
            im -= v * std::sin(2.0 * pi * k * i / length);
        }
        const double power = re * re + im * im;
        weighted += power * k * fs / length;
        total += power;
    }
    return total > 0.0 ? weighted / total : 0.0;
}

// Largest second difference in [from, to): a tone's is tiny, the edge of a jump that the
// feedback filters have rounded off still stands out.
float largestBend(const std::vector<float>& x, int from, int to)
{
    float bend = 0.0f;
    for (int i = std::max(2, from); i < to; ++i)
    {
        const auto u = static_cast<size_t>(i);
        bend = std::max(bend, std::abs(x[u] - 2.0f * x[u - 1] + x[u - 2]));
    }
    return bend;
}

std::vector<float> tone(double hz, float amplitude, int length)
{
    std::vector<float> x(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
        x[static_cast<size_t>(i)] = amplitude * static_cast<float>(std::sin(2.0 * pi * hz * i / fs));
    return x;
}

using testsupport::firstDifference;
using testsupport::vocalPhrase;
} // namespace

TEST(TempoDelay, echoTimeIsTheNoteValueAtTheTempoClampedToTheLines)
{
    struct Case
    {
        int character;
        double tempo;
        int samples;
        const char* what;
    };
    const Case cases[] = {
        {3, 120.0, 24000, "Quarter at 120 bpm: 0.5 s"},
        {3, 60.0, 48000, "Quarter at 60 bpm: 1.0 s"},
        {3, 20.0, static_cast<int>(2.6 * fs) - 8, "Quarter at 20 bpm: 3 s, clamped to 2.6 s - 8 samples"},
        {2, 120.0, 18000, "Dotted at 120 bpm"},
        {1, 120.0, 12000, "Eighth at 120 bpm"},
        {0, 120.0, 4800, "Slap is 100 ms"},
        {0, 33.0, 4800, "Slap ignores the tempo"},
        {3, 400.0, 7200, "Quarter at 400 bpm"},
        {3, 401.0, 24000, "above 400 bpm: 120 bpm"},
        {3, 0.0, 24000, "no tempo: 120 bpm"},
        {1, 19.0, 12000, "below 20 bpm: 120 bpm"},
        {7, 120.0, 24000, "character clamped to Quarter"},
    };
    for (const Case& c : cases)
    {
        TempoDelay delay;
        delay.prepare(fs);
        Settings s;
        s.character = c.character;
        s.tempo = c.tempo;
        const Stereo out = render(delay, impulse(c.samples + 64), s);
        EXPECT_DOUBLE_EQ(delay.getDelaySamples(), c.samples) << c.what;
        EXPECT_EQ(firstNonZero(out.left), c.samples) << c.what;
        EXPECT_EQ(firstNonZero(out.right), c.samples) << c.what;
    }
}

TEST(TempoDelay, tempoChangeGlidesTheEchoTimeWithAn80msTimeConstant)
{
    TempoDelay delay;
    delay.prepare(fs);
    delay.set({10.0f, 3, 30.0f, false, 120.0});
    std::vector<float> in(1, 0.0f), l(1), r(1);
    delay.process(in.data(), l.data(), r.data(), 1);
    ASSERT_DOUBLE_EQ(delay.getDelaySamples(), 24000.0);

    // From here on 60 bpm: the time heads for 48000 samples.
    const int tau = static_cast<int>(0.080 * fs);
    double previous = delay.getDelaySamples();
    double largestMove = 0.0;
    std::vector<double> path;
    for (int i = 0; i < 6 * tau; ++i)
    {
        delay.set({10.0f, 3, 30.0f, false, 60.0});
        delay.process(in.data(), l.data(), r.data(), 1);
        const double t = delay.getDelaySamples();
        ASSERT_GE(t, previous) << "sample " << i;
        largestMove = std::max(largestMove, t - previous);
        previous = t;
        path.push_back(t);
    }
    EXPECT_FALSE(delay.isCrossfading());
    EXPECT_NEAR(path[static_cast<size_t>(tau - 1)], 48000.0 - 24000.0 * std::exp(-1.0), 0.5);
    EXPECT_NEAR(path[static_cast<size_t>(3 * tau - 1)], 48000.0 - 24000.0 * std::exp(-3.0), 0.5);
    // A glide, not a jump: the first step is the largest, 24000 / 3840 samples.
    EXPECT_NEAR(largestMove, 24000.0 * (1.0 - std::exp(-1.0 / tau)), 1e-6);
    EXPECT_DOUBLE_EQ(delay.getTargetDelaySamples(), 48000.0);
}

TEST(TempoDelay, noteValueChangeCrossfadesIn20msWithoutAPitchSweep)
{
    const std::vector<float> voice = vocalPhrase();
    ASSERT_GT(voice.size(), 60000u);
    const std::vector<float> in(voice.begin(), voice.begin() + 60000);

    // With no feedback the lines hold the same signal whatever the time, so the change must
    // read as a blend of the Eighth and the Dotted renders, never as a third (swept) signal.
    Settings eighth;
    eighth.character = 1;
    Settings dotted = eighth;
    dotted.character = 2;
    const Stereo a = renderFresh(in, eighth);
    const Stereo b = renderFresh(in, dotted);

    const int at = 30000;
    const int fade = static_cast<int>(std::lround(0.020 * fs));
    TempoDelay delay;
    delay.prepare(fs);
    const Stereo out = render(delay, in, eighth, {{at, dotted}});

    float apart = 0.0f;
    for (int i = at; i < at + fade; ++i)
        apart = std::max(apart, std::abs(a.left[static_cast<size_t>(i)] - b.left[static_cast<size_t>(i)]));
    ASSERT_GT(apart, 0.05f) << "the two readings must differ for the blend to show";
    for (int i = 0; i < static_cast<int>(in.size()); ++i)
    {
        const auto u = static_cast<size_t>(i);
        if (i < at)
            ASSERT_EQ(out.left[u], a.left[u]) << "before the change, sample " << i;
        else if (i >= at + fade)
            ASSERT_EQ(out.left[u], b.left[u]) << "after the crossfade, sample " << i;
        else
        {
            const float x = static_cast<float>(i - at + 1) / static_cast<float>(fade);
            // The ramp sums its steps, so its value is a few float steps of 1 off x.
            ASSERT_NEAR(out.left[u], a.left[u] + x * (b.left[u] - a.left[u]),
                        1e-6f + 1e-4f * std::abs(b.left[u] - a.left[u]))
                << "crossfade, sample " << i;
        }
    }
}

TEST(TempoDelay, noteValueChangeJumpsTheTimeAndWaitsForARunningCrossfade)
{
    TempoDelay delay;
    delay.prepare(fs);
    std::vector<float> in(1, 0.0f), l(1), r(1);
    const int fade = static_cast<int>(std::lround(0.020 * fs));
    auto step = [&](int character)
    {
        delay.set({10.0f, character, 25.0f, false, 120.0});
        delay.process(in.data(), l.data(), r.data(), 1);
    };
    step(1);
    EXPECT_DOUBLE_EQ(delay.getDelaySamples(), 12000.0);
    step(2);
    EXPECT_DOUBLE_EQ(delay.getDelaySamples(), 18000.0) << "a new note value is set at once";
    EXPECT_TRUE(delay.isCrossfading());
    for (int i = 1; i < fade - 1; ++i)
        step(3);
    EXPECT_DOUBLE_EQ(delay.getDelaySamples(), 18000.0) << "Quarter waits while the fade runs";
    EXPECT_EQ(delay.getCharacter(), 2);
    step(3);
    EXPECT_FALSE(delay.isCrossfading());
    step(3);
    EXPECT_DOUBLE_EQ(delay.getDelaySamples(), 24000.0) << "taken up once the fade has ended";
    EXPECT_TRUE(delay.isCrossfading());
}

TEST(TempoDelay, feedbackIsLimitedTo80Percent)
{
    // A soft 1 kHz burst (linear range of the saturator) into the slap; each repeat is the one
    // before times the feedback and the feedback filters' gain at 1 kHz.
    const int slap = 4800;
    std::vector<float> in(static_cast<size_t>(4 * slap), 0.0f);
    const int burst = 960;
    for (int i = 0; i < burst; ++i)
        in[static_cast<size_t>(i)] = 0.05f * static_cast<float>((0.5 - 0.5 * std::cos(2.0 * pi * i / burst)) *
                                                                std::sin(2.0 * pi * 1000.0 * i / fs));
    eng::md::Design highPass;
    eng::md::design(highPass, eng::md::highPass, 1, fs, 300.0, 0.0, 0.70710678);
    eng::md::Design lowPass;
    lowPass.count = 1;
    lowPass.sections[0] = eng::md::designLowPass2(fs, 5000.0, 0.70710678);
    const double pathDb =
        eng::md::magnitudeDb(highPass, fs, 1000.0) + eng::md::magnitudeDb(lowPass, fs, 1000.0);

    struct Case
    {
        float percent;
        double gain;
    };
    const Case cases[] = {{100.0f, 0.8}, {80.0f, 0.8}, {250.0f, 0.8},
                          {50.0f, 0.5},  {0.0f, 0.0},  {-10.0f, 0.0}};
    for (const Case& c : cases)
    {
        TempoDelay delay;
        delay.prepare(fs);
        Settings s;
        s.character = 0;
        s.feedbackPercent = c.percent;
        const Stereo out = render(delay, in, s);
        EXPECT_FLOAT_EQ(delay.getFeedback(), static_cast<float>(c.gain)) << c.percent << " %";
        const double first = energy(out.left, slap, 2 * slap);
        const double second = energy(out.left, 2 * slap, 3 * slap);
        if (c.gain == 0.0)
        {
            EXPECT_EQ(second, 0.0) << c.percent << " %";
            continue;
        }
        const double repeatDb = 10.0 * std::log10(second / first);
        EXPECT_NEAR(repeatDb, 20.0 * std::log10(c.gain) + pathDb, 0.05) << c.percent << " %";
    }
}

TEST(TempoDelay, pingPongPutsTheFirstEchoLeftAndTheSecondRight)
{
    const int d = 12000;
    Settings s;
    s.character = 1;
    s.feedbackPercent = 60.0f;
    s.pingPong = true;
    const Stereo out = renderFresh(impulse(4 * d + 100), s);

    const double leftFirst = energy(out.left, d, 2 * d), rightFirst = energy(out.right, d, 2 * d);
    const double leftSecond = energy(out.left, 2 * d, 3 * d), rightSecond = energy(out.right, 2 * d, 3 * d);
    const double leftThird = energy(out.left, 3 * d, 4 * d), rightThird = energy(out.right, 3 * d, 4 * d);
    EXPECT_GT(leftFirst, 0.01);
    EXPECT_LT(rightFirst, 1e-12 * leftFirst) << "first echo only left";
    EXPECT_GT(rightSecond, 1e-3 * leftFirst);
    EXPECT_LT(leftSecond, 1e-12 * rightSecond) << "second echo only right";
    EXPECT_GT(leftThird, 1e-4 * leftFirst);
    EXPECT_LT(rightThird, 1e-12 * leftThird) << "third echo left again";
    EXPECT_EQ(firstNonZero(out.left), d);
    EXPECT_EQ(firstNonZero(out.right), 2 * d);

    // Straight: both lines carry the same echoes.
    s.pingPong = false;
    const Stereo straight = renderFresh(impulse(3 * d), s);
    EXPECT_EQ(firstDifference(straight.left, straight.right), -1L);
}

TEST(TempoDelay, everyRepeatIsDarkerAndSofterThanTheOneBefore)
{
    const int slap = 4800;
    const int window = 2048;
    for (const float feedback : {30.0f, 80.0f})
    {
        Settings s;
        s.character = 0;
        s.feedbackPercent = feedback;
        const Stereo out = renderFresh(impulse(4 * slap + window, 0.8f), s);
        double centroid[3], level[3];
        for (int k = 0; k < 3; ++k)
        {
            const int from = (k + 1) * slap;
            centroid[k] = spectralCentroid(out.left, from, window);
            level[k] = 10.0 * std::log10(energy(out.left, from, from + window));
        }
        std::printf("[ figures  ] feedback %.0f %%: repeats at %.0f, %.0f, %.0f Hz; %.2f, %.2f, %.2f dB\n",
                    feedback, centroid[0], centroid[1], centroid[2], level[0], level[1], level[2]);
        for (int k = 1; k < 3; ++k)
        {
            EXPECT_LT(centroid[k], centroid[k - 1] - 50.0)
                << "repeat " << k + 1 << " at " << feedback << " %";
            EXPECT_LT(level[k], level[k - 1] - 1.0) << "repeat " << k + 1 << " at " << feedback << " %";
        }
    }
}

TEST(TempoDelay, sendFeedbackAndPingPongChangesRampWithoutClicks)
{
    // A steady 440 Hz tone with echoes sounding; each change lands mid-tone. A jump in the
    // lines' input would show as a step far above what the tone itself makes.
    const int length = 96000;
    const int at = 30011; // not on a zero crossing of the tone
    const std::vector<float> in = tone(440.0, 0.5f, length);
    Settings base;
    base.character = 1;
    base.amount = 6.0f;
    base.feedbackPercent = 40.0f;
    struct Case
    {
        const char* what;
        Settings after;
    };
    Settings pingPong = base, feedback = base, amount = base;
    pingPong.pingPong = true;
    feedback.feedbackPercent = 80.0f;
    amount.amount = 10.0f;
    const Case cases[] = {
        {"ping-pong on", pingPong}, {"feedback 40 -> 80 %", feedback}, {"amount 6 -> 10", amount}};
    const Stereo before = renderFresh(in, base);
    for (const Case& c : cases)
    {
        // Bound: the bends of the steady renders at the old and at the new settings.
        const Stereo after = renderFresh(in, c.after);
        const Stereo out = renderFresh(in, base, {{at, c.after}});
        const float bound =
            1.1f * std::max({largestBend(before.left, at, length), largestBend(after.left, at, length),
                             largestBend(before.right, at, length), largestBend(after.right, at, length)});
        EXPECT_LT(largestBend(out.left, at, length), bound) << c.what;
        EXPECT_LT(largestBend(out.right, at, length), bound) << c.what;
    }

    // The send ramps over 20 ms: the first echo of a tone switched on fades in linearly.
    Settings silent = base;
    silent.amount = 0.0f;
    silent.feedbackPercent = 0.0f;
    Settings open = silent;
    open.amount = 10.0f;
    const Stereo reference = renderFresh(in, open);
    const Stereo ramped = renderFresh(in, silent, {{at, open}});
    const int d = 12000;
    const int fade = static_cast<int>(std::lround(0.020 * fs));
    for (int k = 0; k < 2 * fade; k += 7)
    {
        const auto u = static_cast<size_t>(at + d + k);
        const float x = std::min(1.0f, static_cast<float>(k + 1) / static_cast<float>(fade));
        EXPECT_NEAR(ramped.left[u], x * reference.left[u], 0.03f * 0.375f)
            << "sample " << k << " of the fade";
    }
}

TEST(TempoDelay, echoesRingOutAfterTheSendClosesThenTheModuleIdles)
{
    TempoDelay delay;
    delay.prepare(fs);
    std::vector<float> in = impulse(480);
    std::vector<float> l(480), r(480);
    const std::vector<float> silence(480, 0.0f);

    // Off from the start: silent and idle.
    delay.set({0.0f, 0, 50.0f, false, 120.0});
    delay.process(in.data(), l.data(), r.data(), 480);
    EXPECT_FALSE(delay.isRunning());
    EXPECT_EQ(*std::max_element(l.begin(), l.end()), 0.0f);

    // On: one impulse, then the send closes; the echoes already in the lines keep sounding.
    delay.set({10.0f, 0, 50.0f, false, 120.0});
    delay.process(in.data(), l.data(), r.data(), 480);
    delay.set({0.0f, 0, 50.0f, false, 120.0});
    std::vector<float> tail;
    for (int piece = 0; piece < 400 && delay.isRunning(); ++piece)
    {
        delay.process(silence.data(), l.data(), r.data(), 480);
        tail.insert(tail.end(), l.begin(), l.end());
    }
    ASSERT_FALSE(delay.isRunning()) << "the tail never ended";
    const double first = energy(tail, 4800 - 480, 2 * 4800 - 480);
    const double second = energy(tail, 2 * 4800 - 480, 3 * 4800 - 480);
    EXPECT_GT(first, 0.0);
    EXPECT_GT(second, 0.1 * first) << "echoes continue after the send closed";
    float last = 0.0f;
    for (size_t i = tail.size() - 4800; i < tail.size(); ++i)
        last = std::max(last, std::abs(tail[i]));
    EXPECT_LT(last, 1.3e-5f) << "stops only once the lines are silent";

    // Idle: silent output and nothing moves; starting again begins from cleared lines.
    delay.process(in.data(), l.data(), r.data(), 480);
    EXPECT_EQ(*std::max_element(l.begin(), l.end()), 0.0f);
    delay.set({10.0f, 0, 50.0f, false, 120.0});
    for (int piece = 0; piece < 30; ++piece)
    {
        delay.process(silence.data(), l.data(), r.data(), 480);
        for (float v : l)
            ASSERT_EQ(v, 0.0f) << "stale line content after a restart";
    }
    EXPECT_TRUE(delay.isRunning());
}

TEST(TempoDelay, pieceSizesDoNotChangeTheOutputAndNothingAllocates)
{
    const std::vector<float> voice = vocalPhrase();
    ASSERT_GT(voice.size(), 20000u);
    std::vector<float> in(voice);
    in.resize(voice.size() + 96000, 0.0f);

    Settings first;
    first.character = 2;
    first.amount = 8.0f;
    first.feedbackPercent = 60.0f;
    first.tempo = 97.0;
    Settings faster = first;
    faster.tempo = 131.0;
    Settings quarter = faster;
    quarter.character = 3;
    quarter.pingPong = true;
    Settings closed = quarter;
    closed.amount = 0.0f;
    const std::vector<Change> changes{{20000, faster}, {41234, quarter}, {70001, closed}};

    TempoDelay whole;
    whole.prepare(fs);
    const Stereo a = render(whole, in, first, changes, 4096);

    TempoDelay pieces;
    pieces.prepare(fs);
    Stereo b{std::vector<float>(in.size()), std::vector<float>(in.size())};
    EXPECT_NO_HEAP(renderInto(pieces, in, first, changes, 0, 7, b));
    EXPECT_EQ(firstDifference(a.left, b.left), -1L);
    EXPECT_EQ(firstDifference(a.right, b.right), -1L);
}
