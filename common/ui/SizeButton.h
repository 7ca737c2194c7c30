// The window-size button in an editor's top-right corner: shows the scale ("100 %"), offers the
// seven scales in a menu, resizes the editor and remembers the choice per plug-in in the settings
// file every mosslight plug-in shares. Message thread only.
#pragma once

#include "Palette.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_data_structures/juce_data_structures.h>

#include <array>
#include <functional>
#include <memory>

class SizeButton : public juce::TextButton
{
public:
    static constexpr std::array<int, 7> choices{90, 100, 115, 130, 150, 175, 200};

    SizeButton();
    ~SizeButton() override;

    // Sets the button up for an editor whose content is laid out at baseWidth x baseHeight:
    // places it on `content`, makes the editor non-resizable and applies the stored scale of
    // "scale." + name (100 % when none or not a choice), without storing it.
    void attach(juce::AudioProcessorEditor& editor, juce::Component& content, int baseWidth, int baseHeight,
                const juce::String& name);

    // Shows `percent` on the button and resizes the editor to it; stores it when `save`.
    void apply(int percent, bool save);

    // Opens the shared settings file; a missing, unreadable or corrupt file reads as empty.
    static std::unique_ptr<juce::PropertiesFile> settings();
    static juce::PropertiesFile::Options settingsOptions();
    // Where it lives: on Linux in the folder "mosslight" of the XDG configuration home
    // ($XDG_CONFIG_HOME, else ~/.config); elsewhere where juce::PropertiesFile::Options puts it.
    static juce::File settingsFile();

    void showMenu();
    // The scale menu, ticking the current scale.
    juce::PopupMenu menu() const;
    // What the menu does with its answer; does nothing once the button is gone.
    std::function<void(int)> menuCallback();

    static bool isChoice(int percent);

    juce::AudioProcessorEditor* editor = nullptr;
    int baseWidth = 0, baseHeight = 0;
    int scale = 100;
    juce::String key;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SizeButton)
};
