// Mirrel's window: the lane of the last 24 hits, the place of the last hit, a status line, six
// knobs, the alternate-sides selector, bypass, seed, input and output meters, the loudness panel
// and the window-size button, laid out at 1060 x 470 and scaled as a whole to the window. It reads
// what the processor publishes on a 33 ms timer and writes only parameters (through attachments)
// and the loudness reset. Message thread only.
#pragma once

#include "AlternateSelector.h"
#include "PanLane.h"
#include "PluginProcessor.h"

#include "common/ui/EditorTitle.h"
#include "common/ui/Knob.h"
#include "common/ui/KnobLookAndFeel.h"
#include "common/ui/LevelMeter.h"
#include "common/ui/LoudnessPanel.h"
#include "common/ui/SizeButton.h"

#include <memory>

// Where a pan lies, in words: "centre", "38 % left", "100 % right".
juce::String placeText(float pan);

class MirrelEditor : public juce::AudioProcessorEditor, public juce::Timer
{
public:
    static constexpr int designWidth = 1060, designHeight = 470;
    static constexpr int refreshMs = 33;

    explicit MirrelEditor(MirrelProcessor& processor);
    ~MirrelEditor() override;

    void paint(juce::Graphics& g) override;
    void resized() override;
    // The refresh: copies what the processor published into the views. Public so that tools can
    // run it at the pace of audio they render.
    void timerCallback() override;

    MirrelProcessor& processor;
    KnobLookAndFeel knobLook;
    juce::Component content; // every control, in design units

    PanLane lane;
    juce::Label placeLabel, statusLabel, infoLabel, alternateLabel;
    std::unique_ptr<AlternateSelector> alternate;
    juce::TextButton bypassButton;
    std::unique_ptr<juce::AudioProcessorValueTreeState::ButtonAttachment> bypassAttachment;
    juce::Label seedLabel;
    juce::Slider seedSlider;
    std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> seedAttachment;
    std::unique_ptr<Knob> sensitivityKnob, widthKnob, holeKnob, biasKnob, minJumpKnob, slewKnob;
    LevelMeter inMeter, outMeter;
    LoudnessPanel loudness;
    int lastBlockCount = 0, staleTicks = 0;
    SizeButton sizeButton;

private:
    void refreshMeters();
    void refreshLane();
    void refreshTexts();

    // What the texts show, so that they are rebuilt only when it changes.
    struct Shown
    {
        bool valid = false;
        int hitCount = 0;
        float lastHit = 0.0f;
        bool following = false, bypassed = false;
    } shown;

    ui::EditorTitle title{"MIRREL",
                          "every hit gets its own place in the stereo field and keeps it until the next one"};
    juce::Font meterCaptionFont;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(MirrelEditor)
};
