#pragma once

#include "timeline/Timeline.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <functional>
#include <memory>

class Playback;

// snapshot: plays an audio file through a plug-in's processor in-process, with its editor open
// and refreshing at the pace of the audio, and writes PNG pictures of the whole editor at chosen
// moments and window scales. Headless: no display is needed. Each plug-in has its own small
// program that describes it and calls run().
namespace snapshot
{
struct Plugin
{
    juce::String name; // "Mirrel": the usage text and the default file names

    std::function<std::unique_ptr<juce::AudioProcessor>()> createProcessor;

    // Options of this plug-in's editor (--view NAME=VALUE), applied before each picture; returns
    // an error (one line) or an empty string. Empty when the editor has none.
    std::function<juce::String(juce::AudioProcessorEditor&, const juce::String& name,
                               const juce::String& value)>
        viewOption;
    juce::String viewUsage; // what --view takes, for --help

    // The recorder behind --timeline (the picture of a whole take) for a processor about to play.
    std::function<std::unique_ptr<timeline::Recorder>(juce::AudioProcessor&, const timeline::TakeInfo&)>
        timeline;
};

// The program: parses the command line, plays, writes the pictures. Returns the exit code.
int run(const Plugin& plugin, int argc, char** argv);

// --timeline: one picture of the whole take instead of the editor's (TimelineMode.cpp).
int runTimeline(const Plugin& plugin, const juce::StringArray& args);
const char* timelineUsage();

// Plays the whole of `input` and hands the recorder every block with what the transport said
// for it, then the take's end; `played` (may be empty) sees each processed block.
using BlockCallback =
    std::function<void(const juce::AudioBuffer<float>& block, juce::int64 start, int length)>;
void recordTake(juce::AudioProcessor& processor, Playback& playback, const juce::AudioBuffer<float>& input,
                timeline::Recorder& recorder, const BlockCallback& played);

// The editor's refresh as its timer would run it, once.
void tick(juce::AudioProcessorEditor& editor);

// The whole editor as a picture at a window scale in percent: through its size button when it
// has one (the window the user gets at that scale), else drawn scaled.
juce::Image picture(juce::AudioProcessorEditor& editor, int percent);
} // namespace snapshot
