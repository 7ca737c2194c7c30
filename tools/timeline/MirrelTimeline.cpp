#include "MirrelTimeline.h"

#include <cmath>

namespace timeline
{
namespace
{
juce::Colour alpha(juce::Colour c, int value)
{
    return c.withAlpha(static_cast<juce::uint8>(value));
}

juce::String percentText(float share)
{
    return juce::String(juce::roundToInt(share * 100.0f)) + " %";
}

juce::String bpmText(double bpm)
{
    return juce::String(bpm, std::abs(bpm - std::round(bpm)) < 0.005 ? 0 : 2) + " bpm";
}

juce::String songText(const MirrelFigures& f)
{
    if (f.followedShare <= 0.0f)
        return "not followed: transport stopped";
    if (f.followedShare > 0.995f)
        return "followed at " + bpmText(f.bpm);
    return "followed " + percentText(f.followedShare) + " of the take at " + bpmText(f.bpm);
}

// The lane's pan axis: left at the top, right at the bottom, dots clear of the edges.
float panY(float top, float height, float pan)
{
    return top + 6.0f + (juce::jlimit(-1.0f, 1.0f, pan) + 1.0f) * 0.5f * juce::jmax(height - 12.0f, 0.0f);
}
} // namespace

MirrelFigures figuresOf(const MirrelTake& take)
{
    MirrelFigures f;
    f.hits = static_cast<int>(take.hits.size());
    f.perSecond = take.seconds > 0.0 ? static_cast<float>(f.hits / take.seconds) : 0.0f;
    int left = 0, right = 0;
    double distance = 0.0;
    for (const auto& h : take.hits)
    {
        left += h.pan < 0.0f ? 1 : 0;
        right += h.pan > 0.0f ? 1 : 0;
        distance += std::abs(h.pan);
    }
    if (f.hits > 0)
    {
        f.leftShare = static_cast<float>(left) / static_cast<float>(f.hits);
        f.rightShare = static_cast<float>(right) / static_cast<float>(f.hits);
        f.meanDistance = static_cast<float>(distance / f.hits);
    }
    f.integratedOut = take.output.integrated;
    f.rangeOut = loudnessRange(take.output.values);
    f.followedShare =
        take.seconds > 0.0 ? static_cast<float>(juce::jmin(1.0, take.followedSeconds / take.seconds)) : 0.0f;
    f.bpm = take.bpm;
    return f;
}

std::vector<Figure> figureRow(const MirrelFigures& f)
{
    const auto range = f.rangeOut ? juce::String(*f.rangeOut, 1) + " LU" : juce::String("none");
    return {
        {"HITS", juce::String(f.hits) + ", " + juce::String(f.perSecond, 1) + " a second"},
        {"SIDES", percentText(f.leftShare) + " left, " + percentText(f.rightShare) + " right"},
        {"SPREAD", percentText(f.meanDistance) + " from the centre on average"},
        {"OUTPUT LOUDNESS", lufsText(f.integratedOut) + " LUFS, range " + range},
        {"SONG POSITION", songText(f)},
    };
}

juce::String figuresLine(const MirrelFigures& f)
{
    const auto range = f.rangeOut ? juce::String(*f.rangeOut, 1) + " LU" : juce::String("none");
    return juce::String(f.hits) + " hits, " + juce::String(f.perSecond, 1) + " a second; " +
           percentText(f.leftShare) + " left, " + percentText(f.rightShare) + " right; " +
           percentText(f.meanDistance) + " from the centre on average; output loudness " +
           lufsText(f.integratedOut) + " LUFS integrated, range " + range + "; song position " + songText(f);
}

MirrelPicture::MirrelPicture(const MirrelTake& t) : TakePicture("MIRREL", t.info, t.seconds), take(t)
{
    tracks = {{&take.output, "output", ui::text}};
    figures = figureRow(figuresOf(take));
}

void MirrelPicture::paintMain(juce::Graphics& g, float width, float height)
{
    const auto plot = mainPlot({0, 0, width, height}, seconds);
    const auto y = [&plot](float pan) { return panY(plot.top, plot.height, pan); };
    const float right = plot.left + plot.width;

    // Where a hit can land: between the hole and the width, on both sides.
    const float outer = take.width, inner = take.hole * take.width;
    if (outer > inner)
    {
        g.setColour(alpha(ui::blue, 0x1a));
        g.fillRect(juce::Rectangle<float>::leftTopRightBottom(plot.left, y(-outer), right, y(-inner)));
        g.fillRect(juce::Rectangle<float>::leftTopRightBottom(plot.left, y(inner), right, y(outer)));
    }

    g.setColour(ui::panelEdge);
    for (const float pan : {-1.0f, -0.5f, 0.0f, 0.5f, 1.0f})
        g.fillRect(plot.left, std::round(y(pan)) - 0.5f, plot.width, 1.0f);
    paintTimeGrid(g, plot);

    // Bars of the song position, numbered where there is room.
    if (!take.bars.empty())
    {
        g.setColour(alpha(ui::blue, 0x38));
        for (const auto& bar : take.bars)
            g.fillRect(std::round(plot.x(bar.seconds)), plot.top, 1.0f, plot.height);
        const auto font = ui::font(9.0f, ui::Weight::Regular);
        g.setFont(font);
        g.setColour(alpha(ui::blue, 0xd0));
        float free = plot.left;
        for (const auto& bar : take.bars)
        {
            const float x = std::round(plot.x(bar.seconds)) + 3.0f;
            const auto text = juce::String(bar.number);
            const float w = ui::stringWidth(font, text) + 2.0f;
            if (x < free || x + w > right)
                continue;
            g.drawText(text, juce::Rectangle<float>(x, plot.top + 1, w, 11), juce::Justification::centredLeft,
                       false);
            free = x + juce::jmax(w + 10.0f, 28.0f);
        }
    }

    {
        const juce::Graphics::ScopedSaveState clipped(g);
        g.reduceClipRegion(
            juce::Rectangle<float>(plot.left, plot.top, plot.width, plot.height).toNearestInt());

        // The place as it glides: per pixel column where it started, its extremes and where it
        // ended.
        const int count = juce::jmax(1, juce::roundToInt(plot.width));
        struct Column
        {
            float first = 0, low = 0, high = 0, last = 0;
            bool used = false;
        };
        std::vector<Column> columns(static_cast<size_t>(count));
        const double d = seconds > 0.0 ? seconds / static_cast<double>(count) : 1.0;
        for (const auto& place : take.places)
        {
            const int i = juce::jlimit(0, count - 1, static_cast<int>(std::floor(place.seconds / d)));
            auto& c = columns[static_cast<size_t>(i)];
            if (!c.used)
                c = {place.pan, place.pan, place.pan, place.pan, true};
            c.low = juce::jmin(c.low, place.pan);
            c.high = juce::jmax(c.high, place.pan);
            c.last = place.pan;
        }
        juce::Path line;
        line.startNewSubPath(plot.left, y(0.0f)); // every take starts at the centre
        for (int i = 0; i < count; ++i)
        {
            const auto& c = columns[static_cast<size_t>(i)];
            if (!c.used)
                continue;
            const float x =
                plot.left + (static_cast<float>(i) + 0.5f) * plot.width / static_cast<float>(count);
            line.lineTo(x, y(c.first));
            if (c.low < c.first || c.high > c.first)
            {
                line.lineTo(x, y(c.low));
                line.lineTo(x, y(c.high));
            }
            line.lineTo(x, y(c.last));
        }
        g.setColour(alpha(take.bypassed ? ui::off : ui::amber, 0xd0));
        g.strokePath(line, juce::PathStrokeType(1.5f));

        // A dot per hit at its place.
        g.setColour(alpha(ui::text, 0xe0));
        for (const auto& hit : take.hits)
            g.fillEllipse(plot.x(hit.seconds) - 2.5f, y(hit.pan) - 2.5f, 5.0f, 5.0f);
    }

    // Side labels, the legend and the note.
    g.setFont(small);
    g.setColour(ui::dim);
    const auto sideFont = ui::font(11.0f, ui::Weight::SemiBold);
    for (const auto& [pan, text] : {std::pair{-1.0f, "L"}, std::pair{-0.5f, "50 %"},
                                    std::pair{0.0f, "centre"}, std::pair{0.5f, "50 %"}, std::pair{1.0f, "R"}})
    {
        const bool side = std::abs(pan) == 1.0f;
        g.setFont(side ? sideFont : small);
        g.drawText(text, juce::Rectangle<float>(plot.left - 40, y(pan) - 6, 36, 12),
                   juce::Justification::centredRight, false);
    }

    g.setFont(small);
    float x = plot.left;
    const auto item = [&](juce::Colour swatch, bool dot, const juce::String& text, juce::Colour textColour)
    {
        g.setColour(swatch);
        if (dot)
            g.fillEllipse(x + 1, 11, 6, 6);
        else
            g.fillRoundedRectangle(x, 13, 10, 2, 1);
        g.setColour(textColour);
        g.drawText(text, juce::Rectangle<float>(x + 14, 6, ui::stringWidth(small, text) + 4, 16),
                   juce::Justification::centredLeft, false);
        x += 14 + ui::stringWidth(small, text) + 22;
    };
    item(ui::text, true, "hits", ui::text);
    item(take.bypassed ? ui::off : ui::amber, false,
         take.bypassed ? "place (bypassed: the centre)" : "place, gliding",
         take.bypassed ? ui::off : ui::amber);
    if (!take.bars.empty())
        item(alpha(ui::blue, 0xd0), false, "bars: the places follow the song position",
             alpha(ui::blue, 0xd0));
    else
    {
        g.setColour(ui::dim);
        g.drawText("transport stopped: nothing follows the song position",
                   juce::Rectangle<float>(x, 6, juce::jmax(width - x, 0.0f), 16),
                   juce::Justification::centredLeft, false);
    }
    g.setColour(ui::dim);
    g.drawText("shaded: where a hit can land",
               juce::Rectangle<float>(10, 6, juce::jmax(width - 22, 0.0f), 16),
               juce::Justification::centredRight, false);
}

MirrelRecorder::MirrelRecorder(const TakeInfo& info, mr::Feed& f, const sv::LoudnessMeter& m,
                               std::function<float(const char*)> p)
    : feed(f), meter(m), parameter(std::move(p)), hitsRead(f.hitCount.load())
{
    data.info = info;
}

void MirrelRecorder::afterBlock(const Block& block)
{
    const double rate = data.info.sampleRate;
    const double start = static_cast<double>(block.start) / rate;
    const double length = static_cast<double>(block.length) / rate;

    // The block's new hits, newest first in the feed; spread over the block (at most a few fit
    // in one, 40 ms apart at least).
    const int count = feed.hitCount.load();
    const int fresh = juce::jlimit(0, mr::Feed::historySize, count - hitsRead);
    for (int k = fresh - 1; k >= 0; --k)
    {
        const int order = fresh - 1 - k; // 0 the oldest
        data.hits.push_back(
            {start + length * (order + 0.5) / fresh, feed.hitPans[static_cast<size_t>(k)].load()});
    }
    hitsRead = count;
    data.places.push_back({start + length, feed.panNow.load()});

    if (feed.followingSong.load() && block.quarterNotes && block.bpm > 0.0)
    {
        data.followedSeconds += length;
        data.bpm = block.bpm;
        const double barQuarters = 4.0 * block.barNumerator / juce::jmax(1, block.barDenominator);
        const double quartersPerSecond = block.bpm / 60.0;
        const double from = *block.quarterNotes, to = from + length * quartersPerSecond;
        for (auto bar = static_cast<juce::int64>(std::ceil(from / barQuarters - 1e-9));
             static_cast<double>(bar) * barQuarters < to - 1e-9; ++bar)
            data.bars.push_back(
                {start + (static_cast<double>(bar) * barQuarters - from) / quartersPerSecond, bar + 1});
    }
    sampler.afterBlock(data.output, block.start + block.length, rate,
                       feed.idle.load() ? -100.0f : meter.shortTerm());
}

void MirrelRecorder::finish(juce::int64 length)
{
    data.seconds = static_cast<double>(length) / data.info.sampleRate;
    data.output.integrated = meter.integrated();
    if (parameter)
    {
        data.width = parameter("width") / 100.0f;
        data.hole = parameter("hole") / 100.0f;
        data.bypassed = parameter("bypass") > 0.5f;
    }
}

juce::Image MirrelRecorder::picture(int width, int height)
{
    MirrelPicture picture(data);
    return picture.render(width, height);
}

juce::String MirrelRecorder::figuresLine() const
{
    return timeline::figuresLine(figuresOf(data));
}
} // namespace timeline
