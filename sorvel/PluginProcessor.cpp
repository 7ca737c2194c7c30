#include "PluginProcessor.h"
#include "ParameterIds.h"

#include "sorvel/engine/Latency.h"

#include <algorithm>
#include <cmath>

namespace
{
// The snapshot's reading order (the order of the Params fields, not the host order).
constexpr std::array<const char*, Sorvel2Processor::numParameters> pullOrder{
    sv::id::input,          sv::id::output,        sv::id::hpf,
    sv::id::deess,          sv::id::deessChar,     sv::id::deessFreq,
    sv::id::bass,           sv::id::treble,        sv::id::bassChar,
    sv::id::trebleChar,     sv::id::comp,          sv::id::compChar,
    sv::id::compMix,        sv::id::shimmer,       sv::id::shimmerChar,
    sv::id::reverb,         sv::id::reverbChar,    sv::id::reverbDecay,
    sv::id::reverbPredelay, sv::id::delay,         sv::id::delayChar,
    sv::id::delayFeedback,  sv::id::delayPingPong, sv::id::width,
    sv::id::widthChar,      sv::id::duck,          sv::id::listen,
    sv::id::bypass,         sv::id::hpfOn,         sv::id::deessOn,
    sv::id::eqOn,           sv::id::compOn,        sv::id::shimmerOn,
    sv::id::reverbOn,       sv::id::delayOn,       sv::id::widthOn};

bool validTempo(double bpm) noexcept
{
    return bpm > 20.0 && bpm < 999.0;
}

} // namespace

Sorvel2Processor::Sorvel2Processor() : EffectProcessor(createLayout())
{
    for (size_t i = 0; i < pullOrder.size(); ++i)
    {
        raw[i] = apvts.getRawParameterValue(pullOrder[i]);
        jassert(raw[i] != nullptr);
    }
}

void Sorvel2Processor::prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock)
{
    chain.prepare(sampleRate, getTotalNumInputChannels() >= 2 ? 2 : 1, maximumExpectedSamplesPerBlock);
    setLatencySamples(chain.getLatencySamples());
    pullParams();
}

void Sorvel2Processor::pullParams() noexcept
{
    auto load = [this](size_t i) { return raw[i]->load(); };
    auto toInt = [](float v) { return static_cast<int>(std::lround(v)); };
    auto toBool = [](float v) { return v > 0.5f; };

    Params p;
    size_t i = 0;
    p.input = load(i++);
    p.output = load(i++);
    p.hpf = toInt(load(i++));
    p.deess = load(i++);
    p.deessChar = toInt(load(i++));
    const float freq = load(i++);
    p.deessFreq = freq < sv::id::deessAutoBelowHz ? 0.0f : freq;
    p.bass = load(i++);
    p.treble = load(i++);
    p.bassChar = toInt(load(i++));
    p.trebleChar = toInt(load(i++));
    p.comp = load(i++);
    p.compChar = toInt(load(i++));
    p.compMix = load(i++);
    p.shimmer = load(i++);
    p.shimmerChar = toInt(load(i++));
    p.reverb = load(i++);
    p.reverbChar = toInt(load(i++));
    p.reverbDecay = load(i++);
    p.reverbPredelay = load(i++);
    p.delay = load(i++);
    p.delayChar = toInt(load(i++));
    p.delayFeedback = load(i++);
    p.delayPingPong = toBool(load(i++));
    p.width = load(i++);
    p.widthChar = toInt(load(i++));
    p.duck = load(i++);
    p.listen = toInt(load(i++));
    p.bypass = toBool(load(i++));
    p.hpfOn = toBool(load(i++));
    p.deessOn = toBool(load(i++));
    p.eqOn = toBool(load(i++));
    p.compOn = toBool(load(i++));
    p.shimmerOn = toBool(load(i++));
    p.reverbOn = toBool(load(i++));
    p.delayOn = toBool(load(i++));
    p.widthOn = toBool(load(i++));
    jassert(i == raw.size());
    p.tempo = hostTempo;
    params = p;
    chain.applyParams(params);
}

void Sorvel2Processor::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;

    // The tempo of the previous block (or 120) unless the host reports a valid one.
    if (!validTempo(hostTempo))
        hostTempo = 120.0;
    hostPlaying = false;
    if (auto* head = getPlayHead())
        if (const auto position = head->getPosition())
        {
            if (const auto bpm = position->getBpm(); bpm && validTempo(*bpm))
                hostTempo = *bpm;
            hostPlaying = position->getIsPlaying();
        }

    pullParams();

    const int numSamples = buffer.getNumSamples();
    if (buffer.getNumChannels() < 2 || numSamples == 0)
        return;

    const bool markedClear = buffer.hasBeenCleared();
    chain.processBlock(buffer.getWritePointer(0), buffer.getWritePointer(1), numSamples,
                       getTotalNumInputChannels(), markedClear, hostPlaying);
}

juce::AudioProcessorEditor* Sorvel2Processor::createEditor()
{
    return new juce::GenericAudioProcessorEditor(*this);
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new Sorvel2Processor();
}
