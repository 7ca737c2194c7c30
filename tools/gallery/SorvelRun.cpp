#include "SorvelRun.h"

#include <cmath>

namespace gallery
{
namespace
{
constexpr double pi = juce::MathConstants<double>::pi;

struct Syllable
{
    double start, length, level, pitchHz;
    bool ess;
};

// Eight syllables, a breath, and eight more: about 6.2 s.
std::vector<Syllable> phrase()
{
    const double levels[] = {0.85, 0.6, 1.0, 0.5, 0.8, 0.95, 0.45, 0.7};
    const double pitches[] = {196, 220, 247, 220, 196, 175, 196, 220};
    std::vector<Syllable> all;
    double t = 0.15;
    for (int round = 0; round < 2; ++round)
    {
        for (int i = 0; i < 8; ++i)
        {
            const double length = i % 3 == 2 ? 0.34 : 0.22;
            all.push_back({t, length, levels[i] * (round == 0 ? 1.0 : 0.8),
                           pitches[i] * (round == 0 ? 1.0 : 1.12),
                           i == 1 || i == 5 || (round == 1 && i == 3)});
            t += length + 0.1;
        }
        t += 0.5;
    }
    return all;
}

// A vowel-like tilt: harmonics fall off, with bumps around 600 Hz and 2.8 kHz.
double harmonicLevel(double hz, int k)
{
    const auto bump = [hz](double centre, double width)
    {
        const double d = std::log2(hz / centre) / width;
        return std::exp(-d * d);
    };
    return (1.0 / k) * (0.4 + 1.6 * bump(600, 0.7) + 0.8 * bump(2800, 0.5));
}

double envelope(double t, double start, double length)
{
    const double attack = 0.03, release = 0.07;
    if (t < start || t > start + length + release)
        return 0.0;
    if (t < start + attack)
        return (t - start) / attack;
    if (t <= start + length)
        return 1.0;
    return 1.0 - (t - start - length) / release;
}
} // namespace

VocalSketch::VocalSketch(double sampleRate) : rate(sampleRate), phases(40, 0.0) {}

float VocalSketch::next()
{
    static const auto syllables = phrase();
    double out = 0.0;
    for (const auto& s : syllables)
    {
        const double voiced = envelope(time, s.start, s.length);
        if (s.ess)
        {
            // An ess just before the vowel: noise, high-passed twice.
            const double essEnvelope = envelope(time, s.start - 0.12, 0.08);
            if (essEnvelope > 0.0)
            {
                noise ^= noise << 13;
                noise ^= noise >> 17;
                noise ^= noise << 5;
                const float white = static_cast<float>((noise >> 8) * (1.0 / 16777216.0) * 2.0 - 1.0);
                const float h1 = white - hiss1;
                hiss1 = white;
                const float h2 = h1 - hiss2;
                hiss2 = h1;
                out += 0.1 * essEnvelope * s.level * h2;
            }
        }
        if (voiced <= 0.0)
            continue;
        const double vibrato = 1.0 + 0.012 * std::sin(vibratoPhase);
        const double f0 = s.pitchHz * vibrato;
        double voice = 0.0;
        for (int k = 1; k <= static_cast<int>(phases.size()) && k * f0 < 9000.0; ++k)
        {
            auto& phase = phases[static_cast<size_t>(k - 1)];
            phase += 2.0 * pi * k * f0 / rate;
            if (phase > 2.0 * pi)
                phase -= 2.0 * pi;
            voice += harmonicLevel(k * f0, k) * std::sin(phase);
        }
        out += 0.12 * voiced * s.level * voice;
    }
    vibratoPhase += 2.0 * pi * 5.5 / rate;
    time += 1.0 / rate;
    return static_cast<float>(out);
}

void setParameters(Sorvel2Processor& processor, const std::map<juce::String, float>& values)
{
    for (const auto& [id, value] : values)
        if (auto* parameter = processor.apvts.getParameter(id))
            parameter->setValueNotifyingHost(parameter->convertTo0to1(value));
}

void runPhrase(Sorvel2Processor& processor, double seconds,
               const std::function<void(const sv2::MeteringRecord&)>& onRecord,
               const std::function<void(sv2::TapFifo&)>& onTick)
{
    constexpr double rate = 48000.0;
    constexpr int blockSize = 512;
    processor.setPlayConfigDetails(2, 2, rate, blockSize);
    processor.prepareToPlay(rate, blockSize);
    auto& feed = processor.getFeed();
    feed.tapEnabled = static_cast<bool>(onTick);

    VocalSketch voice(rate);
    juce::AudioBuffer<float> buffer(2, blockSize);
    juce::MidiBuffer midi;
    std::uint32_t readIndex = feed.records.count();
    const int tickSamples = static_cast<int>(0.033 * rate);
    int sinceTick = 0;
    for (int done = 0; done < static_cast<int>(seconds * rate); done += blockSize)
    {
        for (int i = 0; i < blockSize; ++i)
        {
            const float x = voice.next();
            buffer.setSample(0, i, x);
            buffer.setSample(1, i, x);
        }
        processor.processBlock(buffer, midi);
        for (const auto count = feed.records.count(); readIndex != count; ++readIndex)
            onRecord(feed.records.at(readIndex));
        sinceTick += blockSize;
        if (onTick && sinceTick >= tickSamples)
        {
            sinceTick -= tickSamples;
            onTick(feed.taps);
        }
    }
    feed.tapEnabled = false;
}
} // namespace gallery
