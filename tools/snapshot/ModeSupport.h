#pragma once

// What the snapshot tool's two modes (pictures of the editor, and --timeline) share: the common
// part of their command lines, their refusals and how they write a picture.
#include "Snapshot.h"

#include "render/Playback.h"

#include <juce_graphics/juce_graphics.h>

#include <memory>

namespace snapshot
{
// <in.wav> <out folder>, the pictures' file name prefix and how the audio is played.
struct PictureOptions : PlaybackOptions
{
    juce::File input, folder;
    juce::String name; // empty: the plug-in's name in lower case

    // Parses a command line: these options, the mode's own (`own`) and the two files. Returns an
    // error (one line) or an empty string.
    juce::String parseWith(const juce::StringArray& args, const OwnOptions& own);

    juce::String prefix(const Plugin& plugin) const;
};

// A take played through the plug-in's own processor, in-process: first the input read, then the
// processor set up to play it as the options ask. Each step returns an error (one line) or an
// empty string.
class Take
{
public:
    // Checks that the input and the state to start from exist, and reads the input.
    juce::String read(const PictureOptions& options);
    juce::String setUp(const Plugin& plugin, const PictureOptions& options);

    juce::AudioBuffer<float> input;
    double rate = 0.0;

    // After setUp.
    juce::AudioProcessor& processor() { return *ownProcessor; }
    Playback& playback() { return *ownPlayback; }

private:
    std::unique_ptr<juce::AudioProcessor> ownProcessor;
    ParameterPlan plan;
    std::unique_ptr<Playback> ownPlayback; // destroyed before the processor
};

// A refusal while running: says why on stderr and returns the exit code 1.
int fail(const juce::String& message);

// A command line that cannot be run: says why on stderr and returns the exit code 2.
int badCommandLine(const juce::String& error);

// Writes a PNG beside `file` and moves it into place, so a failure leaves no half picture.
bool writePng(const juce::Image& image, const juce::File& file);
} // namespace snapshot
