#include "ViewTestSupport.h"

#include "sorvel/ui/WaveDisplay.h"

using viewtest::KitTest;

namespace
{
constexpr int designWidth = 1012, designHeight = 236;

// A display of the design size whose every column is `c`.
struct Display
{
    explicit Display(const WaveDisplay::Column& c = {})
    {
        wave.setSize(designWidth, designHeight);
        fill(c);
    }
    void fill(const WaveDisplay::Column& c)
    {
        for (int i = 0; i < WaveDisplay::numColumns; ++i)
            wave.append(c);
    }
    WaveDisplay wave;
};

bool strongAmber(juce::Colour c)
{
    return c.getRed() > 150 && c.getGreen() > 100 && c.getBlue() < 100;
}

bool strongGreen(juce::Colour c)
{
    return c.getGreen() > 140 && c.getRed() < 100;
}
} // namespace

TEST(WaveDisplayLayout, designSizeGivesTheDesignPlot)
{
    const auto l = WaveDisplay::Layout::of(designWidth, designHeight);
    EXPECT_FLOAT_EQ(WaveDisplay::Layout::plotLeft, 40.0f);
    EXPECT_FLOAT_EQ(l.plotTop, 28.0f);
    EXPECT_FLOAT_EQ(l.plotWidth, 936.0f);
    EXPECT_FLOAT_EQ(l.plotHeight, 184.0f);
    EXPECT_FLOAT_EQ(l.centre, 120.0f);
    EXPECT_FLOAT_EQ(l.x(0), 40.0f);
    EXPECT_FLOAT_EQ(l.x(499), 976.0f);
    // 0 dB fills the half height, -12 dB (7/9)^2 of it, -24 dB (5/9)^2, -54 dB and below nothing.
    EXPECT_FLOAT_EQ(l.extent(0), 92.0f);
    EXPECT_NEAR(l.extent(-12), 92.0f * 49.0f / 81.0f, 1e-4);
    EXPECT_NEAR(l.extent(-24), 92.0f * 25.0f / 81.0f, 1e-4);
    EXPECT_FLOAT_EQ(l.extent(-60), 0.0f);
    EXPECT_FLOAT_EQ(l.extent(6), 92.0f);
    // 12 dB of reduction reach the centre line.
    EXPECT_FLOAT_EQ(l.reductionY(12), 120.0f);
    EXPECT_FLOAT_EQ(l.reductionY(30), 120.0f);

    // Too small to hold a plot: nothing negative.
    const auto tiny = WaveDisplay::Layout::of(30, 10);
    EXPECT_FLOAT_EQ(tiny.plotHeight, 0.0f);
    EXPECT_FLOAT_EQ(tiny.plotWidth, 0.0f);
}

TEST(WaveDisplayHistory, theRingKeepsExactlyTheLast500Columns)
{
    WaveDisplay wave;
    for (int n = 0; n < 600; ++n)
    {
        WaveDisplay::Column c;
        c.inDb = -static_cast<float>(n) / 10.0f;
        wave.append(c);
    }
    EXPECT_EQ(wave.writeIndex, 100);
    EXPECT_FLOAT_EQ(wave.column(0).inDb, -10.0f);   // the 101st column appended
    EXPECT_FLOAT_EQ(wave.column(499).inDb, -59.9f); // the last one
    for (int i = 0; i < WaveDisplay::numColumns; ++i)
        ASSERT_FLOAT_EQ(wave.column(i).inDb, -static_cast<float>(100 + i) / 10.0f) << i;
}

TEST(WaveDisplayHistory, recordsBecomeColumns)
{
    using R = sv2::MeteringRecord;
    WaveDisplay wave;
    auto record = R::silent();
    record[R::inputPeak] = 0.25f;      // -12.04 dB
    record[R::outputPeak] = 1.0f;      // 0 dB
    record[R::outputRms] = 0.0000005f; // below the floor: -60
    record[R::compStage1Db] = 6.0f;    // the peak catcher
    record[R::compStage2Db] = 4.0f;    // the leveller
    record[R::deessReductionDb] = 5.0f;
    record[R::essSounding] = 1.0f;
    wave.appendRecord(record);
    auto c = wave.column(WaveDisplay::numColumns - 1);
    EXPECT_NEAR(c.inDb, -12.041f, 0.001f);
    EXPECT_FLOAT_EQ(c.outPeakDb, 0.0f);
    EXPECT_FLOAT_EQ(c.outDb, -60.0f);
    EXPECT_FLOAT_EQ(c.peakGr, 6.0f);
    EXPECT_FLOAT_EQ(c.levelGr, 4.0f);
    EXPECT_FLOAT_EQ(c.deessCut, 5.0f);
    EXPECT_FLOAT_EQ(c.deessOn, 1.0f);

    // Reductions fall by 0.35 (peaks) and 0.25 (level) of the way per record, and rise at once.
    wave.appendRecord(R::silent());
    c = wave.column(WaveDisplay::numColumns - 1);
    EXPECT_FLOAT_EQ(c.peakGr, 6.0f * 0.65f);
    EXPECT_FLOAT_EQ(c.levelGr, 3.0f);
    EXPECT_FLOAT_EQ(c.inDb, -60.0f);
    EXPECT_FLOAT_EQ(c.deessCut, 0.0f);
    record[R::compStage1Db] = 9.0f;
    record[R::compStage2Db] = 2.0f;
    wave.appendRecord(record);
    c = wave.column(WaveDisplay::numColumns - 1);
    EXPECT_FLOAT_EQ(c.peakGr, 9.0f);
    EXPECT_FLOAT_EQ(c.levelGr, 2.75f);
    EXPECT_FLOAT_EQ(wave.smoothedGr.peak, 9.0f);
    EXPECT_FLOAT_EQ(wave.smoothedGr.level, 2.75f);
}

TEST_F(KitTest, waveEnvelopesAndColumnsLandWhereTheScaleSays)
{
    Display silent;
    const auto quiet = viewtest::render(silent.wave);

    // A -12 dB input everywhere: the envelope spans v -+ 92 (7/9)^2 = 120 -+ 55.65.
    WaveDisplay::Column c;
    c.inDb = -12.0f;
    Display input(c);
    const auto loud = viewtest::render(input.wave);
    for (const int x : {60, 300, 700, 960})
    {
        const auto rows = viewtest::differingRows(loud, quiet, x, 28, 212);
        EXPECT_NEAR(rows.first, 64, 1) << x;
        EXPECT_NEAR(rows.second, 175, 1) << x;
    }

    // One loud column at i = 250 lies at x = 40 + 250 x 936 / 499 = 508.9.
    Display one;
    c.inDb = 0.0f;
    one.wave.columns[static_cast<size_t>((one.wave.writeIndex + 250) % WaveDisplay::numColumns)] = c;
    const auto spike = viewtest::render(one.wave);
    const auto [left, right] = viewtest::differingColumns(spike, quiet, 40, 40, 976);
    EXPECT_NEAR((left + right + 1) / 2.0, 508.9, 1.0);
    EXPECT_LE(right - left, 4);
}

TEST_F(KitTest, reductionsHangFromTheTop)
{
    // Level 6 dB reaches a quarter of the plot (28 + 46 = 74), the peaks 3 dB more 0.375 of it
    // (28 + 69 = 97).
    WaveDisplay::Column c;
    c.levelGr = 6.0f;
    c.peakGr = 3.0f;
    Display display(c);
    const auto image = viewtest::render(display.wave);
    for (const int x : {100, 500, 900})
    {
        const auto strong = viewtest::rowRun(image, x, 28, 212, strongAmber);
        EXPECT_NEAR(strong.first, 74, 1) << x;
        EXPECT_NEAR(strong.second, 96, 1) << x;
        // The faint level fill above it.
        const auto p = image.getPixelAt(x, 50);
        EXPECT_GT(p.getRed(), p.getBlue() + 20) << x;
        EXPECT_FALSE(strongAmber(p)) << x;
    }
}

TEST_F(KitTest, deessCutsRiseFromTheBottomOnlyWhenTheyMatter)
{
    // Columns 0..249 cut 12 dB while an ess sounds, 250..499 only 0.2 dB.
    Display display;
    for (int i = 0; i < WaveDisplay::numColumns; ++i)
    {
        WaveDisplay::Column c;
        c.deessCut = i < 250 ? 12.0f : 0.2f;
        c.deessOn = 1.0f;
        display.wave.append(c);
    }
    Display silent;
    const auto quiet = viewtest::render(silent.wave);
    const auto image = viewtest::render(display.wave);
    // A quarter of the plot: from 212 - 46 = 166 down to the bottom.
    const auto bar = viewtest::rowRun(image, 200, 28, 212, strongGreen);
    EXPECT_NEAR(bar.first, 166, 1);
    EXPECT_EQ(bar.second, 211);
    // The shading over the whole plot height where it cut.
    const auto shade = image.getPixelAt(200, 100);
    EXPECT_GT(shade.getGreen(), quiet.getPixelAt(200, 100).getGreen());
    // 0.2 dB draws nothing at all.
    for (const int y : {100, 180, 205, 211})
        EXPECT_EQ(image.getPixelAt(800, y), quiet.getPixelAt(800, y)) << y;
}
