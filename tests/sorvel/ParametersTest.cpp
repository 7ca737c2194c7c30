#include "sorvel/PluginProcessor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{
enum class Kind
{
    floating,
    choice,
    toggle
};

struct Row
{
    const char* id;
    const char* name;
    Kind kind;
    float start, end, interval;
    float centre; // 0: linear
    float defaultValue;
    const char* label;
    std::vector<const char*> items;
};

// The whole table, in host order.
// clang-format off
const std::vector<Row> table{
    {"input", "Input", Kind::floating, -24, 24, 0.1f, 0, 0, "dB", {}},
    {"hpf", "High-Pass", Kind::choice, 0, 4, 1, 0, 2, "", {"Off", "60 Hz", "90 Hz", "130 Hz", "180 Hz"}},
    {"deess", "De-ess", Kind::floating, 0, 10, 0.1f, 0, 3, "", {}},
    {"deessChar", "De-ess Character", Kind::choice, 0, 2, 1, 0, 1, "", {"Soft", "Mid", "Hard"}},
    {"deessFreq", "De-ess Freq", Kind::floating, 2900, 12000, 10, 5500, 2900, "Hz", {}},
    {"bass", "Bass", Kind::floating, -10, 10, 0.1f, 0, 0, "", {}},
    {"bassChar", "Bass Character", Kind::choice, 0, 2, 1, 0, 1, "", {"Sub", "Lower", "Upper"}},
    {"treble", "Treble", Kind::floating, -10, 10, 0.1f, 0, 2, "", {}},
    {"trebleChar", "Treble Character", Kind::choice, 0, 2, 1, 0, 0, "", {"Bite", "Top", "Roof"}},
    {"comp", "Compress", Kind::floating, 0, 10, 0.1f, 0, 4, "", {}},
    {"compChar", "Compress Character", Kind::choice, 0, 2, 1, 0, 1, "", {"Smooth", "Push", "Hard"}},
    {"compMix", "Compress Mix", Kind::floating, 0, 100, 1, 0, 100, "%", {}},
    {"shimmer", "Shimmer", Kind::floating, -10, 10, 0.1f, 0, 1, "", {}},
    {"shimmerChar", "Shimmer Character", Kind::choice, 0, 2, 1, 0, 0, "", {"Silk", "Air", "Glass"}},
    {"reverb", "Reverb", Kind::floating, 0, 10, 0.1f, 0, 2, "", {}},
    {"reverbChar", "Reverb Character", Kind::choice, 0, 2, 1, 0, 0, "", {"Plate", "Room", "Hall"}},
    {"reverbDecay", "Reverb Decay", Kind::floating, 0.3f, 6, 0.01f, 1.6f, 1.6f, "s", {}},
    {"reverbPredelay", "Reverb Pre-delay", Kind::floating, 0, 120, 1, 0, 30, "ms", {}},
    {"delay", "Delay", Kind::floating, 0, 10, 0.1f, 0, 1, "", {}},
    {"delayChar", "Delay Character", Kind::choice, 0, 3, 1, 0, 1, "", {"Slap", "Eighth", "Dotted", "Quarter"}},
    {"delayFeedback", "Delay Feedback", Kind::floating, 0, 80, 1, 0, 25, "%", {}},
    {"delayPingPong", "Delay Ping-Pong", Kind::toggle, 0, 1, 1, 0, 0, "", {}},
    {"width", "Width", Kind::floating, 0, 10, 0.1f, 0, 2, "", {}},
    {"widthChar", "Width Character", Kind::choice, 0, 2, 1, 0, 0, "", {"Stereo", "Wide", "Spreader"}},
    {"duck", "Duck", Kind::floating, 0, 12, 0.1f, 0, 4, "dB", {}},
    {"output", "Output", Kind::floating, -24, 24, 0.1f, 0, 0, "dB", {}},
    {"listen", "Listen", Kind::choice, 0, 6, 1, 0, 0, "",
     {"Off", "De-ess", "Compress", "Shimmer", "Reverb", "Delay", "Width"}},
    {"bypass", "Bypass (level matched)", Kind::toggle, 0, 1, 1, 0, 0, "", {}},
    {"hpfOn", "High-Pass On", Kind::toggle, 0, 1, 1, 0, 1, "", {}},
    {"deessOn", "De-ess On", Kind::toggle, 0, 1, 1, 0, 1, "", {}},
    {"eqOn", "EQ On", Kind::toggle, 0, 1, 1, 0, 1, "", {}},
    {"compOn", "Compress On", Kind::toggle, 0, 1, 1, 0, 1, "", {}},
    {"shimmerOn", "Shimmer On", Kind::toggle, 0, 1, 1, 0, 1, "", {}},
    {"reverbOn", "Reverb On", Kind::toggle, 0, 1, 1, 0, 1, "", {}},
    {"delayOn", "Delay On", Kind::toggle, 0, 1, 1, 0, 1, "", {}},
    {"widthOn", "Width On", Kind::toggle, 0, 1, 1, 0, 1, "", {}},
};
// clang-format on

juce::RangedAudioParameter& param(Sorvel2Processor& p, const char* id)
{
    auto* result = p.apvts.getParameter(id);
    if (result == nullptr)
        throw std::runtime_error(std::string("no parameter ") + id);
    return *result;
}

juce::String textFor(Sorvel2Processor& p, const char* id, float value)
{
    auto& prm = param(p, id);
    return prm.getText(prm.convertTo0to1(value), 100);
}

float valueFor(Sorvel2Processor& p, const char* id, const juce::String& text)
{
    auto& prm = param(p, id);
    return prm.convertFrom0to1(prm.getValueForText(text));
}
} // namespace

TEST(SorvelParameters, hostSeesTheTableInOrder)
{
    Sorvel2Processor p;
    const auto& params = p.getParameters();
    ASSERT_EQ(params.size(), 36);
    ASSERT_EQ(table.size(), 36u);

    for (size_t i = 0; i < table.size(); ++i)
    {
        const auto& row = table[i];
        SCOPED_TRACE(row.id);
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*>(params[static_cast<int>(i)]);
        ASSERT_NE(ranged, nullptr);
        EXPECT_EQ(ranged->getParameterID(), row.id);
        EXPECT_EQ(ranged->getName(100), row.name);
        EXPECT_EQ(ranged->getLabel(), row.label);
        EXPECT_EQ(ranged->getVersionHint(), 1);

        const auto& range = ranged->getNormalisableRange();
        EXPECT_FLOAT_EQ(range.start, row.start);
        EXPECT_FLOAT_EQ(range.end, row.end);
        EXPECT_FLOAT_EQ(range.interval, row.interval);
        if (row.centre > 0)
            EXPECT_NEAR(range.convertTo0to1(row.centre), 0.5f, 1e-5f);
        else
            EXPECT_FLOAT_EQ(range.skew, 1.0f);
        EXPECT_FLOAT_EQ(ranged->convertFrom0to1(ranged->getDefaultValue()), row.defaultValue);
        EXPECT_FLOAT_EQ(ranged->convertFrom0to1(ranged->getValue()), row.defaultValue) << "fresh value";

        switch (row.kind)
        {
        case Kind::floating:
            EXPECT_NE(dynamic_cast<juce::AudioParameterFloat*>(ranged), nullptr);
            break;
        case Kind::toggle:
            EXPECT_NE(dynamic_cast<juce::AudioParameterBool*>(ranged), nullptr);
            break;
        case Kind::choice:
        {
            auto* c = dynamic_cast<juce::AudioParameterChoice*>(ranged);
            ASSERT_NE(c, nullptr);
            ASSERT_EQ(c->choices.size(), static_cast<int>(row.items.size()));
            for (size_t k = 0; k < row.items.size(); ++k)
                EXPECT_EQ(c->choices[static_cast<int>(k)], row.items[k]);
            break;
        }
        }
    }
}

TEST(SorvelParameters, skewsPutTheNamedCentreInTheMiddle)
{
    Sorvel2Processor p;
    EXPECT_NEAR(param(p, "deessFreq").getNormalisableRange().skew, 0.5532948f, 1e-6f);
    EXPECT_NEAR(param(p, "reverbDecay").getNormalisableRange().skew, 0.4689441f, 1e-6f);
}

TEST(SorvelParameters, valueToText)
{
    struct Case
    {
        const char* id;
        float value;
        const char* text;
    };
    const Case cases[] = {
        {"input", 0.1f, "+0.1 dB"},
        {"input", 0.0f, "0.0 dB"},
        {"output", -6.0f, "-6.0 dB"},
        {"output", 3.5f, "+3.5 dB"},
        {"deess", 3.0f, "3.0"},
        {"comp", 0.0f, "0.0"},
        {"bass", 2.0f, "+2.0"},
        {"bass", 0.0f, "0.0"},
        {"treble", -4.5f, "-4.5"},
        {"deessFreq", 2900, "Auto"},
        {"deessFreq", 2940, "Auto"},
        {"deessFreq", 5500, "5.5 kHz"},
        {"deessFreq", 12000, "12.0 kHz"},
        {"deessFreq", 3000, "3.0 kHz"},
        {"compMix", 100, "100 %"},
        {"delayFeedback", 25, "25 %"},
        {"reverbDecay", 0.85f, "0.85 s"},
        {"reverbDecay", 0.99f, "0.99 s"},
        {"reverbDecay", 1.0f, "1.0 s"},
        {"reverbDecay", 1.6f, "1.6 s"},
        {"reverbPredelay", 30, "30 ms"},
        {"duck", 4.0f, "4.0 dB"},
        {"duck", 12.0f, "12.0 dB"},
        {"hpf", 2, "90 Hz"},
        {"listen", 4, "Reverb"},
        {"bypass", 1, "On"},
        {"hpfOn", 0, "Off"},
    };
    Sorvel2Processor p;
    for (const auto& c : cases)
        EXPECT_EQ(textFor(p, c.id, c.value), c.text) << c.id << " at " << c.value;

    // 2950 is the first value that is not Auto.
    const auto atThreshold = textFor(p, "deessFreq", 2950);
    EXPECT_NE(atThreshold, "Auto");
    EXPECT_TRUE(atThreshold.endsWith(" kHz")) << atThreshold;
}

TEST(SorvelParameters, textToValue)
{
    struct Case
    {
        const char* id;
        const char* text;
        float value;
    };
    const Case cases[] = {
        {"input", "+3.5 dB", 3.5f},
        {"input", "-12", -12.0f},
        {"input", "+30 dB", 24.0f},
        {"output", "-30 dB", -24.0f},
        {"output", " 6 ", 6.0f},
        {"compMix", "50%", 50.0f},
        {"compMix", "50 %", 50.0f},
        {"compMix", "no digits", 0.0f},
        {"delayFeedback", "95 %", 80.0f},
        {"deess", "7.26", 7.3f},
        {"bass", "+4", 4.0f},
        {"treble", "-10", -10.0f},
        {"deessFreq", "AUTO", 2900},
        {"deessFreq", "a", 2900},
        {"deessFreq", "Auto", 2900},
        {"deessFreq", "3", 3000},
        {"deessFreq", "5.5", 5500},
        {"deessFreq", "5.5 kHz", 5500},
        {"deessFreq", "6800", 6800},
        {"deessFreq", "2940", 2940},
        {"deessFreq", "", 2900},
        {"deessFreq", "99 kHz", 12000},
        {"reverbDecay", "0.99 s", 0.99f},
        {"reverbDecay", "1.0 s", 1.0f},
        {"reverbPredelay", "45 ms", 45},
        {"duck", "6 dB", 6.0f},
        {"hpf", "130 Hz", 3},
        {"compChar", "Hard", 2},
        {"bypass", "On", 1},
    };
    Sorvel2Processor p;
    for (const auto& c : cases)
        EXPECT_NEAR(valueFor(p, c.id, c.text), c.value, 1e-3f) << c.id << " typed '" << c.text << "'";

    // Typed 2940 stays 2940 and still shows Auto.
    EXPECT_EQ(textFor(p, "deessFreq", valueFor(p, "deessFreq", "2940")), "Auto");
}
