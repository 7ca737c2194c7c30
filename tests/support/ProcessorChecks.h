#pragma once

// Checks both processors must pass, written once.
#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include "support/AllocationCounter.h"

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <vector>

namespace testsupport
{

inline std::vector<float> plainValues(juce::AudioProcessor& p)
{
    std::vector<float> values;
    for (auto* prm : p.getParameters())
    {
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*>(prm);
        values.push_back(ranged->convertFrom0to1(ranged->getValue()));
    }
    return values;
}

// Moves every parameter away from its default so a restore, or a failure to ignore, shows.
inline void randomiseParameters(juce::AudioProcessor& p, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (auto* prm : p.getParameters())
        prm->setValueNotifyingHost(u(rng));
}

inline juce::MemoryBlock stateOf(juce::AudioProcessor& p)
{
    juce::MemoryBlock block;
    p.getStateInformation(block);
    return block;
}

inline juce::MemoryBlock blobFromXml(const juce::String& text)
{
    juce::MemoryBlock block;
    auto xml = juce::parseXML(text);
    juce::AudioProcessor::copyXmlToBinary(*xml, block);
    return block;
}

// A state saved on one instance and loaded on a fresh one gives the same values.
template <typename Processor> void expectStateRoundTrip()
{
    Processor source;
    randomiseParameters(source, 7);
    const auto blob = stateOf(source);
    const auto* bytes = static_cast<const unsigned char*>(blob.getData());
    ASSERT_GT(blob.getSize(), 8u);
    EXPECT_EQ(bytes[0], 0x56);
    EXPECT_EQ(bytes[1], 0x43);
    EXPECT_EQ(bytes[2], 0x32);
    EXPECT_EQ(bytes[3], 0x21);

    Processor restored;
    restored.setStateInformation(blob.getData(), static_cast<int>(blob.getSize()));
    EXPECT_EQ(plainValues(restored), plainValues(source));
}

// Random bytes, a truncated blob, a wrong magic number, a byte count larger than the data, a
// header alone, an empty blob, another root tag: all ignored, every parameter unchanged.
template <typename Processor> void expectBadStatesIgnored()
{
    Processor reference;
    const auto good = stateOf(reference);

    std::vector<std::pair<const char*, juce::MemoryBlock>> blobs;
    {
        std::mt19937 rng(3);
        juce::MemoryBlock noise(4096);
        for (size_t i = 0; i < noise.getSize(); ++i)
            noise[i] = static_cast<char>(rng());
        blobs.emplace_back("random bytes", noise);
    }
    blobs.emplace_back("truncated", juce::MemoryBlock(good.getData(), good.getSize() / 2));
    {
        auto wrongMagic = good;
        wrongMagic[0] = 0x57;
        blobs.emplace_back("wrong magic", wrongMagic);
    }
    {
        // Declares a million bytes, holds half of the text.
        juce::MemoryBlock oversized(good.getData(), good.getSize() / 2);
        const juce::uint32 huge = juce::ByteOrder::swapIfBigEndian(juce::uint32{1000000});
        oversized.copyFrom(&huge, 4, 4);
        blobs.emplace_back("byte count larger than the data", oversized);
    }
    blobs.emplace_back("header only", juce::MemoryBlock(good.getData(), 8));
    blobs.emplace_back("empty", juce::MemoryBlock());
    blobs.emplace_back("another root tag", blobFromXml(R"(<STATE><PARAM id="width" value="2"/></STATE>)"));

    for (const auto& [what, blob] : blobs)
    {
        Processor p;
        randomiseParameters(p, 11);
        const auto before = plainValues(p);
        p.setStateInformation(blob.getData(), static_cast<int>(blob.getSize()));
        EXPECT_EQ(plainValues(p), before) << what;
    }

    Processor p;
    randomiseParameters(p, 11);
    const auto before = plainValues(p);
    p.setStateInformation(nullptr, 0);
    EXPECT_EQ(plainValues(p), before) << "null data";
}

inline bool setMainLayout(juce::AudioProcessor& p, const juce::AudioChannelSet& in,
                          const juce::AudioChannelSet& out)
{
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add(in);
    layout.outputBuses.add(out);
    return p.setBusesLayout(layout);
}

// Mono or stereo in, stereo out; nothing else.
template <typename Processor> void expectMonoOrStereoInStereoOut()
{
    using Set = juce::AudioChannelSet;
    struct Case
    {
        Set in, out;
        bool accepted;
    };
    const Case cases[] = {
        {Set::mono(), Set::stereo(), true},           {Set::stereo(), Set::stereo(), true},
        {Set::stereo(), Set::mono(), false},          {Set::mono(), Set::mono(), false},
        {Set::disabled(), Set::stereo(), false},      {Set::stereo(), Set::disabled(), false},
        {Set::create5point1(), Set::stereo(), false}, {Set::stereo(), Set::create5point1(), false},
        {Set::quadraphonic(), Set::stereo(), false},
    };
    for (const auto& c : cases)
    {
        Processor p;
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add(c.in);
        layout.outputBuses.add(c.out);
        EXPECT_EQ(p.checkBusesLayoutSupported(layout), c.accepted)
            << c.in.getDescription() << " -> " << c.out.getDescription();
    }
}

// Non-finite input samples (what a broken plug-in earlier in the host's chain hands over) are read
// as silence: the output, and what the plug-in's meters read (`readings`), equal those of the
// same input with those samples at 0, and the output is finite. `material` is stereo, 48 kHz.
template <typename Processor>
void expectNonFiniteInputReadAsSilence(const juce::AudioBuffer<float>& material,
                                       const std::function<std::vector<float>(Processor&)>& readings)
{
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    constexpr float inf = std::numeric_limits<float>::infinity();
    struct Case
    {
        const char* what;
        int firstChannel, lastChannel;
        int at, length;
        float value;
        bool monoInput;
    };
    const Case cases[] = {
        {"one NaN on the left", 0, 0, 12000, 1, nan, false},
        {"one +inf on the right", 1, 1, 12000, 1, inf, false},
        {"one -inf on both sides", 0, 1, 30001, 1, -inf, false},
        {"NaN across three blocks on both sides", 0, 1, 20000, 700, nan, false},
        {"a NaN in a mono input", 0, 0, 12000, 1, nan, true},
    };
    const int block = 256;
    for (const auto& c : cases)
    {
        auto render = [&](float value, std::vector<float>& read)
        {
            Processor p;
            setMainLayout(p, c.monoInput ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo(),
                          juce::AudioChannelSet::stereo());
            p.prepareToPlay(48000.0, block);
            juce::AudioBuffer<float> input(material);
            for (int ch = c.firstChannel; ch <= c.lastChannel; ++ch)
                for (int i = c.at; i < c.at + c.length; ++i)
                    input.setSample(ch, i, value);
            juce::AudioBuffer<float> buffer(2, block);
            juce::MidiBuffer midi;
            for (int pos = 0; pos + block <= input.getNumSamples(); pos += block)
            {
                for (int ch = 0; ch < 2; ++ch)
                    buffer.copyFrom(ch, 0, input, ch, pos, block);
                EXPECT_NO_HEAP(p.processBlock(buffer, midi));
                for (int ch = 0; ch < 2; ++ch)
                    input.copyFrom(ch, pos, buffer, ch, 0, block);
            }
            read = readings(p);
            return input;
        };
        std::vector<float> readWithBadSamples, readWithZeros;
        const auto got = render(c.value, readWithBadSamples);
        const auto want = render(0.0f, readWithZeros);
        bool finite = true;
        float worst = 0.0f;
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < got.getNumSamples(); ++i)
            {
                finite = finite && std::isfinite(got.getSample(ch, i));
                worst = std::max(worst, std::abs(got.getSample(ch, i) - want.getSample(ch, i)));
            }
        EXPECT_TRUE(finite) << c.what;
        EXPECT_EQ(worst, 0.0f) << c.what;
        EXPECT_EQ(readWithBadSamples, readWithZeros) << c.what;
    }
}

} // namespace testsupport
