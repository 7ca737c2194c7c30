// The texts of Sorvel's module panel and what its refresh writes into the readout, the notes and
// the bypass caption: the tables by module, and the small pure functions that turn the refresh
// state into words. Message thread only.
#pragma once

#include "sorvel/ui/Modules.h"

#include <array>

namespace svui
{
// By module index.
extern const std::array<juce::String, numModules> descriptions;
extern const std::array<juce::String, numModules> tips;
// The SHIMMER tip by "shimmerChar" (it replaces the module's own tip on every refresh).
extern const std::array<juce::String, 3> shimmerTips;

// By listen value 0 .. 6.
extern const std::array<juce::String, 7> listenNames;
extern const std::array<juce::String, 7> listenWhat;

// A reduction given as a positive number: "0.0 dB" below 0.05, else "-3.2 dB".
juce::String dbText(float reduction);

// A return's level relative to the output's: "--" when either is silent (-89 dB or less), else
// the nearest whole dB, never above 0 ("-14 dB").
juce::String relativeText(float levelDb, float outLevelDb);

// The delay's time: "100 ms" for Slap, else its beat at the host tempo (a tempo below 1 counts
// as 1).
juce::String delayTimeText(float delayChar, float hostBpm);

// What the listen status button says for a listen value, and whether the listened module is
// switched off.
juce::String listenStatusText(int listenIndex, bool listenedModuleOff);

// The module whose listen value is `listenIndex`, or -1.
int moduleListenedTo(int listenIndex);

// The values the readout shows (the refresh's decaying values, Sorvel2Editor::Readouts).
struct ReadoutValues
{
    float deessCut = 0, compPeak = 0, compLevel = 0, sparkle = -90, lift = 0, tame = 0, duck = 0;
    float reverbReturn = -90, delayReturn = -90, doubles = -90, outLevel = -90;
};

// The parameters the readout reads (raw values).
struct ReadoutParameters
{
    float shimmer = 0, shimmerChar = 0, reverb = 0, delayChar = 0, width = 0;
    float hostBpm = 120;
};

struct Readout
{
    juce::String caption, value;
};

// The readout of module m ("CUT" / "-3.2 dB", "TIME" / "375 ms", ...); "SWITCHED OFF" / "off"
// when the module is off; empty for HIGH-PASS and EQ.
Readout readoutFor(int module, bool moduleOn, const ReadoutValues& v, const ReadoutParameters& p);

// A note under a knob, and its colour (unchanged when the text is empty).
struct Note
{
    juce::String text;
    juce::Colour colour;
};

// Under INPUT: "too hot", "level OK", "low", or nothing for a held level at -59 dB or below.
Note inputNote(float holdDb);
// Under OUTPUT: "clipping" above -0.1 dB.
Note outputNote(float holdDb);
// Left of BYPASS: "level-matched bypass", or "matched +1.5 dB" while bypassed.
Note bypassCaption(bool bypassed, float matchOffsetDb);
} // namespace svui
