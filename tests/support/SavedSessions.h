#pragma once

// Sessions saved by version 0.1.0 of both plug-ins, kept as files in tests/fixtures/state, and
// what every later version must read from them. A parameter a session does not list is at its
// default. The files are written once, by MOSSLIGHT_WRITE_STATE_FIXTURES=1: they stand for
// sessions users already have, so a later version never rewrites them.
#include <juce_core/juce_core.h>

#include <gtest/gtest.h>

#include <vector>

namespace testsupport
{

struct SavedValue
{
    const char* id;
    float plain;      // in the parameter's own units (dB, an index, 0 or 1)
    const char* text; // what a host shows for it
};

struct SavedSession
{
    const char* name; // the file is tests/fixtures/state/<name>.state
    std::vector<SavedValue> values;
};

// Every value far from its default, the processing strong but listen and bypass off.
inline const SavedSession sorvelStrong{
    "sorvel-0.1.0-strong",
    {{"input", -6.0f, "-6.0 dB"},        {"hpf", 4, "180 Hz"},
     {"deess", 8.5f, "8.5"},             {"deessChar", 2, "Hard"},
     {"deessFreq", 7000, "7.0 kHz"},     {"bass", -4, "-4.0"},
     {"bassChar", 0, "Sub"},             {"treble", 6.5f, "+6.5"},
     {"trebleChar", 2, "Roof"},          {"comp", 9, "9.0"},
     {"compChar", 2, "Hard"},            {"compMix", 60, "60 %"},
     {"shimmer", -3, "-3.0"},            {"shimmerChar", 1, "Air"},
     {"reverb", 7, "7.0"},               {"reverbChar", 2, "Hall"},
     {"reverbDecay", 3.5f, "3.5 s"},     {"reverbPredelay", 80, "80 ms"},
     {"delay", 6, "6.0"},                {"delayChar", 3, "Quarter"},
     {"delayFeedback", 55, "55 %"},      {"delayPingPong", 1, "On"},
     {"width", 8, "8.0"},                {"widthChar", 2, "Spreader"},
     {"duck", 9, "9.0 dB"},              {"output", 4.5f, "+4.5 dB"},
     {"listen", 0, "Off"},               {"bypass", 0, "Off"}}};

// Every choice and switch at its last item; the rest at the defaults.
inline const SavedSession sorvelLastItems{
    "sorvel-0.1.0-last-items",
    {{"hpf", 4, "180 Hz"},       {"deessChar", 2, "Hard"},     {"bassChar", 2, "Upper"},
     {"trebleChar", 2, "Roof"},  {"compChar", 2, "Hard"},      {"shimmerChar", 2, "Glass"},
     {"reverbChar", 2, "Hall"},  {"delayChar", 3, "Quarter"},  {"delayPingPong", 1, "On"},
     {"widthChar", 2, "Spreader"}, {"listen", 6, "Width"},     {"bypass", 1, "On"},
     {"hpfOn", 1, "On"},         {"deessOn", 1, "On"},         {"eqOn", 1, "On"},
     {"compOn", 1, "On"},        {"shimmerOn", 1, "On"},       {"reverbOn", 1, "On"},
     {"delayOn", 1, "On"},       {"widthOn", 1, "On"}}};

inline const SavedSession sorvelDefaults{"sorvel-0.1.0-defaults", {}};

inline const SavedSession mirrelStrong{"mirrel-0.1.0-strong",
                                       {{"sensitivity", 4.5f, "4.5"},
                                        {"width", 65, "65"},
                                        {"hole", 55, "55"},
                                        {"bias", 80, "80"},
                                        {"alternate", 0, "Off"},
                                        {"minjump", 40, "40"},
                                        {"slew", 8.5f, "8.5"},
                                        {"bypass", 0, "Off"},
                                        {"seed", 123, "123"}}};

inline const SavedSession mirrelLastItems{"mirrel-0.1.0-last-items",
                                          {{"alternate", 2, "Always"}, {"bypass", 1, "On"}}};

inline const SavedSession mirrelDefaults{"mirrel-0.1.0-defaults", {}};

inline bool rewritingStateFixtures()
{
    return juce::SystemStats::getEnvironmentVariable("MOSSLIGHT_WRITE_STATE_FIXTURES", {}) == "1";
}

// The fixture file `name` with `suffix` ("" for the plug-in's own blob, ".vst3" or ".lv2" for
// what a host saves of it).
inline juce::File stateFixtureFile(const juce::String& name, const juce::String& suffix = {})
{
    return juce::File(MOSSLIGHT_STATE_FIXTURE_DIR).getChildFile(name + suffix + ".state");
}

inline juce::MemoryBlock readStateFixture(const juce::String& name, const juce::String& suffix = {})
{
    juce::MemoryBlock block;
    const auto file = stateFixtureFile(name, suffix);
    if (!file.loadFileAsData(block) || block.getSize() == 0)
        ADD_FAILURE() << "missing state fixture " << file.getFullPathName();
    return block;
}

inline void writeStateFixture(const juce::String& name, const juce::String& suffix, const juce::MemoryBlock& block)
{
    const auto file = stateFixtureFile(name, suffix);
    file.getParentDirectory().createDirectory();
    EXPECT_TRUE(file.replaceWithData(block.getData(), block.getSize())) << file.getFullPathName();
}

} // namespace testsupport
