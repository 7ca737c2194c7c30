#include "WaveDisplay.h"

#include "common/ui/Style.h"
#include "common/ui/Surfaces.h"

#include <cmath>

namespace
{
constexpr float sq(float x)
{
    return x * x;
}

// The -12 and -24 dB grid lines, as fractions of the half height: ((d + 54) / 54)^2.
constexpr float at12 = sq(7.0f / 9.0f);
constexpr float at24 = sq(5.0f / 9.0f);

constexpr int pathCoordinates = 3024; // two runs of 500 points and the closing segments

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
    juce::String zero{"0"}, minus3{"-3"}, minus6{"-6"}, minus12{"-12"}, minus24{"-24"};
    std::array<juce::String, 5> seconds{"-5 s", "-4 s", "-3 s", "-2 s", "-1 s"};
    juce::String now{"now"};
    juce::String input{"input"}, output{"output"}, compress{"compress:"}, level{"level"}, peaks{"peaks"},
        deess{"de-ess cuts"};
    juce::String note{"compress gain reduction from the top, dB on the right"};
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
    return half * sq(juce::jlimit(0.0f, 1.0f, (db + 54.0f) / 54.0f));
}

float WaveDisplay::Layout::reductionY(float gr) const
{
    return plotTop + half * juce::jlimit(0.0f, 1.0f, gr / 12.0f);
}

WaveDisplay::WaveDisplay()
{
    setOpaque(true);
    for (auto* path : {&input, &outputPeak, &outputLevel, &levelReduction, &peakReduction, &deessCuts})
        path->preallocateSpace(pathCoordinates);
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
    const float left = Layout::plotLeft, pw = l.plotWidth, pt = l.plotTop, ph = l.plotHeight;
    const float v = l.centre, bottom = pt + ph;

    const juce::Graphics::ScopedSaveState clipped(g);
    g.reduceClipRegion(juce::Rectangle<float>(left, pt, pw, ph).toNearestInt());

    // Shade every run of columns in which the de-esser cut.
    g.setColour(alpha(ui::green, 0x1a));
    for (int i = 0; i < numColumns; ++i)
    {
        if (!cutShown(column(i)))
            continue;
        int last = i;
        while (last + 1 < numColumns && cutShown(column(last + 1)))
            ++last;
        g.fillRect(l.x(i) - l.step / 2.0f, pt, l.x(last) - l.x(i) + l.step, ph);
        i = last;
    }

    const auto envelope = [&](juce::Path& path, float Column::*field, juce::Colour colour)
    {
        path.clear();
        path.startNewSubPath(l.x(0), v - l.extent(column(0).*field));
        for (int i = 1; i < numColumns; ++i)
            path.lineTo(l.x(i), v - l.extent(column(i).*field));
        for (int i = numColumns - 1; i >= 0; --i)
            path.lineTo(l.x(i), v + l.extent(column(i).*field));
        path.closeSubPath();
        g.setColour(colour);
        g.fillPath(path);
    };
    envelope(input, &Column::inDb, alpha(ui::dim, 0x38));
    envelope(outputPeak, &Column::outPeakDb, alpha(ui::text, 0x47));
    envelope(outputLevel, &Column::outDb, alpha(ui::text, 0xb8));

    // The leveller's reduction hangs from the top; the peak catcher's hangs below it.
    levelReduction.clear();
    levelReduction.startNewSubPath(left, pt);
    for (int i = 0; i < numColumns; ++i)
        levelReduction.lineTo(l.x(i), l.reductionY(column(i).levelGr));
    levelReduction.lineTo(l.x(numColumns - 1), pt);
    levelReduction.closeSubPath();
    g.setColour(alpha(ui::amber, 0x38));
    g.fillPath(levelReduction);
    g.setColour(alpha(ui::amber, 0xa6));
    g.strokePath(levelReduction, juce::PathStrokeType(1.0f));

    peakReduction.clear();
    peakReduction.startNewSubPath(l.x(0), l.reductionY(column(0).levelGr));
    for (int i = 1; i < numColumns; ++i)
        peakReduction.lineTo(l.x(i), l.reductionY(column(i).levelGr));
    for (int i = numColumns - 1; i >= 0; --i)
        peakReduction.lineTo(l.x(i), l.reductionY(column(i).peakGr + column(i).levelGr) + 0.01f);
    peakReduction.closeSubPath();
    g.setColour(alpha(ui::amber, 0xcc));
    g.fillPath(peakReduction);

    // De-ess cuts rise from the bottom: 12 dB reach a quarter of the plot.
    deessCuts.clear();
    deessCuts.startNewSubPath(left, bottom);
    for (int i = 0; i < numColumns; ++i)
    {
        const auto& c = column(i);
        const float cut = cutShown(c) ? ph * 0.25f * juce::jmin(c.deessCut / 12.0f, 1.0f) : 0.0f;
        deessCuts.lineTo(l.x(i), bottom - cut);
    }
    deessCuts.lineTo(l.x(numColumns - 1), bottom);
    deessCuts.closeSubPath();
    g.setColour(alpha(ui::green, 0xd9));
    g.fillPath(deessCuts);
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
    const float left = Layout::plotLeft, pw = l.plotWidth, pt = l.plotTop, ph = l.plotHeight;
    const float v = l.centre, u = l.half;

    // Grid: seconds, the -12 and -24 dB envelope lines, the centre.
    g.setColour(alpha(ui::panelEdge, 0x73));
    for (int k = 1; k <= 4; ++k)
        g.fillRect(left + pw * static_cast<float>(k) / 5.0f, pt, 1.0f, ph);
    g.setColour(alpha(ui::panelEdge, 0x59));
    for (const float y : {v - u * at12, v + u * at12, v - u * at24, v + u * at24})
        g.fillRect(left, y, pw, 1.0f);
    g.setColour(alpha(ui::panelEdge, 0xcc));
    g.fillRect(left, v - 0.5f, pw, 1.0f);

    g.setFont(font);
    const auto label = [&g](const juce::String& text, float x, float y, float w, juce::Justification j)
    { g.drawText(text, juce::Rectangle<float>(x, y - 6.0f, w, 12.0f), j, false); };
    g.setColour(ui::dim);
    label(t.zero, 4, pt, 32, juce::Justification::centredRight);
    label(t.minus12, 4, v - u * at12, 32, juce::Justification::centredRight);
    label(t.minus24, 4, v - u * at24, 32, juce::Justification::centredRight);
    g.setColour(alpha(ui::amber, 0xe6));
    label(t.minus3, pw + 44, pt + u / 4, 22, juce::Justification::centredLeft);
    label(t.minus6, pw + 44, pt + u / 2, 22, juce::Justification::centredLeft);
    label(t.minus12, pw + 44, v, 22, juce::Justification::centredLeft);

    const float timeY = height - 5.0f - l.footer + 6.0f; // label() centres on y
    g.setColour(ui::dim);
    label(t.seconds[0], left, timeY, 40, juce::Justification::centredLeft);
    for (int k = 1; k <= 4; ++k)
        label(t.seconds[static_cast<size_t>(k)], left + pw * static_cast<float>(k) / 5.0f - 20.0f, timeY, 40,
              juce::Justification::centred);
    label(t.now, pw, timeY, 40, juce::Justification::centredRight);

    paintLegend(g, width, l.header);
}

void WaveDisplay::paintLegend(juce::Graphics& g, float width, float hh)
{
    const auto& t = texts();
    const float swatchY = hh / 2.0f + 2.0f;
    const auto swatch = [&](float x, juce::Colour c)
    {
        g.setColour(c);
        g.fillRoundedRectangle(x, swatchY, 8.0f, 8.0f, 2.0f);
    };
    const auto text = [&](const juce::String& s, float x, juce::Colour c)
    {
        g.setColour(c);
        g.drawText(s, juce::Rectangle<float>(x, 6.0f, ui::stringWidth(font, s) + 4.0f, hh),
                   juce::Justification::centredLeft, false);
    };
    const auto widthOf = [this](const juce::String& s) { return ui::stringWidth(font, s); };

    swatch(40, alpha(ui::dim, 0x80));
    text(t.input, 52, ui::dim);
    const float x1 = 40 + widthOf(t.input) + 26;
    swatch(x1, ui::text);
    text(t.output, x1 + 12, ui::text);
    const float x2 = x1 + widthOf(t.output) + 26;
    text(t.compress, x2, ui::dim);
    const float x3 = x2 + widthOf(t.compress) + 8;
    swatch(x3, alpha(ui::amber, 0x66));
    text(t.level, x3 + 12, ui::amber);
    const float x4 = x3 + widthOf(t.level) + 26;
    swatch(x4, ui::amber);
    text(t.peaks, x4 + 12, ui::amber);
    const float x5 = x4 + widthOf(t.peaks) + 26;
    swatch(x5, ui::green);
    text(t.deess, x5 + 12, ui::green);

    g.setColour(ui::dim);
    g.drawText(t.note, juce::Rectangle<float>(10, 6, juce::jmax(juce::jmax(width - 20, 0.0f) - 2, 0.0f), hh),
               juce::Justification::centredRight, false);
}
