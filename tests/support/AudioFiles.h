#pragma once

// WAV files for the tests: reading and writing them, and the demo material the build makes
// (MOSSLIGHT_DEMO_DIR).
#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace testsupport
{

inline juce::AudioBuffer<float> readWav(const juce::File& file, double* sampleRate = nullptr)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader(formats.createReaderFor(file));
    if (reader == nullptr)
        return {};
    juce::AudioBuffer<float> buffer(static_cast<int>(reader->numChannels),
                                    static_cast<int>(reader->lengthInSamples));
    reader->read(&buffer, 0, buffer.getNumSamples(), 0, true, true);
    if (sampleRate != nullptr)
        *sampleRate = reader->sampleRate;
    return buffer;
}

inline void writeWav(const juce::File& file, const juce::AudioBuffer<float>& buffer, double sampleRate,
                     int bits = 32)
{
    file.deleteFile();
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer(
        wav.createWriterFor(new juce::FileOutputStream(file), sampleRate,
                            static_cast<unsigned int>(buffer.getNumChannels()), bits, {}, 0));
    writer->writeFromAudioSampleBuffer(buffer, 0, buffer.getNumSamples());
}

// A file of the demo material the build makes ("phrase.wav", "drums.wav"). Every test that reads
// a missing or broken one fails (and gets an empty buffer).
inline juce::AudioBuffer<float> readDemo(const char* name, double* sampleRate = nullptr)
{
    const auto file = juce::File(MOSSLIGHT_DEMO_DIR).getChildFile(name);
    auto buffer = readWav(file, sampleRate);
    if (buffer.getNumSamples() == 0)
        ADD_FAILURE() << "demo material missing or unreadable: " << file.getFullPathName();
    return buffer;
}

// `length` samples of a file of the demo material from sample `from`, on two channels (a mono
// file on both).
inline juce::AudioBuffer<float> demoExcerpt(const char* name, int from, int length)
{
    const auto all = readDemo(name);
    juce::AudioBuffer<float> x(2, length);
    x.clear();
    if (all.getNumChannels() == 0)
        return x;
    for (int c = 0; c < 2; ++c)
        x.copyFrom(c, 0, all, std::min(c, all.getNumChannels() - 1), from,
                   std::min(length, all.getNumSamples() - from));
    return x;
}

// A file of the demo material repeated up to `length` samples, on two channels.
inline juce::AudioBuffer<float> demoLoop(const char* name, int length)
{
    const auto all = readDemo(name);
    juce::AudioBuffer<float> x(2, length);
    x.clear();
    for (int c = 0; all.getNumSamples() > 0 && c < 2; ++c)
        for (int i = 0; i < length; ++i)
            x.setSample(c, i, all.getSample(std::min(c, all.getNumChannels() - 1), i % all.getNumSamples()));
    return x;
}

} // namespace testsupport
