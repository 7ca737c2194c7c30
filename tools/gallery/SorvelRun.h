// Sorvel at work for the gallery: a sung phrase sketched from harmonics (syllables with vibrato,
// a vowel-like tilt, a few esses) run through the real processor, so the views show what the
// processor publishes. Message thread only.
#pragma once

#include "sorvel/PluginProcessor.h"
#include "sorvel/engine/EditorFeed.h"

#include <functional>
#include <map>
#include <vector>

namespace gallery
{
// The phrase at `rate`, one mono sample at a time; peaks around -4 dBFS.
class VocalSketch
{
public:
    explicit VocalSketch(double rate);
    float next();

private:
    double rate;
    double time = 0.0;
    std::vector<double> phases;
    double vibratoPhase = 0.0;
    std::uint32_t noise = 0x2545f491u;
    float hiss1 = 0.0f, hiss2 = 0.0f;
};

// Sets parameters by ID to plain values.
void setParameters(Sorvel2Processor& processor, const std::map<juce::String, float>& values);

// Runs `seconds` of the phrase through the processor at 48 kHz in 512-sample blocks, with the
// spectrum taps on, and hands every new metering record to onRecord and, every 33 ms of audio,
// the tap FIFO to onTick (as the editor's refresh would).
void runPhrase(Sorvel2Processor& processor, double seconds,
               const std::function<void(const sv2::MeteringRecord&)>& onRecord,
               const std::function<void(sv2::TapFifo&)>& onTick = {});
} // namespace gallery
