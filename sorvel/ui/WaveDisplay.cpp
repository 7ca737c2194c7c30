#include "WaveDisplay.h"

#include "common/ui/Style.h"
#include "common/ui/Surfaces.h"

#include <cmath>

namespace
{
float levelDb(float linear)
{
    return linear > 0.000001f ? juce::jmax(20.0f * std::log10(linear), -60.0f) : -60.0f;
}

// A reduction rises at once and falls by `fraction` of the way each record.
float smoothedReduction(float previous, float next, float fraction)
{
    return next > previous ? next : previous + (next - previous) * fraction;
}

juce::Colour alpha(juce::Colour c, int value)
{
    return c.withAlpha(static_cast<juce::uint8>(value));
}

struct Texts
{
    std::array<juce::String, 5> seconds{"-5 s", "-4 s", "-3 s", "-2 s", "-1 s"};
    juce::String now{"now"};
};

const Texts& texts()
{
    static const Texts t;
    return t;
}
} // namespace

WaveDisplay::Layout WaveDisplay::Layout::of(float width, float height)
{
    Layout l;
    float f = juce::jmax(height - 12.0f, 0.0f);
    l.header = juce::jmin(f, 16.0f);
    f -= l.header;
    l.footer = juce::jmin(f, 14.0f);
    const float gap = juce::jmin(f - l.footer, 6.0f);
    l.plotTop = l.header + 6.0f + gap;
    l.plotHeight = juce::jmax(f - l.footer - gap - 4.0f, 0.0f);
    l.plotWidth =
        juce::jmax(juce::jmax(juce::jmax(width - 20.0f, 0.0f) + 10.0f - plotLeft, 0.0f) - 26.0f, 0.0f);
    l.centre = l.plotTop + l.plotHeight / 2.0f;
    l.half = l.plotHeight / 2.0f;
    l.step = l.plotWidth / static_cast<float>(numColumns - 1);
    return l;
}

float WaveDisplay::Layout::extent(float db) const
{
    return plot().extent(db);
}

float WaveDisplay::Layout::reductionY(float gr) const
{
    return plot().reductionY(gr);
}

WaveDisplay::WaveDisplay()
{
    setOpaque(true);
}

void WaveDisplay::append(const Column& c)
{
    columns[static_cast<size_t>(writeIndex)] = c;
    writeIndex = (writeIndex + 1) % numColumns;
}

void WaveDisplay::appendRecord(const sv2::MeteringRecord& record)
{
    using R = sv2::MeteringRecord;
    smoothedGr.peak = smoothedReduction(smoothedGr.peak, record[R::compStage1Db], 0.35f);
    smoothedGr.level = smoothedReduction(smoothedGr.level, record[R::compStage2Db], 0.25f);
    Column c;
    c.inDb = levelDb(record[R::inputPeak]);
    c.outPeakDb = levelDb(record[R::outputPeak]);
    c.outDb = levelDb(record[R::outputRms]);
    c.peakGr = smoothedGr.peak;
    c.levelGr = smoothedGr.level;
    c.deessCut = record[R::deessReductionDb];
    c.deessOn = record[R::essSounding];
    append(c);
}

const WaveDisplay::Column& WaveDisplay::column(int i) const
{
    return columns[static_cast<size_t>((writeIndex + i) % numColumns)];
}

void WaveDisplay::paint(juce::Graphics& g)
{
    background.draw(g, getWidth(), getHeight(), [this](juce::Graphics& bg) { paintBackground(bg); });
    const auto l = Layout::of(static_cast<float>(getWidth()), static_cast<float>(getHeight()));
    painter.paint(g, l.plot(), columns.data(), numColumns, writeIndex);
}

void WaveDisplay::paintBackground(juce::Graphics& g)
{
    const auto& t = texts();
    const float width = static_cast<float>(getWidth()), height = static_cast<float>(getHeight());
    for (const auto corner :
         {juce::Point<float>(0, 0), {width - 7, 0}, {0, height - 7}, {width - 7, height - 7}})
        ui::fillBehind(g, *this, {corner.x, corner.y, 7, 7});
    ui::fillDisplay(g, {0, 0, width, height}, 6);

    const auto l = Layout::of(width, height);
    const auto plot = l.plot();
    const float left = Layout::plotLeft, pw = l.plotWidth, pt = l.plotTop, ph = l.plotHeight;

    // Grid: seconds, then the -12 and -24 dB envelope lines and the centre.
    g.setColour(alpha(ui::panelEdge, 0x73));
    for (int k = 1; k <= 4; ++k)
        g.fillRect(left + pw * static_cast<float>(k) / 5.0f, pt, 1.0f, ph);
    svui::WavePainter::paintLevelLines(g, plot);
    svui::WavePainter::paintScaleLabels(g, plot, font);

    const auto label = [&g](const juce::String& text, float x, float y, float w, juce::Justification j)
    { g.drawText(text, juce::Rectangle<float>(x, y, w, 12.0f), j, false); };
    const float timeY = height - 5.0f - l.footer;
    g.setFont(font);
    g.setColour(ui::dim);
    label(t.seconds[0], left, timeY, 40, juce::Justification::centredLeft);
    for (int k = 1; k <= 4; ++k)
        label(t.seconds[static_cast<size_t>(k)], left + pw * static_cast<float>(k) / 5.0f - 20.0f, timeY, 40,
              juce::Justification::centred);
    label(t.now, pw, timeY, 40, juce::Justification::centredRight);

    svui::WavePainter::paintLegend(g, plot, font, width, l.header);
}
