#include "sorvel/ui/ResponseCurves.h"

#include "sorvel/engine/HighPass.h"
#include "sorvel/engine/ToneEq.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
namespace tune = eng::vocal::tune;

double highPassDb(double cornerHz, double hz)
{
    const float values[2]{static_cast<float>(cornerHz), 0.0f};
    const int indices[2]{0, 0};
    return svui::responseDb(svui::highPassResponse, values, indices, hz);
}

double eqDb(float bass, int bassChar, float treble, int trebleChar, double hz)
{
    const float values[2]{bass, treble};
    const int indices[2]{bassChar, trebleChar};
    return svui::responseDb(svui::eqResponse, values, indices, hz);
}

// What a cascade of running sections does at hz, in dB.
template <int N> double cascadeDb(const eng::md::Cascade<N>& cascade, double rate, double hz)
{
    eng::md::Design d;
    d.count = cascade.count;
    for (int k = 0; k < cascade.count; ++k)
    {
        const auto& r = cascade.sections[static_cast<size_t>(k)];
        d.sections[static_cast<size_t>(k)] = {r.b0, r.b1, r.b2, r.a1, r.a2};
    }
    return eng::md::magnitudeDb(d, rate, hz);
}

// 60 log-spaced frequencies from 20 Hz to 10 kHz.
std::vector<double> checkFrequencies()
{
    std::vector<double> hz;
    for (int k = 0; k < 60; ++k)
        hz.push_back(20.0 * std::pow(500.0, k / 59.0));
    return hz;
}
} // namespace

TEST(ResponseCurves, guideInterpolatesOverLogFrequency)
{
    EXPECT_FLOAT_EQ(svui::interpLog(svui::guide, 30.0f), -39.4f);
    EXPECT_FLOAT_EQ(svui::interpLog(svui::guide, 40.0f), -39.4f);
    EXPECT_FLOAT_EQ(svui::interpLog(svui::guide, 25000.0f), -24.6f);
    EXPECT_NEAR(svui::interpLog(svui::guide, 707.0f), 2.73f, 0.01f); // between 630 and 800 Hz
    EXPECT_FLOAT_EQ(svui::interpLog(svui::guide, 1000.0f), 0.0f);
    EXPECT_FLOAT_EQ(svui::interpLog(svui::tolerance, 10.0f), 6.0f);
    EXPECT_NEAR(svui::interpLog(svui::tolerance, std::sqrt(250.0f * 100.0f)), 3.75f, 1e-4f);
    EXPECT_FLOAT_EQ(svui::interpLog(svui::tolerance, 1000.0f), 3.0f);
}

TEST(ResponseCurves, highPassIsAnEighteenDbButterworth)
{
    for (const double corner : {60.0, 90.0, 130.0, 180.0})
    {
        EXPECT_NEAR(highPassDb(corner, corner), -3.0103, 0.001) << corner;
        EXPECT_NEAR(highPassDb(corner, corner / 2.0), -18.13, 0.01) << corner;
        EXPECT_NEAR(highPassDb(corner, corner / 4.0), -36.12, 0.01) << corner;
        EXPECT_NEAR(highPassDb(corner, corner * 20.0), 0.0, 0.001) << corner;
    }
    EXPECT_DOUBLE_EQ(highPassDb(0.0, 30.0), 0.0); // "Off"
}

TEST(ResponseCurves, eqBandsFollowTheirCharacters)
{
    // "Sub" at +10: +6 dB well below 80 Hz, nothing well above.
    EXPECT_NEAR(eqDb(10, 0, 0, 0, 5.0), 6.0, 0.05);
    EXPECT_NEAR(eqDb(10, 0, 0, 0, 3000.0), 0.0, 0.05);
    EXPECT_NEAR(eqDb(-10, 0, 0, 0, 5.0), -6.0, 0.05);
    // Both amounts 0: the 0 dB line.
    for (const double hz : {20.0, 200.0, 2000.0, 20000.0})
        EXPECT_DOUBLE_EQ(eqDb(0, 1, 0, 2, hz), 0.0) << hz;
    // Bells peak at their centre; shelves reach their gain at the far end.
    EXPECT_NEAR(eqDb(10, 1, 0, 0, 150.0), 6.0, 1e-6);    // "Lower"
    EXPECT_NEAR(eqDb(-5, 2, 0, 0, 250.0), -3.0, 1e-6);   // "Upper"
    EXPECT_NEAR(eqDb(0, 0, 10, 0, 3000.0), 6.0, 1e-6);   // "Bite"
    EXPECT_NEAR(eqDb(0, 0, 10, 1, 200000.0), 6.0, 0.01); // "Top"
    EXPECT_NEAR(eqDb(0, 0, 10, 2, 20.0), 0.0, 0.01);     // "Roof"
    // The two bands add.
    EXPECT_NEAR(eqDb(10, 1, 10, 0, 1000.0), eqDb(10, 1, 0, 0, 1000.0) + eqDb(0, 0, 10, 0, 1000.0), 1e-9);
    // Characters outside the table are clamped.
    EXPECT_DOUBLE_EQ(eqDb(10, 7, 0, 0, 250.0), eqDb(10, 2, 0, 0, 250.0));
}

TEST(ResponseCurves, pathSpansTheAreaAndIsClampedToIt)
{
    juce::Path path;
    const juce::Rectangle<float> area(10, 20, 300, 42);
    const float values[2]{180.0f, 0.0f};
    const int indices[2]{0, 0};
    svui::responsePath(path, area, svui::highPassResponse, values, indices, 12.0f, -30.0f, 40);

    std::vector<juce::Point<float>> points;
    for (juce::Path::Iterator it(path); it.next();)
        points.push_back({it.x1, it.y1});
    ASSERT_EQ(points.size(), 40u);
    for (size_t k = 0; k < points.size(); ++k)
    {
        const float hz = 20.0f * std::pow(1000.0f, static_cast<float>(k) / 39.0f);
        EXPECT_NEAR(points[k].x, 10.0f + 300.0f * static_cast<float>(k) / 39.0f, 1e-3) << k;
        const float y = 20.0f + 42.0f * (12.0f - static_cast<float>(highPassDb(180.0, hz))) / 42.0f;
        EXPECT_NEAR(points[k].y, juce::jlimit(20.0f, 62.0f, y), 1e-3) << k;
    }
    EXPECT_FLOAT_EQ(points.front().y, 62.0f);  // -57 dB at 20 Hz: clamped to the bottom
    EXPECT_NEAR(points.back().y, 32.0f, 1e-3); // 0 dB

    // A second call replaces the contents.
    svui::responsePath(path, area, svui::highPassResponse, values, indices, 12.0f, -30.0f, 10);
    int count = 0;
    for (juce::Path::Iterator it(path); it.next();)
        ++count;
    EXPECT_EQ(count, 10);
}

// The picture tells the user what the audio does: the drawn curves agree with the filters the
// High-Pass and EQ modules design, at every rate, below 10 kHz.
TEST(ResponseCurves, curvesAgreeWithTheModulesOwnFilters)
{
    // Measured: the high-pass within 1e-7 dB even 57 dB down, the bands within 0.04 dB (the
    // 12 kHz shelf near 10 kHz at 44.1 kHz).
    constexpr double highPassTolerance = 0.01, bandTolerance = 0.05; // dB
    for (const double rate : {44100.0, 48000.0, 96000.0})
    {
        eng::vocal::HighPass highPass;
        highPass.prepare(rate, 1);
        for (int choice = 1; choice <= 4; ++choice)
        {
            eng::vocal::HighPass::Slot slot;
            highPass.configure(slot, choice);
            const double corner = tune::hpfHz[static_cast<size_t>(choice - 1)];
            for (const double hz : checkFrequencies())
            {
                EXPECT_NEAR(cascadeDb(slot[0], rate, hz), highPassDb(corner, hz), highPassTolerance)
                    << "high-pass " << corner << " Hz at " << hz << " Hz, " << rate << " Hz";
            }
        }

        for (const bool bassBand : {true, false})
            for (int character = 0; character < 3; ++character)
                for (const float amount : {-10.0f, -4.0f, 3.0f, 10.0f})
                {
                    eng::vocal::EqBand band(bassBand ? tune::bassBands : tune::trebleBands);
                    band.prepare(rate, 1);
                    band.set({amount, character});
                    for (const double hz : checkFrequencies())
                    {
                        const double drawn =
                            bassBand ? eqDb(amount, character, 0, 0, hz) : eqDb(0, 0, amount, character, hz);
                        EXPECT_NEAR(cascadeDb(band.getActiveSlot().channels[0], rate, hz), drawn,
                                    bandTolerance)
                            << (bassBand ? "bass " : "treble ") << character << " at " << amount << ", " << hz
                            << " Hz, " << rate << " Hz";
                    }
                }
    }
}
