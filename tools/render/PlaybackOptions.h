#pragma once

#include "Transport.h"

#include <juce_core/juce_core.h>

#include <optional>

// How a tool plays audio through a plug-in: parameter settings, one automated change, block
// sizes, the simulated transport and a saved state to start from. The render tool and the
// snapshot tool take the same options.
struct PlaybackOptions
{
    struct Setting
    {
        juce::String id;
        juce::String value;
    };

    struct Automation
    {
        Setting setting;
        double atSeconds = 0.0;
    };

    juce::Array<Setting> settings;
    std::optional<Automation> automation;

    int blockMin = 512, blockMax = 512;
    juce::int64 seed = 1;

    Transport::Settings transport;
    std::optional<std::pair<double, double>> jump; // at seconds, to quarter notes

    juce::File loadState;

    // When args[i] is one of these options, takes it and its value (advancing i) and returns
    // true, with `error` set (one line) when it is malformed; returns false for other arguments.
    bool parseOption(const juce::StringArray& args, int& i, juce::String& error);

    // The transport settings for a sample rate: the jump placed on its sample.
    Transport::Settings transportAt(double sampleRate) const;

    // The --help lines of these options.
    static const char* usage();
};

// A number in plain notation ("-1.5", "2e3"); false for anything else.
bool parsePlainNumber(const juce::String& text, double& out);
