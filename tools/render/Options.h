#pragma once

#include "PlaybackOptions.h"

// What the render tool was asked to do, parsed from its command line.
struct RenderOptions : PlaybackOptions
{
    juce::File plugin;
    juce::File input, output;
    bool info = false;
    double infoRate = 48000.0;

    int bits = 24;
    double tailSeconds = 0.0;

    juce::File saveState;
    bool progress = false;

    // Returns an error message (one line) or an empty string.
    juce::String parse(const juce::StringArray& args);

    static juce::String usage();
};
