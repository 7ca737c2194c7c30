#include "common/dsp/XorShift32.h"
#include "sorvel/engine/reverb/FdnCore.h"
#include "sorvel/engine/primitives/FilterDesign.h"
#include "sorvel/engine/reverb/Reverb.h"
#include "sorvel/engine/Tune.h"
#include "support/Signals.h"
#include "support/AllocationCounter.h"
#include "support/SyntheticVocal.h"
#include "wav/WavFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <string>
#include <vector>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

using eng::vocal::FdnCore;
using eng::vocal::Reverb;
namespace md = eng::md;
namespace tune = eng::vocal::tune;

namespace
{
using testsupport::largestStep;
using testsupport::pi;
constexpr double rates[] = {44100.0, 48000.0, 96000.0};
constexpr const char* names[] = {"Plate", "Room", "Hall"};

int samples(double rate, double seconds)
{
    return static_cast<int>(std::lround(rate * seconds));
}

size_t at(int i)
{
    return static_cast<size_t>(i);
}

bool isOddPrime(int n)
{
    if (n < 3 || n % 2 == 0)
        return false;
    for (int d = 3; d * d <= n; d += 2)
        if (n % d == 0)
            return false;
    return true;
}

struct Stereo
{
    std::vector<float> left, right;
    explicit Stereo(size_t n = 0) : left(n, 0.0f), right(n, 0.0f) {}
};

// [from, to) of the mono input through the reverb in pieces of `piece` samples.
void run(Reverb& reverb, const std::vector<float>& in, Stereo& out, int from, int to, int piece = 512)
{
    for (int pos = from; pos < to; pos += piece)
    {
        const int n = std::min(piece, to - pos);
        reverb.process(in.data() + pos, out.left.data() + pos, out.right.data() + pos, n);
    }
}

Stereo render(Reverb& reverb, const std::vector<float>& in, int piece = 512)
{
    Stereo out(in.size());
    run(reverb, in, out, 0, static_cast<int>(in.size()), piece);
    return out;
}

std::vector<float> noise(int n, float amplitude, std::uint32_t seed)
{
    sv::XorShift32 random(seed);
    std::vector<float> x(at(n));
    for (auto& v : x)
        v = amplitude * (2.0f * random.uniform() - 1.0f);
    return x;
}

// Noise in a band around hz (band-pass, Q 4), Hann-windowed over `seconds`, then silence.
std::vector<float> burst(double rate, double hz, double seconds, int total)
{
    md::RunningSection bandPass;
    bandPass.setCoefficients(md::designBandPass(rate, hz, 4.0));
    const auto source = noise(total, 1.0f, 12345u);
    const int length = samples(rate, seconds);
    std::vector<float> x(at(total), 0.0f);
    for (int i = 0; i < length; ++i)
        x[at(i)] = static_cast<float>(bandPass.processSample(source[at(i)]) *
                                      (0.5 - 0.5 * std::cos(2.0 * pi * i / length)));
    return x;
}

// Decay time of the output around hz: Schroeder's backward integral of the band-passed energy
// from sample `from`, a straight line fitted between -10 and -50 dB, extrapolated to 60 dB.
double decaySeconds(const Stereo& out, double rate, double hz, int from)
{
    md::RunningSection bandL, bandR;
    bandL.setCoefficients(md::designBandPass(rate, hz, 4.0));
    bandR = bandL;
    const size_t n = out.left.size();
    std::vector<double> energy(n);
    for (size_t i = 0; i < n; ++i)
    {
        const double l = bandL.processSample(out.left[i]), r = bandR.processSample(out.right[i]);
        energy[i] = l * l + r * r;
    }
    std::vector<double> remaining(n + 1, 0.0);
    for (size_t i = n; i-- > 0;)
        remaining[i] = remaining[i + 1] + energy[i];
    double sx = 0, sy = 0, sxx = 0, sxy = 0, count = 0;
    for (size_t i = at(from); i < n; ++i)
    {
        const double db = 10.0 * std::log10(remaining[i] / remaining[at(from)]);
        if (db > -10.0)
            continue;
        if (db < -50.0)
            break;
        const double t = double(i) / rate;
        sx += t;
        sy += db;
        sxx += t * t;
        sxy += t * db;
        count += 1.0;
    }
    const double slope = (count * sxy - sx * sy) / (count * sxx - sx * sx);
    return -60.0 / slope;
}

double rms(const std::vector<float>& x, int from, int to)
{
    double sum = 0.0;
    for (int i = from; i < to; ++i)
        sum += double(x[at(i)]) * x[at(i)];
    return std::sqrt(sum / (to - from));
}

// The vocal phrase (48 kHz mono), repeated or cut to `total` samples.
std::vector<float> phrase(int total)
{
    const auto& vocal = testsupport::vocalPhrase();
    std::vector<float> x(at(total), 0.0f);
    if (vocal.empty())
        return x;
    for (int i = 0; i < total; ++i)
        x[at(i)] = vocal[at(i) % vocal.size()];
    return x;
}

int crossfadeSamples(double rate)
{
    return static_cast<int>(std::lround(0.020 * rate));
}
} // namespace

// ---------------------------------------------------------------------------------------------
// The core's network

TEST(FdnCore, charactersHaveTheirReflectionsAndOddPrimeLinesAcrossTheirRange)
{
    const int reflectionCounts[] = {0, 14, 10};
    for (double rate : rates)
        for (int ch = 0; ch < 3; ++ch)
        {
            const auto& row = tune::reverbChars[at(ch)];
            FdnCore core;
            core.prepare(rate);
            core.configure(ch, 1.6f);
            const std::string where = std::string(names[ch]) + " at " + std::to_string(int(rate));

            EXPECT_EQ(core.getCharacter(), ch);
            EXPECT_EQ(core.getReflectionCount(), reflectionCounts[ch]) << where;
            int previous = 0;
            for (int j = 0; j < FdnCore::numLines; ++j)
            {
                const int length = core.getLineLength(j);
                const long spaced = std::lround(rate * 0.001 * row[0] * std::pow(row[1] / row[0], j / 15.0));
                EXPECT_TRUE(isOddPrime(length)) << where << ", line " << j << ": " << length;
                EXPECT_GE(length, spaced) << where << ", line " << j;
                EXPECT_LT(length, spaced + 40) << where << ", line " << j;
                EXPECT_GT(length, previous) << where << ", line " << j;
                previous = length;
                const double depthMs = 1000.0 * core.getModulationDepth(j) / rate;
                EXPECT_GE(depthMs, 0.7 * row[9] - 1e-6) << where << ", line " << j;
                EXPECT_LE(depthMs, row[9] + 1e-6) << where << ", line " << j;
            }
            for (int k = 0; k < FdnCore::numAllPasses; ++k)
            {
                const int length = core.getAllPassLength(k);
                EXPECT_TRUE(isOddPrime(length)) << where << ", all-pass " << k;
                EXPECT_GE(length, std::lround(rate * row[at(2 + k)] / 1000.0)) << where << ", all-pass " << k;
            }
            for (int k = 0; k < core.getReflectionCount(); ++k)
            {
                const auto reflection = core.getReflection(k);
                const double ms = 1000.0 * reflection.delaySamples / rate;
                EXPECT_GE(ms, row[12] - 1e-4) << where << ", reflection " << k;
                EXPECT_LE(ms, row[13] * 1.15 + 1e-4) << where << ", reflection " << k;
                EXPECT_GT(reflection.gain, 0.0f);
                EXPECT_LE(reflection.gain, 1.2f * row[14]);
                EXPECT_EQ(reflection.side, k % 2) << "reflections alternate left and right";
            }
        }
}

TEST(FdnCore, configuringACharacterAgainRebuildsTheSameNetwork)
{
    struct Network
    {
        std::vector<int> lengths;
        std::vector<float> depths, phases, reflectionDelays, reflectionGains;
        bool operator==(const Network& o) const
        {
            return lengths == o.lengths && depths == o.depths && phases == o.phases &&
                   reflectionDelays == o.reflectionDelays && reflectionGains == o.reflectionGains;
        }
    };
    const auto read = [](const FdnCore& core)
    {
        Network n;
        for (int j = 0; j < FdnCore::numLines; ++j)
        {
            n.lengths.push_back(core.getLineLength(j));
            n.depths.push_back(core.getModulationDepth(j));
            n.phases.push_back(core.getStartPhase(j));
        }
        for (int k = 0; k < core.getReflectionCount(); ++k)
        {
            n.reflectionDelays.push_back(core.getReflection(k).delaySamples);
            n.reflectionGains.push_back(core.getReflection(k).gain);
        }
        return n;
    };

    constexpr double rate = 48000.0;
    for (int ch = 0; ch < 3; ++ch)
    {
        FdnCore core;
        core.prepare(rate);
        core.configure(ch, 1.6f);
        const Network first = read(core);
        core.configure((ch + 1) % 3, 0.5f);
        EXPECT_FALSE(read(core) == first);
        core.configure(ch, 4.0f);
        EXPECT_TRUE(read(core) == first) << names[ch];

        // The generator: xorshift seeded with character x 7919 + 0x9E3779B9; line 0 draws first.
        sv::XorShift32 random(static_cast<std::uint32_t>(ch) * 7919u + 0x9E3779B9u);
        const double u1 = random.uniform(), u2 = random.uniform();
        const double depth = tune::reverbChars[at(ch)][9] * 0.001 * rate * (0.7 + 0.3 * u1);
        EXPECT_NEAR(core.getModulationDepth(0), depth, 1e-4 * depth) << names[ch];
        EXPECT_NEAR(core.getStartPhase(0), 2.0 * pi * u2, 1e-5) << names[ch];
    }
}

TEST(FdnCore, dampingLosesSixtyDecibelsPerDecayAtOneKilohertzAndFasterAtTheTop)
{
    for (double rate : rates)
        for (int ch = 0; ch < 3; ++ch)
            for (float decay : {0.3f, 1.6f, 6.0f, 20.0f})
            {
                FdnCore core;
                core.prepare(rate);
                core.configure(ch, decay);
                const double ratio = tune::reverbChars[at(ch)][7];
                for (int j = 0; j < FdnCore::numLines; ++j)
                {
                    const auto d = core.getDamping(j);
                    const auto gainDb = [&](double hz)
                    {
                        const std::complex<double> z = std::polar(1.0, -2.0 * pi * hz / rate);
                        return 20.0 * std::log10(std::abs((double(d[0]) + double(d[1]) * z) /
                                                          (1.0 + double(d[2]) * z)));
                    };
                    // One pass through a line of N samples loses 60 N / (fs T) dB at 1 kHz, and
                    // 60 N / (fs T ratio) dB at the top of the band.
                    const double passSeconds = core.getLineLength(j) / rate;
                    EXPECT_NEAR(gainDb(1000.0), -60.0 * passSeconds / decay,
                                1e-4 * 60.0 * passSeconds / decay)
                        << names[ch] << ", " << decay << " s, line " << j << " at " << rate;
                    // At the top the shelf only nearly reaches its target: its gain is matched at 1 kHz,
                    // not at DC.
                    EXPECT_NEAR(gainDb(rate / 2.0), -60.0 * passSeconds / (decay * ratio),
                                0.03 * 60.0 * passSeconds / (decay * ratio))
                        << names[ch] << ", " << decay << " s, line " << j << " at Nyquist, " << rate;
                }
            }
}

TEST(FdnCore, blocksOfEightFourAndOneSampleGiveTheSameOutputToTheBit)
{
    // Three cores on the same send: blocks of eight where the processor allows it, blocks of four,
    // and one sample at a time (tick). Pieces of odd sizes mix blocks and single samples; a
    // pre-delay glide makes the reflections read sample by sample for a while.
    for (double rate : {44100.0, 96000.0})
        for (int ch = 0; ch < 3; ++ch)
        {
            FdnCore wide, narrow, single;
            for (FdnCore* core : {&wide, &narrow, &single})
            {
                core->prepare(rate);
                core->configure(ch, 3.0f);
            }
            narrow.allowWideGroups(false);
            EXPECT_EQ(narrow.getGroupWidth(), 4);
            EXPECT_GE(wide.getGroupWidth(), 4);

            constexpr int maxPiece = 61;
            sv::DelayLine line, singleLine;
            line.prepare(static_cast<int>(std::lround(0.21 * rate)) + 10 + maxPiece);
            singleLine.prepare(line.getLength());
            const int total = samples(rate, 0.5);
            const auto in = noise(total, 0.5f, 99u);
            std::vector<float> level(maxPiece), preDelay(maxPiece);
            std::vector<float> wideL(at(total)), wideR(at(total)), narrowL(at(total)), narrowR(at(total));
            std::vector<float> singleL(at(total), 0.0f), singleR(at(total), 0.0f);
            sv::XorShift32 random(5u);
            float delay = 40.0f;
            for (int pos = 0; pos < total;)
            {
                const int n = std::min(total - pos, 1 + static_cast<int>(random.uniform() * maxPiece));
                for (int t = 0; t < n; ++t)
                {
                    delay = pos + t > total / 2 ? 0.999f * delay + 0.001f * 300.0f : delay;
                    preDelay[at(t)] = delay;
                    level[at(t)] = 1.0f - 0.5f * float(pos + t) / float(total);
                    singleLine.push(in[at(pos + t)]);
                    single.tick(in[at(pos + t)], singleLine, delay, level[at(t)], singleL[at(pos + t)],
                                singleR[at(pos + t)]);
                }
                line.write(in.data() + pos, n);
                wide.process(in.data() + pos, level.data(), line, preDelay.data(), wideL.data() + pos,
                             wideR.data() + pos, n);
                narrow.process(in.data() + pos, level.data(), line, preDelay.data(), narrowL.data() + pos,
                               narrowR.data() + pos, n);
                pos += n;
            }
            const std::string where = std::string(names[ch]) + " at " + std::to_string(int(rate));
            EXPECT_TRUE(narrowL == singleL && narrowR == singleR) << where << ": blocks of four";
            EXPECT_TRUE(wideL == narrowL && wideR == narrowR) << where << ": blocks of eight";
            EXPECT_GT(rms(narrowL, total / 2, total), 1e-3) << where;
        }
}

// ---------------------------------------------------------------------------------------------
// Decay, measured

class ReverbDecay : public ::testing::TestWithParam<double>
{
};

TEST_P(ReverbDecay, aOneKilohertzBurstFallsSixtyDecibelsInTheSetTimeAndTenKilohertzFaster)
{
    const double rate = GetParam();
    std::printf("decay at %.0f Hz: set, measured at 1 kHz (error), at 10 kHz, ratio 10k/1k (character's)\n",
                rate);
    for (int ch = 0; ch < 3; ++ch)
        for (float decay : {0.3f, 1.6f, 6.0f})
        {
            const int burstEnd = samples(rate, 0.1);
            const int total = burstEnd + samples(rate, decay * 65.0 / 60.0 + 0.2);
            double measured[2];
            for (int k = 0; k < 2; ++k)
            {
                const double hz = k == 0 ? 1000.0 : 10000.0;
                Reverb reverb;
                reverb.prepare(rate, 512);
                reverb.set({10.0f, ch, decay, 0.0f});
                const auto out = render(reverb, burst(rate, hz, 0.1, total));
                measured[k] = decaySeconds(out, rate, hz, burstEnd);
            }
            const double ratio = measured[1] / measured[0];
            const double expectedRatio = tune::reverbChars[at(ch)][7];
            std::printf("  %-5s %.1f s: 1 kHz %.3f s (%+.1f %%), 10 kHz %.3f s, ratio %.3f (%.2f)\n",
                        names[ch], double(decay), measured[0], 100.0 * (measured[0] / decay - 1.0),
                        measured[1], ratio, expectedRatio);
            EXPECT_NEAR(measured[0] / decay, 1.0, 0.05) << names[ch] << ", " << decay << " s at " << rate;
            // At 10 kHz the shelf is not quite at its top and the interpolation loses a little,
            // so the ratio is the character's only roughly; it is always clearly faster.
            EXPECT_LT(ratio, 0.85) << names[ch] << ", " << decay << " s at " << rate;
            EXPECT_NEAR(ratio / expectedRatio, 1.0, 0.3) << names[ch] << ", " << decay << " s at " << rate;
        }
}

INSTANTIATE_TEST_SUITE_P(Rates, ReverbDecay, ::testing::ValuesIn(rates),
                         [](const ::testing::TestParamInfo<double>& param)
                         { return std::to_string(static_cast<int>(param.param)) + "Hz"; });

// ---------------------------------------------------------------------------------------------
// Settings

TEST(Reverb, sendFollowsTheAmountCurveOverA30msRamp)
{
    for (double rate : rates)
    {
        Reverb reverb;
        reverb.prepare(rate, 64);
        reverb.set({5.0f, 0, 1.6f, 30.0f});
        EXPECT_FLOAT_EQ(reverb.getSendLevel(), 0.62f * std::pow(0.5f, 1.2f)) << "first setting is direct";

        reverb.set({10.0f, 0, 1.6f, 30.0f});
        const int ramp = samples(rate, 0.030);
        std::vector<float> in(at(ramp)), left(at(ramp)), right(at(ramp));
        reverb.process(in.data(), left.data(), right.data(), ramp - 1);
        EXPECT_LT(reverb.getSendLevel(), 0.62f) << "one sample early at " << rate;
        reverb.process(in.data(), left.data(), right.data(), 1);
        EXPECT_EQ(reverb.getSendLevel(), 0.62f) << "exactly at the end of the ramp at " << rate;
    }

    struct Case
    {
        float amount;
        float send;
    };
    for (const Case c : {Case{0.0f, 0.0f}, Case{-3.0f, 0.0f}, Case{12.0f, 0.62f},
                         Case{2.0f, 0.62f * std::pow(0.2f, 1.2f)}, Case{std::nanf(""), 0.0f}})
    {
        Reverb reverb;
        reverb.prepare(48000.0, 64);
        reverb.set({c.amount, 0, 1.6f, 30.0f});
        EXPECT_FLOAT_EQ(reverb.getSendLevel(), c.send) << "amount " << c.amount;
    }
}

TEST(Reverb, settingsOutsideTheirRangesAreClamped)
{
    constexpr double rate = 48000.0;
    Reverb reverb;
    reverb.prepare(rate, 256);
    reverb.set({10.0f, 7, std::nanf(""), std::nanf("")});
    EXPECT_EQ(reverb.getActiveCharacter(), 2);
    EXPECT_EQ(reverb.getCore(reverb.getActiveCoreIndex()).getDecay(), 0.1f);
    EXPECT_EQ(reverb.getPreDelaySamples(), 0.0f);

    reverb.set({10.0f, -5, 100.0f, 500.0f});
    EXPECT_EQ(reverb.getCore(reverb.getActiveCoreIndex()).getDecay(), 20.0f);
    const auto in = noise(samples(rate, 0.5), 0.5f, 9u);
    const auto out = render(reverb, in, 256);
    EXPECT_EQ(reverb.getActiveCharacter(), 0);
    EXPECT_EQ(reverb.getPreDelaySamples(), static_cast<float>(0.120 * rate)) << "set before anything ran";
    for (float v : out.left)
        ASSERT_TRUE(std::isfinite(v));
    EXPECT_GT(rms(out.left, 0, static_cast<int>(in.size())), 1e-3);
}

TEST(Reverb, preDelayJumpsFirstThenGlidesWithA120msTimeConstant)
{
    for (double rate : rates)
    {
        Reverb reverb;
        reverb.prepare(rate, 256);
        reverb.set({10.0f, 0, 1.6f, 30.0f});
        const float from = static_cast<float>(0.030 * rate);
        EXPECT_FLOAT_EQ(reverb.getPreDelaySamples(), from);
        const auto in = noise(samples(rate, 2.5), 0.1f, 7u);
        Stereo out(in.size());
        run(reverb, in, out, 0, 256, 256);

        reverb.set({10.0f, 0, 1.6f, 60.0f});
        const float to = static_cast<float>(0.060 * rate);
        run(reverb, in, out, 0, samples(rate, 0.120), 256);
        const double expected = to + (from - to) * std::exp(-1.0);
        EXPECT_NEAR(reverb.getPreDelaySamples(), expected, 0.01 * (to - from))
            << "one time constant at " << rate;
        run(reverb, in, out, samples(rate, 0.120), samples(rate, 2.5), 256);
        EXPECT_EQ(reverb.getPreDelaySamples(), to) << "lands on the target at " << rate;

        reverb.set({10.0f, 0, 1.6f, 500.0f});
        run(reverb, in, out, 0, samples(rate, 2.5), 256);
        EXPECT_EQ(reverb.getPreDelaySamples(), static_cast<float>(0.120 * rate)) << "at most 120 ms";
    }
}

TEST(Reverb, earlyReflectionsLeadTheLateTailAndPlateHasNone)
{
    for (double rate : rates)
    {
        const int preDelay = samples(rate, 0.030);
        for (int ch = 0; ch < 3; ++ch)
        {
            Reverb reverb;
            reverb.prepare(rate, 512);
            reverb.set({10.0f, ch, 1.6f, 30.0f});
            std::vector<float> impulse(at(samples(rate, 0.2)), 0.0f);
            impulse[0] = 1.0f;
            const auto out = render(reverb, impulse);
            const auto firstSound = [](const std::vector<float>& x) {
                return static_cast<int>(std::find_if(x.begin(), x.end(), [](float v) { return v != 0.0f; }) -
                                        x.begin());
            };
            const int left = firstSound(out.left), right = firstSound(out.right);
            const FdnCore& core = reverb.getCore(reverb.getActiveCoreIndex());
            const std::string where = std::string(names[ch]) + " at " + std::to_string(int(rate));
            if (ch == 0)
            {
                // Only the late part: through the shortest line, give or take its modulation.
                const int shortest = core.getLineLength(0) - static_cast<int>(core.getModulationDepth(0)) - 2;
                EXPECT_GE(std::min(left, right), preDelay + shortest) << where;
                continue;
            }
            // The first reflection (left) at its own delay behind the pre-delay, the second (right)
            // after it, both before anything comes back from the lines.
            const int firstReflection = preDelay + static_cast<int>(core.getReflection(0).delaySamples);
            EXPECT_EQ(left, firstReflection) << where;
            EXPECT_GE(right, preDelay + static_cast<int>(core.getReflection(1).delaySamples)) << where;
            EXPECT_GT(right, left) << where;
            EXPECT_LT(std::max(left, right), preDelay + core.getLineLength(0) - 20) << where;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Character and decay changes

TEST(Reverb, aCharacterChangeCrossfadesBetweenTheCoresWithoutAClick)
{
    for (double rate : rates)
    {
        const int change = samples(rate, 1.0);
        const int fade = crossfadeSamples(rate);
        const int total = change + samples(rate, 0.5);
        const auto in = phrase(total);

        Reverb steady;
        steady.prepare(rate, 512);
        steady.set({10.0f, 0, 1.6f, 20.0f});
        const auto reference = render(steady, in);

        Reverb reverb;
        reverb.prepare(rate, 512);
        reverb.set({10.0f, 0, 1.6f, 20.0f});
        Stereo out(in.size());
        run(reverb, in, out, 0, change);
        reverb.set({10.0f, 2, 2.6f, 20.0f});
        EXPECT_TRUE(reverb.isCrossfading());
        EXPECT_EQ(reverb.getActiveCharacter(), 2);
        EXPECT_EQ(reverb.getCore(1 - reverb.getActiveCoreIndex()).getCharacter(), 0)
            << "the old core fades out";
        run(reverb, in, out, change, change + fade - 1, 97);
        EXPECT_TRUE(reverb.isCrossfading()) << "one sample before the end at " << rate;
        run(reverb, in, out, change + fade - 1, total);
        EXPECT_FALSE(reverb.isCrossfading());

        const int from = change - 64, to = change + fade + 64;
        for (const auto channel : {&Stereo::left, &Stereo::right})
        {
            const float step = largestStep(out.*channel, from, to);
            const float referenceStep = largestStep(reference.*channel, from, to);
            EXPECT_LE(step, 1.25f * referenceStep) << "click at the character change, " << rate;
        }
        // The new character is heard afterwards.
        const int later = change + samples(rate, 0.3);
        std::vector<float> difference(out.left.size());
        for (size_t i = 0; i < difference.size(); ++i)
            difference[i] = out.left[i] - reference.left[i];
        EXPECT_GT(rms(difference, later, total), 0.3 * rms(reference.left, later, total));
    }
}

TEST(Reverb, characterRequestsDuringAFadeWaitAndTheLatestWins)
{
    constexpr double rate = 48000.0;
    const int fade = crossfadeSamples(rate);
    const auto in = noise(samples(rate, 1.0), 0.2f, 3u);
    Stereo out(in.size());

    Reverb reverb;
    reverb.prepare(rate, 128);
    reverb.set({10.0f, 0, 1.6f, 10.0f});
    run(reverb, in, out, 0, 4800, 128);

    reverb.set({10.0f, 1, 1.6f, 10.0f});
    EXPECT_TRUE(reverb.isCrossfading());
    reverb.set({10.0f, 2, 1.6f, 10.0f});
    EXPECT_EQ(reverb.getActiveCharacter(), 1) << "the other core is still fading out";
    EXPECT_EQ(reverb.getPendingCharacter(), 2);
    run(reverb, in, out, 4800, 4800 + fade, 128);
    EXPECT_FALSE(reverb.isCrossfading());
    run(reverb, in, out, 4800 + fade, 4800 + fade + 1, 1);
    EXPECT_EQ(reverb.getActiveCharacter(), 2) << "taken up once the core is free";
    EXPECT_TRUE(reverb.isCrossfading());
    EXPECT_EQ(reverb.getPendingCharacter(), -1);

    // A request for the fading core's character waits; asking for the active one again drops it.
    reverb.set({10.0f, 1, 1.6f, 10.0f});
    EXPECT_EQ(reverb.getPendingCharacter(), 1);
    reverb.set({10.0f, 2, 1.6f, 10.0f});
    EXPECT_EQ(reverb.getPendingCharacter(), -1);
    run(reverb, in, out, 4800 + fade + 1, 4800 + 3 * fade, 128);
    EXPECT_FALSE(reverb.isCrossfading());
    EXPECT_EQ(reverb.getActiveCharacter(), 2);

    // While nothing runs, a character is taken directly.
    Reverb idle;
    idle.prepare(rate, 128);
    idle.set({0.0f, 0, 1.6f, 10.0f});
    idle.set({0.0f, 2, 1.6f, 10.0f});
    EXPECT_FALSE(idle.isActive());
    EXPECT_FALSE(idle.isCrossfading());
    EXPECT_EQ(idle.getActiveCharacter(), 2);
}

TEST(Reverb, aDecayChangeAloneRecomputesTheDampingInPlace)
{
    for (double rate : rates)
    {
        const int change = samples(rate, 1.0);
        const int total = change + samples(rate, 0.3);
        const auto in = phrase(total);

        Reverb steady;
        steady.prepare(rate, 512);
        steady.set({10.0f, 1, 1.6f, 20.0f});
        const auto reference = render(steady, in);

        Reverb reverb;
        reverb.prepare(rate, 512);
        reverb.set({10.0f, 1, 1.6f, 20.0f});
        Stereo out(in.size());
        run(reverb, in, out, 0, change);
        const int core = reverb.getActiveCoreIndex();
        const auto dampingBefore = reverb.getCore(core).getDamping(5);

        // Below 0.3 % nothing moves; from 0.3 % on the damping follows.
        reverb.set({10.0f, 1, 1.603f, 20.0f});
        EXPECT_EQ(reverb.getCore(core).getDamping(5), dampingBefore);
        reverb.set({10.0f, 1, 3.0f, 20.0f});
        EXPECT_FALSE(reverb.isCrossfading());
        EXPECT_EQ(reverb.getActiveCoreIndex(), core);
        EXPECT_FLOAT_EQ(reverb.getCore(core).getDecay(), 3.0f);
        FdnCore fresh;
        fresh.prepare(rate);
        fresh.configure(1, 3.0f);
        for (int j = 0; j < FdnCore::numLines; ++j)
        {
            EXPECT_EQ(reverb.getCore(core).getLineLength(j), fresh.getLineLength(j));
            EXPECT_EQ(reverb.getCore(core).getDamping(j), fresh.getDamping(j)) << "line " << j;
        }
        run(reverb, in, out, change, total);

        // The tail carries on: right after the change the output is still the same reverb.
        const int soon = change + samples(rate, 0.002);
        std::vector<float> difference(out.left.size());
        for (size_t i = 0; i < difference.size(); ++i)
            difference[i] = out.left[i] - reference.left[i];
        // (about 10 % louder at once: each line now loses less per pass; a cleared core would
        // leave almost nothing).
        EXPECT_LT(rms(difference, change, soon), 0.25 * rms(reference.left, change, soon)) << rate;
        EXPECT_LE(largestStep(out.left, change - 64, change + 64),
                  1.2f * largestStep(reference.left, change - 64, change + 64))
            << rate;
    }
}

// ---------------------------------------------------------------------------------------------
// Life cycle

TEST(Reverb, startsClearedFromOffAndStopsOnceItsTailIsOver)
{
    constexpr double rate = 48000.0;
    const auto in = noise(samples(rate, 6.0), 0.3f, 11u);

    Reverb reverb;
    reverb.prepare(rate, 480);
    reverb.set({0.0f, 1, 0.9f, 15.0f});
    EXPECT_FALSE(reverb.isActive());
    Stereo out(in.size());
    run(reverb, in, out, 0, 4800, 480);
    EXPECT_EQ(rms(out.left, 0, 4800), 0.0) << "off: nothing comes out";

    reverb.set({10.0f, 1, 0.9f, 15.0f});
    EXPECT_TRUE(reverb.isActive());
    run(reverb, in, out, 4800, 48000, 480);

    // Send down: the tail rings on until it is far below hearing, then the module stops.
    reverb.set({0.0f, 1, 0.9f, 15.0f});
    int stoppedAt = -1;
    for (int pos = 48000; pos < 6 * 48000 && stoppedAt < 0; pos += 480)
    {
        run(reverb, in, out, pos, pos + 480, 480);
        if (!reverb.isActive())
            stoppedAt = pos + 480;
    }
    ASSERT_GT(stoppedAt, 0) << "the module stops once the tail is over";
    EXPECT_GT(rms(out.left, 48000 + 9600, 48000 + 14400), 1e-3) << "the tail rings on after the send is down";
    EXPECT_GT(stoppedAt, 48000 + samples(rate, 0.9)) << "not before the tail has decayed";
    EXPECT_LT(rms(out.left, stoppedAt - 4800, stoppedAt), 1e-5) << "stopped only once far below hearing";
    std::printf("tail of Room at 0.9 s: stopped %.2f s after the send went down\n",
                (stoppedAt - 48000) / rate);

    // Starting again from off clears everything: the same as a fresh module from here on.
    const int restart = stoppedAt + 4800;
    run(reverb, in, out, stoppedAt, restart, 480);
    Reverb fresh;
    fresh.prepare(rate, 480);
    fresh.set({0.0f, 1, 0.9f, 15.0f});
    Stereo freshOut(in.size());
    run(fresh, in, freshOut, 0, 4800, 480);
    reverb.set({10.0f, 1, 0.9f, 15.0f});
    fresh.set({10.0f, 1, 0.9f, 15.0f});
    const int length = samples(rate, 0.5);
    run(reverb, in, out, restart, restart + length, 480);
    run(fresh, in, freshOut, restart, restart + length, 480);
    for (int i = restart; i < restart + length; ++i)
        ASSERT_EQ(out.left[at(i)], freshOut.left[at(i)]) << "sample " << i - restart << " after the restart";
}

TEST(Reverb, onePieceAndRandomPiecesGiveTheSameReturn)
{
    for (double rate : {44100.0, 96000.0})
    {
        const int total = samples(rate, 1.5);
        auto in = noise(total, 0.3f, 5u);
        for (int i = samples(rate, 0.4); i < samples(rate, 0.9); ++i)
            in[at(i)] = 0.0f;
        // Settings at fixed samples: a character change (with a pre-delay glide), then a decay
        // change alone.
        const int changes[] = {0, samples(rate, 0.5), samples(rate, 1.0), total};
        const auto settings = [](Reverb& r, int step)
        {
            if (step == 0)
                r.set({8.0f, 1, 1.2f, 25.0f});
            else if (step == 1)
                r.set({8.0f, 2, 2.0f, 60.0f});
            else
                r.set({8.0f, 2, 2.5f, 60.0f});
        };

        Reverb whole;
        whole.prepare(rate, total);
        Stereo a(in.size());
        for (int step = 0; step < 3; ++step)
        {
            settings(whole, step);
            run(whole, in, a, changes[step], changes[step + 1], total);
        }

        Reverb pieces;
        pieces.prepare(rate, 700);
        Stereo b(in.size());
        sv::XorShift32 random(99u);
        for (int step = 0; step < 3; ++step)
        {
            settings(pieces, step);
            for (int pos = changes[step]; pos < changes[step + 1];)
            {
                const float u = random.uniform();
                const int n =
                    std::min(u < 0.2f ? 1 + static_cast<int>(u * 15.0f) : static_cast<int>(u * 700.0f),
                             changes[step + 1] - pos);
                EXPECT_NO_HEAP(pieces.process(in.data() + pos, b.left.data() + pos, b.right.data() + pos, n));
                pos += n;
            }
        }
        EXPECT_EQ(a.left, b.left) << rate;
        EXPECT_EQ(a.right, b.right) << rate;
    }
}

TEST(Reverb, theSendMayShareMemoryWithTheReturn)
{
    constexpr double rate = 48000.0;
    const auto in = noise(samples(rate, 0.5), 0.3f, 4u);
    Reverb apart, shared;
    for (auto* r : {&apart, &shared})
    {
        r->prepare(rate, 256);
        r->set({10.0f, 1, 1.6f, 5.0f});
    }
    const auto expected = render(apart, in, 1000);
    auto left = in;
    std::vector<float> right(in.size());
    shared.process(left.data(), left.data(), right.data(), static_cast<int>(in.size()));
    EXPECT_EQ(left, expected.left);
    EXPECT_EQ(right, expected.right);
}

TEST(Reverb, nothingAllocatesAfterPrepare)
{
    constexpr double rate = 48000.0;
    const auto in = noise(48000, 0.3f, 1u);
    std::vector<float> left(in.size()), right(in.size());
    Reverb reverb;
    reverb.prepare(rate, 512);
    EXPECT_NO_HEAP(reverb.set({10.0f, 1, 1.6f, 30.0f}));                       // first setting: configure
    EXPECT_NO_HEAP(reverb.process(in.data(), left.data(), right.data(), 512)); // start from off
    EXPECT_NO_HEAP(reverb.set({10.0f, 2, 1.6f, 30.0f})); // character: configure + crossfade
    EXPECT_NO_HEAP(reverb.process(in.data(), left.data(), right.data(), 512));
    EXPECT_NO_HEAP(reverb.set({10.0f, 2, 4.0f, 80.0f})); // decay in place, pre-delay glide
    EXPECT_NO_HEAP(reverb.process(in.data(), left.data(), right.data(), 4096)); // longer than a piece
    EXPECT_NO_HEAP(reverb.set({0.0f, 2, 4.0f, 80.0f}));
    EXPECT_NO_HEAP(reverb.process(in.data(), left.data(), right.data(), 512));
}

TEST(Reverb, longSilenceAfterALoudBurstEndsInExactZerosWithoutDenormals)
{
#if defined(__SSE__)
    // Only meaningful with denormals enabled (flush-to-zero and denormals-are-zero off). The
    // denormal-operand flag then records any arithmetic on a denormal.
    ASSERT_EQ(_mm_getcsr() & 0x8040u, 0u);
#endif
    constexpr double rate = 48000.0;
    for (int ch = 0; ch < 3; ++ch)
    {
        Reverb reverb;
        reverb.prepare(rate, 512);
        reverb.set({10.0f, ch, 0.3f, 0.0f});
        std::vector<float> in(at(samples(rate, 4.0)), 0.0f);
        const auto loud = noise(samples(rate, 0.2), 1.0f, 21u);
        std::copy(loud.begin(), loud.end(), in.begin());
        Stereo out(in.size());
        run(reverb, in, out, 0, samples(rate, 0.5));
#if defined(__SSE__)
        _mm_setcsr(_mm_getcsr() & ~0x3Fu);
#endif
        // The tail falls through every level down to where it is set to zero (400 dB in 2 s).
        run(reverb, in, out, samples(rate, 0.5), samples(rate, 4.0));
#if defined(__SSE__)
        EXPECT_EQ(_mm_getcsr() & 0x2u, 0u) << names[ch] << ": arithmetic on denormals";
#endif
        int subnormals = 0;
        for (const auto* channel : {&out.left, &out.right})
            for (float v : *channel)
                subnormals += std::fpclassify(v) == FP_SUBNORMAL ? 1 : 0;
        EXPECT_EQ(subnormals, 0) << names[ch];
        EXPECT_TRUE(reverb.isActive()) << "the send is still up";
        EXPECT_EQ(rms(out.left, samples(rate, 3.0), samples(rate, 4.0)), 0.0) << names[ch];
        EXPECT_EQ(reverb.getCore(reverb.getActiveCoreIndex()).getTailEnergy(), 0.0f) << names[ch];
    }
}

TEST(Reverb, theReturnIsHighAndLowPassed)
{
    // Band-limited noise at each frequency; the return's gain in that band, relative to 1 kHz.
    constexpr double rate = 48000.0;
    const auto gainDb = [](double hz)
    {
        const int total = samples(rate, 2.0);
        md::RunningSection shape, inBand, outBand;
        shape.setCoefficients(md::designBandPass(rate, hz, 4.0));
        inBand.setCoefficients(md::designBandPass(rate, hz, 4.0));
        outBand = inBand;
        auto in = noise(total, 0.3f, 77u);
        for (auto& v : in)
            v = static_cast<float>(shape.processSample(v));
        Reverb reverb;
        reverb.prepare(rate, 512);
        reverb.set({10.0f, 1, 1.6f, 0.0f});
        const auto out = render(reverb, in);
        double inEnergy = 0.0, outEnergy = 0.0;
        for (int i = 0; i < total; ++i)
        {
            const double x = inBand.processSample(in[at(i)]);
            const double y = outBand.processSample(out.left[at(i)]);
            if (i >= total / 4)
            {
                inEnergy += x * x;
                outEnergy += y * y;
            }
        }
        return 10.0 * std::log10(outEnergy / inEnergy);
    };
    const double reference = gainDb(1000.0);
    const double low = gainDb(60.0) - reference, corner = gainDb(250.0) - reference,
                 high = gainDb(16000.0) - reference;
    std::printf("return relative to 1 kHz: 60 Hz %.1f dB, 250 Hz %.1f dB, 16 kHz %.1f dB\n", low, corner,
                high);
    // Second-order Butterworth at 250 Hz: -24.8 dB at 60 Hz, -3 dB at the corner. Above 9 kHz
    // the low-pass (-10.4 dB at 16 kHz) and the shorter high decay.
    EXPECT_NEAR(low, -24.8, 4.0);
    EXPECT_NEAR(corner, -3.0, 3.0);
    EXPECT_LT(high, -10.0);
}
