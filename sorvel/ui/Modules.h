// Sorvel's eight modules as the editor shows them, in chain order: names, switch parameters,
// colours, listen values, and the character texts the chain row writes into its blocks.
// Message thread only.
#pragma once

#include "common/ui/Palette.h"

#include <array>

namespace svui
{
constexpr int numModules = 8;

enum Module
{
    highPass,
    deEss,
    eq,
    compress,
    shimmer,
    reverb,
    delay,
    width
};

inline const juce::StringArray blockNames{"HIGH-PASS", "DE-ESS", "EQ",    "COMPRESS",
                                          "SHIMMER",   "REVERB", "DELAY", "WIDTH"};

inline constexpr std::array<const char*, numModules> moduleSwitchIds{
    "hpfOn", "deessOn", "eqOn", "compOn", "shimmerOn", "reverbOn", "delayOn", "widthOn"};

// The colour of a module's block, title, power button, readout, knobs and choices.
juce::Colour moduleColour(int module);

// The value of "listen" that solos a module, or 0 for the two that have none (HIGH-PASS, EQ).
int listenValue(int module);

// The character texts; each equals the choice texts of its parameter.
inline const juce::StringArray hpfNames{"Off", "60 Hz", "90 Hz", "130 Hz", "180 Hz"};
inline const juce::StringArray deessChars{"Soft", "Mid", "Hard"};
inline const juce::StringArray bassChars{"Sub", "Lower", "Upper"};
inline const juce::StringArray trebleChars{"Bite", "Top", "Roof"};
inline const juce::StringArray compChars{"Smooth", "Push", "Hard"};
inline const juce::StringArray shimmerChars{"Silk", "Air", "Glass"};
inline const juce::StringArray reverbChars{"Plate", "Room", "Hall"};
inline const juce::StringArray delayChars{"Slap", "Eighth", "Dotted", "Quarter"};
inline const juce::StringArray widthChars{"Stereo", "Wide", "Spreader"};

// The entry of `names` at round(value), clamped to the table.
const juce::String& choiceText(const juce::StringArray& names, float value);
} // namespace svui
