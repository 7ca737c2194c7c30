#pragma once

#include "Transport.h"

#include <juce_core/juce_core.h>

#include <functional>
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

    // Takes the argument after an option into `out`; false when there is none.
    using ValueReader = std::function<bool(juce::String& out)>;
    // A tool's own options: true when it knows `option` (taking its value through the reader),
    // with `error` set (one line) when it is malformed.
    using OwnOptions =
        std::function<bool(const juce::String& option, const ValueReader& value, juce::String& error)>;

    // Parses a command line: these options, the tool's own, and what is left (arguments that are
    // not options) into `positional`. Returns an error (one line) or an empty string.
    juce::String parse(const juce::StringArray& args, const OwnOptions& own, juce::StringArray& positional);

    // The transport settings for a sample rate: the jump placed on its sample.
    Transport::Settings transportAt(double sampleRate) const;

    // The --help lines of these options.
    static const char* usage();

private:
    bool parseOption(const juce::String& option, const ValueReader& value, juce::String& error);
};

// A number in plain notation ("-1.5", "2e3"); false for anything else.
bool parsePlainNumber(const juce::String& text, double& out);
