#include "PluginProcessor.h"
#include "ParameterIds.h"
#include "PluginEditor.h"

#include "sorvel/engine/Latency.h"

#include <algorithm>
#include <cmath>

namespace
{
using Params = sv2::Params;
namespace id = sv::id;

// How one parameter's raw value becomes its field of the snapshot.
struct Binding
{
    const char* id;
    void (*store)(Params&, float raw) noexcept;
};

template <float Params::*Field> void asRead(Params& p, float raw) noexcept
{
    p.*Field = raw;
}

template <int Params::*Field> void rounded(Params& p, float raw) noexcept
{
    p.*Field = static_cast<int>(std::lround(raw));
}

template <bool Params::*Field> void switched(Params& p, float raw) noexcept
{
    p.*Field = raw > 0.5f;
}

// "Auto" (every value below 2950 Hz) is 0 in the snapshot.
void essFrequency(Params& p, float raw) noexcept
{
    p.deessFreq = raw < id::deessAutoBelowHz ? 0.0f : raw;
}

// Every parameter, its field and its conversion, in the order the snapshot reads them (the
// order of the Params fields, not the host order).
constexpr std::array<Binding, Sorvel2Processor::numParameters> bindings{{
    {id::input, asRead<&Params::input>},
    {id::output, asRead<&Params::output>},
    {id::hpf, rounded<&Params::hpf>},
    {id::deess, asRead<&Params::deess>},
    {id::deessChar, rounded<&Params::deessChar>},
    {id::deessFreq, essFrequency},
    {id::bass, asRead<&Params::bass>},
    {id::treble, asRead<&Params::treble>},
    {id::bassChar, rounded<&Params::bassChar>},
    {id::trebleChar, rounded<&Params::trebleChar>},
    {id::comp, asRead<&Params::comp>},
    {id::compChar, rounded<&Params::compChar>},
    {id::compMix, asRead<&Params::compMix>},
    {id::shimmer, asRead<&Params::shimmer>},
    {id::shimmerChar, rounded<&Params::shimmerChar>},
    {id::reverb, asRead<&Params::reverb>},
    {id::reverbChar, rounded<&Params::reverbChar>},
    {id::reverbDecay, asRead<&Params::reverbDecay>},
    {id::reverbPredelay, asRead<&Params::reverbPredelay>},
    {id::delay, asRead<&Params::delay>},
    {id::delayChar, rounded<&Params::delayChar>},
    {id::delayFeedback, asRead<&Params::delayFeedback>},
    {id::delayPingPong, switched<&Params::delayPingPong>},
    {id::width, asRead<&Params::width>},
    {id::widthChar, rounded<&Params::widthChar>},
    {id::duck, asRead<&Params::duck>},
    {id::listen, rounded<&Params::listen>},
    {id::bypass, switched<&Params::bypass>},
    {id::hpfOn, switched<&Params::hpfOn>},
    {id::deessOn, switched<&Params::deessOn>},
    {id::eqOn, switched<&Params::eqOn>},
    {id::compOn, switched<&Params::compOn>},
    {id::shimmerOn, switched<&Params::shimmerOn>},
    {id::reverbOn, switched<&Params::reverbOn>},
    {id::delayOn, switched<&Params::delayOn>},
    {id::widthOn, switched<&Params::widthOn>},
}};

bool validTempo(double bpm) noexcept
{
    return bpm > 20.0 && bpm < 999.0;
}

} // namespace

Sorvel2Processor::Sorvel2Processor() : EffectProcessor(createLayout())
{
    for (size_t i = 0; i < bindings.size(); ++i)
    {
        raw[i] = apvts.getRawParameterValue(bindings[i].id);
        jassert(raw[i] != nullptr);
    }
}

void Sorvel2Processor::prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock)
{
    chain.prepare(sampleRate, getTotalNumInputChannels() >= 2 ? 2 : 1, maximumExpectedSamplesPerBlock);
    setLatencySamples(chain.getLatencySamples());
    // The chain takes its first settings at the first block, where every ramp starts at its
    // target: hosts restore a session after preparing as often as before.
    readParams();
}

void Sorvel2Processor::readParams() noexcept
{
    Params p;
    for (size_t i = 0; i < bindings.size(); ++i)
        bindings[i].store(p, raw[i]->load());
    p.tempo = hostTempo;
    params = p;
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

    readParams();
    chain.applyParams(params);

    const int numSamples = buffer.getNumSamples();
    if (buffer.getNumChannels() < 2 || numSamples == 0)
        return;

    const bool markedClear = buffer.hasBeenCleared();
    chain.processBlock(buffer.getWritePointer(0), buffer.getWritePointer(1), numSamples,
                       getTotalNumInputChannels(), markedClear, hostPlaying);
}

juce::AudioProcessorEditor* Sorvel2Processor::createEditor()
{
    return new Sorvel2Editor(*this);
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new Sorvel2Processor();
}
