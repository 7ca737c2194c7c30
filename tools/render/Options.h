#pragma once

#include "Transport.h"

#include <juce_core/juce_core.h>

#include <optional>

// What the render tool was asked to do, parsed from its command line.
struct RenderOptions
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

    juce::File plugin;
    juce::File input, output;
    bool info = false;
    double infoRate = 48000.0;

    juce::Array<Setting> settings;
    std::optional<Automation> automation;

    int blockMin = 512, blockMax = 512;
    juce::int64 seed = 1;
    int bits = 24;
    double tailSeconds = 0.0;

    Transport::Settings transport;
    std::optional<std::pair<double, double>> jump; // at seconds, to quarter notes

    juce::File loadState, saveState;
    bool progress = false;

    // Returns an error message (one line) or an empty string.
    juce::String parse(const juce::StringArray& args);

    static const char* usage();
};
