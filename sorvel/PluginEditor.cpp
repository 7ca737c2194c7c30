#include "PluginEditor.h"

#include "common/ui/Backdrop.h"
#include "common/ui/JuceCompat.h"
#include "common/ui/Style.h"
#include "common/ui/Surfaces.h"

#include <cmath>

namespace
{
using J = juce::Justification;
namespace layout = svui::layout;

void setUpLabel(juce::Label& label, float height, bool bold, J justification, juce::Colour colour)
{
    label.setFont(juce::FontOptions(height, bold ? juce::Font::bold : juce::Font::plain));
    label.setJustificationType(justification);
    label.setColour(juce::Label::textColourId, colour);
    label.setMinimumHorizontalScale(0.9f);
    label.setBorderSize(juce::BorderSize<int>(0));
    label.setInterceptsMouseClicks(false, false);
}

void setText(juce::Label& label, const juce::String& text)
{
    if (label.getText() != text)
        label.setText(text, juce::dontSendNotification);
}

void setTextColour(juce::Label& label, juce::Colour colour)
{
    if (label.findColour(juce::Label::textColourId) != colour)
        label.setColour(juce::Label::textColourId, colour);
}

void setTextBox(juce::Slider& slider, int width, int height)
{
    if (slider.getTextBoxPosition() != juce::Slider::TextBoxBelow || slider.isTextBoxEditable() == false ||
        slider.getTextBoxWidth() != width || slider.getTextBoxHeight() != height)
        slider.setTextBoxStyle(juce::Slider::TextBoxBelow, false, width, height);
}

bool sameBlock(const ChainRow::Block& a, const ChainRow::Block& b)
{
    return a.text == b.text && a.amount == b.amount && a.bipolar == b.bipolar && a.level == b.level &&
           a.unducked == b.unducked && a.duckDepth == b.duckDepth && a.active == b.active &&
           a.listening == b.listening && a.on == b.on && a.curveValues[0] == b.curveValues[0] &&
           a.curveValues[1] == b.curveValues[1] && a.curveIndices[0] == b.curveIndices[0] &&
           a.curveIndices[1] == b.curveIndices[1];
}

// The decay a reverb character brings, and the feedback a delay character brings.
float characterDecay(int i)
{
    return i <= 0 ? 1.6f : i == 1 ? 0.9f : 2.6f;
}

float characterFeedback(int i)
{
    return i <= 0 ? 10.0f : i <= 2 ? 25.0f : 30.0f;
}
} // namespace

Sorvel2Editor::Sorvel2Editor(Sorvel2Processor& p) : juce::AudioProcessorEditor(p), processor(p)
{
    wave.setOpaque(true);
    chain.setOpaque(true);
    chain.setMouseCursor(juce::MouseCursor::PointingHandCursor);
    eq.setOpaque(true);
    eq.setInterceptsMouseClicks(false, false);
    inMeter.level = outMeter.level = -60.0f;

    setLookAndFeel(&look);
    addAndMakeVisible(content);
    content.addAndMakeVisible(wave);
    content.addAndMakeVisible(chain);
    content.addChildComponent(eq);

    chain.onSelect = [this](int i) { select(i); };
    chain.onPower = [this](int i) { togglePower(i); };

    auto& tree = p.apvts;
    const auto rawOf = [&tree](const char* id)
    {
        auto* value = tree.getRawParameterValue(id);
        jassert(value != nullptr);
        return value;
    };
    raw = {rawOf("hpf"),         rawOf("deess"),    rawOf("deessChar"),  rawOf("deessFreq"),
           rawOf("bass"),        rawOf("bassChar"), rawOf("treble"),     rawOf("trebleChar"),
           rawOf("comp"),        rawOf("compChar"), rawOf("compMix"),    rawOf("shimmer"),
           rawOf("shimmerChar"), rawOf("reverb"),   rawOf("reverbChar"), rawOf("delay"),
           rawOf("delayChar"),   rawOf("width"),    rawOf("widthChar"),  rawOf("listen")};

    setUpLabel(titleLabel, 17.0f, true, J::centredLeft, ui::text);
    setUpLabel(descriptionLabel, 11.0f, false, J::topLeft, ui::dim);
    setUpLabel(captionLabel, 10.0f, true, J::centredLeft, ui::dim);
    setUpLabel(tipLabel, 10.5f, false, J::topLeft, ui::dim);
    setUpLabel(readoutCaption, 10.0f, true, J::centred, ui::dim);
    setUpLabel(readoutValue, 22.0f, true, J::centred, ui::text);
    setUpLabel(inNote, 11.0f, true, J::centredTop, ui::dim);
    setUpLabel(outNote, 11.0f, true, J::centredTop, ui::dim);
    setUpLabel(bypassNote, 10.5f, false, J::centredRight, ui::dim);
    for (auto* label : {&titleLabel, &descriptionLabel, &captionLabel, &tipLabel, &readoutCaption,
                        &readoutValue, &inNote, &outNote, &bypassNote})
        content.addAndMakeVisible(label);

    using M = svui::Module;
    const int y0 = layout::module.getY();
    const auto knobAt = [this](int module, std::unique_ptr<Knob>& knob, int x) {
        moduleControls.push_back({module, knob.get(), {x, 384, 94, 118}});
    };
    const auto choiceAt = [this](int module, std::unique_ptr<SegmentedChoice>& choice, juce::Rectangle<int> r)
    {
        moduleControls.push_back({module, choice.get(), r});
    };

    deessKnob = makeKnob("deess", "AMOUNT", ui::green);
    deessFreqKnob = makeKnob("deessFreq", "FREQ", ui::green);
    bassKnob = makeKnob("bass", "BASS", ui::blue);
    trebleKnob = makeKnob("treble", "TREBLE", ui::blue);
    compKnob = makeKnob("comp", "AMOUNT", ui::amber);
    compMixKnob = makeKnob("compMix", "MIX", ui::amber);
    shimmerKnob = makeKnob("shimmer", "AMOUNT", ui::blue);
    reverbKnob = makeKnob("reverb", "AMOUNT", ui::green);
    reverbDecayKnob = makeKnob("reverbDecay", "DECAY", ui::green);
    reverbPredelayKnob = makeKnob("reverbPredelay", "PRE-DELAY", ui::green);
    delayKnob = makeKnob("delay", "AMOUNT", ui::green);
    delayFeedbackKnob = makeKnob("delayFeedback", "FEEDBACK", ui::green);
    widthKnob = makeKnob("width", "AMOUNT", ui::green);

    hpfChoice = makeChoice("hpf", ui::text, false);
    deessChoice = makeChoice("deessChar", ui::green, false);
    bassChoice = makeChoice("bassChar", ui::blue, false);
    trebleChoice = makeChoice("trebleChar", ui::blue, false);
    compChoice = makeChoice("compChar", ui::amber, false);
    shimmerChoice = makeChoice("shimmerChar", ui::blue, false);
    reverbChoice = makeChoice("reverbChar", ui::green, true);
    delayChoice = makeChoice("delayChar", ui::green, true);
    widthChoice = makeChoice("widthChar", ui::green, false);

    knobAt(M::deEss, deessKnob, 322);
    knobAt(M::deEss, deessFreqKnob, 416);
    moduleControls.push_back({M::eq, bassKnob.get(), {45, y0 + 34, 94, 112}});
    moduleControls.push_back({M::eq, trebleKnob.get(), {185, y0 + 34, 94, 112}});
    knobAt(M::compress, compKnob, 322);
    knobAt(M::compress, compMixKnob, 416);
    knobAt(M::shimmer, shimmerKnob, 322);
    knobAt(M::reverb, reverbKnob, 322);
    knobAt(M::reverb, reverbDecayKnob, 416);
    knobAt(M::reverb, reverbPredelayKnob, 510);
    knobAt(M::delay, delayKnob, 322);
    knobAt(M::delay, delayFeedbackKnob, 416);
    knobAt(M::width, widthKnob, 322);
    const juce::Rectangle<int> choiceBounds{26, y0 + 88, 272, 26};
    choiceAt(M::highPass, hpfChoice, choiceBounds);
    choiceAt(M::deEss, deessChoice, choiceBounds);
    choiceAt(M::eq, bassChoice, {26, y0 + 150, 132, 24});
    choiceAt(M::eq, trebleChoice, {166, y0 + 150, 132, 24});
    choiceAt(M::compress, compChoice, choiceBounds);
    choiceAt(M::shimmer, shimmerChoice, choiceBounds);
    choiceAt(M::reverb, reverbChoice, choiceBounds);
    choiceAt(M::delay, delayChoice, choiceBounds);
    choiceAt(M::width, widthChoice, choiceBounds);
    moduleControls.push_back({M::delay, &pingPongButton, {516, 430, 82, 26}});

    listenButton.setClickingTogglesState(false);
    listenButton.getProperties().set(SorvelLookAndFeel::compact(), true);
    listenButton.setColour(juce::TextButton::buttonOnColourId, ui::red);
    listenButton.setColour(juce::TextButton::textColourOnId, juce::Colours::black);
    listenButton.setTooltip("hear only what this module does; click again to hear the whole chain");
    listenButton.onClick = [this] { moduleListenClicked(); };
    content.addChildComponent(listenButton);

    for (int j = 0; j < svui::numModules; ++j)
    {
        const auto index = static_cast<size_t>(j);
        switchRaw[index] = rawOf(svui::moduleSwitchIds[index]);
        auto& button = powerButtons[index];
        button = std::make_unique<PowerButton>("on/off", svui::moduleColour(j));
        button->setClickingTogglesState(true);
        button->setTooltip("module on/off (off keeps its settings)");
        content.addChildComponent(*button);
        powerAttachments[index] = std::make_unique<juce::AudioProcessorValueTreeState::ButtonAttachment>(
            tree, svui::moduleSwitchIds[index], *button);
    }

    pingPongButton.setClickingTogglesState(true);
    pingPongButton.getProperties().set(SorvelLookAndFeel::compact(), true);
    pingPongButton.setColour(juce::TextButton::buttonOnColourId, ui::blue);
    pingPongButton.setColour(juce::TextButton::textColourOnId, juce::Colours::black);
    pingPongAttachment = std::make_unique<juce::AudioProcessorValueTreeState::ButtonAttachment>(
        tree, "delayPingPong", pingPongButton);
    content.addChildComponent(pingPongButton);

    inputKnob = std::make_unique<Knob>(tree, "input", "INPUT", ui::text);
    duckKnob = std::make_unique<Knob>(tree, "duck", "DUCK", ui::green);
    outputKnob = std::make_unique<Knob>(tree, "output", "OUTPUT", ui::text);
    duckKnob->slider.setTooltip(
        "how far reverb, delay and width dip while the vocal sings; their blocks show it");
    for (auto* knob : {inputKnob.get(), duckKnob.get(), outputKnob.get()})
        content.addAndMakeVisible(knob);

    content.addAndMakeVisible(inMeter);
    content.addAndMakeVisible(outMeter);

    bypassButton.setClickingTogglesState(true);
    bypassAttachment =
        std::make_unique<juce::AudioProcessorValueTreeState::ButtonAttachment>(tree, "bypass", bypassButton);
    content.addAndMakeVisible(bypassButton);

    listenStatusButton.getProperties().set(SorvelLookAndFeel::compact(), true);
    listenStatusButton.setColour(juce::TextButton::textColourOffId, ui::dim);
    listenStatusButton.onClick = [this] { listenStatusClicked(); };
    content.addAndMakeVisible(listenStatusButton);

    listenAttachment = std::make_unique<juce::ParameterAttachment>(*tree.getParameter("listen"),
                                                                   [this](float v) { listenChanged(v); });

    content.addAndMakeVisible(loudness);
    loudness.resetButton.onClick = [this] { processor.getFeed().resetLoudness.store(true); };

    const double rate = p.getSampleRate();
    eq.spectrum.prepare(rate > 0.0 ? rate : 48000.0);

    select(p.selectedModule.load());
    listenAttachment->sendInitialUpdate();

    // Sizes the editor to the stored scale, which lays everything out.
    sizeButton.attach(*this, content, designWidth, designHeight, "Sorvel2");

    timerCallback();
    startTimer(refreshMs);
}

Sorvel2Editor::~Sorvel2Editor()
{
    stopTimer();
    processor.getFeed().tapEnabled.store(false);
    setLookAndFeel(nullptr);
}

std::unique_ptr<Knob> Sorvel2Editor::makeKnob(const char* id, const char* caption, juce::Colour colour)
{
    auto knob = std::make_unique<Knob>(processor.apvts, id, caption, colour);
    content.addChildComponent(*knob);
    return knob;
}

std::unique_ptr<SegmentedChoice> Sorvel2Editor::makeChoice(const char* id, juce::Colour colour,
                                                           bool bringsDefault)
{
    auto* parameter = processor.apvts.getParameter(id);
    jassert(parameter != nullptr);
    std::function<void(int)> onChange;
    if (bringsDefault)
    {
        const juce::String which(id);
        onChange = [this, which](int i)
        {
            i = juce::jmax(i, 0);
            if (which == "reverbChar")
                setParameterAsGesture("reverbDecay", characterDecay(i));
            else if (which == "delayChar")
                setParameterAsGesture("delayFeedback", characterFeedback(i));
        };
    }
    auto choice = std::make_unique<SegmentedChoice>(*parameter, colour, std::move(onChange));
    content.addChildComponent(*choice);
    return choice;
}

void Sorvel2Editor::setParameterAsGesture(const char* id, float plainValue)
{
    if (auto* parameter = processor.apvts.getParameter(id))
    {
        parameter->beginChangeGesture();
        parameter->setValueNotifyingHost(parameter->convertTo0to1(plainValue));
        parameter->endChangeGesture();
    }
}

bool Sorvel2Editor::moduleOn(int module) const
{
    return switchRaw[static_cast<size_t>(module)]->load() > 0.5f;
}

void Sorvel2Editor::togglePower(int module)
{
    const int i = juce::jlimit(0, svui::numModules - 1, module);
    setParameterAsGesture(svui::moduleSwitchIds[static_cast<size_t>(i)], moduleOn(i) ? 0.0f : 1.0f);
}

void Sorvel2Editor::moduleListenClicked()
{
    const int value = svui::listenValue(selected);
    if (value == 0)
        return;
    listenAttachment->setValueAsCompleteGesture(listenIndex == value ? 0.0f : static_cast<float>(value));
}

void Sorvel2Editor::listenStatusClicked()
{
    if (listenIndex > 0)
    {
        listenAttachment->setValueAsCompleteGesture(0.0f);
        return;
    }
    juce::PopupMenu menu;
    menu.addSectionHeader("listen to one part alone");
    for (int j = 1; j <= 6; ++j)
        menu.addItem(
            j, svui::listenNames[static_cast<size_t>(j)] + ": " + svui::listenWhat[static_cast<size_t>(j)],
            true, false);
    juce::Component::SafePointer<Sorvel2Editor> editor(this);
    menu.showMenuAsync(juce::PopupMenu::Options().withTargetComponent(&listenStatusButton),
                       [editor](int result)
                       {
                           if (result > 0 && editor != nullptr)
                               editor->listenAttachment->setValueAsCompleteGesture(
                                   static_cast<float>(result));
                       });
}

void Sorvel2Editor::listenChanged(float value)
{
    listenIndex = juce::jlimit(0, 6, static_cast<int>(std::lround(value)));
    updateListenText();
    listenButton.setToggleState(svui::listenValue(selected) == listenIndex && listenIndex > 0,
                                juce::dontSendNotification);
    updateBlocks();
}

void Sorvel2Editor::updateListenText()
{
    const int listened = svui::moduleListenedTo(listenIndex);
    const bool off = listened >= 0 && !moduleOn(listened);
    const auto text = svui::listenStatusText(listenIndex, off);
    if (listenStatusButton.getButtonText() != text)
        listenStatusButton.setButtonText(text);

    const bool listening = listenIndex >= 1;
    listenStatusButton.setColour(juce::TextButton::buttonColourId, listening ? ui::red : ui::slot);
    listenStatusButton.setColour(juce::TextButton::textColourOffId,
                                 listening ? juce::Colours::black : ui::dim);
    listenStatusButton.setTooltip(listening ? "click to hear the whole chain again"
                                            : "click to listen to one part alone");
    const int tw = juce::roundToInt(ui::stringWidth(statusFont, text));
    listenStatusButton.setBounds(812 - tw, 13, tw + 28, 22);
}

void Sorvel2Editor::select(int module)
{
    const int m = juce::jlimit(0, svui::numModules - 1, module);
    selected = m;
    processor.selectedModule.store(m);
    if (chain.selected != m)
    {
        chain.selected = m;
        chain.repaint();
    }

    for (const auto& placed : moduleControls)
        placed.component->setVisible(placed.module == m);
    for (int j = 0; j < svui::numModules; ++j)
        powerButtons[static_cast<size_t>(j)]->setVisible(j == m);

    const int listen = svui::listenValue(m);
    listenButton.setVisible(listen > 0);
    listenButton.setToggleState(listen > 0 && listen == listenIndex, juce::dontSendNotification);

    const bool eqModule = m == svui::highPass || m == svui::eq;
    readoutCaption.setVisible(!eqModule);
    readoutValue.setVisible(!eqModule);
    setTextColour(readoutValue, svui::moduleColour(m));

    setText(tipLabel, svui::tips[static_cast<size_t>(m)]);
    for (auto* label : {&tipLabel, &descriptionLabel, &captionLabel})
        label->setVisible(m != svui::eq);

    if (eqModule && !eq.isVisible())
        eq.showFresh(processor.getFeed().taps);
    eq.setVisible(eqModule);
    eq.hpfMode = m == svui::highPass;
    eq.repaint();
    processor.getFeed().tapEnabled.store(eqModule);

    setText(titleLabel, svui::blockNames[m]);
    setTextColour(titleLabel, svui::moduleColour(m));
    setText(descriptionLabel, svui::descriptions[static_cast<size_t>(m)]);
    setText(captionLabel, m == svui::highPass ? "CORNER" : "CHARACTER");

    layoutModule();
    updateBlocks();
    if (eqModule)
    {
        const auto& block = chain.blocks[static_cast<size_t>(m)];
        eq.setCurve(block.curveValues, block.curveIndices);
    }

    timerCallback();
    repaint();
}

void Sorvel2Editor::layoutModule()
{
    const int y0 = layout::module.getY();
    titleLabel.setBounds(26, y0 + 10, 160, 24);
    listenButton.setBounds(220, y0 + 11, 78, 22);
    for (int j = 0; j < svui::numModules; ++j)
    {
        const bool eqModule = j == svui::highPass || j == svui::eq;
        powerButtons[static_cast<size_t>(j)]->setBounds(eqModule ? 270 : 188, y0 + 11, 28, 22);
    }
    descriptionLabel.setBounds(26, y0 + 38, 272, 30);
    captionLabel.setBounds(26, y0 + 72, 272, 14);
    tipLabel.setBounds(26, y0 + 132, 272, 28);
    readoutCaption.setBounds(612, 392, 106, 14);
    readoutValue.setBounds(612, 418, 106, 30);
    for (const auto& placed : moduleControls)
    {
        placed.component->setBounds(placed.bounds);
        if (auto* knob = dynamic_cast<Knob*>(placed.component))
            setTextBox(knob->slider, 72, 18);
    }
    const auto m = layout::module;
    eq.setBounds(322, m.getY() + 10, m.getX() + m.getWidth() - 334, m.getHeight() - 16);
}

void Sorvel2Editor::resized()
{
    content.setBounds(0, 0, designWidth, designHeight);
    content.setTransform(juce::AffineTransform::scale(static_cast<float>(getWidth()) / designWidth));

    bypassNote.setBounds(846, 13, 110, 22);
    bypassButton.setBounds(962, 13, 80, 22);
    wave.setBounds(layout::display);
    chain.setBounds(layout::chain);
    layoutModule();

    const auto f = layout::fixed;
    inMeter.setBounds(f.getX() + 16, f.getY() + 30, 10, f.getHeight() - 44);
    outMeter.setBounds(f.getX() + 38, f.getY() + 30, 10, f.getHeight() - 44);
    const int w = (f.getWidth() - 74) / 3, x0 = f.getX() + 68;
    inputKnob->setBounds(x0, f.getY() + 10, w, 118);
    duckKnob->setBounds(x0 + w, f.getY() + 10, w, 118);
    outputKnob->setBounds(x0 + 2 * w, f.getY() + 10, w, 118);
    for (auto* knob : {inputKnob.get(), duckKnob.get(), outputKnob.get()})
        setTextBox(knob->slider, w - 8, 18);
    inNote.setBounds(x0, f.getY() + 136, w, 20);
    outNote.setBounds(x0 + 2 * w, f.getY() + 136, w, 20);

    loudness.setBounds(layout::loudness);
}

void Sorvel2Editor::paint(juce::Graphics& g)
{
    static const juce::String in("IN"), out("OUT");

    const ui::Backdrop backdrop(g, *this);
    g.addTransform(juce::AffineTransform::scale(static_cast<float>(getWidth()) / designWidth));
    title.draw(g, designWidth);

    ui::drawPanel(g, layout::module.toFloat(), 6.0f);
    ui::drawPanel(g, layout::fixed.toFloat(), 6.0f);

    const auto m = layout::module, f = layout::fixed;
    g.setColour(ui::panelEdge);
    g.fillRect(312, m.getY() + 12, 1, m.getHeight() - 24);
    g.fillRect(inMeter.getRight() + 12, f.getY() + 12, 1, f.getHeight() - 24);

    g.setColour(ui::dim);
    g.setFont(meterCaptionFont);
    g.drawText(in, inMeter.getX() - 8, f.getY() + 12, inMeter.getWidth() + 16, 12, J::centred, true);
    g.drawText(out, outMeter.getX() - 8, f.getY() + 12, outMeter.getWidth() + 16, 12, J::centred, true);

    if (selected != svui::highPass && selected != svui::eq)
        ui::fillDisplay(g, layout::readoutWell, 5.0f);
}

void Sorvel2Editor::timerCallback()
{
    auto& feed = processor.getFeed();
    if (refresh.passGate(feed.blocksProcessed.load(std::memory_order_acquire), feed.idle.load()))
    {
        refreshMeters();
        refreshRecords();
    }

    updateBlocks();

    int mask = 0;
    for (int j = 0; j < svui::numModules; ++j)
        if (moduleOn(j))
            mask |= 1 << j;
    if (mask != refresh.switchMask)
    {
        refresh.switchMask = mask;
        updateListenText();
    }

    refreshReadout();
    refreshNotes();
    if (eq.isVisible())
        refreshEqView();
}

void Sorvel2Editor::refreshMeters()
{
    auto& feed = processor.getFeed();
    const float inDb = ui::advanceMeter(inMeter, feed.inputPeak.exchange(0.0f));
    const float outDb = ui::advanceMeter(outMeter, feed.outputPeak.exchange(0.0f));

    const auto& meter = processor.getOutputMeter();
    loudness.setReadings(meter.momentary(), meter.shortTerm(), meter.integrated());

    refresh.inHold.update(inDb);
    refresh.outHold.update(outDb);
}

void Sorvel2Editor::refreshRecords()
{
    const int count = refresh.takeRecords(processor.getFeed().records);
    for (int k = 0; k < count; ++k)
        wave.appendRecord(refresh.frames[static_cast<size_t>(k)]);
    if (count > 0)
        wave.repaint();
    refresh.updateReadouts(count);
}

void Sorvel2Editor::updateBlocks()
{
    blockParameters.read(blockSources);
    blockSources.listenIndex = listenIndex;
    const auto& v = refresh.values;
    blockSources.deessCut = v.deessCut;
    blockSources.compPeak = v.compPeak;
    blockSources.compLevel = v.compLevel;
    blockSources.lift = v.lift;
    blockSources.tame = v.tame;
    blockSources.duck = v.duck;
    blockSources.reverbReturn = v.reverbReturn;
    blockSources.delayReturn = v.delayReturn;
    blockSources.doubles = v.doubles;

    const auto before = chain.blocks;
    svui::fillBlocks(chain.blocks, blockSources);
    for (size_t j = 0; j < chain.blocks.size(); ++j)
        if (!sameBlock(before[j], chain.blocks[j]))
        {
            chain.repaint();
            break;
        }
}

void Sorvel2Editor::refreshReadout()
{
    const int m = selected;
    svui::ReadoutParameters p;
    p.shimmer = raw.shimmer->load();
    p.shimmerChar = raw.shimmerChar->load();
    p.reverb = raw.reverb->load();
    p.delayChar = raw.delayChar->load();
    p.width = raw.width->load();
    p.hostBpm = processor.getFeed().hostBpm.load();
    const auto readout = svui::readoutFor(m, chain.blocks[static_cast<size_t>(m)].on, refresh.values, p);
    setText(readoutCaption, readout.caption);
    setText(readoutValue, readout.value);
    if (m == svui::shimmer)
        setText(tipLabel,
                svui::shimmerTips[static_cast<size_t>(juce::jlimit(0L, 2L, std::lround(p.shimmerChar)))]);
}

void Sorvel2Editor::refreshNotes()
{
    const auto in = svui::inputNote(refresh.inHold.db);
    setText(inNote, in.text);
    if (in.text.isNotEmpty())
        setTextColour(inNote, in.colour);
    const auto out = svui::outputNote(refresh.outHold.db);
    setText(outNote, out.text);
    setTextColour(outNote, out.colour);

    const auto bypass =
        svui::bypassCaption(bypassButton.getToggleState(), processor.getFeed().matchOffsetDb.load());
    setText(bypassNote, bypass.text);
    setTextColour(bypassNote, bypass.colour);
}

void Sorvel2Editor::refreshEqView()
{
    const double rate = processor.getSampleRate();
    if (rate > 0.0 && std::abs(rate - eq.spectrum.sampleRate) > 0.5)
        eq.spectrum.prepare(rate);
    const auto& block = chain.blocks[static_cast<size_t>(selected)];
    eq.setCurve(block.curveValues, block.curveIndices);
    if (eq.pullSpectrum(processor.getFeed().taps))
        eq.repaint();
}
