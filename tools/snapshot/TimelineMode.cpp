// snapshot --timeline: plays a whole WAV file through the plug-in's processor in-process (no
// editor) and writes one picture of the take.
#include "ModeSupport.h"

#include "render/Playback.h"
#include "render/Progress.h"
#include "timeline/TakePicture.h"

#include <iostream>

namespace snapshot
{
namespace
{
struct TimelineOptions : PictureOptions
{
    int width = timeline::TakePicture::defaultWidth, height = timeline::TakePicture::defaultHeight;
    bool progress = false;

    juce::String parse(const juce::StringArray& args)
    {
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
            else if (a == "--at" || a == "--scale" || a == "--view")
                error = "--timeline pictures the whole take: it takes no " + a;
            else
                return false;
            return true;
        };
        return parseWith(args, own);
    }
};

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
    Take take;
    if (const auto error = take.read(opt); error.isNotEmpty())
        return fail(error);
    const auto& input = take.input;
    const double rate = take.rate;
    const auto total = static_cast<juce::int64>(input.getNumSamples());
    if (total == 0 || rate <= 0.0)
        return fail(opt.input.getFullPathName() + " holds no audio");

    if (const auto error = take.setUp(plugin, opt); error.isNotEmpty())
        return fail(error);
    auto& p = take.processor();
    auto& playback = take.playback();

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
    const auto file = opt.folder.getChildFile(opt.prefix(plugin) + "-timeline.png");
    if (!writePng(image, file))
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
        return badCommandLine(error);
    if (!plugin.timeline)
        return fail(plugin.name + " has no timeline");
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    return play(plugin, opt);
}
} // namespace snapshot
