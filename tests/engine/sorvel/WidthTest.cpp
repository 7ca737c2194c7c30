#include "sorvel/engine/primitives/FilterDesign.h"
#include "sorvel/engine/Tune.h"
#include "sorvel/engine/Width.h"
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
using eng::vocal::Width;
namespace tune = eng::vocal::tune;

constexpr double fs = 48000.0;
using testsupport::pi;

struct Settings
{
    int character = 1;
    float amount = 10.0f;
};

using Change = testsupport::SettingsChange<Settings>;
using Stereo = testsupport::StereoOut;

void renderInto(Width& width, const std::vector<float>& in, Settings first,
                const std::vector<Change>& changes, int piece, unsigned seed, Stereo& out)
{
    testsupport::renderPieces(width, in, first, changes, piece, seed, out,
                              [](Width& m, const Settings& s) {
                                  m.set({s.amount, s.character});
                              });
}

Stereo render(Width& width, const std::vector<float>& in, Settings first,
              const std::vector<Change>& changes = {}, int piece = 480)
{
    Stereo out{std::vector<float>(in.size()), std::vector<float>(in.size())};
    renderInto(width, in, first, changes, piece, 1, out);
    return out;
}

Stereo renderFresh(const std::vector<float>& in, Settings first, double rate = fs)
{
    Width width;
    width.prepare(rate);
    return render(width, in, first);
}

std::vector<float> tone(double hz, float amplitude, int length, double rate = fs)
{
    std::vector<float> x(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
        x[static_cast<size_t>(i)] = amplitude * static_cast<float>(std::sin(2.0 * pi * hz * i / rate));
    return x;
}

double rmsDb(const std::vector<float>& x, int from, int to)
{
    double e = 0.0;
    for (int i = from; i < to; ++i)
        e += static_cast<double>(x[static_cast<size_t>(i)]) * x[static_cast<size_t>(i)];
    return 10.0 * std::log10(std::max(e / (to - from), 1e-30));
}

// Largest second difference in [from, to): small for a tone, large at any jump.
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

float peak(const std::vector<float>& x, int from, int to)
{
    float p = 0.0f;
    for (int i = from; i < to; ++i)
        p = std::max(p, std::abs(x[static_cast<size_t>(i)]));
    return p;
}

// Delay range of a character in samples.
double shortestOf(int character)
{
    return tune::widthChars[static_cast<size_t>(character)][0] * 0.001 * fs;
}
double longestOf(int character)
{
    return tune::widthChars[static_cast<size_t>(character)][1] * 0.001 * fs;
}

// Pitch of a delay path step in cents: reading a delay that grows by `step` per sample plays
// (1 - step) times the pitch.
double centsOf(double step)
{
    return std::abs(1200.0 * std::log2(1.0 - step));
}

using testsupport::firstDifference;
using testsupport::vocalPhrase;
} // namespace

TEST(Width, eachDoubleSitsOnItsSideAndReachesTheOtherByTheCharactersCrossFeed)
{
    // A short 3 kHz burst comes back twice: the left double first (30 % of the range), then the
    // right double (70 %). What the other side gets, relative to the own side, is the
    // separation and cross-feed rule 1 - separation + cross-feed.
    struct Case
    {
        int character;
        float otherSide;
        const char* name;
    };
    const Case cases[] = {{0, 0.25f, "Stereo"}, {1, 0.0f, "Wide"}, {2, -0.3f, "Spreader"}};
    const int burst = 96;
    std::vector<float> in(3000, 0.0f);
    for (int i = 0; i < burst; ++i)
        in[static_cast<size_t>(i)] = static_cast<float>((0.5 - 0.5 * std::cos(2.0 * pi * i / burst)) *
                                                        std::sin(2.0 * pi * 3000.0 * i / fs));
    for (const Case& c : cases)
    {
        const auto& row = tune::widthChars[static_cast<size_t>(c.character)];
        EXPECT_FLOAT_EQ(1.0f - row[4] + row[5], c.otherSide) << c.name;

        const Stereo out = renderFresh(in, {c.character, 10.0f});
        const double range = longestOf(c.character) - shortestOf(c.character);
        for (int d = 0; d < 2; ++d)
        {
            const int arrival = static_cast<int>(shortestOf(c.character) + (d == 0 ? 0.3 : 0.7) * range);
            const std::vector<float>& own = d == 0 ? out.left : out.right;
            const std::vector<float>& other = d == 0 ? out.right : out.left;
            double cross = 0.0, self = 0.0;
            for (int i = arrival - 10; i < arrival + burst + 60; ++i)
            {
                cross += static_cast<double>(own[static_cast<size_t>(i)]) * other[static_cast<size_t>(i)];
                self += static_cast<double>(own[static_cast<size_t>(i)]) * own[static_cast<size_t>(i)];
            }
            EXPECT_GT(self, 0.05) << c.name << ", double " << d;
            EXPECT_NEAR(cross / self, c.otherSide, 2e-3) << c.name << ", double " << d;
        }
    }
}

TEST(Width, sendLevelIs063TimesTheAmountToThePower075)
{
    // Own side of the left double ("Wide": nothing else there) for a steady 1 kHz tone: send
    // times the 200 Hz high-pass and the 7 kHz low-pass at 1 kHz.
    eng::md::Design highPass, lowPass;
    eng::md::design(highPass, eng::md::highPass, 3, fs, 200.0, 0.0, 0.70710678);
    lowPass.count = 1;
    lowPass.sections[0] = eng::md::designLowPass2(fs, 7000.0, 0.70710678);
    const double filtersDb =
        eng::md::magnitudeDb(highPass, fs, 1000.0) + eng::md::magnitudeDb(lowPass, fs, 1000.0);
    const std::vector<float> in = tone(1000.0, 0.5f, 48000);
    for (const float amount : {10.0f, 5.0f, 1.0f, 0.2f, 15.0f})
    {
        const double send = 0.63 * std::pow(std::min(amount, 10.0f) / 10.0, 0.75);
        const Stereo out = renderFresh(in, {1, amount});
        const double expected = 20.0 * std::log10(send * 0.5 / std::sqrt(2.0)) + filtersDb;
        EXPECT_NEAR(rmsDb(out.left, 24000, 48000), expected, 0.02) << "amount " << amount;
    }
}

TEST(Width, amountZeroOrSwitchedOffGivesNoDoublesAndDoesNoWork)
{
    // Loud tone with long pauses: a running module would glide and start phrases.
    std::vector<float> in = tone(1000.0, 0.5f, 96000);
    for (int i = 30000; i < 50000; ++i)
        in[static_cast<size_t>(i)] = 0.0f;

    {
        Width width;
        width.prepare(fs);
        const Stereo out = render(width, in, {0, 0.0f});
        EXPECT_FALSE(width.isRunning());
        EXPECT_EQ(peak(out.left, 0, 96000), 0.0f);
        EXPECT_EQ(peak(out.right, 0, 96000), 0.0f);
        EXPECT_EQ(width.getPhraseStarts(), 0);
        const double range = longestOf(0) - shortestOf(0);
        EXPECT_DOUBLE_EQ(width.getDelaySamples(0), shortestOf(0) + 0.3 * range) << "no glide while off";
        EXPECT_DOUBLE_EQ(width.getDelaySamples(1), shortestOf(0) + 0.7 * range);
    }

    // Running, then switched off (the chain passes amount 0): a 20 ms fade, then silence and a
    // frozen state; switched on again it starts from a cleared ring.
    Width width;
    width.prepare(fs);
    const int off = 20011;
    const int fade = static_cast<int>(std::lround(0.020 * fs));
    const Stereo out = render(width, in, {0, 5.0f}, {{off, {0, 0.0f}}});
    EXPECT_GT(std::abs(out.left[static_cast<size_t>(off + fade / 2)]) +
                  std::abs(out.left[static_cast<size_t>(off + fade / 2 + 12)]),
              0.0f)
        << "still fading";
    EXPECT_EQ(peak(out.left, off + fade, 96000), 0.0f);
    EXPECT_EQ(peak(out.right, off + fade, 96000), 0.0f);
    EXPECT_FALSE(width.isRunning());
    EXPECT_EQ(width.getPhraseStarts(), 0) << "the pause came after the send had closed";
    const double frozen0 = width.getDelaySamples(0), frozen1 = width.getDelaySamples(1);
    render(width, in, {0, 0.0f});
    EXPECT_EQ(width.getDelaySamples(0), frozen0);
    EXPECT_EQ(width.getDelaySamples(1), frozen1);

    const std::vector<float> silence(4800, 0.0f);
    const Stereo restart = render(width, silence, {0, 5.0f});
    EXPECT_TRUE(width.isRunning());
    EXPECT_EQ(peak(restart.left, 0, 4800), 0.0f) << "old vocal left in the ring";
    EXPECT_EQ(peak(restart.right, 0, 4800), 0.0f);
}

TEST(Width, steadyToneGlidesBetweenHoldsWithinTheCharactersDetuneAndNeverJumps)
{
    const int length = static_cast<int>(12.0 * fs);
    const std::vector<float> in = tone(1000.0, 0.5f, length);
    for (int character = 0; character < 3; ++character)
    {
        const auto& row = tune::widthChars[static_cast<size_t>(character)];
        const double lowest = row[2], highest = row[3];
        Width width;
        width.prepare(fs);
        std::vector<double> path[2];
        std::vector<float> left(static_cast<size_t>(length)), right(static_cast<size_t>(length));
        for (int i = 0; i < length; ++i)
        {
            width.set({10.0f, character});
            width.process(in.data() + i, left.data() + i, right.data() + i, 1);
            for (int d = 0; d < 2; ++d)
                path[d].push_back(width.getDelaySamples(d));
        }
        EXPECT_EQ(width.getPhraseStarts(), 0) << "a steady tone has no phrases";

        int glides = 0;
        for (int d = 0; d < 2; ++d)
        {
            const std::vector<double>& p = path[d];
            int runStart = 1;
            bool gliding = p[1] != p[0];
            double runPeak = 0.0;
            for (int i = 1; i < length; ++i)
            {
                const double step = p[static_cast<size_t>(i)] - p[static_cast<size_t>(i - 1)];
                ASSERT_LE(centsOf(step), highest + 1e-6)
                    << "character " << character << " double " << d << " at " << i;
                ASSERT_GE(p[static_cast<size_t>(i)], shortestOf(character) - 1e-9);
                ASSERT_LE(p[static_cast<size_t>(i)], longestOf(character) + 1e-9);
                const bool moving = step != 0.0;
                if (i + 1 == length)
                    break; // the last run is cut short by the end of the render
                if (moving == gliding)
                {
                    runPeak = std::max(runPeak, centsOf(step));
                    continue;
                }
                // A run ends: glides reach a peak detune in the row's range, holds last
                // 0.3 .. 1.2 s (the glide's first sample, still at its start, counts as hold).
                if (gliding)
                {
                    ++glides;
                    EXPECT_GE(runPeak, lowest - 0.05)
                        << "character " << character << " double " << d << " glide at " << runStart;
                    EXPECT_LE(runPeak, highest + 1e-6);
                }
                else
                {
                    EXPECT_GE(i - runStart, static_cast<int>(0.3 * fs)) << "hold at " << runStart;
                    EXPECT_LE(i - runStart, static_cast<int>(1.2 * fs) + 2) << "hold at " << runStart;
                }
                gliding = moving;
                runStart = i;
                runPeak = centsOf(step);
            }
        }
        EXPECT_GE(glides, 4) << "character " << character;

        // The doubles themselves: "Wide" has the left double alone on the left; its pitch,
        // measured from zero crossings over ten periods, deviates at most by the row's largest
        // detune and at least (somewhere) by its smallest. No jumps anywhere.
        const double bendBound = 1.02 * std::pow(2.0 * std::sin(pi * 1000.0 / fs), 2.0);
        EXPECT_LT(largestBend(left, 2000, length), bendBound * peak(left, 2000, length))
            << "character " << character;
        EXPECT_LT(largestBend(right, 2000, length), bendBound * peak(right, 2000, length))
            << "character " << character;
        if (character != 1)
            continue;
        std::vector<double> crossings;
        for (int i = 2000; i < length; ++i)
        {
            const float a = left[static_cast<size_t>(i - 1)], b = left[static_cast<size_t>(i)];
            if (a < 0.0f && b >= 0.0f)
                crossings.push_back(i - 1 + a / (a - b));
        }
        double largest = 0.0;
        for (size_t k = 10; k < crossings.size(); ++k)
        {
            const double hz = 10.0 * fs / (crossings[k] - crossings[k - 10]);
            largest = std::max(largest, std::abs(1200.0 * std::log2(hz / 1000.0)));
        }
        std::printf(
            "[ figures  ] Wide: largest pitch deviation of the left double %.3f cents (row %.1f .. %.1f)\n",
            largest, lowest, highest);
        EXPECT_LE(largest, highest + 0.1);
        EXPECT_GE(largest, lowest - 0.1);
    }
}

TEST(Width, newPhraseJumpsToNewDelaysAndLevelsCrossfadedInsideThePause)
{
    // Six phrases of a 1 kHz tone, each followed by a pause in which the tone goes on 50 dB
    // lower (so the jump happens on real signal). Phrase edges sit on zero crossings.
    const int phrase = 57600, pause = 14400, period = phrase + pause, count = 6;
    const float loud = 0.5f, quiet = loud * std::pow(10.0f, -50.0f / 20.0f);
    std::vector<float> in(static_cast<size_t>(count * period));
    for (int i = 0; i < count * period; ++i)
        in[static_cast<size_t>(i)] =
            (i % period < phrase ? loud : quiet) * static_cast<float>(std::sin(2.0 * pi * 1000.0 * i / fs));

    const int character = 1;
    const double range = longestOf(character) - shortestOf(character);
    Width width;
    width.prepare(fs);
    Stereo out{std::vector<float>(in.size()), std::vector<float>(in.size())};
    std::vector<int> starts;
    std::vector<float> levels[2];
    for (int i = 0; i < count * period; ++i)
    {
        const double before[2] = {width.getDelaySamples(0), width.getDelaySamples(1)};
        const auto seen = width.getPhraseStarts();
        width.set({10.0f, character});
        width.process(in.data() + i, out.left.data() + i, out.right.data() + i, 1);
        if (width.getPhraseStarts() == seen)
            continue;
        starts.push_back(i);
        for (int d = 0; d < 2; ++d)
        {
            const double now = width.getDelaySamples(d);
            EXPECT_GE(std::abs(now - before[d]), range / 4.0 - 1e-9) << "double " << d << " at " << i;
            EXPECT_GE(now, shortestOf(character));
            EXPECT_LE(now, longestOf(character));
            const float level = width.getLevelTarget(d);
            EXPECT_GE(level, std::pow(10.0f, -0.6f / 20.0f) - 1e-6f);
            EXPECT_LE(level, std::pow(10.0f, 0.6f / 20.0f) + 1e-6f);
            levels[d].push_back(level);
        }
    }

    ASSERT_EQ(static_cast<int>(starts.size()), count) << "one phrase start per pause";
    for (int k = 0; k < count; ++k)
    {
        const int pauseStart = k * period + phrase;
        const int at = starts[static_cast<size_t>(k)] - pauseStart;
        EXPECT_GE(at, static_cast<int>(0.035 * fs)) << "pause " << k;
        // The longest double plus the 10 ms crossfade still read the pause.
        EXPECT_LT(at + static_cast<int>(0.010 * fs + longestOf(character)), pause) << "pause " << k;

        // The jump is crossfaded: no bend beyond the quiet tone's own.
        const std::vector<float>* sides[] = {&out.left, &out.right};
        for (const std::vector<float>* side : sides)
        {
            const int settled = pauseStart + static_cast<int>(0.040 * fs);
            const float own = largestBend(*side, settled, starts[static_cast<size_t>(k)]);
            EXPECT_LT(largestBend(*side, starts[static_cast<size_t>(k)], pauseStart + pause), 1.3f * own)
                << "pause " << k;
        }
    }

    // Each phrase after a pause plays at the levels drawn in that pause (measured late in the
    // phrase, once the 200 ms level follower has settled), relative to the first phrase.
    double spread[2] = {0.0, 0.0};
    for (int d = 0; d < 2; ++d)
    {
        const std::vector<float>& side = d == 0 ? out.left : out.right;
        const double first = rmsDb(side, phrase - 19200, phrase);
        double lowest = 1.0, highest = -1.0;
        for (int k = 1; k < count; ++k)
        {
            const int end = k * period + phrase;
            const double db = rmsDb(side, end - 19200, end) - first;
            const double drawn = 20.0 * std::log10(levels[d][static_cast<size_t>(k - 1)]);
            EXPECT_NEAR(db, drawn, 0.03) << "double " << d << ", phrase " << k;
            EXPECT_LE(std::abs(db), 0.63) << "double " << d << ", phrase " << k;
            lowest = std::min(lowest, db);
            highest = std::max(highest, db);
        }
        spread[d] = highest - lowest;
        EXPECT_GT(spread[d], 0.1) << "the levels really change, double " << d;
    }
    std::printf("[ figures  ] phrase starts %d .. %d ms into the pause; level spread %.2f / %.2f dB\n",
                static_cast<int>((starts[0] - phrase) * 1000 / fs),
                static_cast<int>((starts[static_cast<size_t>(count - 1)] - (count - 1) * period - phrase) *
                                 1000 / fs),
                spread[0], spread[1]);
}

TEST(Width, lowEndStaysOutOfTheDoubles)
{
    // Level of the doubles at named frequencies relative to 1 kHz: the 24 dB per octave
    // Butterworth high-pass at 200 Hz, |H|^2 = W^8 / (1 + W^8).
    struct Point
    {
        double hz;
        double tolerance;
    };
    const Point points[] = {{50.0, 0.5}, {100.0, 0.2}, {200.0, 0.2}, {400.0, 0.1}};
    for (const double rate : {44100.0, 48000.0, 96000.0})
    {
        const int length = static_cast<int>(rate);
        const Stereo reference = renderFresh(tone(1000.0, 0.5f, length, rate), {1, 10.0f}, rate);
        const double referenceDb = rmsDb(reference.left, length / 2, length);
        std::string figures;
        for (const Point& p : points)
        {
            const Stereo out = renderFresh(tone(p.hz, 0.5f, length, rate), {1, 10.0f}, rate);
            const double w8 = std::pow(p.hz / 200.0, 8.0);
            const double expected = 10.0 * std::log10(w8 / (1.0 + w8));
            const double measured = rmsDb(out.left, length / 2, length) - referenceDb;
            EXPECT_NEAR(measured, expected, p.tolerance) << p.hz << " Hz at " << rate;
            char figure[32];
            std::snprintf(figure, sizeof figure, " %.0f Hz %.2f", p.hz, measured);
            figures += figure;
            EXPECT_NEAR(rmsDb(out.right, length / 2, length) - rmsDb(reference.right, length / 2, length),
                        expected, p.tolerance)
                << p.hz << " Hz at " << rate;
        }
        std::printf("[ figures  ] doubles against 1 kHz at %.0f Hz:%s dB\n", rate, figures.c_str());
    }
}

TEST(Width, characterChangeNeverMakesADoubleJump)
{
    // "Wide" puts the right double at 21.1 ms; "Stereo" ends at 20 ms. The double glides into
    // the new range instead of jumping there.
    const int length = static_cast<int>(10.0 * fs);
    const std::vector<float> in = tone(1000.0, 0.5f, length);
    Width width;
    width.prepare(fs);
    std::vector<float> left(static_cast<size_t>(length)), right(static_cast<size_t>(length));
    double previous[2] = {0.0, 0.0};
    const double steepest = 1.0 - std::pow(2.0, -6.0 / 1200.0);
    for (int i = 0; i < length; ++i)
    {
        width.set({10.0f, i < 4800 ? 1 : 0});
        width.process(in.data() + i, left.data() + i, right.data() + i, 1);
        for (int d = 0; d < 2; ++d)
        {
            const double now = width.getDelaySamples(d);
            if (i > 0)
            {
                ASSERT_LE(std::abs(now - previous[d]), steepest + 1e-9) << "double " << d << " at " << i;
            }
            previous[d] = now;
        }
    }
    EXPECT_LE(width.getDelaySamples(1), longestOf(0) + 1e-9) << "inside the new range in the end";
    const double bendBound = 1.02 * std::pow(2.0 * std::sin(pi * 1000.0 / fs), 2.0);
    EXPECT_LT(largestBend(left, 2000, length), bendBound * peak(left, 2000, length));
    EXPECT_LT(largestBend(right, 2000, length), bendBound * peak(right, 2000, length));
}

TEST(Width, pieceSizesDoNotChangeTheOutputAndNothingAllocates)
{
    const std::vector<float> voice = vocalPhrase();
    ASSERT_GT(voice.size(), 20000u);
    std::vector<float> in;
    const size_t excerpt = std::min(voice.size(), static_cast<size_t>(3.0 * fs));
    for (int k = 0; k < 3; ++k)
    {
        in.insert(in.end(), voice.begin(), voice.begin() + static_cast<long>(excerpt));
        in.insert(in.end(), static_cast<size_t>(0.4 * fs), 0.0f);
    }
    const int total = static_cast<int>(in.size());
    const std::vector<Change> changes{
        {total / 3, {1, 10.0f}}, {total / 2, {1, 0.0f}}, {total / 2 + 9000, {0, 4.0f}}};
    const Settings first{2, 7.0f};

    Width whole;
    whole.prepare(fs);
    Stereo a{std::vector<float>(in.size()), std::vector<float>(in.size())};
    renderInto(whole, in, first, changes, 4096, 1, a);
    EXPECT_GE(whole.getPhraseStarts(), 2);

    Width pieces;
    pieces.prepare(fs);
    Stereo b{std::vector<float>(in.size()), std::vector<float>(in.size())};
    EXPECT_NO_HEAP(renderInto(pieces, in, first, changes, 0, 3, b));
    EXPECT_EQ(firstDifference(a.left, b.left), -1L);
    EXPECT_EQ(firstDifference(a.right, b.right), -1L);

    // Preparing again reseeds the generator: the same audio gives the same doubles.
    whole.prepare(fs);
    Stereo again{std::vector<float>(in.size()), std::vector<float>(in.size())};
    renderInto(whole, in, first, changes, 512, 1, again);
    EXPECT_EQ(firstDifference(again.left, a.left), -1L);
    EXPECT_EQ(firstDifference(again.right, a.right), -1L);
}
