#include "ViewTestSupport.h"

#include "sorvel/ui/EqView.h"

#include <cmath>
#include <memory>
#include <vector>

using viewtest::KitTest;

namespace
{
constexpr double rate = 48000.0;

// A FIFO with a 1 kHz sine of `amplitude` on every tap.
std::unique_ptr<sv2::TapFifo> sineTaps(double amplitude, int n = 8192)
{
    auto fifo = std::make_unique<sv2::TapFifo>();
    std::vector<float> sine(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        sine[static_cast<size_t>(i)] = static_cast<float>(
            amplitude * std::sin(2.0 * juce::MathConstants<double>::pi * 1000.0 * i / rate));
    fifo->push(sine.data(), sine.data(), sine.data(), static_cast<std::uint32_t>(n));
    return fifo;
}

// The after tap's level against the guide over 700 .. 1400 Hz, worked out afresh.
double levelAgainstGuide(const EqView& view)
{
    double measured = 0, reference = 0;
    for (int k = 0; k < TapSpectrum::numBands; ++k)
    {
        const double hz = 20.0 * std::pow(1000.0, k / 119.0);
        if (hz >= 700.0 && hz <= 1400.0)
        {
            measured += std::pow(
                10.0,
                view.spectrum.levels[static_cast<size_t>(view.afterTap())][static_cast<size_t>(k)] / 10.0);
            reference += std::pow(10.0, svui::interpLog(svui::guide, static_cast<float>(hz)) / 10.0);
        }
    }
    return 10.0 * std::log10(measured / reference);
}

struct View
{
    View()
    {
        view.setSize(396, 166); // its place in the module panel
        view.spectrum.prepare(rate);
    }
    EqView view;
};
} // namespace

TEST(EqView, legendAndTapsFollowTheMode)
{
    View v;
    auto& view = v.view;
    view.hpfMode = true;
    EXPECT_EQ(view.legendText(0), "before high-pass");
    EXPECT_EQ(view.legendText(1), "after");
    EXPECT_EQ(view.legendText(2), "typical lead vocal: a guide, not a target");
    EXPECT_EQ(view.beforeTap(), 0);
    EXPECT_EQ(view.afterTap(), 1);
    view.hpfMode = false;
    EXPECT_EQ(view.legendText(0), "before EQ");
    EXPECT_EQ(view.legendText(2), "typical lead vocal: a guide, not a target");
    EXPECT_EQ(view.beforeTap(), 1);
    EXPECT_EQ(view.afterTap(), 2);
    EXPECT_EQ(view.shownTaps(), (std::array<bool, 3>{false, true, true}));
}

TEST(EqView, plotAxes)
{
    const auto plot = EqView::plotArea(396, 166);
    EXPECT_EQ(plot, juce::Rectangle<float>(24, 6, 364, 140));
    EXPECT_FLOAT_EQ(EqView::xFor(plot, 20), 24.0f);
    EXPECT_NEAR(EqView::xFor(plot, 20000), 388.0f, 1e-3);
    EXPECT_FLOAT_EQ(EqView::yFor(plot, 12), 6.0f);
    EXPECT_FLOAT_EQ(EqView::yFor(plot, -30), 146.0f);
    EXPECT_FLOAT_EQ(EqView::yFor(plot, 0), 46.0f);
}

TEST_F(KitTest, theHintShowsUntilTheFirstAnalysis)
{
    View v;
    auto& view = v.view;
    view.hpfMode = false;
    EXPECT_TRUE(view.showsHint());
    // The hint sits right-aligned in (px + pw - 200, py + ph - 14, 196, 12) = (188, 132, 196, 12).
    const auto hinted = viewtest::render(view);
    auto fifo = sineTaps(0.1);
    ASSERT_TRUE(view.pullSpectrum(*fifo));
    EXPECT_FALSE(view.showsHint());
    // Shifted far out of the plot, the spectra leave the hint's box to the hint alone.
    view.guideOffset = 500.0f;
    const auto plain = viewtest::render(view);
    const auto ink = viewtest::differingColumns(hinted, plain, 138, 150, 396);
    EXPECT_GT(ink.first, 188);
    EXPECT_NEAR(ink.second, 383, 2);
}

TEST(EqView, guideOffsetJumpsWhenFreshThenEases)
{
    View v;
    auto& view = v.view;
    view.hpfMode = false;
    EXPECT_FLOAT_EQ(view.guideOffset, -40.0f);

    // Silence says nothing about the level: the offset stays.
    auto silence = sineTaps(0.0);
    view.guideFresh = true;
    ASSERT_TRUE(view.pullSpectrum(*silence));
    EXPECT_FLOAT_EQ(view.guideOffset, -40.0f);
    EXPECT_TRUE(view.guideFresh);

    auto loud = sineTaps(0.1);
    ASSERT_TRUE(view.pullSpectrum(*loud));
    const double first = levelAgainstGuide(view);
    EXPECT_NEAR(view.guideOffset, first, 1e-3);
    EXPECT_FALSE(view.guideFresh);

    auto quieter = sineTaps(0.01);
    ASSERT_TRUE(view.pullSpectrum(*quieter));
    const double second = levelAgainstGuide(view);
    EXPECT_LT(second, first - 1.0);
    EXPECT_NEAR(view.guideOffset, first + 0.15 * (second - first), 1e-3);

    // Shown again: stale taps and spectra go, the offset stays until the next analysis sets it.
    const float kept = view.guideOffset;
    auto stale = sineTaps(0.3, 3000);
    view.showFresh(*stale);
    EXPECT_EQ(stale->pop([](const sv2::TapFifo::Entry&) {}), 0u);
    EXPECT_TRUE(view.guideFresh);
    EXPECT_TRUE(view.showsHint());
    EXPECT_FALSE(view.spectrum.analysed[1]);
    EXPECT_FLOAT_EQ(view.guideOffset, kept);
    auto again = sineTaps(0.1);
    ASSERT_TRUE(view.pullSpectrum(*again));
    EXPECT_NEAR(view.guideOffset, levelAgainstGuide(view), 1e-3);
}

TEST(EqView, curveDataRepaintsOnlyWhenItChanges)
{
    View v;
    auto& view = v.view;
    const float values[2]{4.0f, -2.0f};
    const int indices[2]{1, 2};
    EXPECT_TRUE(view.setCurve(values, indices));
    EXPECT_FLOAT_EQ(view.curveValues[0], 4.0f);
    EXPECT_EQ(view.curveIndices[1], 2);
    EXPECT_FALSE(view.setCurve(values, indices));
    const float nudged[2]{4.00005f, -2.0f};
    EXPECT_FALSE(view.setCurve(nudged, indices));
    const float moved[2]{4.001f, -2.0f};
    EXPECT_TRUE(view.setCurve(moved, indices));
    const int other[2]{1, 0};
    EXPECT_TRUE(view.setCurve(moved, other));
}

TEST_F(KitTest, theResponseIsDrawnInBlueOverTheGuide)
{
    View v;
    auto& view = v.view;
    view.hpfMode = true;
    const float values[2]{180.0f, 0.0f};
    const int indices[2]{0, 0};
    view.setCurve(values, indices);
    const auto image = viewtest::render(view, 2.0f);
    const auto plot = EqView::plotArea(396, 166);
    // Far above the corner the curve runs along 0 dB.
    const int x = juce::roundToInt(EqView::xFor(plot, 5000) * 2);
    const auto blue = viewtest::rowRun(image, x, 12, 292,
                                       [](juce::Colour c) { return c.getBlue() > 180 && c.getRed() < 120; });
    EXPECT_NEAR((blue.first + blue.second) / 2.0, EqView::yFor(plot, 0) * 2, 2.0);
    // At 180 Hz it is 3 dB down.
    const int xc = juce::roundToInt(EqView::xFor(plot, 180) * 2);
    const auto corner = viewtest::rowRun(
        image, xc, 12, 292, [](juce::Colour c) { return c.getBlue() > 180 && c.getRed() < 120; });
    EXPECT_NEAR((corner.first + corner.second) / 2.0, EqView::yFor(plot, -3.01f) * 2, 2.0);
}
