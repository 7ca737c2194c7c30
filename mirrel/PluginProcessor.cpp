#include "PluginProcessor.h"

#include "PluginEditor.h"

#include <cmath>

namespace
{
constexpr std::array<const char*, MirrelProcessor::numParameters> ids{
    "sensitivity", "width", "hole", "bias", "alternate", "minjump", "slew", "bypass", "seed"};

juce::ParameterID pid(const char* id)
{
    return juce::ParameterID{id, 1};
}

std::unique_ptr<juce::AudioParameterFloat> linear(const char* id, const char* name, float start, float end,
                                                  float step, float defaultValue, const char* label)
{
    return std::make_unique<juce::AudioParameterFloat>(
        pid(id), name, juce::NormalisableRange<float>(start, end, step), defaultValue,
        juce::AudioParameterFloatAttributes().withLabel(label));
}
} // namespace

juce::AudioProcessorValueTreeState::ParameterLayout MirrelProcessor::createLayout()
{
    juce::AudioProcessorValueTreeState::ParameterLayout layout;
    layout.add(linear("sensitivity", "Sensitivity", 3.0f, 20.0f, 0.5f, 8.0f, "dB"));
    layout.add(linear("width", "Width", 0.0f, 100.0f, 1.0f, 100.0f, "%"));
    layout.add(linear("hole", "Hole", 0.0f, 100.0f, 1.0f, 30.0f, "%"));
    layout.add(linear("bias", "Side bias", 0.0f, 100.0f, 1.0f, 50.0f, "%"));
    layout.add(std::make_unique<juce::AudioParameterChoice>(pid("alternate"), "Alternate",
                                                            juce::StringArray{"Off", "Mostly", "Always"}, 1));
    layout.add(linear("minjump", "Min jump", 0.0f, 100.0f, 1.0f, 20.0f, "%"));
    layout.add(linear("slew", "Slew", 0.5f, 20.0f, 0.1f, 2.0f, "ms"));
    layout.add(std::make_unique<juce::AudioParameterBool>(pid("bypass"), "Bypass", false));
    layout.add(std::make_unique<juce::AudioParameterInt>(pid("seed"), "Seed", 1, 999, 1));
    return layout;
}

MirrelProcessor::MirrelProcessor() : EffectProcessor(createLayout())
{
    for (size_t i = 0; i < ids.size(); ++i)
    {
        raw[i] = apvts.getRawParameterValue(ids[i]);
        jassert(raw[i] != nullptr);
    }
}

void MirrelProcessor::prepareToPlay(double sampleRate, int)
{
    engine.prepare(sampleRate);
    if (engine.latencySamples() != getLatencySamples())
        setLatencySamples(engine.latencySamples());
}

mr::Mirrel::Settings MirrelProcessor::readSettings() const noexcept
{
    mr::Mirrel::Settings s;
    s.sensitivity = raw[0]->load();
    s.width = raw[1]->load();
    s.hole = raw[2]->load();
    s.bias = raw[3]->load();
    s.alternate = static_cast<int>(raw[4]->load()); // truncated, as the host hands it over
    s.minJump = raw[5]->load();
    s.slewMs = raw[6]->load();
    s.bypass = raw[7]->load() > 0.5f;
    s.seed = static_cast<int>(std::lround(raw[8]->load()));
    return s;
}

mr::TransportState MirrelProcessor::readTransport() const noexcept
{
    mr::TransportState t;
    if (auto* head = getPlayHead())
        if (const auto position = head->getPosition())
        {
            t.playing = position->getIsPlaying();
            if (const auto ppq = position->getPpqPosition())
            {
                t.hasPosition = true;
                t.quarterNotes = *ppq;
            }
            if (const auto bpm = position->getBpm())
            {
                t.hasTempo = true;
                t.bpm = *bpm;
            }
        }
    return t;
}

void MirrelProcessor::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;

    const int numSamples = buffer.getNumSamples();
    if (numSamples == 0 || buffer.getNumChannels() < 2)
        return;

    const int inputs = getTotalNumInputChannels();
    const bool inputPresent = inputs > 0 && !buffer.hasBeenCleared();
    float* left = buffer.getWritePointer(0);
    float* right = buffer.getWritePointer(1);
    if (inputs < 2)
        std::copy(left, left + numSamples, right);

    engine.process(left, right, numSamples, readSettings(), readTransport(), inputPresent);

    for (int c = 2; c < buffer.getNumChannels(); ++c)
        buffer.clear(c, 0, numSamples);
}

juce::AudioProcessorEditor* MirrelProcessor::createEditor()
{
    return new MirrelEditor(*this);
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new MirrelProcessor();
}
