#include "EditorTexts.h"

#include <cmath>

namespace svui
{
const std::array<juce::String, numModules> descriptions{
    "takes out rumble, handling noise and plosive thumps below the corner, 18 dB per octave",
    "lowers only the band above the esses, and only while an ess sounds",
    "bass and treble: each an amount and a place",
    "a fast peak catcher and a smooth leveller on one knob; the make-up follows, so it changes density, "
    "not loudness",
    "plus lifts the air with a smooth shelf that eases off on esses; minus tames harshness",
    "a send to a modern reverb, high- and low-passed so it sits behind the vocal",
    "echoes in time with the song; every repeat darker and softer",
    "two doubles left and right, like a second take; the low end stays mono"};

const std::array<juce::String, numModules> tips{
    "faint curves: the other corners; the spectrum shows the vocal before and after",
    "FREQ at its lowest is Auto: it finds the esses by itself",
    "the curve: bass and treble together, about 6 dB at the ends",
    "MIX below 100 % blends the uncompressed vocal back in",
    "",
    "a new character also brings its own DECAY",
    "a new character also brings its own FEEDBACK; synced to the host tempo",
    "LISTEN plays the doubles alone"};

const std::array<juce::String, 3> shimmerTips{
    "Silk: a wide air shelf, +6 dB at 12 kHz at +10, starting gently from 5 kHz",
    "Air: only the very top, from 18 kHz up; open, no presence",
    "Glass: the air shelf plus a trace of sparkle, for a dull recording"};

const std::array<juce::String, 7> listenNames{"Off",    "De-ess", "Compress", "Shimmer",
                                              "Reverb", "Delay",  "Width"};
const std::array<juce::String, 7> listenWhat{"",
                                             "what de-ess takes out",
                                             "what compress changes",
                                             "what shimmer adds or takes out",
                                             "the reverb return",
                                             "the delay return",
                                             "the doubles"};

juce::String dbText(float x)
{
    if (x < 0.05f)
        return "0.0 dB";
    return "-" + juce::String(x, 1) + " dB";
}

juce::String relativeText(float x, float outLevel)
{
    if (x <= -89.0f || outLevel <= -89.0f)
        return "--";
    return juce::String(static_cast<int>(std::lround(juce::jmin(x - outLevel, 0.0f)))) + " dB";
}

juce::String delayTimeText(float delayChar, float hostBpm)
{
    constexpr float beats[] = {0.5f, 0.75f, 1.0f};
    const long c = std::lround(delayChar);
    long ms = 100;
    if (c >= 1)
        ms = std::lround(beats[juce::jmin(c, 3L) - 1] * 60000.0f / juce::jmax(hostBpm, 1.0f));
    return juce::String(static_cast<juce::int64>(ms)) + " ms";
}

int moduleListenedTo(int listenIndex)
{
    for (int m = 0; m < numModules; ++m)
        if (listenIndex > 0 && listenValue(m) == listenIndex)
            return m;
    return -1;
}

juce::String listenStatusText(int listenIndex, bool listenedModuleOff)
{
    if (listenIndex < 1 || listenIndex > 6)
        return "LISTEN OFF";
    const auto name = listenNames[static_cast<size_t>(listenIndex)].toUpperCase();
    if (listenedModuleOff)
        return "LISTEN: " + name + " is switched off, silent";
    return "LISTEN: " + name + ", " + listenWhat[static_cast<size_t>(listenIndex)];
}

Readout readoutFor(int m, bool moduleOn, const ReadoutValues& v, const ReadoutParameters& p)
{
    if (m == highPass || m == eq)
        return {};
    if (!moduleOn)
        return {"SWITCHED OFF", "off"};
    switch (m)
    {
    case deEss:
        return {"CUT", dbText(v.deessCut)};
    case compress:
        return {"REDUCTION", dbText(v.compPeak + v.compLevel)};
    case shimmer:
    {
        const long c = juce::jlimit(0L, 2L, std::lround(p.shimmerChar));
        if (std::abs(p.shimmer) <= 0.05f)
            return {"SHIMMER", "off"};
        if (p.shimmer > 0.0f && c == 2)
            return {"ADDED", relativeText(v.sparkle, v.outLevel)};
        if (p.shimmer > 0.0f)
            return {"LIFT AT 12 kHz", "+" + juce::String(juce::jmax(v.lift, 0.0f), 1) + " dB"};
        return {"TAMED", dbText(v.tame)};
    }
    case reverb:
        return {"RETURN", p.reverb <= 0.05f ? juce::String("off") : relativeText(v.reverbReturn, v.outLevel)};
    case delay:
        return {"TIME", delayTimeText(p.delayChar, p.hostBpm)};
    case width:
        return {"DOUBLES", p.width > 0.05f ? relativeText(v.doubles, v.outLevel) : juce::String("off")};
    default:
        return {};
    }
}

Note inputNote(float hold)
{
    if (hold <= -59.0f)
        return {};
    if (hold > -4.0f)
        return {"too hot", ui::red};
    if (hold >= -16.0f)
        return {"level OK", ui::green};
    return {"low", ui::amber};
}

Note outputNote(float hold)
{
    return {hold > -0.1f ? juce::String("clipping") : juce::String(), ui::red};
}

Note bypassCaption(bool bypassed, float g)
{
    if (!bypassed)
        return {"level-matched bypass", ui::dim};
    return {"matched " + juce::String(g >= 0.0f ? "+" : "") + juce::String(g, 1) + " dB", ui::amber};
}
} // namespace svui
