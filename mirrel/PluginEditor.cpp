#include "PluginEditor.h"

#include "common/ui/Backdrop.h"
#include "common/ui/JuceCompat.h"
#include "common/ui/Surfaces.h"

#include <cmath>

juce::String placeText(float pan)
{
    const long percent = std::lround(std::abs(pan) * 100.0f);
    if (percent == 0)
        return "centre";
    return juce::String(percent) + (pan < 0.0f ? " % left" : " % right");
}

namespace
{
void setUpLabel(juce::Label& label, float height, int style, juce::Justification justification,
                juce::Colour colour, const juce::String& text = {})
{
    label.setFont(juce::FontOptions(height, style));
    label.setJustificationType(justification);
    label.setColour(juce::Label::textColourId, colour);
    label.setText(text, juce::dontSendNotification);
}

std::unique_ptr<Knob> makeKnob(MirrelProcessor& p, const char* id, const char* caption, juce::Colour colour,
                               const char* suffix)
{
    auto knob = std::make_unique<Knob>(p.apvts, id, caption, colour);
    knob->slider.setTextValueSuffix(suffix);
    return knob;
}
} // namespace

MirrelEditor::MirrelEditor(MirrelProcessor& p)
    : juce::AudioProcessorEditor(p), processor(p), loudness("LUFS"),
      meterCaptionFont(juce::FontOptions(9.0f, juce::Font::plain))
{
    setLookAndFeel(&knobLook);

    using J = juce::Justification;
    setUpLabel(placeLabel, 26.0f, juce::Font::bold, J::centredLeft, ui::amber);
    setUpLabel(statusLabel, 11.0f, juce::Font::plain, J::centredLeft, ui::dim);
    setUpLabel(infoLabel, 11.0f, juce::Font::plain, J::centredLeft, ui::dim,
               "listens on the mono sum, 150 Hz to 6 kHz; 5 ms lookahead so the move lands on the hit");
    setUpLabel(alternateLabel, 12.0f, juce::Font::bold, J::centredRight, ui::dim, "ALTERNATE SIDES");

    alternate = std::make_unique<AlternateSelector>(*p.apvts.getParameter("alternate"));

    bypassButton.setButtonText("BYPASS");
    bypassButton.setClickingTogglesState(true);
    bypassAttachment = std::make_unique<juce::AudioProcessorValueTreeState::ButtonAttachment>(
        p.apvts, "bypass", bypassButton);

    setUpLabel(seedLabel, 12.0f, juce::Font::bold, J::centredRight, ui::dim, "SEED");
    seedSlider.setSliderStyle(juce::Slider::IncDecButtons);
    seedSlider.setIncDecButtonsMode(juce::Slider::incDecButtonsDraggable_Vertical);
    seedSlider.setTextBoxStyle(juce::Slider::TextBoxLeft, false, 40, 24);
    seedSlider.setColour(juce::Slider::textBoxBackgroundColourId, ui::slot);
    seedSlider.setColour(juce::Slider::textBoxOutlineColourId, ui::panelEdge);
    seedAttachment =
        std::make_unique<juce::AudioProcessorValueTreeState::SliderAttachment>(p.apvts, "seed", seedSlider);

    sensitivityKnob = makeKnob(p, "sensitivity", "SENSITIVITY", ui::text, " dB");
    widthKnob = makeKnob(p, "width", "WIDTH", ui::blue, " %");
    holeKnob = makeKnob(p, "hole", "HOLE", ui::blue, " %");
    biasKnob = makeKnob(p, "bias", "SIDE BIAS", ui::blue, " %");
    minJumpKnob = makeKnob(p, "minjump", "MIN JUMP", ui::amber, " %");
    slewKnob = makeKnob(p, "slew", "SLEW", ui::text, " ms");

    loudness.resetButton.onClick = [this] { processor.feed().resetLoudness.store(true); };

    addAndMakeVisible(content);
    for (auto* c : std::initializer_list<juce::Component*>{
             &lane, &placeLabel, &statusLabel, &infoLabel, &alternateLabel, alternate.get(), &bypassButton,
             &seedLabel, &seedSlider, sensitivityKnob.get(), widthKnob.get(), holeKnob.get(), biasKnob.get(),
             minJumpKnob.get(), slewKnob.get(), &inMeter, &outMeter, &loudness})
        content.addAndMakeVisible(c);

    // Sizes the editor to the stored scale, which lays everything out.
    sizeButton.attach(*this, content, designWidth, designHeight, "Mirrel");

    startTimer(refreshMs);
}

MirrelEditor::~MirrelEditor()
{
    stopTimer();
    setLookAndFeel(nullptr);
}

void MirrelEditor::resized()
{
    content.setBounds(0, 0, designWidth, designHeight);
    content.setTransform(juce::AffineTransform::scale(static_cast<float>(getWidth()) / designWidth));

    lane.setBounds(24, 58, 540, 270);
    placeLabel.setBounds(24, 336, 150, 40);
    alternateLabel.setBounds(180, 336, 100, 40);
    alternate->setBounds(286, 342, 192, 28);
    bypassButton.setBounds(484, 342, 80, 28);
    seedSlider.setBounds(454, 382, 110, 26);
    seedLabel.setBounds(406, 382, 44, 26);
    statusLabel.setBounds(24, 382, 382, 26);
    infoLabel.setBounds(24, 408, 540, 22);
    inMeter.setBounds(594, 84, 10, 352);
    outMeter.setBounds(616, 84, 10, 352);
    sensitivityKnob->setBounds(652, 58, 112, 129);
    widthKnob->setBounds(764, 58, 112, 129);
    holeKnob->setBounds(652, 187, 112, 129);
    biasKnob->setBounds(764, 187, 112, 129);
    minJumpKnob->setBounds(652, 316, 112, 130);
    slewKnob->setBounds(764, 316, 112, 130);
    loudness.setBounds(896, 48, 150, 408);
}

void MirrelEditor::paint(juce::Graphics& g)
{
    static const juce::String in("IN"), out("OUT");
    using J = juce::Justification;

    const ui::Backdrop backdrop(g, *this);
    g.addTransform(juce::AffineTransform::scale(static_cast<float>(getWidth()) / designWidth));
    title.draw(g, designWidth);

    ui::drawPanel(g, {14.0f, 48.0f, 560.0f, 408.0f});
    ui::drawPanel(g, {584.0f, 48.0f, 302.0f, 408.0f});

    g.setColour(ui::dim);
    g.setFont(meterCaptionFont);
    g.drawText(in, 598, 60, 20, 12, J::centred, true);
    g.drawText(out, 620, 60, 24, 12, J::centred, true);
}

void MirrelEditor::timerCallback()
{
    // Meters and loudness move only while blocks come in, and once more after they stop while the
    // processor is not idle: stopped and silent, nothing is repainted.
    auto& feed = processor.feed();
    const int blocks = feed.blocksProcessed.load();
    bool meters = false;
    if (blocks != lastBlockCount)
    {
        lastBlockCount = blocks;
        staleTicks = 0;
        meters = true;
    }
    else if (!feed.idle.load())
    {
        meters = staleTicks == 0;
        staleTicks = juce::jmin(staleTicks + 1, 1 << 30);
    }
    if (meters)
        refreshMeters();

    refreshLane();
    refreshTexts();
}

void MirrelEditor::refreshMeters()
{
    auto& feed = processor.feed();
    ui::advanceMeter(inMeter, feed.inputPeak.exchange(0.0f));
    ui::advanceMeter(outMeter, feed.outputPeak.exchange(0.0f));

    const auto& meter = processor.getEngine().loudness();
    loudness.setReadings(meter.momentary(), meter.shortTerm(), meter.integrated());
}

void MirrelEditor::refreshLane()
{
    auto& feed = processor.feed();
    bool changed = false;
    const auto update = [&changed](auto& member, auto value)
    {
        if (member != value)
        {
            member = value;
            changed = true;
        }
    };
    for (size_t k = 0; k < lane.hits.size(); ++k)
        update(lane.hits[k], feed.hitPans[k].load());
    update(lane.panNow, feed.panNow.load());
    update(lane.hitCount, feed.hitCount.load());
    update(lane.width, static_cast<float>(widthKnob->slider.getValue() / 100.0));
    update(lane.hole, static_cast<float>(holeKnob->slider.getValue() / 100.0));
    update(lane.bypassed, bypassButton.getToggleState());
    // The same values draw the same lane.
    if (changed)
        lane.repaint();
}

void MirrelEditor::refreshTexts()
{
    const auto& feed = processor.feed();
    const Shown now{true, lane.hitCount, feed.panLastHit.load(), feed.followingSong.load(), lane.bypassed};
    if (shown.valid && now.hitCount == shown.hitCount && now.lastHit == shown.lastHit &&
        now.following == shown.following && now.bypassed == shown.bypassed)
        return;
    shown = now;

    placeLabel.setText(now.hitCount < 1 ? juce::String("CENTRE") : placeText(now.lastHit).toUpperCase(),
                       juce::dontSendNotification);

    const juce::String song =
        now.following ? ";  follows the song position"
                      : ";  transport stopped: hits still move, nothing follows the song position";
    juce::String status;
    if (now.bypassed)
        status = "bypassed: everything at the centre, " + juce::String(now.hitCount) + " hits so far";
    else if (now.hitCount != 0)
        status = juce::String(now.hitCount) + " hits, last hit at " + placeText(now.lastHit) + song;
    else
        status = "no hits yet: waiting for the first one" + song;
    statusLabel.setText(status, juce::dontSendNotification);
}
