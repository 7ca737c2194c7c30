#include "sorvel/PluginProcessor.h"
#include "support/ParameterAccess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
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

namespace
{
using Params = sv2::Params;

// Every field of the snapshot by its name (the parameter's ID), as a number.
const std::vector<std::pair<const char*, std::function<double(const Params&)>>>& snapshotFields()
{
    // clang-format off
    static const std::vector<std::pair<const char*, std::function<double(const Params&)>>> fields{
        {"input", [](const Params& p) { return p.input; }},
        {"output", [](const Params& p) { return p.output; }},
        {"hpf", [](const Params& p) { return p.hpf; }},
        {"deess", [](const Params& p) { return p.deess; }},
        {"deessChar", [](const Params& p) { return p.deessChar; }},
        {"deessFreq", [](const Params& p) { return p.deessFreq; }},
        {"bass", [](const Params& p) { return p.bass; }},
        {"treble", [](const Params& p) { return p.treble; }},
        {"bassChar", [](const Params& p) { return p.bassChar; }},
        {"trebleChar", [](const Params& p) { return p.trebleChar; }},
        {"comp", [](const Params& p) { return p.comp; }},
        {"compChar", [](const Params& p) { return p.compChar; }},
        {"compMix", [](const Params& p) { return p.compMix; }},
        {"shimmer", [](const Params& p) { return p.shimmer; }},
        {"shimmerChar", [](const Params& p) { return p.shimmerChar; }},
        {"reverb", [](const Params& p) { return p.reverb; }},
        {"reverbChar", [](const Params& p) { return p.reverbChar; }},
        {"reverbDecay", [](const Params& p) { return p.reverbDecay; }},
        {"reverbPredelay", [](const Params& p) { return p.reverbPredelay; }},
        {"delay", [](const Params& p) { return p.delay; }},
        {"delayChar", [](const Params& p) { return p.delayChar; }},
        {"delayFeedback", [](const Params& p) { return p.delayFeedback; }},
        {"delayPingPong", [](const Params& p) { return p.delayPingPong; }},
        {"width", [](const Params& p) { return p.width; }},
        {"widthChar", [](const Params& p) { return p.widthChar; }},
        {"duck", [](const Params& p) { return p.duck; }},
        {"listen", [](const Params& p) { return p.listen; }},
        {"bypass", [](const Params& p) { return p.bypass; }},
        {"hpfOn", [](const Params& p) { return p.hpfOn; }},
        {"deessOn", [](const Params& p) { return p.deessOn; }},
        {"eqOn", [](const Params& p) { return p.eqOn; }},
        {"compOn", [](const Params& p) { return p.compOn; }},
        {"shimmerOn", [](const Params& p) { return p.shimmerOn; }},
        {"reverbOn", [](const Params& p) { return p.reverbOn; }},
        {"delayOn", [](const Params& p) { return p.delayOn; }},
        {"widthOn", [](const Params& p) { return p.widthOn; }},
        {"tempo", [](const Params& p) { return p.tempo; }},
    };
    // clang-format on
    return fields;
}

const Params& pulledSnapshot(Sorvel2Processor& p)
{
    p.prepareToPlay(48000.0, 512); // pulls the parameters once
    return p.getParams();
}
} // namespace

// The same value to within the last bit of a float (a skewed range's round trip may round it).
bool sameValue(double a, double b)
{
    return std::abs(a - b) <= 2e-7 * std::max(1.0, std::abs(b));
}

// The engine's defaults (what the benchmark, the golden renders and the engine tests start from)
// are the parameter layout's defaults.
TEST(SorvelParameters, snapshotDefaultsAreTheLayoutsDefaults)
{
    Sorvel2Processor p;
    const Params& pulled = pulledSnapshot(p);
    const Params defaults;
    for (const auto& [name, field] : snapshotFields())
        EXPECT_TRUE(sameValue(field(pulled), field(defaults)))
            << name << ": pulled " << field(pulled) << ", engine default " << field(defaults);
}

// Each parameter, moved away from its default, lands in its own field of the snapshot, converted
// (choices rounded, switches above one half, "Auto" as 0), and in no other field.
TEST(SorvelParameters, eachParameterReachesItsOwnSnapshotField)
{
    struct Move
    {
        const char* id;
        float plain;
        double expected;
    };
    // clang-format off
    const std::vector<Move> moves{
        {"input", -7.5f, -7.5},        {"hpf", 4, 4},                 {"deess", 6.5f, 6.5},
        {"deessChar", 2, 2},           {"deessFreq", 7000, 7000},     {"bass", -3, -3},
        {"bassChar", 2, 2},            {"treble", -4, -4},            {"trebleChar", 1, 1},
        {"comp", 7, 7},                {"compChar", 0, 0},            {"compMix", 40, 40},
        {"shimmer", -5, -5},           {"shimmerChar", 2, 2},         {"reverb", 6, 6},
        {"reverbChar", 1, 1},          {"reverbDecay", 3.3f, 3.3},    {"reverbPredelay", 80, 80},
        {"delay", 4, 4},               {"delayChar", 3, 3},           {"delayFeedback", 60, 60},
        {"delayPingPong", 1, 1},       {"width", 7, 7},               {"widthChar", 2, 2},
        {"duck", 9, 9},                {"output", 5.5f, 5.5},         {"listen", 5, 5},
        {"bypass", 1, 1},              {"hpfOn", 0, 0},               {"deessOn", 0, 0},
        {"eqOn", 0, 0},                {"compOn", 0, 0},              {"shimmerOn", 0, 0},
        {"reverbOn", 0, 0},            {"delayOn", 0, 0},             {"widthOn", 0, 0},
    };
    // clang-format on
    ASSERT_EQ(moves.size(), 36u);

    const Params defaults;
    for (const auto& move : moves)
    {
        SCOPED_TRACE(move.id);
        Sorvel2Processor p;
        testsupport::setPlain(p.apvts, move.id, move.plain);
        const Params& pulled = pulledSnapshot(p);
        bool found = false;
        for (const auto& [name, field] : snapshotFields())
        {
            if (juce::String(name) == move.id)
            {
                found = true;
                EXPECT_NEAR(field(pulled), move.expected, 1e-4 * std::max(1.0, std::abs(move.expected)));
            }
            else
                EXPECT_TRUE(sameValue(field(pulled), field(defaults))) << name << " moved as well";
        }
        EXPECT_TRUE(found) << "no snapshot field for the parameter";
    }

    // "Auto" below 2950 Hz: the snapshot holds 0 there, the frequency from 2950 Hz on.
    for (const auto& [plain, expected] : {std::pair{2940.0f, 0.0}, std::pair{2950.0f, 2950.0}})
    {
        Sorvel2Processor p;
        testsupport::setPlain(p.apvts, "deessFreq", plain);
        EXPECT_NEAR(pulledSnapshot(p).deessFreq, expected, 0.01) << plain;
    }
}
