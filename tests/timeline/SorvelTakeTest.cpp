// Sorvel plays a take whose answer is known, in-process as the snapshot tool plays it: the
// picture shows the compressor working only after the take steps up and the de-esser only at the
// bursts of ess, at the columns where they happen; the figures are the processor's own meters'.
#include "TimelineTestSupport.h"

#include "render/Playback.h"
#include "snapshot/Snapshot.h"
#include "sorvel/PluginProcessor.h"

#include "common/dsp/LoudnessMeter.h"

#include <random>

using namespace timelinetest;

namespace
{
constexpr double rate = 48000.0;
constexpr double takeSeconds = 12.0, stepSeconds = 6.0, burstSeconds = 0.12;
constexpr double bursts[] = {1.5, 3.5, 8.0, 10.0};
constexpr double release = 0.4; // how long a cut may outlast its burst

// A 1 kHz tone at -30 dBFS that steps to -6 dBFS halfway, with short bursts of noise around
// 6 kHz (band-passed white noise) at the given times, on both channels: about -28 dBFS RMS
// before the step (too quiet to reach the compressor), -8 dBFS after (well above the tone's
// ess band).
juce::AudioBuffer<float> knownTake()
{
    const int n = static_cast<int>(takeSeconds * rate);
    juce::AudioBuffer<float> take(2, n);
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    // A two-pole band-pass at 6 kHz, Q 2 (the bilinear transform of the analog prototype).
    const double w = 2.0 * M_PI * 6000.0 / rate, alpha = std::sin(w) / (2.0 * 2.0);
    const double a0 = 1.0 + alpha, b0 = alpha / a0, b2 = -alpha / a0, a1 = -2.0 * std::cos(w) / a0,
                 a2 = (1.0 - alpha) / a0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (int i = 0; i < n; ++i)
    {
        const double t = i / rate;
        const float toneDb = t < stepSeconds ? -30.0f : -6.0f;
        float s =
            juce::Decibels::decibelsToGain(toneDb) * static_cast<float>(std::sin(2.0 * M_PI * 1000.0 * t));
        const double x = noise(random);
        const double y = b0 * x + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        for (const double b : bursts)
            if (t >= b && t < b + burstSeconds)
                s += (b < stepSeconds ? 0.1f : 1.0f) * static_cast<float>(y);
        take.setSample(0, i, s);
        take.setSample(1, i, s);
    }
    return take;
}

struct Played
{
    std::unique_ptr<timeline::SorvelRecorder> recorder;
    juce::AudioBuffer<float> output;
    float meterIn = 0, meterOut = 0; // the processor's meters at the end
};

Played play(const juce::AudioBuffer<float>& input)
{
    Sorvel2Processor p;
    PlaybackOptions options;
    ParameterPlan plan;
    EXPECT_TRUE(setUpForPlayback(p, options, input.getNumChannels(), rate, false, plan).isEmpty());
    Playback playback(p, options, plan, rate, [&] { p.prepareToPlay(rate, options.blockMax); });
    Played played;
    timeline::TakeInfo info;
    info.fileName = "known.wav";
    info.sampleRate = rate;
    played.recorder =
        std::make_unique<timeline::SorvelRecorder>(info, p.getFeed(), p.getInputMeter(), p.getOutputMeter());
    played.output.setSize(2, input.getNumSamples());
    snapshot::recordTake(p, playback, input, *played.recorder,
                         [&](const juce::AudioBuffer<float>& block, juce::int64 start, int length)
                         {
                             for (int c = 0; c < 2; ++c)
                                 played.output.copyFrom(c, static_cast<int>(start), block, c, 0, length);
                         });
    played.meterIn = p.getInputMeter().integrated();
    played.meterOut = p.getOutputMeter().integrated();
    return played;
}

// What a meter of our own says of a whole buffer: its integrated loudness, and the loudness
// range from its short-term readings every 100 ms after the gates (percentiles between ranks).
struct Measured
{
    float integrated = -100;
    float range = 0;
};

Measured measure(const juce::AudioBuffer<float>& audio)
{
    sv::LoudnessMeter meter;
    meter.prepare(rate);
    std::vector<double> readings;
    const int hop = static_cast<int>(rate / 10);
    for (int at = 0; at + hop <= audio.getNumSamples(); at += hop)
    {
        meter.process(audio.getReadPointer(0, at), audio.getReadPointer(1, at), hop);
        if (meter.shortTerm() > -70.0f)
            readings.push_back(meter.shortTerm());
    }
    double power = 0;
    for (const double r : readings)
        power += std::pow(10.0, r / 10.0);
    const double gate = 10.0 * std::log10(power / static_cast<double>(readings.size())) - 20.0;
    std::vector<double> kept;
    for (const double r : readings)
        if (r >= gate)
            kept.push_back(r);
    std::sort(kept.begin(), kept.end());
    const auto rank = [&kept](double p)
    {
        const double at = p * static_cast<double>(kept.size() - 1);
        const auto lower = static_cast<size_t>(at);
        const double above = kept[std::min(lower + 1, kept.size() - 1)];
        return kept[lower] + (at - static_cast<double>(lower)) * (above - kept[lower]);
    };
    return {meter.integrated(), static_cast<float>(rank(0.95) - rank(0.10))};
}
} // namespace

class KnownTake : public TimelinePictureTest
{
protected:
    static void SetUpTestSuite()
    {
        input = new juce::AudioBuffer<float>(knownTake());
        played = new Played(play(*input));
    }
    static void TearDownTestSuite()
    {
        delete played;
        delete input;
    }
    static juce::AudioBuffer<float>* input;
    static Played* played;
};

juce::AudioBuffer<float>* KnownTake::input = nullptr;
Played* KnownTake::played = nullptr;

TEST_F(KnownTake, theCompressorWorksOnlyAfterTheStepAndTheDeEsserOnlyAtTheBursts)
{
    const auto image =
        played->recorder->picture(timeline::TakePicture::defaultWidth, timeline::TakePicture::defaultHeight);
    keep(image, "known-take");
    const auto plot = timeline::SorvelPicture::mainPlotArea(image.getWidth(), image.getHeight());
    // The pixel column that holds moment t.
    const auto x = [&](double t)
    { return static_cast<int>(std::floor(plot.getX() + t / takeSeconds * plot.getWidth())); };
    const int left = juce::roundToInt(plot.getX()), right = juce::roundToInt(plot.getRight());

    // Reductions hang from the top: the band just below it is amber wherever there is any.
    const int reductionRow = juce::roundToInt(plot.getY()) + 2;
    const auto reduced = [&](int column) { return amberish(image.getPixelAt(column, reductionRow)); };
    const auto [firstReduced, lastReduced] = run(left, right, reduced);
    ASSERT_GE(firstReduced, 0) << "the compressor never worked";
    // (The outline's stroke reaches half a pixel to the left of the first reduced column.)
    EXPECT_GE(firstReduced, x(stepSeconds) - 1) << "reduction before the step";
    EXPECT_LE(firstReduced, x(stepSeconds + 0.05)) << "the reduction came late";
    // (Where a burst sounds, the input's envelope reaches the top and greys the band.)
    const auto sounding = [&](int column)
    {
        for (const double b : bursts)
            if (column >= x(b) - 1 && column <= x(b + burstSeconds) + 1)
                return true;
        return false;
    };
    for (int c = x(stepSeconds + 0.3); c < x(takeSeconds - 0.05); ++c)
    {
        if (!sounding(c))
        {
            EXPECT_TRUE(reduced(c)) << "no reduction at " << (c - plot.getX()) / plot.getWidth() * takeSeconds
                                    << " s";
        }
    }

    // De-ess bars rise from the bottom: green just above it, only at the bursts (and while the
    // de-esser's followers release after each, under 0.4 s), at every burst.
    const int cutRow = juce::roundToInt(plot.getBottom()) - 3;
    const auto cut = [&](int column) { return green(image.getPixelAt(column, cutRow)); };
    const auto inBurst = [&](int column)
    {
        for (const double b : bursts)
            if (column >= x(b) - 1 && column <= x(b + burstSeconds + release) + 1)
                return true;
        return false;
    };
    for (int c = left; c < right; ++c)
    {
        if (!inBurst(c))
        {
            EXPECT_FALSE(cut(c)) << "a cut at " << (c - plot.getX()) / plot.getWidth() * takeSeconds << " s";
        }
    }
    for (const double b : bursts)
    {
        const auto [first, last] = run(x(b) - 1, x(b + burstSeconds + release) + 2, cut);
        EXPECT_GE(first, 0) << "no cut at the burst at " << b << " s";
        EXPECT_GE(last, x(b + burstSeconds) - 1) << "the cut at " << b << " s ended early";
        EXPECT_LE(first, x(b + 0.03)) << "the cut at " << b << " s came late";
    }
}

TEST_F(KnownTake, theFiguresAreTheProcessorsMeters)
{
    const auto f = timeline::figuresOf(played->recorder->take());
    EXPECT_EQ(f.integratedIn, played->meterIn);
    EXPECT_EQ(f.integratedOut, played->meterOut);

    // And those agree with a meter of our own over the input and the output.
    const auto in = measure(*input), out = measure(played->output);
    EXPECT_NEAR(f.integratedIn, in.integrated, 0.1f);
    EXPECT_NEAR(f.integratedOut, out.integrated, 0.1f);
    ASSERT_TRUE(f.rangeIn && f.rangeOut);
    EXPECT_NEAR(*f.rangeIn, in.range, 0.1f);
    EXPECT_NEAR(*f.rangeOut, out.range, 0.1f);

    // The stages' work as the records hold it: the leveller held the loud half.
    EXPECT_GT(f.level.largestDb, 1.0f);
    EXPECT_NEAR(f.level.share, (takeSeconds - stepSeconds) / takeSeconds, 0.05f);
    EXPECT_GT(f.deess.largestDb, 1.0f);
    EXPECT_GT(f.deess.share, 0.0f);
    EXPECT_LT(f.deess.share, 4 * (burstSeconds + release) / takeSeconds);

    // The line printed and drawn, rounded as shown.
    const auto line = played->recorder->figuresLine();
    EXPECT_TRUE(line.startsWith("integrated loudness in " + juce::String(played->meterIn, 1) + " LUFS, out " +
                                juce::String(played->meterOut, 1) + " LUFS"))
        << line;
}
