// A picture of a whole take: what a plug-in did from the first second to the last. A Recorder
// gathers what the plug-in publishes for its editor after every block of a playback (the
// processor and the recorder on one thread, one after the other) and draws it as one PNG-ready
// image, with a time axis in minutes and seconds and a row of figures.
#pragma once

#include <juce_graphics/juce_graphics.h>

#include <optional>
#include <vector>

namespace timeline
{
// A block that was just played, and what the transport said for it.
struct Block
{
    juce::int64 start = 0; // first sample
    int length = 0;
    bool playing = false;
    std::optional<double> quarterNotes; // song position at the block's start
    double bpm = 0.0;                   // 0: no tempo
    int barNumerator = 4, barDenominator = 4;
};

// What the picture says about the take beside the plug-in's own measurements.
struct TakeInfo
{
    juce::String fileName;
    double sampleRate = 48000.0;
    juce::String settings; // the settings given, "ID=VALUE, ..."; empty for the defaults
};

// One figure of the row beneath the picture: a caption and its value.
struct Figure
{
    juce::String caption, value;
};

class Recorder
{
public:
    virtual ~Recorder() = default;

    // After the processor played `block`.
    virtual void afterBlock(const Block& block) = 0;
    // The take ended after `length` samples.
    virtual void finish(juce::int64 length) = 0;

    virtual juce::Image picture(int width, int height) = 0;
    // The figures the picture shows, as one line of text.
    virtual juce::String figuresLine() const = 0;
};

// Short-term loudness (LUFS, -100 where there is no reading) every 100 ms of the take.
struct LoudnessTrack
{
    static constexpr double hopSeconds = 0.1;
    std::vector<float> values;
    float integrated = -100.0f;
};

// Takes a reading of a meter at every 100 ms of audio that a block reached.
class LoudnessSampler
{
public:
    // `reading` is the meter's short-term value, or -100 while it has none (or sleeps).
    void afterBlock(LoudnessTrack& track, juce::int64 blockEnd, double sampleRate, float reading);

private:
    juce::int64 taken = 0; // readings so far
};

// The loudness range (EBU Tech 3342) of short-term readings taken every 100 ms: readings below
// -70 LUFS are dropped, then those more than 20 LU below the power mean of the rest; the range
// is the spread from the 10th to the 95th percentile of what remains. Nothing when no reading
// passes the gates.
std::optional<float> loudnessRange(const std::vector<float>& shortTermLufs);

// The spacing of the time axis' labels: the shortest of 0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30 s,
// 1, 2, 5, 10, 15, 30 min and 1 h that puts them at least `minimumPixels` apart.
double tickSeconds(double takeSeconds, float plotWidth, float minimumPixels);

// A time on the axis: "0:00", "1:05", "1:02:03"; with a tenth ("0:02.5") when the ticks are
// less than a second apart.
juce::String clockText(double seconds, double tickSpacing);

// A loudness value for the figures: "-16.1" or "none".
juce::String lufsText(float value);
} // namespace timeline
