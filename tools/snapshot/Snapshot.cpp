#include "Snapshot.h"

#include "common/ui/SizeButton.h"
#include "render/Playback.h"

#include <juce_audio_formats/juce_audio_formats.h>

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
        for (int i = 0; i < args.size(); ++i)
        {
            juce::String error;
            if (parseOption(args, i, error))
            {
                if (error.isNotEmpty())
                    return error;
                continue;
            }
            const auto& a = args[i];
            const bool hasValue = i + 1 < args.size();
            const auto value = hasValue ? args[i + 1] : juce::String();
            double number = 0.0;
            if (a == "--at")
            {
                if (!hasValue || !parsePlainNumber(value, number) || number < 0.0)
                    return "--at needs seconds into the audio";
                moments.push_back(number);
                ++i;
            }
            else if (a == "--scale")
            {
                if (!hasValue || !value.containsOnly("0123456789") ||
                    !SizeButton::isChoice(value.getIntValue()))
                    return "--scale needs a window scale in percent: 90, 100, 115, 130, 150, 175 or 200";
                scales.push_back(value.getIntValue());
                ++i;
            }
            else if (a == "--name")
            {
                if (!hasValue || value.isEmpty() || value.containsAnyOf("/\\"))
                    return "--name needs a file name prefix";
                name = value;
                ++i;
            }
            else if (a == "--view")
            {
                if (!hasValue || !value.contains("="))
                    return "--view needs NAME=VALUE";
                views.add({value.upToFirstOccurrenceOf("=", false, false).trim(),
                           value.fromFirstOccurrenceOf("=", false, false).trim()});
                ++i;
            }
            else if (a.startsWith("--"))
                return "unknown option " + a;
            else
                positional.add(a);
        }
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

    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader(formats.createReaderFor(opt.input));
    if (reader == nullptr)
        return fail("cannot read " + opt.input.getFullPathName() + " (not a readable audio file)");
    const int inChannels = static_cast<int>(reader->numChannels);
    if (inChannels < 1 || inChannels > 2)
        return fail(opt.input.getFullPathName() + " has " + juce::String(inChannels) +
                    " channels; mono or stereo only");
    const double rate = reader->sampleRate;
    const auto length = static_cast<int>(reader->lengthInSamples);
    juce::AudioBuffer<float> input(inChannels, length);
    if (!reader->read(&input, 0, length, 0, true, inChannels > 1))
        return fail("cannot read " + opt.input.getFullPathName());
    reader.reset();

    const double seconds = length / rate;
    auto moments = opt.moments;
    if (moments.empty())
        moments.push_back(seconds);
    if (moments.back() > seconds + 1e-9)
        return fail("--at " + juce::String(moments.back()) + " lies beyond the end of the audio (" +
                    juce::String(seconds, 3) + " s)");

    auto processor = plugin.createProcessor();
    auto& p = *processor;
    if (inChannels == 1)
    {
        juce::AudioProcessor::BusesLayout monoIn;
        monoIn.inputBuses.add(juce::AudioChannelSet::mono());
        monoIn.outputBuses.add(juce::AudioChannelSet::stereo());
        p.setBusesLayout(monoIn);
    }
    ParameterPlan plan;
    if (const auto error = plan.resolve(p, opt, rate, false); error.isNotEmpty())
        return fail(error);
    if (opt.loadState != juce::File())
    {
        juce::MemoryBlock state;
        if (!opt.loadState.loadFileAsData(state))
            return fail("cannot read state file " + opt.loadState.getFullPathName());
        p.setStateInformation(state.getData(), static_cast<int>(state.getSize()));
    }

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
