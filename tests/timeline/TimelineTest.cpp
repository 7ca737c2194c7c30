// The pieces of a take picture that need no processor: the loudness range, the time axis, the
// reduction of records to columns, and made-up takes drawn and checked at their pixels.
#include "TimelineTestSupport.h"

#include "timeline/MirrelTimeline.h"
#include "timeline/SorvelTimeline.h"

#include <random>

using namespace timelinetest;

TEST(LoudnessRange, gatesThenSpansTheTenthToTheNinetyFifthPercentile)
{
    struct Case
    {
        const char* name;
        std::vector<float> readings;
        std::optional<float> range;
    };
    std::vector<float> ramp; // -30 .. -10 in 201 even steps: the percentiles fall on readings
    for (int k = 0; k <= 200; ++k)
        ramp.push_back(-30.0f + 0.1f * static_cast<float>(k));
    auto withSilence = ramp; // readings below -70 LUFS, and no reading at all, count for nothing
    withSilence.insert(withSilence.end(), {-100.0f, -80.0f, -75.0f, -100.0f});
    auto withQuiet = ramp; // more than 20 LU below the power mean: gated out
    withQuiet.insert(withQuiet.end(), 300, -60.0f);
    const Case cases[] = {
        {"a steady level has no range", std::vector<float>(50, -23.0f), 0.0f},
        {"an even ramp spans 95 % - 10 % of it", ramp, 0.85f * 20.0f},
        {"silence and no reading are dropped", withSilence, 0.85f * 20.0f},
        {"quiet passages are gated relative to the rest", withQuiet, 0.85f * 20.0f},
        {"nothing above -70 LUFS: no range", {-100.0f, -90.0f}, std::nullopt},
        {"no readings: no range", {}, std::nullopt},
    };
    for (const auto& c : cases)
    {
        const auto range = timeline::loudnessRange(c.readings);
        ASSERT_EQ(range.has_value(), c.range.has_value()) << c.name;
        if (range)
        {
            EXPECT_NEAR(*range, *c.range, 0.01f) << c.name;
        }
    }
}

TEST(TimeAxis, ticksAreTheShortestStepThatLeavesRoomAndReadAsAClock)
{
    struct Case
    {
        double seconds;
        float width;
        double step;
    };
    for (const auto& c : {Case{4.2, 1124, 0.5}, Case{10, 1124, 1}, Case{600, 1124, 60}, Case{60, 1124, 5},
                          Case{3 * 3600, 1124, 900}, Case{600, 500, 120}})
        EXPECT_DOUBLE_EQ(timeline::tickSeconds(c.seconds, c.width, 90), c.step) << c.seconds << " s";

    struct Text
    {
        double seconds, step;
        const char* text;
    };
    for (const auto& t : {Text{0, 1, "0:00"}, Text{65, 5, "1:05"}, Text{600, 60, "10:00"},
                          Text{3723, 60, "1:02:03"}, Text{2.5, 0.5, "0:02.5"}, Text{59.96, 0.2, "1:00.0"}})
        EXPECT_EQ(timeline::clockText(t.seconds, t.step), juce::String(t.text)) << t.seconds;
}

TEST(TimelineColumns, eachColumnKeepsTheMaximaOfTheRecordsItCovers)
{
    // Ten minutes of records doing nothing, but for one 10 ms record in the middle.
    auto take = quietTake(600.0);
    auto& loud = take.records[30000].values;
    loud[R::compStage2Db] = 12.0f;
    loud[R::compStage1Db] = 5.0f;
    loud[R::deessReductionDb] = 9.0f;
    loud[R::essSounding] = 1.0f;
    loud[R::inputPeak] = 1.0f;
    const double at = take.records[30000].endSeconds;

    const int count = 1125;
    const auto columns = timeline::columnsOf(take, count);
    ASSERT_EQ(columns.size(), static_cast<size_t>(count));
    const int expected = static_cast<int>(std::floor((at - 0.01) / take.seconds * count));
    for (int i = 0; i < count; ++i)
    {
        const auto& c = columns[static_cast<size_t>(i)];
        const bool loudColumn = i == expected;
        ASSERT_EQ(c.levelGr, loudColumn ? 12.0f : 0.0f) << i;
        ASSERT_EQ(c.peakGr, loudColumn ? 5.0f : 0.0f) << i;
        ASSERT_EQ(c.deessCut, loudColumn ? 9.0f : 0.0f) << i;
        ASSERT_EQ(c.inDb, loudColumn ? 0.0f : -60.0f) << i;
    }

    // A cut the de-esser made without an ess sounding is not drawn; the columns of a short take
    // each take the record they overlap.
    auto shortTake = quietTake(0.05); // five records, 100 columns
    shortTake.records[2].values[R::deessReductionDb] = 6.0f;
    shortTake.records[3].values[R::compStage2Db] = 3.0f;
    const auto many = timeline::columnsOf(shortTake, 100);
    for (int i = 0; i < 100; ++i)
    {
        EXPECT_EQ(many[static_cast<size_t>(i)].deessCut, 0.0f) << i;
        EXPECT_EQ(many[static_cast<size_t>(i)].levelGr, i >= 60 && i < 80 ? 3.0f : 0.0f) << i;
    }
}

TEST_F(TimelinePictureTest, aSingleRecordShowsInATenMinutePicture)
{
    auto take = quietTake(600.0);
    take.records[30000].values[R::compStage2Db] = 12.0f;
    take.records[45000].values[R::deessReductionDb] = 12.0f;
    take.records[45000].values[R::essSounding] = 1.0f;
    const auto image = renderSorvel(take);
    keep(image, "single-record");
    const auto plot = timeline::SorvelPicture::mainPlotArea(image.getWidth(), image.getHeight());
    const auto x = [&](double t)
    { return juce::roundToInt(plot.getX() + t / take.seconds * plot.getWidth()); };

    // 12 dB of reduction reach the centre line; 12 dB of cut a quarter of the plot up.
    const int reductionRow = juce::roundToInt(plot.getY() + plot.getHeight() * 0.45f);
    const int cutRow = juce::roundToInt(plot.getBottom() - plot.getHeight() * 0.2f);
    const auto [reductionFirst, reductionLast] = columnRun(image, reductionRow, juce::roundToInt(plot.getX()),
                                                           juce::roundToInt(plot.getRight()), amberish);
    EXPECT_GE(reductionFirst, x(take.records[30000].endSeconds) - 1);
    EXPECT_LE(reductionLast, x(take.records[30000].endSeconds) + 1);
    EXPECT_GE(reductionFirst, 0) << "the reduction vanished";
    const auto [cutFirst, cutLast] =
        columnRun(image, cutRow, juce::roundToInt(plot.getX()), juce::roundToInt(plot.getRight()), green);
    EXPECT_GE(cutFirst, x(take.records[45000].endSeconds) - 1);
    EXPECT_LE(cutLast, x(take.records[45000].endSeconds) + 1);
    EXPECT_GE(cutFirst, 0) << "the cut vanished";
}

TEST_F(TimelinePictureTest, sorvelFiguresSayWhatTheRecordsAndMetersHold)
{
    auto take = quietTake(10.0);    // 1000 records
    for (int k = 100; k < 350; ++k) // 2.5 s of the leveller working, up to 7.5 dB
        take.records[static_cast<size_t>(k)].values[R::compStage2Db] = k == 200 ? 7.5f : 2.0f;
    for (int k = 500; k < 510; ++k) // 100 ms of de-essing
    {
        take.records[static_cast<size_t>(k)].values[R::deessReductionDb] = 4.0f;
        take.records[static_cast<size_t>(k)].values[R::essSounding] = 1.0f;
    }
    take.records[600].values[R::compStage1Db] = 0.2f; // below what counts as work
    take.input.integrated = -23.04f;
    take.output.integrated = -16.0f;
    take.input.values.assign(100, -23.0f);
    take.output.values.assign(100, -100.0f);

    const auto f = timeline::figuresOf(take);
    EXPECT_FLOAT_EQ(f.level.largestDb, 7.5f);
    EXPECT_NEAR(f.level.share, 0.25f, 1e-5f);
    EXPECT_FLOAT_EQ(f.deess.largestDb, 4.0f);
    EXPECT_NEAR(f.deess.share, 0.01f, 1e-5f);
    EXPECT_FLOAT_EQ(f.peaks.largestDb, 0.2f);
    EXPECT_FLOAT_EQ(f.peaks.share, 0.0f);
    EXPECT_NEAR(*f.rangeIn, 0.0f, 1e-4f);
    EXPECT_FALSE(f.rangeOut.has_value());
    EXPECT_EQ(
        timeline::figuresLine(f),
        juce::String("integrated loudness in -23.0 LUFS, out -16.0 LUFS; loudness range in 0.0 LU, out none "
                     "LU; de-ess up to 4.0 dB, 1 % of the take; compress peaks none; compress level up to "
                     "7.5 dB, 25 % of the take"));
}

TEST_F(TimelinePictureTest, mirrelDrawsEveryHitAtItsPlaceAndTheGlideBetween)
{
    timeline::MirrelTake take;
    take.info.fileName = "made-up.wav";
    take.seconds = 8.0;
    take.width = 1.0f;
    take.hole = 0.3f;
    const std::pair<double, float> hits[] = {{1.0, -0.8f}, {3.0, 0.6f}, {5.0, -0.4f}, {7.0, 1.0f}};
    float pan = 0.0f;
    for (int block = 0; block < 750; ++block)
    {
        const double t = (block + 1) * 8.0 / 750.0;
        for (const auto& [at, place] : hits)
            if (t >= at && t - 8.0 / 750.0 < at)
            {
                take.hits.push_back({at, place});
                pan = place;
            }
        take.places.push_back({t, pan});
    }
    const auto image = renderMirrel(take);
    const auto plot = timeline::MirrelPicture::mainPlotArea(image.getWidth(), image.getHeight());
    const auto x = [&](double t)
    { return juce::roundToInt(plot.getX() + t / take.seconds * plot.getWidth()); };
    const auto y = [&](float p)
    { return juce::roundToInt(plot.getY() + 6 + (p + 1) / 2 * (plot.getHeight() - 12)); };

    for (const auto& [at, place] : hits)
        EXPECT_TRUE(light(image.getPixelAt(x(at), y(place)))) << "no dot at the hit at " << at << " s";
    // Between hits the glide line holds the last place: amber there, nothing elsewhere in that column.
    for (const auto& [at, place] : hits)
    {
        const int column = x(at + 0.5);
        EXPECT_TRUE(amberish(image.getPixelAt(column, y(place))))
            << "no line after the hit at " << at << " s";
        const auto [first, last] = rowRun(image, column, juce::roundToInt(plot.getY()),
                                          juce::roundToInt(plot.getBottom()), strongAmber);
        EXPECT_GE(first, y(place) - 2) << at;
        EXPECT_LE(last, y(place) + 2) << at;
    }
    const auto f = timeline::figuresOf(take);
    EXPECT_EQ(f.hits, 4);
    EXPECT_FLOAT_EQ(f.leftShare, 0.5f);
    EXPECT_FLOAT_EQ(f.rightShare, 0.5f);
    EXPECT_NEAR(f.meanDistance, 0.7f, 1e-6f);
    EXPECT_TRUE(timeline::figuresLine(f).contains("song position not followed: transport stopped"))
        << timeline::figuresLine(f);
}

TEST_F(TimelinePictureTest, picturesTakeTheirSizeAndKeepTheFrameInTheHouseStyle)
{
    const auto take = quietTake(3.0);
    for (const auto& [w, h] : {std::pair{1200, 640}, std::pair{480, 360}, std::pair{2400, 900}})
    {
        const auto image = renderSorvel(take, w, h);
        ASSERT_EQ(image.getWidth(), w);
        ASSERT_EQ(image.getHeight(), h);
        // The window background at a corner, a panel edge around the wells.
        EXPECT_TRUE(testsupport::near(image.getPixelAt(4, h - 4), ui::bg, 14)) << w;
        const auto plot = timeline::SorvelPicture::mainPlotArea(w, h);
        EXPECT_GT(plot.getWidth(), 300.0f) << w;
        EXPECT_GT(plot.getHeight(), 50.0f) << w;
    }
}
