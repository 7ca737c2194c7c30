#include "SorvelTimeline.h"

#include <cmath>

namespace timeline
{
namespace
{
using R = sv2::MeteringRecord;

float levelDb(float linear)
{
    return linear > 0.000001f ? juce::jmax(20.0f * std::log10(linear), -60.0f) : -60.0f;
}

bool cutShown(const R& r)
{
    return r[R::essSounding] > 0.5f && r[R::deessReductionDb] >= workingDb;
}

juce::String stageText(const SorvelFigures::Stage& s)
{
    if (s.largestDb < workingDb)
        return "none";
    const int percent = juce::roundToInt(s.share * 100.0f);
    const auto share = percent == 0 ? juce::String("under 1 %") : juce::String(percent) + " %";
    return "up to " + juce::String(s.largestDb, 1) + " dB, " + share + " of the take";
}

juce::String rangeText(const std::optional<float>& range)
{
    return range ? juce::String(*range, 1) : juce::String("none");
}
} // namespace

SorvelFigures figuresOf(const SorvelTake& take)
{
    SorvelFigures f;
    f.integratedIn = take.input.integrated;
    f.integratedOut = take.output.integrated;
    f.rangeIn = loudnessRange(take.input.values);
    f.rangeOut = loudnessRange(take.output.values);
    int deessWorked = 0, peaksWorked = 0, levelWorked = 0;
    for (const auto& record : take.records)
    {
        const auto& r = record.values;
        f.deess.largestDb = juce::jmax(f.deess.largestDb, r[R::deessReductionDb]);
        f.peaks.largestDb = juce::jmax(f.peaks.largestDb, r[R::compStage1Db]);
        f.level.largestDb = juce::jmax(f.level.largestDb, r[R::compStage2Db]);
        deessWorked += cutShown(r) ? 1 : 0;
        peaksWorked += r[R::compStage1Db] >= workingDb ? 1 : 0;
        levelWorked += r[R::compStage2Db] >= workingDb ? 1 : 0;
    }
    const auto share = [&take](int n)
    {
        return take.seconds > 0.0
                   ? juce::jmin(1.0f, static_cast<float>(n * take.intervalSeconds / take.seconds))
                   : 0.0f;
    };
    f.deess.share = share(deessWorked);
    f.peaks.share = share(peaksWorked);
    f.level.share = share(levelWorked);
    return f;
}

std::vector<Figure> figureRow(const SorvelFigures& f)
{
    return {
        {"INTEGRATED", "in " + lufsText(f.integratedIn) + "   out " + lufsText(f.integratedOut) + " LUFS"},
        {"LOUDNESS RANGE", "in " + rangeText(f.rangeIn) + "   out " + rangeText(f.rangeOut) + " LU"},
        {"DE-ESS", stageText(f.deess)},
        {"COMPRESS PEAKS", stageText(f.peaks)},
        {"COMPRESS LEVEL", stageText(f.level)},
    };
}

juce::String figuresLine(const SorvelFigures& f)
{
    return "integrated loudness in " + lufsText(f.integratedIn) + " LUFS, out " + lufsText(f.integratedOut) +
           " LUFS; loudness range in " + rangeText(f.rangeIn) + " LU, out " + rangeText(f.rangeOut) +
           " LU; de-ess " + stageText(f.deess) + "; compress peaks " + stageText(f.peaks) +
           "; compress level " + stageText(f.level);
}

std::vector<svui::WaveColumn> columnsOf(const SorvelTake& take, int count)
{
    std::vector<svui::WaveColumn> columns(static_cast<size_t>(juce::jmax(count, 0)));
    if (count < 1 || take.seconds <= 0.0)
        return columns;
    // Column i spans i d .. (i + 1) d.
    const double d = take.seconds / static_cast<double>(count);
    for (const auto& record : take.records)
    {
        const double end = record.endSeconds, start = end - take.intervalSeconds;
        const int first = juce::jlimit(0, count - 1, static_cast<int>(std::floor(start / d)));
        const int last = juce::jlimit(first, count - 1, static_cast<int>(std::ceil(end / d)) - 1);
        const auto& r = record.values;
        const float in = levelDb(r[R::inputPeak]), outPeak = levelDb(r[R::outputPeak]),
                    out = levelDb(r[R::outputRms]);
        const bool cut = cutShown(r);
        for (int i = first; i <= last; ++i)
        {
            auto& c = columns[static_cast<size_t>(i)];
            c.inDb = juce::jmax(c.inDb, in);
            c.outPeakDb = juce::jmax(c.outPeakDb, outPeak);
            c.outDb = juce::jmax(c.outDb, out);
            c.peakGr = juce::jmax(c.peakGr, r[R::compStage1Db]);
            c.levelGr = juce::jmax(c.levelGr, r[R::compStage2Db]);
            if (cut)
            {
                c.deessCut = juce::jmax(c.deessCut, r[R::deessReductionDb]);
                c.deessOn = 1.0f;
            }
        }
    }
    return columns;
}

SorvelPicture::SorvelPicture(const SorvelTake& t) : TakePicture("SORVEL", t.info, t.seconds), take(t)
{
    tracks = {{&take.input, "input", ui::dim.withAlpha(static_cast<juce::uint8>(0x99)), 4.0f},
              {&take.output, "output", ui::text, 1.5f}};
    figures = figureRow(figuresOf(take));
}

void SorvelPicture::paintMain(juce::Graphics& g, float width, float height)
{
    const auto plot = mainPlot({0, 0, width, height}, seconds);
    // One column per pixel of the plot, each held flat over its pixel: a column's maxima show
    // whole, so one loud record shows in a picture of any length.
    const int count = juce::jmax(1, juce::roundToInt(plot.width));
    if (static_cast<int>(columns.size()) != count)
    {
        columns = columnsOf(take, count);
        painter = std::make_unique<svui::WavePainter>(count);
    }
    const svui::WavePlot wave{
        plot.left, plot.top, plot.width, plot.height, plot.width / static_cast<float>(count), true};

    paintTimeGrid(g, plot);
    svui::WavePainter::paintLevelLines(g, wave);
    painter->paint(g, wave, columns.data(), count);
    svui::WavePainter::paintScaleLabels(g, wave, small);
    svui::WavePainter::paintLegend(g, wave, small, width, 16.0f);
}

SorvelRecorder::SorvelRecorder(const TakeInfo& info, sv2::EditorFeed& f, const sv::LoudnessMeter& in,
                               const sv::LoudnessMeter& out)
    : feed(f), inputMeter(in), outputMeter(out), recordsRead(f.records.count())
{
    data.info = info;
    intervalSamples = juce::jmax(1, juce::roundToInt(0.01 * info.sampleRate));
    data.intervalSeconds = intervalSamples / info.sampleRate;
}

void SorvelRecorder::afterBlock(const Block& block)
{
    const auto blockEnd = block.start + block.length;
    const double rate = data.info.sampleRate;
    const auto count = feed.records.count();
    // The ring keeps the last 512 records; a block never brings more (65536 samples at most).
    const auto fresh = juce::jmin<std::uint32_t>(count - recordsRead, sv2::RecordRing::size);
    const bool idle = feed.idle.load();
    // The chain counts its intervals from where it last woke (a sleeping block starts them
    // afresh), so the block's records end at the interval boundaries that count puts in it.
    const auto firstEnd = block.start + (intervalSamples - phase);
    for (std::uint32_t k = 0; k < fresh; ++k)
    {
        const auto end = juce::jmin(firstEnd + static_cast<juce::int64>(k) * intervalSamples, blockEnd);
        data.records.push_back({static_cast<double>(end) / rate, feed.records.at(count - fresh + k)});
    }
    recordsRead = count;
    phase = idle ? 0 : static_cast<int>((phase + block.length) % intervalSamples);

    // A sleeping chain feeds neither meter: no reading then.
    inputSampler.afterBlock(data.input, blockEnd, rate, idle ? -100.0f : inputMeter.shortTerm());
    outputSampler.afterBlock(data.output, blockEnd, rate, idle ? -100.0f : outputMeter.shortTerm());
}

void SorvelRecorder::finish(juce::int64 length)
{
    data.seconds = static_cast<double>(length) / data.info.sampleRate;
    data.input.integrated = inputMeter.integrated();
    data.output.integrated = outputMeter.integrated();
}

juce::Image SorvelRecorder::picture(int width, int height)
{
    SorvelPicture picture(data);
    return picture.render(width, height);
}

juce::String SorvelRecorder::figuresLine() const
{
    return timeline::figuresLine(figuresOf(data));
}
} // namespace timeline
