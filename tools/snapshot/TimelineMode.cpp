// snapshot --timeline: plays a whole WAV file through the plug-in's processor in-process (no
// editor) and writes one picture of the take.
#include "Snapshot.h"

#include "render/Playback.h"
#include "render/Progress.h"
#include "timeline/TakePicture.h"

#include <iostream>

namespace snapshot
{
namespace
{
struct TimelineOptions : PlaybackOptions
{
    juce::File input, folder;
    juce::String name;
    int width = timeline::TakePicture::defaultWidth, height = timeline::TakePicture::defaultHeight;
    bool progress = false;

    juce::String parse(const juce::StringArray& args)
    {
        juce::StringArray positional;
        const auto own = [this](const juce::String& a, const ValueReader& next, juce::String& error)
        {
            juce::String value;
            const auto size = [&](int& out, int minimum, const char* what)
            {
                if (!next(value) || !value.containsOnly("0123456789") || value.isEmpty() ||
                    value.length() > 6 || value.getIntValue() < minimum || value.getIntValue() > 8192)
                    error = "--" + juce::String(what) + " needs the picture's " + what + " in pixels, " +
                            juce::String(minimum) + " to 8192";
                else
                    out = value.getIntValue();
            };
            if (a == "--timeline")
                return true;
            if (a == "--width")
                size(width, timeline::TakePicture::minimumWidth, "width");
            else if (a == "--height")
                size(height, timeline::TakePicture::minimumHeight, "height");
            else if (a == "--progress")
                progress = true;
            else if (a == "--name")
            {
                if (!next(value) || value.isEmpty() || value.containsAnyOf("/\\"))
                    error = "--name needs a file name prefix";
                else
                    name = value;
            }
            else if (a == "--at" || a == "--scale" || a == "--view")
                error = "--timeline pictures the whole take: it takes no " + a;
            else
                return false;
            return true;
        };
        if (const auto error = PlaybackOptions::parse(args, own, positional); error.isNotEmpty())
            return error;
        if (positional.size() != 2)
            return "give the input file and the output folder";
        const auto cwd = juce::File::getCurrentWorkingDirectory();
        input = cwd.getChildFile(positional[0]);
        folder = cwd.getChildFile(positional[1]);
        return {};
    }
};

int fail(const juce::String& message)
{
    std::cerr << "snapshot: " << message << "\n";
    return 1;
}

juce::String settingsText(const TimelineOptions& opt)
{
    juce::StringArray parts;
    for (const auto& s : opt.settings)
        parts.add(s.id + "=" + s.value);
    if (opt.automation)
        parts.add(opt.automation->setting.id + "=" + opt.automation->setting.value + " at " +
                  juce::String(opt.automation->atSeconds, 2) + " s");
    if (opt.transport.playing)
        parts.add("playing at " + juce::String(opt.transport.bpm, 0) + " bpm");
    if (opt.loadState != juce::File())
        parts.add("state " + opt.loadState.getFileName());
    return parts.joinIntoString(", ");
}

bool writePicture(const juce::Image& image, const juce::File& file)
{
    const auto temp = file.getSiblingFile("." + file.getFileName() + ".tmp");
    temp.deleteFile();
    {
        juce::FileOutputStream out(temp);
        if (!out.openedOk() || !juce::PNGImageFormat().writeImageToStream(image, out))
        {
            temp.deleteFile();
            return false;
        }
    }
    if (temp.moveFileTo(file))
        return true;
    temp.deleteFile();
    return false;
}

timeline::Block blockAt(juce::AudioProcessor& p, juce::int64 start)
{
    timeline::Block block;
    block.start = start;
    if (auto* head = p.getPlayHead())
        if (const auto position = head->getPosition())
        {
            block.playing = position->getIsPlaying();
            if (const auto q = position->getPpqPosition())
                block.quarterNotes = *q;
            if (const auto bpm = position->getBpm())
                block.bpm = *bpm;
            if (const auto signature = position->getTimeSignature())
            {
                block.barNumerator = signature->numerator;
                block.barDenominator = signature->denominator;
            }
        }
    return block;
}

int play(const Plugin& plugin, const TimelineOptions& opt)
{
    if (!opt.input.existsAsFile())
        return fail("no input file " + opt.input.getFullPathName());
    if (opt.loadState != juce::File() && !opt.loadState.existsAsFile())
        return fail("no state file " + opt.loadState.getFullPathName());

    juce::AudioBuffer<float> input;
    double rate = 0.0;
    if (const auto error = readAudioFile(opt.input, input, rate); error.isNotEmpty())
        return fail(error);
    const auto total = static_cast<juce::int64>(input.getNumSamples());
    if (total == 0 || rate <= 0.0)
        return fail(opt.input.getFullPathName() + " holds no audio");

    auto processor = plugin.createProcessor();
    auto& p = *processor;
    ParameterPlan plan;
    if (const auto error = setUpForPlayback(p, opt, input.getNumChannels(), rate, false, plan);
        error.isNotEmpty())
        return fail(error);
    Playback playback(p, opt, plan, rate, [&] { p.prepareToPlay(rate, opt.blockMax); });

    timeline::TakeInfo info;
    info.fileName = opt.input.getFileName();
    info.sampleRate = rate;
    info.settings = settingsText(opt);
    auto recorder = plugin.timeline(p, info);

    Progress progress(opt.progress, total > static_cast<juce::int64>(60.0 * rate));
    recordTake(p, playback, input, *recorder,
               [&](const juce::AudioBuffer<float>&, juce::int64 start, int length)
               { progress.show(start + length, total); });

    const auto image = recorder->picture(opt.width, opt.height);
    if (!opt.folder.createDirectory())
        return fail("cannot create " + opt.folder.getFullPathName());
    const auto name = opt.name.isNotEmpty() ? opt.name : plugin.name.toLowerCase();
    const auto file = opt.folder.getChildFile(name + "-timeline.png");
    if (!writePicture(image, file))
        return fail("cannot write " + file.getFullPathName());
    std::cout << file.getFullPathName() << "\n" << recorder->figuresLine() << std::endl;
    return 0;
}
} // namespace

void recordTake(juce::AudioProcessor& processor, Playback& playback, const juce::AudioBuffer<float>& input,
                timeline::Recorder& recorder, const BlockCallback& played)
{
    const auto total = static_cast<juce::int64>(input.getNumSamples());
    while (playback.position() < total)
    {
        auto block = blockAt(processor, playback.position());
        block.length = playback.processNext(input, total);
        recorder.afterBlock(block);
        if (played)
            played(playback.block(), block.start, block.length);
    }
    recorder.finish(total);
}

const char* timelineUsage()
{
    return R"(  --timeline              instead: one picture of the whole take, <out folder>/<name>-timeline.png,
                          the audio played through the processor alone, as fast as it goes
  --width PIXELS          the timeline's width (default 1200)
  --height PIXELS         the timeline's height (default 640)
  --progress              show progress (shown anyway for takes over a minute on a terminal)
)";
}

int runTimeline(const Plugin& plugin, const juce::StringArray& args)
{
    TimelineOptions opt;
    if (const auto error = opt.parse(args); error.isNotEmpty())
    {
        std::cerr << "snapshot: " << error << " (--help shows the options)\n";
        return 2;
    }
    if (!plugin.timeline)
        return fail(plugin.name + " has no timeline");
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    return play(plugin, opt);
}
} // namespace snapshot
