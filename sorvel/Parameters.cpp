// Sorvel's 36 parameters: IDs, names, ranges, defaults and the texts hosts show and accept.
#include "PluginProcessor.h"
#include "ParameterIds.h"

namespace
{
using Layout = juce::AudioProcessorValueTreeState::ParameterLayout;
using Float = juce::AudioParameterFloat;
using Attributes = juce::AudioParameterFloatAttributes;

constexpr int versionHint = 1;

juce::ParameterID pid(const char* id)
{
    return juce::ParameterID{id, versionHint};
}

// One decimal in fixed notation; "+0.0" never shows, and neither does "-0.0".
juce::String oneDecimal(float value)
{
    return juce::String(value + 0.0f, 1);
}

juce::String signedOneDecimal(float value)
{
    return (value > 0.0f ? "+" : "") + oneDecimal(value);
}

// Typed numbers: keep only digits, minus signs and points, wherever they stand, so units, plus
// signs and spaces never get in the way ("+3.5 dB", "25 %"). No digits reads 0.
float numberFromText(const juce::String& text)
{
    const auto kept = text.trim().retainCharacters("-0123456789.");
    auto p = kept.getCharPointer();
    return static_cast<float>(juce::CharacterFunctions::readDoubleValue(p));
}

std::unique_ptr<Float> gainDb(const char* id, const char* name)
{
    return std::make_unique<Float>(
        pid(id), name, juce::NormalisableRange<float>(-24.0f, 24.0f, 0.1f), 0.0f,
        Attributes()
            .withLabel("dB")
            .withStringFromValueFunction([](float v, int) { return signedOneDecimal(v) + " dB"; })
            .withValueFromStringFunction(numberFromText));
}

std::unique_ptr<Float> amount(const char* id, const char* name, bool bipolar, float defaultValue)
{
    return std::make_unique<Float>(
        pid(id), name, juce::NormalisableRange<float>(bipolar ? -10.0f : 0.0f, 10.0f, 0.1f), defaultValue,
        Attributes()
            .withStringFromValueFunction([bipolar](float v, int)
                                         { return bipolar ? signedOneDecimal(v) : oneDecimal(v); })
            .withValueFromStringFunction(numberFromText));
}

std::unique_ptr<Float> percent(const char* id, const char* name, float maxValue, float defaultValue)
{
    return std::make_unique<Float>(
        pid(id), name, juce::NormalisableRange<float>(0.0f, maxValue, 1.0f), defaultValue,
        Attributes()
            .withLabel("%")
            .withStringFromValueFunction([](float v, int)
                                         { return juce::String(juce::roundToInt(v)) + " %"; })
            .withValueFromStringFunction(numberFromText));
}

juce::NormalisableRange<float> skewedRange(float start, float end, float interval, float centre)
{
    juce::NormalisableRange<float> range(start, end, interval);
    range.setSkewForCentre(centre);
    return range;
}

// "Auto" below 2950 Hz; typed text starting with "a" means Auto, numbers below 100 are kHz.
std::unique_ptr<Float> deessFrequency()
{
    return std::make_unique<Float>(pid(sv::id::deessFreq), "De-ess Freq",
                                   skewedRange(2900.0f, 12000.0f, 10.0f, 5500.0f), 2900.0f,
                                   Attributes()
                                       .withLabel("Hz")
                                       .withStringFromValueFunction(
                                           [](float v, int) -> juce::String
                                           {
                                               if (v < sv::id::deessAutoBelowHz)
                                                   return "Auto";
                                               return oneDecimal(v / 1000.0f) + " kHz";
                                           })
                                       .withValueFromStringFunction(
                                           [](const juce::String& text)
                                           {
                                               const auto trimmed = text.trim();
                                               if (trimmed.substring(0, 1).equalsIgnoreCase("a"))
                                                   return 2900.0f;
                                               const float x = numberFromText(trimmed);
                                               return x < 100.0f ? x * 1000.0f : x;
                                           }));
}

std::unique_ptr<juce::AudioParameterChoice> choice(const char* id, const char* name,
                                                   const juce::StringArray& items, int defaultIndex)
{
    return std::make_unique<juce::AudioParameterChoice>(pid(id), name, items, defaultIndex);
}

std::unique_ptr<juce::AudioParameterBool> toggle(const char* id, const char* name, bool defaultValue)
{
    return std::make_unique<juce::AudioParameterBool>(pid(id), name, defaultValue);
}
} // namespace

juce::AudioProcessorValueTreeState::ParameterLayout Sorvel2Processor::createLayout()
{
    namespace id = sv::id;
    Layout layout;

    layout.add(gainDb(id::input, "Input"));
    layout.add(choice(id::hpf, "High-Pass", {"Off", "60 Hz", "90 Hz", "130 Hz", "180 Hz"}, 2));
    layout.add(amount(id::deess, "De-ess", false, 3.0f));
    layout.add(choice(id::deessChar, "De-ess Character", {"Soft", "Mid", "Hard"}, 1));
    layout.add(deessFrequency());
    layout.add(amount(id::bass, "Bass", true, 0.0f));
    layout.add(choice(id::bassChar, "Bass Character", {"Sub", "Lower", "Upper"}, 1));
    layout.add(amount(id::treble, "Treble", true, 2.0f));
    layout.add(choice(id::trebleChar, "Treble Character", {"Bite", "Top", "Roof"}, 0));
    layout.add(amount(id::comp, "Compress", false, 4.0f));
    layout.add(choice(id::compChar, "Compress Character", {"Smooth", "Push", "Hard"}, 1));
    layout.add(percent(id::compMix, "Compress Mix", 100.0f, 100.0f));
    layout.add(amount(id::shimmer, "Shimmer", true, 1.0f));
    layout.add(choice(id::shimmerChar, "Shimmer Character", {"Silk", "Air", "Glass"}, 0));
    layout.add(amount(id::reverb, "Reverb", false, 2.0f));
    layout.add(choice(id::reverbChar, "Reverb Character", {"Plate", "Room", "Hall"}, 0));
    layout.add(std::make_unique<Float>(
        pid(id::reverbDecay), "Reverb Decay", skewedRange(0.3f, 6.0f, 0.01f, 1.6f), 1.6f,
        Attributes()
            .withLabel("s")
            .withStringFromValueFunction([](float v, int)
                                         { return juce::String(v, v < 1.0f ? 2 : 1) + " s"; })
            .withValueFromStringFunction(numberFromText)));
    layout.add(std::make_unique<Float>(
        pid(id::reverbPredelay), "Reverb Pre-delay", juce::NormalisableRange<float>(0.0f, 120.0f, 1.0f),
        30.0f,
        Attributes()
            .withLabel("ms")
            .withStringFromValueFunction([](float v, int)
                                         { return juce::String(juce::roundToInt(v)) + " ms"; })
            .withValueFromStringFunction(numberFromText)));
    layout.add(amount(id::delay, "Delay", false, 1.0f));
    layout.add(choice(id::delayChar, "Delay Character", {"Slap", "Eighth", "Dotted", "Quarter"}, 1));
    layout.add(percent(id::delayFeedback, "Delay Feedback", 80.0f, 25.0f));
    layout.add(toggle(id::delayPingPong, "Delay Ping-Pong", false));
    layout.add(amount(id::width, "Width", false, 2.0f));
    layout.add(choice(id::widthChar, "Width Character", {"Stereo", "Wide", "Spreader"}, 0));
    layout.add(std::make_unique<Float>(
        pid(id::duck), "Duck", juce::NormalisableRange<float>(0.0f, 12.0f, 0.1f), 4.0f,
        Attributes()
            .withLabel("dB")
            .withStringFromValueFunction([](float v, int) { return oneDecimal(v) + " dB"; })
            .withValueFromStringFunction(numberFromText)));
    layout.add(gainDb(id::output, "Output"));
    layout.add(choice(id::listen, "Listen",
                      {"Off", "De-ess", "Compress", "Shimmer", "Reverb", "Delay", "Width"}, 0));
    layout.add(toggle(id::bypass, "Bypass (level matched)", false));
    layout.add(toggle(id::hpfOn, "High-Pass On", true));
    layout.add(toggle(id::deessOn, "De-ess On", true));
    layout.add(toggle(id::eqOn, "EQ On", true));
    layout.add(toggle(id::compOn, "Compress On", true));
    layout.add(toggle(id::shimmerOn, "Shimmer On", true));
    layout.add(toggle(id::reverbOn, "Reverb On", true));
    layout.add(toggle(id::delayOn, "Delay On", true));
    layout.add(toggle(id::widthOn, "Width On", true));

    return layout;
}
