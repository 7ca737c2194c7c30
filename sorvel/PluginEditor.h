// Sorvel's window: a header (title, tagline, listen status, bypass, window size, logo), the wave
// history, the chain row of eight modules, the panel of the selected module with its controls,
// texts and readout (and the EQ view for HIGH-PASS and EQ), the fixed panel with input, duck,
// output, notes and meters, and the loudness panel. Laid out at 1200 x 560 and scaled as a whole
// to the window. It reads what the processor publishes on a 33 ms timer and writes only
// parameters (through attachments and gestures) and its two requests. Message thread only.
#pragma once

#include "EditorRefresh.h"
#include "PluginProcessor.h"

#include "sorvel/ui/BlockFeed.h"
#include "sorvel/ui/ChainRow.h"
#include "sorvel/ui/EqView.h"
#include "sorvel/ui/PowerButton.h"
#include "sorvel/ui/SegmentedChoice.h"
#include "sorvel/ui/SorvelLookAndFeel.h"
#include "sorvel/ui/WaveDisplay.h"

#include "common/ui/EditorTitle.h"
#include "common/ui/Knob.h"
#include "common/ui/LevelMeter.h"
#include "common/ui/LoudnessPanel.h"
#include "common/ui/SizeButton.h"

#include <array>
#include <memory>
#include <vector>

namespace svui::layout
{
inline const juce::Rectangle<int> display{14, 48, 1012, 236};
inline const juce::Rectangle<int> chain{14, 290, 1012, 74};
inline const juce::Rectangle<int> module{14, 364, 716, 182};
inline const juce::Rectangle<int> fixed{738, 364, 288, 182};
inline const juce::Rectangle<int> loudness{1036, 48, 150, 498};
inline const juce::Rectangle<float> readoutWell{608, 378, 114, 92};
} // namespace svui::layout

class Sorvel2Editor : public juce::AudioProcessorEditor, public juce::Timer
{
public:
    static constexpr int designWidth = 1200, designHeight = 560;
    static constexpr int refreshMs = 33;

    explicit Sorvel2Editor(Sorvel2Processor& processor);
    ~Sorvel2Editor() override;

    void paint(juce::Graphics& g) override;
    void resized() override;
    // The refresh: turns what the processor published since the last tick into the views. Public
    // so that tools can run it at the pace of audio they render.
    void timerCallback() override;

    // Shows module m (clamped to 0 .. 7) in the module panel.
    void select(int module);
    void layoutModule();
    void updateBlocks();
    void updateListenText();

    Sorvel2Processor& processor;
    SorvelLookAndFeel look;
    juce::Component content; // every control, in design units

    WaveDisplay wave;
    ChainRow chain;
    EqView eq;

    juce::Label titleLabel, descriptionLabel, captionLabel, tipLabel, readoutCaption, readoutValue;

    // The module panel's knobs and choices, shown only while their module is selected.
    std::unique_ptr<Knob> deessKnob, deessFreqKnob, bassKnob, trebleKnob, compKnob, compMixKnob, shimmerKnob,
        reverbKnob, reverbDecayKnob, reverbPredelayKnob, delayKnob, delayFeedbackKnob, widthKnob;
    std::unique_ptr<SegmentedChoice> hpfChoice, deessChoice, bassChoice, trebleChoice, compChoice,
        shimmerChoice, reverbChoice, delayChoice, widthChoice;

    juce::TextButton listenButton{"LISTEN"};
    juce::TextButton pingPongButton{"PING-PONG"};
    std::array<std::unique_ptr<PowerButton>, svui::numModules> powerButtons;
    std::array<std::unique_ptr<juce::AudioProcessorValueTreeState::ButtonAttachment>, svui::numModules>
        powerAttachments;
    std::unique_ptr<juce::AudioProcessorValueTreeState::ButtonAttachment> pingPongAttachment;

    std::unique_ptr<Knob> inputKnob, duckKnob, outputKnob;
    juce::Label inNote, outNote;
    LevelMeter inMeter, outMeter;

    juce::TextButton bypassButton{"BYPASS"};
    juce::TextButton listenStatusButton{"LISTEN OFF"};
    std::unique_ptr<juce::AudioProcessorValueTreeState::ButtonAttachment> bypassAttachment;
    juce::Label bypassNote;

    std::unique_ptr<juce::ParameterAttachment> listenAttachment;
    int listenIndex = 0;

    LoudnessPanel loudness{"LUFS"};

    // The raw values of the parameters the refresh and the actions read.
    struct Raw
    {
        std::atomic<float>*hpf, *deess, *deessChar, *deessFreq, *bass, *bassChar, *treble, *trebleChar, *comp,
            *compChar, *compMix, *shimmer, *shimmerChar, *reverb, *reverbChar, *delay, *delayChar, *width,
            *widthChar, *listen;
    } raw{};
    std::array<std::atomic<float>*, svui::numModules> switchRaw{};

    svui::EditorRefresh refresh;

    SizeButton sizeButton;
    int selected = 3;

private:
    std::unique_ptr<SegmentedChoice> makeChoice(const char* id, juce::Colour colour, bool bringsDefault);
    std::unique_ptr<Knob> makeKnob(const char* id, const char* caption, juce::Colour colour);
    void setParameterAsGesture(const char* id, float plainValue);
    void togglePower(int module);
    void moduleListenClicked();
    void listenStatusClicked();
    void listenChanged(float value);
    bool moduleOn(int module) const;

    void refreshMeters();
    void refreshRecords();
    void refreshReadout();
    void refreshNotes();
    void refreshEqView();

    // Where each module panel control goes, and for which module.
    struct Placed
    {
        int module;
        juce::Component* component;
        juce::Rectangle<int> bounds;
    };
    std::vector<Placed> moduleControls;

    // The sources of the chain row's blocks, kept between ticks.
    svui::BlockSources blockSources;
    svui::BlockParameters blockParameters{processor.apvts};

    ui::EditorTitle title{"SORVEL", "lead sorvel: clean, level, brighten and place the vocal"};
    juce::Font meterCaptionFont{juce::FontOptions(10.0f, juce::Font::plain)};
    juce::Font statusFont{juce::FontOptions(11.5f, juce::Font::bold)};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(Sorvel2Editor)
};
