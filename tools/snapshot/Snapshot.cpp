#include "Snapshot.h"

#include "common/ui/SizeButton.h"
#include "render/Playback.h"

#include <iostream>
#include <vector>

namespace snapshot
{
namespace
{
constexpr double tickSeconds = 0.033; // the editors' refresh period

struct Options : PlaybackOptions
{
    juce::File input, folder;
    juce::String name;
    std::vector<double> moments; // seconds
    std::vector<int> scales;     // percent
    juce::Array<Setting> views;

    juce::String parse(const juce::StringArray& args)
    {
        juce::StringArray positional;
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
            else if (a == "--name")
            {
                if (!next(value) || value.isEmpty() || value.containsAnyOf("/\\"))
                    error = "--name needs a file name prefix";
                else
                    name = value;
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
        if (const auto error = PlaybackOptions::parse(args, own, positional); error.isNotEmpty())
            return error;
        if (positional.size() != 2)
            return "give the input file and the output folder";
        const auto cwd = juce::File::getCurrentWorkingDirectory();
        input = cwd.getChildFile(positional[0]);
        folder = cwd.getChildFile(positional[1]);
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

int fail(const juce::String& message)
{
    std::cerr << "snapshot: " << message << "\n";
    return 1;
}

bool writePng(const juce::Image& image, const juce::File& file)
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
    return temp.moveFileTo(file);
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
    if (!opt.input.existsAsFile())
        return fail("no input file " + opt.input.getFullPathName());
    if (opt.loadState != juce::File() && !opt.loadState.existsAsFile())
        return fail("no state file " + opt.loadState.getFullPathName());
    if (!opt.folder.createDirectory())
        return fail("cannot create " + opt.folder.getFullPathName());

    juce::AudioBuffer<float> input;
    double rate = 0.0;
    if (const auto error = readAudioFile(opt.input, input, rate); error.isNotEmpty())
        return fail(error);
    const int length = input.getNumSamples();

    const double seconds = length / rate;
    auto moments = opt.moments;
    if (moments.empty())
        moments.push_back(seconds);
    if (moments.back() > seconds + 1e-9)
        return fail("--at " + juce::String(moments.back()) + " lies beyond the end of the audio (" +
                    juce::String(seconds, 3) + " s)");

    auto processor = plugin.createProcessor();
    auto& p = *processor;
    ParameterPlan plan;
    if (const auto error = setUpForPlayback(p, opt, input.getNumChannels(), rate, false, plan);
        error.isNotEmpty())
        return fail(error);

    Playback playback(p, opt, plan, rate, [&] { p.prepareToPlay(rate, opt.blockMax); });
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

    const auto name = opt.name.isNotEmpty() ? opt.name : plugin.name.toLowerCase();
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
    {
        std::cerr << "snapshot: " << error << " (--help shows the options)\n";
        return 2;
    }
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    return play(plugin, opt);
}
} // namespace snapshot
