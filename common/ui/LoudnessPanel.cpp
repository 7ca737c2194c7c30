#include "LoudnessPanel.h"

#include "Backdrop.h"
#include "JuceCompat.h"
#include "Surfaces.h"

#include <array>

namespace
{
struct ScaleMark
{
    juce::String text;
    float fraction;
};

const std::array<ScaleMark, 7>& scaleMarks()
{
    static const std::array<ScaleMark, 7> marks{{{"0", 1.0f},
                                                 {"-6", 0.85f},
                                                 {"-12", 0.7f},
                                                 {"-18", 0.55f},
                                                 {"-24", 0.4f},
                                                 {"-30", 0.25f},
                                                 {"-40", 0.0f}}};
    return marks;
}

constexpr float noReading = -99.0f;
} // namespace

LoudnessPanel::LoudnessPanel(const juce::String& captionText)
    : caption(captionText), titleFont(juce::FontOptions(14.0f, juce::Font::bold)),
      captionFont(juce::FontOptions(10.5f, juce::Font::plain)),
      scaleFont(juce::FontOptions(10.0f, juce::Font::plain)),
      smallFont(juce::FontOptions(11.0f, juce::Font::plain)),
      bigFont(juce::FontOptions(30.0f, juce::Font::bold)), rowFont(juce::FontOptions(18.0f, juce::Font::bold))
{
    resetButton.setButtonText("RESET");
    resetButton.setColour(juce::TextButton::buttonColourId, ui::slot);
    resetButton.setColour(juce::TextButton::textColourOffId, ui::text);
    addAndMakeVisible(resetButton);
    setOpaque(true);
}

LoudnessPanel::~LoudnessPanel() = default;

juce::String LoudnessPanel::valueText(float lufs)
{
    return lufs <= noReading ? juce::String("--.-") : juce::String(lufs, 1);
}

juce::Colour LoudnessPanel::barColour(float lufs)
{
    return lufs > -9.0f ? ui::red : lufs > -16.0f ? ui::amber : ui::green;
}

const juce::String& LoudnessPanel::CachedText::of(float lufs)
{
    if (!valid || value != lufs)
    {
        value = lufs;
        text = valueText(lufs);
        valid = true;
    }
    return text;
}

void LoudnessPanel::resized()
{
    const int aw = juce::jmax(getWidth() - 16, 0), ah = juce::jmax(getHeight() - 16, 0);
    const int bw = juce::jmin(aw, 64), bh = juce::jmin(ah, 26);
    resetButton.setBounds(aw - bw + 8, ah - bh + 8, bw, bh);
}

void LoudnessPanel::setReadings(float momentaryLufs, float shortTermLufs, float integratedLufs)
{
    if (momentaryLufs == momentary && shortTermLufs == shortTerm && integratedLufs == integrated)
        return;
    momentary = momentaryLufs;
    shortTerm = shortTermLufs;
    integrated = integratedLufs;
    repaint();
}

void LoudnessPanel::paint(juce::Graphics& g)
{
    static const juce::String title("LOUDNESS"), shortTermCaption("SHORT-TERM"), momentaryName("M"),
        integratedName("I");

    const ui::Backdrop backdrop(g, *this);
    ui::drawPanel(g, getLocalBounds().toFloat(), 6.0f);

    const int iw = juce::jmax(getWidth() - 16, 0);
    int rest = juce::jmax(getHeight() - 16, 0);

    g.setColour(ui::text);
    g.setFont(titleFont);
    const int th = juce::jmin(rest, 24);
    g.drawText(title, 8, 8, iw, th, juce::Justification::centred, true);
    rest -= th;
    const int y = 8 + th;

    g.setColour(ui::dim);
    g.setFont(captionFont);
    const int ch = juce::jmin(rest, 14);
    g.drawText(caption, 8, y, iw, ch, juce::Justification::centred, false);
    rest -= ch;

    const int gap = juce::jmin(rest, 6);
    const int y0 = y + ch + gap;
    rest -= gap;

    // The bar well, -40 (bottom) to 0 LUFS (top).
    const int cw = juce::jmax(juce::jmin(iw, 26), 14);
    const int bw = cw - 14;
    const int bh = juce::jmax(rest - 34, 0);
    const float barHeight = static_cast<float>(bh);
    g.setColour(ui::slot);
    g.fillRoundedRectangle(8.0f, static_cast<float>(y0), static_cast<float>(bw), barHeight, 2.0f);
    g.setColour(juce::Colours::black.withAlpha(static_cast<juce::uint8>(0x73)));
    g.drawRoundedRectangle(8.5f, static_cast<float>(y0) + 0.5f, static_cast<float>(juce::jmax(cw - 15, 0)),
                           juce::jmax(barHeight - 1, 0.0f), 2.0f, 1.0f);
    const float yb = static_cast<float>(y0 + bh);

    if (momentary > noReading)
    {
        const float q = juce::jlimit(0.0f, 1.0f, (momentary + 40.0f) / 40.0f);
        g.setColour(barColour(momentary));
        g.fillRect(9.0f, yb - barHeight * q, static_cast<float>(cw - 16), barHeight * q);
    }

    g.setColour(ui::dim);
    g.setFont(scaleFont);
    for (const auto& mark : scaleMarks())
        g.drawText(mark.text, bw + 8 + 2, static_cast<int>(yb - barHeight * mark.fraction) - 6, 22, 12,
                   juce::Justification::centredLeft, false);

    // Reference lines at -14 and -23 LUFS.
    g.setColour(ui::text.withAlpha(static_cast<juce::uint8>(0x80)));
    g.fillRect(8.0f, yb - barHeight * 0.65f - 0.5f, static_cast<float>(bw), 1.0f);
    g.fillRect(8.0f, yb - barHeight * 0.425f - 0.5f, static_cast<float>(bw), 1.0f);

    // The readouts, from the top of the column down.
    const int gx = juce::jmin(iw - cw, 14);
    juce::Rectangle<int> column(cw + gx + 8, y0, iw - cw - gx, rest);
    const auto take = [&column](int height)
    { return column.removeFromTop(juce::jmin(column.getHeight(), height)); };

    g.setColour(ui::dim);
    g.setFont(smallFont);
    g.drawText(shortTermCaption, take(14), juce::Justification::centred, false);
    g.setColour(shortTerm > -9.0f ? ui::red : ui::text);
    g.setFont(bigFont);
    g.drawText(shortTermText.of(shortTerm), take(36), juce::Justification::centred, false);
    take(8);

    const auto row = [&](const juce::String& name, const juce::String& value)
    {
        auto area = take(24);
        g.setColour(ui::dim);
        g.setFont(smallFont);
        g.drawText(name, area.removeFromLeft(juce::jmin(area.getWidth(), 20)),
                   juce::Justification::centredLeft, false);
        g.setColour(ui::text);
        g.setFont(rowFont);
        g.drawText(value, area, juce::Justification::centredRight, false);
    };
    row(momentaryName, momentaryText.of(momentary));
    row(integratedName, integratedText.of(integrated));
}
