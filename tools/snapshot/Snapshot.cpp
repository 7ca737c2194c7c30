#include "ModeSupport.h"

#include "common/ui/SizeButton.h"
#include "render/Playback.h"

#include <iostream>
#include <vector>

namespace snapshot
{
namespace
{
constexpr double tickSeconds = 0.033; // the editors' refresh period

struct Options : PictureOptions
{
    std::vector<double> moments; // seconds
    std::vector<int> scales;     // percent
    juce::Array<Setting> views;

    juce::String parse(const juce::StringArray& args)
    {
        const auto own = [this](const juce::String& a, const ValueReader& next, juce::String& error)
        {
            juce::String value;
            double number = 0.0;
            if (a == "--at")
            {
                if (!next(value) || !parsePlainNumber(value, number) || number < 0.0)
                    error = "--at needs seconds into the audio";
                else
                    moments.push_back(number);
            }
            else if (a == "--scale")
            {
                if (!next(value) || !value.containsOnly("0123456789") ||
                    !SizeButton::isChoice(value.getIntValue()))
                    error = "--scale needs a window scale in percent: 90, 100, 115, 130, 150, 175 or 200";
                else
                    scales.push_back(value.getIntValue());
            }
            else if (a == "--view")
            {
                if (!next(value) || !value.contains("="))
                    error = "--view needs NAME=VALUE";
                else
                    views.add({value.upToFirstOccurrenceOf("=", false, false).trim(),
                               value.fromFirstOccurrenceOf("=", false, false).trim()});
            }
            else
                return false;
            return true;
        };
        if (const auto error = parseWith(args, own); error.isNotEmpty())
            return error;
        if (scales.empty())
            scales.push_back(100);
        std::sort(moments.begin(), moments.end());
        return {};
    }
};

juce::String usage(const Plugin& plugin)
{
    const auto program = "snapshot-" + plugin.name.toLowerCase();
    auto text =
        "usage: " + program + " <in.wav> <out folder> [options]\n\n" + "Plays a WAV file through " +
        plugin.name +
        " in-process with its editor open, the editor refreshing every 33 ms of audio, and\n"
        "writes PNG pictures of the whole editor: <out folder>/<name>-<seconds>s@<scale>.png.\n\n"
        "options:\n"
        "  --at S                  a picture S seconds into the audio (repeatable; default: at the end)\n"
        "  --scale PERCENT         window scale: 90, 100, 115, 130, 150, 175, 200 (repeatable; default 100)\n"
        "  --name NAME             file name prefix (default: " +
        plugin.name.toLowerCase() + ")\n";
    if (plugin.viewOption)
        text += "  --view NAME=VALUE       editor view: " + plugin.viewUsage + "\n";
    if (plugin.timeline)
        text += timelineUsage();
    return text + PlaybackOptions::usage();
}

SizeButton* findSizeButton(juce::Component& c)
{
    if (auto* button = dynamic_cast<SizeButton*>(&c))
        return button;
    for (auto* child : c.getChildren())
        if (auto* button = findSizeButton(*child))
            return button;
    return nullptr;
}

int play(const Plugin& plugin, const Options& opt)
{
    Take take;
    if (const auto error = take.read(opt); error.isNotEmpty())
        return fail(error);
    if (!opt.folder.createDirectory())
        return fail("cannot create " + opt.folder.getFullPathName());
    const auto& input = take.input;
    const double rate = take.rate;
    const int length = input.getNumSamples();

    const double seconds = length / rate;
    auto moments = opt.moments;
    if (moments.empty())
        moments.push_back(seconds);
    if (moments.back() > seconds + 1e-9)
        return fail("--at " + juce::String(moments.back()) + " lies beyond the end of the audio (" +
                    juce::String(seconds, 3) + " s)");

    if (const auto error = take.setUp(plugin, opt); error.isNotEmpty())
        return fail(error);
    auto& p = take.processor();
    auto& playback = take.playback();
    std::unique_ptr<juce::AudioProcessorEditor> editor(p.createEditorIfNeeded());
    if (editor == nullptr)
        return fail(plugin.name + " has no editor");
    for (const auto& view : opt.views)
    {
        if (!plugin.viewOption)
            return fail(plugin.name + "'s editor takes no --view options");
        if (const auto error = plugin.viewOption(*editor, view.id, view.value); error.isNotEmpty())
            return fail(error);
    }

    const auto name = opt.prefix(plugin);
    const auto samplesAt = [rate](double t) { return static_cast<juce::int64>(std::llround(t * rate)); };
    const auto total = static_cast<juce::int64>(length);
    juce::int64 ticks = 0;
    size_t next = 0;
    // The refresh runs every 33 ms of audio, after the block that reaches that moment; pictures
    // are taken after the refreshes up to their moment.
    while (next < moments.size())
    {
        if (playback.position() < total && playback.position() < samplesAt(moments[next]))
            playback.processNext(input, total);
        while (samplesAt(static_cast<double>(ticks + 1) * tickSeconds) <= playback.position())
        {
            tick(*editor);
            ++ticks;
        }
        while (next < moments.size() &&
               (samplesAt(moments[next]) <= playback.position() || playback.position() >= total))
        {
            for (const int percent : opt.scales)
            {
                const auto file = opt.folder.getChildFile(name + "-" + juce::String(moments[next], 2) + "s@" +
                                                          juce::String(percent) + ".png");
                if (!writePng(picture(*editor, percent), file))
                    return fail("cannot write " + file.getFullPathName());
                std::cout << file.getFullPathName() << std::endl;
            }
            ++next;
        }
    }
    editor.reset();
    return 0;
}
} // namespace

void tick(juce::AudioProcessorEditor& editor)
{
    if (auto* timer = dynamic_cast<juce::Timer*>(&editor))
        timer->timerCallback();
}

juce::Image picture(juce::AudioProcessorEditor& editor, int percent)
{
    if (auto* sizeButton = findSizeButton(editor))
    {
        sizeButton->apply(percent, false);
        return editor.createComponentSnapshot(editor.getLocalBounds(), true, 1.0f);
    }
    return editor.createComponentSnapshot(editor.getLocalBounds(), true,
                                          static_cast<float>(percent) / 100.0f);
}

int run(const Plugin& plugin, int argc, char** argv)
{
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add(juce::String::fromUTF8(argv[i]));
    if (args.isEmpty() || args.contains("--help") || args.contains("-h"))
    {
        std::cout << usage(plugin);
        return args.isEmpty() ? 2 : 0;
    }
    if (args.contains("--timeline"))
        return runTimeline(plugin, args);
    Options opt;
    if (const auto error = opt.parse(args); error.isNotEmpty())
        return badCommandLine(error);
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    return play(plugin, opt);
}
} // namespace snapshot
