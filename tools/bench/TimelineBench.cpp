// timeline-bench: what a picture of a whole take costs beside the render itself. A long take
// (the demo phrase, or the drum loop for Mirrel, repeated to the length asked for) is played
// through the processor twice, as the render tool plays it (host-sized blocks, nothing else) and
// as the snapshot tool's --timeline does (the recorder after every block, then the picture drawn
// and encoded as PNG). Wall-clock and CPU seconds of this thread.
//
// Usage: timeline-bench <demo folder> [--minutes N]
#include "snapshot/Snapshot.h"
#include "render/Playback.h"
#include "sorvel/PluginProcessor.h"
#include "timeline/MirrelTimeline.h"
#include "timeline/SorvelTimeline.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace
{
double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

double wallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Timing
{
    double wall = 0, cpu = 0;
};

template <typename Work> Timing timed(Work&& work)
{
    const double w = wallSeconds(), c = cpuSeconds();
    work();
    return {wallSeconds() - w, cpuSeconds() - c};
}

// The file repeated to `seconds`, on two channels.
juce::AudioBuffer<float> repeated(const juce::File& file, double seconds, double& rate)
{
    juce::AudioBuffer<float> once;
    if (readAudioFile(file, once, rate).isNotEmpty() || once.getNumSamples() == 0)
        return {};
    const int n = static_cast<int>(seconds * rate);
    juce::AudioBuffer<float> take(2, n);
    for (int at = 0; at < n; at += once.getNumSamples())
        for (int c = 0; c < 2; ++c)
            take.copyFrom(c, at, once, juce::jmin(c, once.getNumChannels() - 1), 0,
                          juce::jmin(once.getNumSamples(), n - at));
    return take;
}

Timing sorvelRun(const juce::AudioBuffer<float>& take, double rate, bool withTimeline)
{
    Sorvel2Processor p;
    PlaybackOptions options;
    ParameterPlan plan;
    setUpForPlayback(p, options, 2, rate, false, plan);
    Playback playback(p, options, plan, rate, [&] { p.prepareToPlay(rate, options.blockMax); });
    const auto total = static_cast<juce::int64>(take.getNumSamples());
    return timed(
        [&]
        {
            if (!withTimeline)
            {
                while (playback.position() < total)
                    playback.processNext(take, total);
                return;
            }
            timeline::TakeInfo info;
            info.fileName = "take.wav";
            info.sampleRate = rate;
            timeline::SorvelRecorder recorder(info, p.getFeed(), p.getInputMeter(), p.getOutputMeter());
            snapshot::recordTake(p, playback, take, recorder, {});
            juce::MemoryOutputStream png;
            juce::PNGImageFormat().writeImageToStream(
                recorder.picture(timeline::TakePicture::defaultWidth, timeline::TakePicture::defaultHeight),
                png);
        });
}

// Mirrel's engine and recorder alone (its plug-in code cannot share a program with Sorvel's):
// the drawing and the gathering are what this measures.
Timing mirrelRun(const juce::AudioBuffer<float>& take, double rate, bool withTimeline)
{
    mr::MirrelEngine engine;
    engine.prepare(rate);
    timeline::TakeInfo info;
    info.fileName = "take.wav";
    info.sampleRate = rate;
    timeline::MirrelRecorder recorder(info, engine.feed, engine.loudness(),
                                      [](const char* id)
                                      { return juce::String(id) == "hole" ? 30.0f : 100.0f; });
    juce::AudioBuffer<float> block(2, 512);
    const int total = take.getNumSamples();
    return timed(
        [&]
        {
            for (int start = 0; start < total; start += 512)
            {
                const int n = juce::jmin(512, total - start);
                for (int c = 0; c < 2; ++c)
                    block.copyFrom(c, 0, take, c, start, n);
                mr::TransportState transport{true, true, start / rate * 2.0, true, 120.0};
                engine.process(block.getWritePointer(0), block.getWritePointer(1), n, {}, transport, true);
                if (withTimeline)
                {
                    timeline::Block b;
                    b.start = start;
                    b.length = n;
                    b.playing = true;
                    b.quarterNotes = transport.quarterNotes;
                    b.bpm = 120.0;
                    recorder.afterBlock(b);
                }
            }
            if (withTimeline)
            {
                recorder.finish(total);
                juce::MemoryOutputStream png;
                juce::PNGImageFormat().writeImageToStream(
                    recorder.picture(timeline::TakePicture::defaultWidth,
                                     timeline::TakePicture::defaultHeight),
                    png);
            }
        });
}

void report(const char* what, double seconds, const Timing& plain, const Timing& withTimeline)
{
    std::printf("%s, %.0f s of audio:\n", what, seconds);
    std::printf("  played alone (as render plays it):   %6.2f s wall, %6.2f s CPU\n", plain.wall, plain.cpu);
    std::printf("  with the timeline (record, draw, PNG): %6.2f s wall, %6.2f s CPU\n", withTimeline.wall,
                withTimeline.cpu);
    std::printf("  the timeline's own cost:              %6.2f s wall, %6.2f s CPU\n",
                withTimeline.wall - plain.wall, withTimeline.cpu - plain.cpu);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: timeline-bench <demo folder> [--minutes N]\n");
        return 2;
    }
    double minutes = 10.0;
    if (argc > 3 && juce::String(argv[2]) == "--minutes")
        minutes = juce::jmax(0.1, juce::String(argv[3]).getDoubleValue());
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    const auto demo = juce::File::getCurrentWorkingDirectory().getChildFile(argv[1]);
    const double seconds = minutes * 60.0;

    double rate = 0.0;
    const auto phrase = repeated(demo.getChildFile("phrase.wav"), seconds, rate);
    if (phrase.getNumSamples() == 0)
    {
        std::fprintf(stderr, "timeline-bench: no demo phrase in %s\n", argv[1]);
        return 1;
    }
    const auto plain = sorvelRun(phrase, rate, false);
    const auto drawn = sorvelRun(phrase, rate, true);
    report("Sorvel, the demo phrase repeated, defaults", seconds, plain, drawn);

    double loopRate = 0.0;
    const auto loop = repeated(demo.getChildFile("drums.wav"), seconds, loopRate);
    if (loop.getNumSamples() > 0)
        report("Mirrel's engine, the drum loop repeated, transport playing", seconds,
               mirrelRun(loop, loopRate, false), mirrelRun(loop, loopRate, true));
    return 0;
}
