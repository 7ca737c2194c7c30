// Mirrel's engine plays clicks at known times while the recorder gathers the take: every hit
// shows at its time and its place, and while the transport plays the bars of the song position
// lie where the tempo puts them.
#include "TimelineTestSupport.h"

#include <cmath>

using namespace timelinetest;

namespace
{
constexpr double rate = 48000.0;
constexpr int blockSize = 512;
constexpr double takeSeconds = 9.0;
constexpr double clicks[] = {0.5, 1.25, 2.0, 3.1, 4.4, 5.0, 6.75, 8.2};

std::vector<float> clickTrack()
{
    std::vector<float> x(static_cast<size_t>(takeSeconds * rate), 0.0f);
    for (const double at : clicks)
        for (int i = 0; i < static_cast<int>(0.1 * rate); ++i)
        {
            const double t = i / rate;
            x[static_cast<size_t>(at * rate) + static_cast<size_t>(i)] +=
                0.5f * static_cast<float>(std::exp(-t / 0.02) * std::sin(2.0 * M_PI * 1000.0 * t));
        }
    return x;
}

struct Played
{
    timeline::MirrelTake take;
    std::vector<float> engineHits; // the places the engine published, oldest first
};

Played play(bool playing)
{
    mr::MirrelEngine engine;
    engine.prepare(rate);
    timeline::TakeInfo info;
    info.fileName = "clicks.wav";
    info.sampleRate = rate;
    timeline::MirrelRecorder recorder(
        info, engine.feed, engine.loudness(),
        [](const char* id) { return juce::String(id) == "hole" ? 30.0f
                                    : id[0] == 'w'             ? 100.0f
                                                               : 0.0f; });
    const auto x = clickTrack();
    std::vector<float> left(blockSize), right(blockSize);
    Played played;
    int seen = 0;
    for (size_t start = 0; start < x.size(); start += blockSize)
    {
        const int n = static_cast<int>(std::min<size_t>(blockSize, x.size() - start));
        std::copy_n(x.begin() + static_cast<long>(start), n, left.begin());
        std::copy_n(x.begin() + static_cast<long>(start), n, right.begin());
        mr::TransportState transport;
        timeline::Block block;
        block.start = static_cast<juce::int64>(start);
        block.length = n;
        if (playing)
        {
            transport = {true, true, static_cast<double>(start) / rate * 2.0, true, 120.0};
            block.playing = true;
            block.quarterNotes = transport.quarterNotes;
            block.bpm = 120.0;
        }
        engine.process(left.data(), right.data(), n, {}, transport, true);
        recorder.afterBlock(block);
        for (; seen < engine.feed.hitCount.load(); ++seen)
            played.engineHits.push_back(engine.feed.hitPans[0].load());
    }
    recorder.finish(static_cast<juce::int64>(x.size()));
    played.take = recorder.take();
    return played;
}
} // namespace

TEST_F(TimelinePictureTest, mirrelsHitsShowAtTheirTimesAndPlaces)
{
    for (const bool playing : {false, true})
    {
        const auto played = play(playing);
        const auto& take = played.take;
        ASSERT_EQ(take.hits.size(), std::size(clicks)) << playing;
        for (size_t k = 0; k < take.hits.size(); ++k)
        {
            // Within the block that found it.
            EXPECT_NEAR(take.hits[k].seconds, clicks[k], 1.5 * blockSize / rate) << k;
            EXPECT_EQ(take.hits[k].pan, played.engineHits[k]) << k;
        }
        EXPECT_NEAR(take.seconds, takeSeconds, 1e-9);

        const auto image = renderMirrel(take);
        keep(image, playing ? "mirrel-clicks-playing" : "mirrel-clicks-stopped");
        const auto plot = timeline::MirrelPicture::mainPlotArea(image.getWidth(), image.getHeight());
        const auto x = [&](double t)
        { return juce::roundToInt(plot.getX() + t / takeSeconds * plot.getWidth()); };
        const auto y = [&](float p)
        { return juce::roundToInt(plot.getY() + 6 + (p + 1) / 2 * (plot.getHeight() - 12)); };
        for (const auto& hit : take.hits)
            EXPECT_TRUE(light(image.getPixelAt(x(hit.seconds), y(hit.pan))))
                << "no dot at " << hit.seconds << " s";

        const auto f = timeline::figuresOf(take);
        if (!playing)
        {
            EXPECT_TRUE(take.bars.empty());
            EXPECT_EQ(f.followedShare, 0.0f);
            continue;
        }
        // 4/4 at 120 bpm: a bar every 2 s from the start.
        ASSERT_EQ(take.bars.size(), 5u);
        for (size_t b = 0; b < take.bars.size(); ++b)
        {
            EXPECT_NEAR(take.bars[b].seconds, 2.0 * static_cast<double>(b), 1e-9) << b;
            EXPECT_EQ(take.bars[b].number, static_cast<juce::int64>(b) + 1);
        }
        // A bar line across the lane, seen inside the hole (no hit lands there): bluer than the
        // well beside it.
        const int row = y(0.15f);
        for (const double at : {4.0, 6.0})
        {
            const auto line = image.getPixelAt(x(at), row), beside = image.getPixelAt(x(at) + 5, row);
            EXPECT_GT(line.getBlue(), beside.getBlue() + 20)
                << "no bar line at " << at << " s: " << line.toDisplayString(true);
        }
        EXPECT_FLOAT_EQ(f.followedShare, 1.0f);
        EXPECT_TRUE(timeline::figuresLine(f).contains("song position followed at 120 bpm"))
            << timeline::figuresLine(f);
    }
}
