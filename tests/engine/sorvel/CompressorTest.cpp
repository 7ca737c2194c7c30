#include "sorvel/engine/Compressor.h"
#include "sorvel/engine/Latency.h"
#include "sorvel/engine/primitives/Oversampler2x.h"
#include "common/dsp/LoudnessMeter.h"
#include "support/Signals.h"
#include "support/AllocationCounter.h"
#include "support/SyntheticVocal.h"
#include "support/FlushToZero.h"
#include "tools/wav/WavFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace vocal = eng::vocal;

namespace
{
using testsupport::largestStep;
using testsupport::pi;
using testsupport::rmsDb;
constexpr double hostRate = 48000.0;
constexpr int smooth = 0, push = 1, hard = 2;
const char* const characterNames[] = {"Smooth", "Push", "Hard"};

struct Stereo
{
    std::vector<float> left, right;
    size_t size() const { return left.size(); }
};

// The made-up vocal phrase at the host rate (48 kHz mono).
const std::vector<float>& phrase()
{
    return testsupport::vocalPhrase();
}

// Host-rate audio at the doubled rate, as the chain feeds the compressor: through the up-sampler.
std::vector<float> upsampled(const std::vector<float>& host)
{
    sv::Oversampler2x up;
    up.prepare();
    std::vector<float> doubled(2 * host.size());
    up.up(host.data(), doubled.data(), static_cast<int>(host.size()));
    return doubled;
}

// A stereo vocal at the doubled rate: the phrase on the left, a later and quieter copy on the right.
Stereo stereoVocal(size_t hostStart, size_t hostCount)
{
    const auto& p = phrase();
    std::vector<float> left(p.begin() + static_cast<long>(hostStart),
                            p.begin() + static_cast<long>(hostStart + hostCount));
    std::vector<float> right(hostCount);
    for (size_t i = 0; i < hostCount; ++i)
        right[i] = 0.7f * p[hostStart + i - std::min<size_t>(hostStart, 37)];
    return {upsampled(left), upsampled(right)};
}

Stereo stereoSine(size_t n, double hz, double amplitude)
{
    Stereo s{std::vector<float>(n), std::vector<float>(n)};
    for (size_t i = 0; i < n; ++i)
        s.left[i] = s.right[i] = static_cast<float>(
            amplitude * std::sin(2.0 * pi * hz * static_cast<double>(i) / (2.0 * hostRate)));
    return s;
}

struct Render
{
    Stereo out, listen;
};

// Runs a compressor over the signal in pieces (sizes cycled), with denormals flushed as in the
// processor; `settings` is called before each piece with the piece's start sample and may change
// the settings.
template <typename Module>
Render run(Module& module, const Stereo& in, const std::vector<int>& pieces,
           const std::function<void(Module&, size_t)>& settings = {})
{
    const testsupport::ScopedFlushToZero flushToZero;
    Render r{in, Stereo{std::vector<float>(in.size()), std::vector<float>(in.size())}};
    size_t pos = 0, k = 0;
    while (pos < in.size())
    {
        const int n = static_cast<int>(
            std::min<size_t>(static_cast<size_t>(pieces[k++ % pieces.size()]), in.size() - pos));
        if (settings)
            settings(module, pos);
        float* channels[2] = {r.out.left.data() + pos, r.out.right.data() + pos};
        float* listen[2] = {r.listen.left.data() + pos, r.listen.right.data() + pos};
        module.process(channels, listen, n);
        pos += static_cast<size_t>(n);
    }
    return r;
}

// Largest absolute sample-to-sample step in [from, to).

// Level of the component at `hz` (doubled-rate samples), by correlation over whole cycles.
double toneLevel(const std::vector<float>& x, size_t from, size_t count, double hz)
{
    double c = 0.0, s = 0.0;
    const double w = 2.0 * pi * hz / (2.0 * hostRate);
    for (size_t i = from; i < from + count; ++i)
    {
        c += x[i] * std::cos(w * static_cast<double>(i));
        s += x[i] * std::sin(w * static_cast<double>(i));
    }
    return 2.0 * std::hypot(c, s) / static_cast<double>(count);
}

// The algorithm as written down, sample by sample in double precision with the library's
// logarithms and powers: the module's segmented, vectorised loops must give the same results.
class ModelCompressor
{
public:
    void prepare(double fs, int numChannels)
    {
        rate = 2.0 * fs;
        channels = numChannels;
        lookahead = 2 * std::max(1, static_cast<int>(std::lround(0.0005 * fs)));
        lines.assign(static_cast<size_t>(channels), std::vector<double>(static_cast<size_t>(lookahead), 0.0));
        controlRate = fs / 32.0;
        mixRamp.setLength(static_cast<int>(std::lround(0.020 * rate)));
        mixRamp.jumpTo(0.0f);
    }

    void set(const vocal::Compressor::Settings& settings)
    {
        const float newAmount = settings.amount, mix = settings.mix;
        const int character = settings.character;
        targetRow.assign(vocal::tune::compChars[static_cast<size_t>(character)].begin(),
                         vocal::tune::compChars[static_cast<size_t>(character)].end());
        targetAmount = newAmount;
        if (!initialised)
        {
            row = targetRow;
            amount = targetAmount;
            mixRamp.jumpTo(mix);
            initialised = true;
            return;
        }
        if (amount == 0.0 && targetAmount == 0.0 && makeup == 1.0)
            mixRamp.jumpTo(mix);
        else
            mixRamp.setTarget(mix);
    }

    void process(float* const* x, float* const* listen, int n)
    {
        for (int i = 0; i < n; ++i)
        {
            bool idle = amount == 0.0 && targetAmount == 0.0 && makeup == 1.0;
            if (!idle && countdown == 0)
            {
                control();
                countdown = 64;
                idle = amount == 0.0 && targetAmount == 0.0 && makeup == 1.0;
            }
            std::vector<double> y(static_cast<size_t>(channels));
            double peak = 0.0;
            for (int c = 0; c < channels; ++c)
            {
                auto& line = lines[static_cast<size_t>(c)];
                const size_t at = static_cast<size_t>(position % lookahead);
                y[static_cast<size_t>(c)] = line[at]; // the sample L samples old
                line[at] = x[c][i];
                peak = std::max(peak, std::abs(static_cast<double>(x[c][i])));
            }
            ++position;
            if (idle)
            {
                for (int c = 0; c < channels; ++c)
                {
                    x[c][i] = static_cast<float>(y[static_cast<size_t>(c)]);
                    if (listen)
                        listen[c][i] = 0.0f;
                }
                continue;
            }
            --countdown;
            sample(x, listen, i, peak, y);
        }
    }

    double makeupDb = 0.0;
    double peak1 = 0.0, peak2 = 0.0;

private:
    static double coefficient(double seconds, double r)
    {
        return seconds > 0.0 ? std::exp(-1.0 / (seconds * r)) : 0.0;
    }

    double staticCurve(double o) const
    {
        const double w = row[1], s = 1.0 - 1.0 / std::max(row[0], 1.0);
        if (2.0 * o <= -w)
            return 0.0;
        if (w > 0.0 && 2.0 * o < w)
            return (o + w / 2.0) * (o + w / 2.0) * s / (2.0 * w);
        return s * o;
    }

    void control()
    {
        const double g = coefficient(0.020, controlRate);
        for (size_t i = 0; i < row.size(); ++i)
            row[i] = targetRow[i] + g * (row[i] - targetRow[i]);
        amount = targetAmount + coefficient(0.030, controlRate) * (amount - targetAmount);
        if (std::abs(amount - targetAmount) < 0.001)
            amount = targetAmount;
        k = std::min(amount, 1.0);
        t2 = row[2] - 11.0 - 3.0 * amount;
        t1 = t2 + 8.0;
        ratio1 = row[4] + amount * row[5];
        drive = row[10] * amount * 0.1;
        const double decay = std::exp(-64.0 / (rate * 6.0));
        for (auto& h : histogram)
            h *= decay;
        inputSum *= decay;
        sumA *= decay;
        sumB *= decay;
        if (updates++ % 4 == 0)
        {
            double u = 0.0;
            for (int b = 0; b < 100; ++b)
                u += histogram[static_cast<size_t>(b)] *
                     std::pow(10.0, -staticCurve(b - 90 + 0.5 - t2) * k / 10.0);
            if (u > 1e-30 && inputSum > 1e-30)
            {
                double a = inputSum / u;
                if (sumA > 1e-30 && sumB > 1e-30)
                    a *= std::clamp(sumB / sumA, 0.25, 4.0);
                makeupDb = std::clamp(10.0 * std::log10(a), -6.0, 36.0);
            }
        }
        const double target = targetAmount > 0.0 ? std::pow(10.0, makeupDb / 20.0) : 1.0;
        makeup = target + coefficient(0.040, controlRate) * (makeup - target);
        if (targetAmount == 0.0 && std::abs(makeup - 1.0) < 1e-4)
            makeup = 1.0;
    }

    void sample(float* const* x, float* const* listen, int i, double peak, const std::vector<double>& y)
    {
        const double p = 20.0 * std::log10(std::max(peak, 1e-9));
        envelope = p > envelope ? p : p + coefficient(0.060, rate) * (envelope - p);
        if (level < -150.0)
        {
            if (envelope > t1 - 20.0)
                level = envelope;
        }
        else if (envelope > t1 - 20.0)
            level = envelope + coefficient(envelope > level ? 0.600 : 0.300, rate) * (level - envelope);
        const double o = envelope - (row[3] + std::max(t1, level) + 1.5);
        const double s1 = 1.0 - 1.0 / std::max(ratio1, 1.0);
        double g1r = o <= -1.5 ? 0.0 : (o < 1.5 ? s1 * (o + 1.5) * (o + 1.5) / 6.0 : s1 * o);
        if (g1r >= held)
        {
            held = g1r;
            hold = lookahead;
        }
        else if (hold > 0)
        {
            --hold;
            g1r = held;
        }
        else
            held = g1r;
        d1 = g1r + (g1r > d1 ? std::exp(-5.0 / lookahead) : coefficient(row[6] * 0.001, rate)) * (d1 - g1r);
        const double g1 = std::pow(10.0, -d1 * k / 20.0);

        double power = 0.0;
        for (double v : y)
            power += v * v;
        power /= channels;
        const double q = g1 * g1 * power;
        const double a4 = coefficient(0.004, rate);
        smoother1 = q + a4 * (smoother1 - q);
        smoother2 = smoother1 + a4 * (smoother2 - smoother1);
        const double lq = 10.0 * std::log10(std::max(smoother2, 1e-20));
        const double z = staticCurve(lq - t2);
        fast = z + (z > fast ? coefficient(0.010, rate) : coefficient(row[7] * 0.001, rate)) * (fast - z);
        slow = z + (z > slow ? coefficient(row[9] * 0.001, rate) : coefficient(row[8] * 0.001, rate)) *
                       (slow - z);
        const double d2 = std::max(fast, 0.5 * slow);
        const double g2 = std::pow(10.0, -d2 * k / 20.0);
        peak1 = std::max(peak1, d1 * k);
        peak2 = std::max(peak2, d2 * k);
        if (power > 1e-6)
        {
            inputSum += power;
            histogram[static_cast<size_t>(std::clamp(static_cast<int>(lq + 90.0), 0, 99))] += q;
            sumA += q * g2 * g2;
            const double gs = std::pow(10.0, -z * k / 20.0);
            sumB += q * gs * gs;
        }
        const double gain = g1 * g2 * makeup;
        const double mix = mixRamp.next();
        for (int c = 0; c < channels; ++c)
        {
            const double yc = y[static_cast<size_t>(c)];
            double v = gain * yc;
            if (drive > 0.001)
            {
                const double d = std::clamp(drive * v, -4.97, 4.97), d2s = d * d;
                v = d * (135135.0 + d2s * (17325.0 + d2s * (378.0 + d2s))) /
                    (135135.0 + d2s * (62370.0 + d2s * (3150.0 + 28.0 * d2s))) / drive;
            }
            const double out = yc + mix * (v - yc);
            x[c][i] = static_cast<float>(out);
            if (listen)
                listen[c][i] = static_cast<float>(out - yc);
        }
    }

    double rate = 96000.0, controlRate = 1500.0;
    int channels = 2, lookahead = 48, countdown = 0;
    long position = 0;
    unsigned updates = 0;
    bool initialised = false;
    std::vector<std::vector<double>> lines;
    std::vector<double> row, targetRow;
    double amount = 0.0, targetAmount = 0.0, k = 0.0, t1 = 0.0, t2 = 0.0, ratio1 = 1.0, drive = 0.0;
    double envelope = -120.0, level = -200.0, held = 0.0, d1 = 0.0;
    int hold = 0;
    double smoother1 = 0.0, smoother2 = 0.0, fast = 0.0, slow = 0.0;
    std::vector<double> histogram = std::vector<double>(100, 0.0);
    double inputSum = 0.0, sumA = 0.0, sumB = 0.0, makeup = 1.0;
    vocal::Ramp mixRamp;
};

vocal::Compressor prepared(int channels = 2)
{
    vocal::Compressor c;
    c.prepare(hostRate, channels);
    return c;
}

// Host-rate mono audio through the compressor as the chain runs it (up-sampled, compressed at the
// doubled rate, down-sampled) in pieces of `piece` samples, denormals flushed as in the processor.
// `beforePiece(module, pos)` may change the settings; `afterPiece(pos, in, out)` sees each piece.
void throughSection(vocal::Compressor& c, const std::vector<float>& x, int piece,
                    const std::function<void(vocal::Compressor&, size_t)>& beforePiece,
                    const std::function<void(size_t, const float*, const float*)>& afterPiece)
{
    const testsupport::ScopedFlushToZero flushToZero;
    sv::Oversampler2x up, down;
    up.prepare();
    down.prepare();
    std::vector<float> doubled(2 * static_cast<size_t>(piece)), y(static_cast<size_t>(piece));
    for (size_t pos = 0; pos + static_cast<size_t>(piece) <= x.size(); pos += static_cast<size_t>(piece))
    {
        if (beforePiece)
            beforePiece(c, pos);
        up.up(x.data() + pos, doubled.data(), piece);
        float* channel[1] = {doubled.data()};
        c.process(channel, nullptr, 2 * piece);
        down.down(doubled.data(), y.data(), piece);
        afterPiece(pos, x.data() + pos, y.data());
    }
}

std::vector<float> delayedBy(const std::vector<float>& x, int delay)
{
    std::vector<float> y(x.size(), 0.0f);
    for (size_t i = static_cast<size_t>(delay); i < x.size(); ++i)
        y[i] = x[i - static_cast<size_t>(delay)];
    return y;
}
} // namespace

// Vocal in stereo, with a character change, an amount change and a mix change on the way: the
// module follows the plain per-sample model to within 2e-5 of full scale, its make-up to 0.01 dB
// and its stage peaks to 0.01 dB.
TEST(Compressor, followsThePlainPerSampleModelOfItsAlgorithm)
{
    ASSERT_FALSE(phrase().empty());
    const Stereo in = stereoVocal(24000, 4 * 48000);
    for (int firstCharacter : {push, hard})
    {
        auto settings = [firstCharacter](auto& module, size_t pos)
        {
            const float amount = pos < 192000 ? 6.0f : 9.5f;
            const int character = pos < 96000 ? firstCharacter : (firstCharacter == hard ? smooth : hard);
            const float mix = pos < 288000 ? 1.0f : 0.6f;
            module.set({amount, character, mix});
        };
        vocal::Compressor module = prepared();
        ModelCompressor model;
        model.prepare(hostRate, 2);
        const auto got = run<vocal::Compressor>(module, in, {960}, settings);
        const auto want = run<ModelCompressor>(model, in, {960}, settings);
        double worst = 0.0, squares = 0.0;
        size_t where = 0;
        for (size_t i = 0; i < in.size(); ++i)
        {
            const double e = std::max({std::abs(got.out.left[i] - want.out.left[i]),
                                       std::abs(got.out.right[i] - want.out.right[i]),
                                       std::abs(got.listen.left[i] - want.listen.left[i])});
            squares += e * e;
            if (e > worst)
            {
                worst = e;
                where = i;
            }
        }
        const double rms = std::sqrt(squares / static_cast<double>(in.size()));
        // Float against double: a hold that starts one sample apart moves a few samples by up to
        // 0.005 dB; anything structural is far larger.
        EXPECT_LT(worst, 3e-4) << characterNames[firstCharacter] << " first; worst at sample " << where;
        EXPECT_LT(rms, 3e-5) << characterNames[firstCharacter] << " first";
        EXPECT_NEAR(module.getMakeupDb(), model.makeupDb, 0.01) << characterNames[firstCharacter] << " first";
        const auto peaks = module.takeStagePeaks();
        EXPECT_NEAR(peaks.stage1Db, model.peak1, 0.01);
        EXPECT_NEAR(peaks.stage2Db, model.peak2, 0.01);
        std::printf(
            "[ model    ] %s first: sample difference worst %.2g, rms %.2g; make-up %.3f dB (model %.3f)\n",
            characterNames[firstCharacter], worst, rms, static_cast<double>(module.getMakeupDb()),
            model.makeupDb);
    }
}

TEST(Compressor, amountZeroIsPureDelayWhateverTheMix)
{
    const Stereo in = stereoVocal(48000, 96000);
    const int lookahead = 2 * vocal::compLookaheadSamples(hostRate);
    const auto wantLeft = delayedBy(in.left, lookahead), wantRight = delayedBy(in.right, lookahead);
    for (int character : {smooth, push, hard})
        for (float mix : {0.0f, 0.37f, 1.0f})
        {
            vocal::Compressor c = prepared();
            c.set({0.0f, character, mix});
            EXPECT_TRUE(c.isIdle());
            const auto r = run(c, in, {960});
            EXPECT_EQ(r.out.left, wantLeft) << characterNames[character] << " mix " << mix;
            EXPECT_EQ(r.out.right, wantRight) << characterNames[character] << " mix " << mix;
            EXPECT_EQ(r.listen.left, std::vector<float>(in.size(), 0.0f));
            EXPECT_EQ(c.takeStagePeaks().stage2Db, 0.0f);
        }

    // Turned down to 0 while running: once the amount has glided down, the audio is only delayed.
    vocal::Compressor c = prepared();
    const auto r = run<vocal::Compressor>(c, in, {960},
                                          [](vocal::Compressor& m, size_t pos) {
                                              m.set({pos < 24000 ? 7.0f : 0.0f, hard, 1.0f});
                                          });
    EXPECT_TRUE(c.isIdle());
    // The amount's 30 ms glide and then the make-up's glide out to unity (40 ms time constant,
    // down to -80 dB from up to +12 dB) are long over.
    const size_t quiet = 24000 + 120000;
    EXPECT_TRUE(std::equal(r.out.left.begin() + quiet, r.out.left.end(), wantLeft.begin() + quiet));
}

TEST(Compressor, mixZeroGivesTheDelayedInputAndASilentListen)
{
    const Stereo in = stereoVocal(48000, 96000);
    const auto want = delayedBy(in.left, 2 * vocal::compLookaheadSamples(hostRate));
    for (int character : {smooth, push, hard})
        for (float amount : {4.0f, 10.0f})
        {
            vocal::Compressor c = prepared();
            c.set({amount, character, 0.0f});
            const auto r = run(c, in, {960});
            EXPECT_EQ(r.out.left, want) << characterNames[character] << " at " << amount;
            EXPECT_EQ(r.listen.left, std::vector<float>(in.size(), 0.0f))
                << characterNames[character] << " at " << amount;
            EXPECT_EQ(r.listen.right, std::vector<float>(in.size(), 0.0f))
                << characterNames[character] << " at " << amount;
            // It is compressing all the same: the reductions are there, only not mixed in.
            EXPECT_GT(c.takeStagePeaks().stage2Db, 1.0f) << characterNames[character] << " at " << amount;
        }
}

TEST(Compressor, listenIsWhatCompressChanges)
{
    const Stereo in = stereoVocal(48000, 48000);
    const auto delayed = delayedBy(in.left, 2 * vocal::compLookaheadSamples(hostRate));
    vocal::Compressor c = prepared();
    c.set({6.0f, hard, 0.7f});
    const auto r = run(c, in, {960});
    float largest = 0.0f;
    for (size_t i = 0; i < in.size(); ++i)
    {
        ASSERT_NEAR(r.out.left[i] - r.listen.left[i], delayed[i], 1e-6f) << "sample " << i;
        largest = std::max(largest, std::abs(r.listen.left[i]));
    }
    EXPECT_GT(largest, 0.01f);
}

// Stage-1 ratio = column 4 + amount x column 5; drive = column 10 x amount / 10; stage-2
// threshold = column 2 - 11 - 3 x amount.
TEST(Compressor, charactersGiveTheirRatioDriveAndThreshold)
{
    struct Case
    {
        int character;
        float amount, ratio, drive, thresholdDb;
    };
    const Case cases[] = {
        {hard, 10.0f, 38.0f, 1.6f, -40.0f},   {hard, 5.0f, 23.0f, 0.8f, -25.0f},
        {push, 10.0f, 26.0f, 0.0f, -41.0f},   {push, 4.0f, 14.0f, 0.0f, -23.0f},
        {smooth, 10.0f, 14.0f, 0.0f, -43.0f}, {smooth, 0.0f, 4.0f, 0.0f, -13.0f},
    };
    for (const auto& k : cases)
    {
        vocal::Compressor c = prepared();
        c.set({k.amount, k.character, 1.0f});
        EXPECT_FLOAT_EQ(c.getStage1Ratio(), k.ratio) << characterNames[k.character] << " at " << k.amount;
        EXPECT_FLOAT_EQ(c.getDrive(), k.drive) << characterNames[k.character] << " at " << k.amount;
        EXPECT_FLOAT_EQ(c.getStage2ThresholdDb(), k.thresholdDb)
            << characterNames[k.character] << " at " << k.amount;
    }
    for (int character : {smooth, push})
        for (float amount = 0.0f; amount <= 10.0f; amount += 0.5f)
        {
            vocal::Compressor c = prepared();
            c.set({amount, character, 1.0f});
            EXPECT_EQ(c.getDrive(), 0.0f) << characterNames[character] << " at " << amount;
        }
}

// A loud 500 Hz tone at amount 10: only "Hard" adds the saturator's odd harmonics.
TEST(Compressor, onlyHardSaturates)
{
    const Stereo in = stereoSine(3 * 96000, 500.0, 0.7);
    for (int character : {smooth, push, hard})
    {
        vocal::Compressor c = prepared();
        c.set({10.0f, character, 1.0f});
        const auto r = run(c, in, {960});
        const size_t from = 2 * 96000, count = 96000; // whole cycles of 500 Hz
        const double third = 20.0 * std::log10(toneLevel(r.out.left, from, count, 1500.0) /
                                               toneLevel(r.out.left, from, count, 500.0));
        std::printf("[ harmonic ] %s at 10: third harmonic %.1f dB below the tone\n",
                    characterNames[character], -third);
        if (character == hard)
            EXPECT_GT(third, -40.0);
        else
            EXPECT_LT(third, -80.0) << characterNames[character];
    }
}

// A steady tone far above the stage-2 threshold: the leveller takes many dB, and once the make-up
// has settled (6 s statistics, 40 ms glide) the output is back near the input level: within what
// the histogram's 1 dB bins allow (half a bin times the stage-2 slope, under 0.4 dB), and for
// "Hard" less what its saturator takes off the crest as well.
TEST(Compressor, steadyToneReturnsToItsInputLevelOnceTheMakeupSettles)
{
    struct Case
    {
        int character;
        float amount;
        double toleranceDb;
    };
    const Case cases[] = {{smooth, 4.0f, 0.4}, {smooth, 10.0f, 0.4}, {push, 4.0f, 0.4},
                          {push, 10.0f, 0.4},  {hard, 4.0f, 0.7},    {hard, 10.0f, 1.6}};
    const Stereo in = stereoSine(10 * 96000, 300.0, 0.5);
    const size_t from = in.size() - 96000 / 2;
    const double inputDb = rmsDb(in.left, from, in.size());
    for (const auto& k : cases)
    {
        vocal::Compressor c = prepared();
        c.set({k.amount, k.character, 1.0f});
        const auto r = run(c, in, {960});
        const auto peaks = c.takeStagePeaks();
        const double difference = rmsDb(r.out.left, from, in.size()) - inputDb;
        std::printf("[ steady   ] %s at %.0f: output %+.2f dB against the input, make-up %.2f dB\n",
                    characterNames[k.character], static_cast<double>(k.amount), difference,
                    static_cast<double>(c.getMakeupDb()));
        EXPECT_NEAR(difference, 0.0, k.toleranceDb) << characterNames[k.character] << " at " << k.amount;
        EXPECT_GT(c.getMakeupDb(), 5.0f) << characterNames[k.character] << " at " << k.amount;
        EXPECT_LE(c.getMakeupDb(), 36.0f);
        EXPECT_GT(peaks.stage2Db, 5.0f) << characterNames[k.character] << " at " << k.amount;
    }
}

// A character switch on a steady tone: every value that differs glides, 63 % of the way after 20 ms (one
// time constant at control rate), all but 1 % after 100 ms; the output's largest sample step
// stays that of the same render without the switch.
TEST(Compressor, characterSwitchGlidesOverAbout20msWithoutAClick)
{
    const Stereo in = stereoSine(4 * 96000, 220.0, 0.5);
    const size_t switchAt = 3 * 96000; // a multiple of the 64-sample control interval
    for (const auto& change : {std::pair{push, hard}, std::pair{hard, smooth}, std::pair{smooth, push}})
    {
        const int from = change.first, to = change.second;
        const auto& before = vocal::tune::compChars[static_cast<size_t>(from)];
        const auto& after = vocal::tune::compChars[static_cast<size_t>(to)];
        vocal::Compressor switched = prepared();
        vocal::Compressor steady = prepared();
        std::vector<float> fractionAt20ms, fractionAt100ms;
        const auto r = run<vocal::Compressor>(
            switched, in, {960},
            [&](vocal::Compressor& m, size_t pos)
            {
                m.set({6.0f, pos < switchAt ? from : to, 1.0f});
                if (pos == switchAt + 1920 || pos == switchAt + 9600) // 20 ms and 100 ms at 96 kHz
                    for (size_t i = 0; i < before.size(); ++i)
                        if (before[i] != after[i])
                            (pos == switchAt + 1920 ? fractionAt20ms : fractionAt100ms)
                                .push_back((m.getCharacterValues()[i] - before[i]) / (after[i] - before[i]));
            });
        const auto reference = run<vocal::Compressor>(steady, in, {960},
                                                      [&](vocal::Compressor& m, size_t) {
                                                          m.set({6.0f, from, 1.0f});
                                                      });
        const auto differing = static_cast<size_t>(std::inner_product(
            before.begin(), before.end(), after.begin(), 0, std::plus<>(), std::not_equal_to<>()));
        ASSERT_GE(differing, 10u);
        ASSERT_EQ(fractionAt20ms.size(), differing) << characterNames[from] << " to " << characterNames[to];
        for (size_t i = 0; i < fractionAt20ms.size(); ++i)
        {
            EXPECT_NEAR(fractionAt20ms[i], 1.0 - std::exp(-1.0), 0.005) << "value " << i;
            EXPECT_GT(fractionAt100ms[i], 0.99f) << "value " << i;
        }
        const float step = largestStep(r.out.left, switchAt, switchAt + 9600);
        const float referenceStep = largestStep(reference.out.left, switchAt, switchAt + 9600);
        std::printf("[ glide    ] %s to %s: largest step %.5f, without the switch %.5f\n",
                    characterNames[from], characterNames[to], static_cast<double>(step),
                    static_cast<double>(referenceStep));
        EXPECT_LT(step, 1.05f * referenceStep) << characterNames[from] << " to " << characterNames[to];
    }
}

TEST(Compressor, firstSettingsApplyDirectlyLaterOnesGlide)
{
    vocal::Compressor c = prepared(1);
    EXPECT_FALSE(c.isInitialised());
    c.set({6.0f, push, 0.5f});
    EXPECT_TRUE(c.isInitialised());
    EXPECT_EQ(c.getAmount(), 6.0f);
    EXPECT_EQ(c.getMix(), 0.5f);
    EXPECT_FALSE(c.isMixMoving());
    EXPECT_EQ(c.getCharacterValues(), vocal::tune::compChars[push]);

    // Later settings: the mix ramps over 20 ms (1920 samples at 96 kHz) and lands exactly; the
    // amount glides and snaps to its target.
    c.set({2.0f, hard, 1.0f});
    EXPECT_EQ(c.getAmount(), 6.0f);
    EXPECT_EQ(c.getTargetAmount(), 2.0f);
    std::vector<float> x(96000, 0.1f);
    float* channel[1] = {x.data()};
    c.process(channel, nullptr, 1919);
    EXPECT_TRUE(c.isMixMoving());
    EXPECT_LT(c.getMix(), 1.0f);
    c.process(channel, nullptr, 1);
    EXPECT_FALSE(c.isMixMoving());
    EXPECT_EQ(c.getMix(), 1.0f);
    EXPECT_GT(c.getAmount(), 2.0f);
    EXPECT_LT(c.getAmount(), 6.0f);
    c.process(channel, nullptr, 96000 - 1920);
    EXPECT_EQ(c.getAmount(), 2.0f);

    // While idle the mix jumps; coming out of idle it ramps again.
    vocal::Compressor idle = prepared(1);
    idle.set({0.0f, push, 1.0f});
    idle.set({0.0f, push, 0.3f});
    EXPECT_EQ(idle.getMix(), 0.3f);
    EXPECT_FALSE(idle.isMixMoving());
    idle.set({4.0f, push, 0.8f});
    EXPECT_TRUE(idle.isMixMoving());
    EXPECT_EQ(idle.getMix(), 0.3f);

    // Out-of-range settings are held to their ranges.
    vocal::Compressor wild = prepared(1);
    wild.set({25.0f, 7, 3.0f});
    EXPECT_EQ(wild.getAmount(), 10.0f);
    EXPECT_EQ(wild.getCharacterValues(), vocal::tune::compChars[hard]);
    EXPECT_EQ(wild.getMix(), 1.0f);
    wild.set({-1.0f, -2, -0.5f});
    EXPECT_EQ(wild.getTargetAmount(), 0.0f);
}

// One loud sample on a quiet tone: stage 1 holds its reduction while the sample travels through
// the 0.5 ms look-ahead, so it is turned down by nearly the full reduction when it comes out.
TEST(Compressor, lookaheadCatchesASuddenPeakBeforeItLeaves)
{
    Stereo in = stereoSine(96000, 200.0, 0.1); // -20 dBFS: no peak to catch
    const size_t spikeAt = 90000;
    in.left[spikeAt] = in.right[spikeAt] = 0.9f;
    vocal::Compressor c = prepared();
    c.set({4.0f, push, 1.0f});
    auto r = run<vocal::Compressor>(c, in, {960},
                                    [&](vocal::Compressor& m, size_t pos)
                                    {
                                        if (pos == spikeAt - spikeAt % 960)
                                        {
                                            EXPECT_LT(m.takeStagePeaks().stage1Db, 0.01f)
                                                << "the steady tone alone";
                                        }
                                    });
    const size_t out = spikeAt + static_cast<size_t>(c.getLookaheadSamples());
    // Gain on the steady tone just before, against the gain on the spike.
    const double toneGain = std::abs(r.out.left[out - 200] / in.left[out - 200 - 48]);
    const double spikeGain = r.out.left[out] / 0.9;
    const double caughtDb = 20.0 * std::log10(toneGain / spikeGain);
    // Overshoot of -0.9 dBFS over max(stage-1 threshold -15, running level -20) + margin 1.5 + 1.5:
    // 11.1 dB at ratio 14. The smoothing reaches 1 - e^-5 of it within the look-ahead.
    const double expectedDb =
        (1.0 - 1.0 / 14.0) * (20.0 * std::log10(0.9) + 15.0 - 3.0) * (1.0 - std::exp(-5.0));
    std::printf("[ peak     ] a one-sample peak is turned down by %.2f dB (stage 1 alone: %.2f dB)\n",
                caughtDb, expectedDb);
    EXPECT_NEAR(caughtDb, expectedDb, 0.5);
    EXPECT_NEAR(c.takeStagePeaks().stage1Db, expectedDb, 0.2);
}

// The vocal phrase as the chain feeds it (up-sampled, compressed at 96 kHz, down-sampled), with the
// chain's 10 ms peak readings. Reductions stay within what the settings allow, the make-up within
// -6..+36 dB, and once the level statistics have settled (6 s) the short-term loudness of the
// output stays near the input's.
TEST(Compressor, vocalPhraseStaysInRangeAndKeepsItsLoudness)
{
    ASSERT_FALSE(phrase().empty());
    const auto& x = phrase();
    const int piece = 480; // 10 ms at 48 kHz, one reading per piece
    // Peak of the phrase at the doubled rate (between-sample peaks included).
    double inputPeakDb = -200.0;
    for (float v : upsampled(x))
        inputPeakDb =
            std::max(inputPeakDb, 20.0 * std::log10(std::max(std::abs(static_cast<double>(v)), 1e-9)));

    struct Case
    {
        int character;
        float amount;
    };
    for (const Case k : {Case{smooth, 4.0f}, Case{push, 4.0f}, Case{hard, 4.0f}, Case{push, 10.0f}})
    {
        vocal::Compressor c = prepared(1);
        c.set({k.amount, k.character, 1.0f});
        sv::LoudnessMeter inputMeter, outputMeter;
        inputMeter.prepare(hostRate);
        outputMeter.prepare(hostRate);
        float largest1 = 0.0f, largest2 = 0.0f, lowestMakeup = 100.0f, highestMakeup = -100.0f;
        double sum2 = 0.0, worstDifference = 0.0, sumDifference = 0.0;
        int readings = 0, loudnessReadings = 0;
        throughSection(c, x, piece, {},
                       [&](size_t pos, const float* in, const float* out)
                       {
                           inputMeter.process(in, nullptr, piece);
                           outputMeter.process(out, nullptr, piece);

                           const auto peaks = c.takeStagePeaks();
                           EXPECT_TRUE(peaks.stage1Db >= 0.0f && peaks.stage2Db >= 0.0f) << "at " << pos;
                           largest1 = std::max(largest1, peaks.stage1Db);
                           largest2 = std::max(largest2, peaks.stage2Db);
                           sum2 += peaks.stage2Db;
                           ++readings;
                           lowestMakeup = std::min(lowestMakeup, c.getMakeupDb());
                           highestMakeup = std::max(highestMakeup, c.getMakeupDb());
                           if (pos >= 6 * 48000 && pos % 4800 == 0)
                           {
                               const double difference = outputMeter.shortTerm() - inputMeter.shortTerm();
                               worstDifference = std::max(worstDifference, std::abs(difference));
                               sumDifference += difference;
                               ++loudnessReadings;
                           }
                       });
        const double meanDifference = sumDifference / loudnessReadings;
        std::printf(
            "[ phrase   ] %s at %.0f: stage 1 up to %.1f dB, stage 2 up to %.1f dB (mean %.2f), make-up "
            "%.1f..%.1f dB; short-term loudness out - in: mean %+.2f dB, worst %.2f dB\n",
            characterNames[k.character], static_cast<double>(k.amount), static_cast<double>(largest1),
            static_cast<double>(largest2), sum2 / readings, static_cast<double>(lowestMakeup),
            static_cast<double>(highestMakeup), meanDifference, worstDifference);

        // Bounds from the settings: no level above the phrase's peak, so stage 2 cannot take more
        // than its slope times (peak - threshold), stage 1 no more than its slope times the
        // peak's overshoot over its own threshold.
        const auto& row = vocal::tune::compChars[static_cast<size_t>(k.character)];
        const double threshold2 = row[2] - 11.0 - 3.0 * k.amount;
        const double slope2 = 1.0 - 1.0 / row[0];
        const double slope1 = 1.0 - 1.0 / (row[4] + k.amount * row[5]);
        EXPECT_LE(largest2, slope2 * (inputPeakDb - threshold2));
        EXPECT_LE(largest1, slope1 * (inputPeakDb - (row[3] + threshold2 + 8.0 + 1.5)));
        EXPECT_GT(sum2 / readings, 0.3) << "the leveller works on the phrase";
        EXPECT_GT(largest1, 1.0f) << "the peak catcher works on the phrase";
        EXPECT_GE(lowestMakeup, -6.0f);
        EXPECT_LE(highestMakeup, 36.0f);
        EXPECT_GT(highestMakeup, 1.0f);
        EXPECT_LT(worstDifference, 2.5) << characterNames[k.character] << " at " << k.amount;
        EXPECT_LT(std::abs(meanDifference), 1.0) << characterNames[k.character] << " at " << k.amount;
    }
}

// "Changes density, not loudness": over a take (the phrase three times), the make-up gives back
// the power the two stages take, and with it the integrated loudness, at every character and at
// moderate to full amounts.
TEST(Compressor, makeupKeepsTheLoudnessOfATake)
{
    ASSERT_FALSE(phrase().empty());
    std::vector<float> take;
    for (int pass = 0; pass < 3; ++pass)
        take.insert(take.end(), phrase().begin(), phrase().end());
    for (int character : {smooth, push, hard})
        for (float amount : {4.0f, 8.0f, 10.0f})
        {
            vocal::Compressor c = prepared(1);
            c.set({amount, character, 1.0f});
            sv::LoudnessMeter inputMeter, outputMeter;
            inputMeter.prepare(hostRate);
            outputMeter.prepare(hostRate);
            double inputPower = 0.0, outputPower = 0.0;
            throughSection(c, take, 512, {},
                           [&](size_t, const float* in, const float* out)
                           {
                               inputMeter.process(in, nullptr, 512);
                               outputMeter.process(out, nullptr, 512);
                               for (int i = 0; i < 512; ++i)
                               {
                                   inputPower += static_cast<double>(in[i]) * in[i];
                                   outputPower += static_cast<double>(out[i]) * out[i];
                               }
                           });
            const double loudness = outputMeter.integrated() - inputMeter.integrated();
            const double power = 10.0 * std::log10(outputPower / inputPower);
            std::printf("[ take     ] %s at %.0f: integrated loudness out - in %+.2f LU, power %+.2f dB\n",
                        characterNames[character], static_cast<double>(amount), loudness, power);
            EXPECT_NEAR(loudness, 0.0, 0.65) << characterNames[character] << " at " << amount;
            // The made-up phrase's syllables spread over a wider range of levels than speech
            // does, which leaves up to about half a dB of power to the two stages.
            EXPECT_NEAR(power, 0.0, 0.6) << characterNames[character] << " at " << amount;
        }
}

// The amount turned to 0 while the module is on, and up again once it is idle, over a quiet tone
// below every threshold after six seconds of vocal: the tone carries only the make-up the vocal
// left, which glides out before the module falls idle and in again after, so no step appears
// beyond what the same render shows held at either amount.
TEST(Compressor, makeupGlidesOutBeforeIdleAndInAfter)
{
    ASSERT_FALSE(phrase().empty());
    const size_t vocalLength = 6 * 48000, toneLength = 2 * 48000;
    std::vector<float> x(phrase().begin(), phrase().begin() + static_cast<long>(vocalLength));
    for (size_t i = 0; i < toneLength; ++i)
        x.push_back(0.05f *
                    static_cast<float>(std::sin(2.0 * pi * 150.0 * static_cast<double>(i) / hostRate)));
    const size_t change = vocalLength + 24000;
    const int piece = 480;
    struct Case
    {
        int character;
        float from, to;
    };
    for (const Case k : {Case{push, 4.0f, 0.0f}, Case{smooth, 10.0f, 0.0f}, Case{push, 0.0f, 4.0f}})
    {
        // Amount `from` up to the change, `to` after it; "up again" starts at 4 and is turned to
        // 0 two seconds before, long enough to fall idle.
        auto render = [&](bool changeAtAll, bool startAtTarget)
        {
            vocal::Compressor c = prepared(1);
            std::vector<float> y(x.size());
            throughSection(
                c, x, piece,
                [&](vocal::Compressor& m, size_t pos)
                {
                    float amount = startAtTarget || (changeAtAll && pos >= change) ? k.to : k.from;
                    if (k.from == 0.0f && pos < change - 2 * 48000)
                        amount = 4.0f;
                    m.set({amount, k.character, 1.0f});
                },
                [&](size_t pos, const float*, const float* out)
                { std::copy_n(out, piece, y.begin() + static_cast<long>(pos)); });
            if (changeAtAll)
            {
                EXPECT_EQ(c.isIdle(), k.to == 0.0f)
                    << characterNames[k.character] << " " << k.from << " -> " << k.to;
            }
            return y;
        };
        const auto changed = render(true, false);
        const size_t end = x.size() - 2 * static_cast<size_t>(piece);
        const float natural = std::max(largestStep(render(false, false), change, end),
                                       largestStep(render(false, true), change, end));
        const float step = largestStep(changed, change, end);
        std::printf("[ to zero  ] %s %.0f -> %.0f: largest step %.5f, held %.5f\n",
                    characterNames[k.character], static_cast<double>(k.from), static_cast<double>(k.to),
                    static_cast<double>(step), static_cast<double>(natural));
        EXPECT_LE(step, 1.25f * natural + 1e-3f)
            << characterNames[k.character] << " " << k.from << " -> " << k.to;
    }
}

// Any piece sizes give the same samples, listen and peaks as one long piece; processing and
// settings touch no heap.
TEST(Compressor, identicalForOneLongPieceOrRandomPieces)
{
    const Stereo in = stereoVocal(12000, 2 * 48000);
    auto render = [&](const std::vector<int>& pieces, vocal::Compressor::StagePeaks& peaks)
    {
        const testsupport::ScopedFlushToZero flushToZero;
        vocal::Compressor c = prepared();
        c.set({8.0f, hard, 0.9f});
        Render r{in, Stereo{std::vector<float>(in.size()), std::vector<float>(in.size())}};
        size_t pos = 0, k = 0;
        while (pos < in.size())
        {
            const int n = static_cast<int>(
                std::min<size_t>(static_cast<size_t>(pieces[k++ % pieces.size()]), in.size() - pos));
            float* channels[2] = {r.out.left.data() + pos, r.out.right.data() + pos};
            float* listen[2] = {r.listen.left.data() + pos, r.listen.right.data() + pos};
            EXPECT_NO_HEAP(c.set({8.0f, hard, 0.9f}));
            EXPECT_NO_HEAP(c.process(channels, listen, n));
            pos += static_cast<size_t>(n);
        }
        peaks = c.takeStagePeaks();
        return r;
    };
    vocal::Compressor::StagePeaks wholePeaks, piecePeaks;
    const auto whole = render({static_cast<int>(in.size())}, wholePeaks);
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> size(1, 1500);
    std::vector<int> pieces(200);
    for (auto& p : pieces)
        p = size(rng);
    const auto cut = render(pieces, piecePeaks);
    EXPECT_EQ(cut.out.left, whole.out.left);
    EXPECT_EQ(cut.out.right, whole.out.right);
    EXPECT_EQ(cut.listen.left, whole.listen.left);
    EXPECT_EQ(cut.listen.right, whole.listen.right);
    EXPECT_EQ(piecePeaks.stage1Db, wholePeaks.stage1Db);
    EXPECT_EQ(piecePeaks.stage2Db, wholePeaks.stage2Db);
}

// One gain for both channels: a channel at half the level comes out at exactly half, and a mono
// module gives what a stereo one gives with the same signal on both sides.
TEST(Compressor, channelsShareOneGain)
{
    Stereo in = stereoVocal(24000, 48000);
    for (size_t i = 0; i < in.size(); ++i)
        in.right[i] = 0.5f * in.left[i];
    vocal::Compressor stereo = prepared(2);
    stereo.set({8.0f, push, 0.8f});
    const auto r = run(stereo, in, {960});
    for (size_t i = 0; i < in.size(); ++i)
        ASSERT_EQ(r.out.right[i], 0.5f * r.out.left[i]) << "sample " << i;

    Stereo same = in;
    same.right = same.left;
    vocal::Compressor twin = prepared(2), mono = prepared(1);
    twin.set({8.0f, push, 0.8f});
    mono.set({8.0f, push, 0.8f});
    const auto both = run(twin, same, {960});
    const auto single = run(mono, same, {960});
    EXPECT_EQ(single.out.left, both.out.left);
    EXPECT_EQ(single.listen.left, both.listen.left);
    EXPECT_EQ(single.out.right, same.right) << "a mono module leaves the second channel alone";
}
