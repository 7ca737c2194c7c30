#include "ModeSupport.h"

#include <iostream>

namespace snapshot
{
juce::String PictureOptions::parseWith(const juce::StringArray& args, const OwnOptions& own)
{
    const auto withName = [this, &own](const juce::String& a, const ValueReader& next, juce::String& error)
    {
        if (a != "--name")
            return own(a, next, error);
        juce::String value;
        if (!next(value) || value.isEmpty() || value.containsAnyOf("/\\"))
            error = "--name needs a file name prefix";
        else
            name = value;
        return true;
    };
    juce::StringArray positional;
    if (const auto error = parse(args, withName, positional); error.isNotEmpty())
        return error;
    if (positional.size() != 2)
        return "give the input file and the output folder";
    const auto cwd = juce::File::getCurrentWorkingDirectory();
    input = cwd.getChildFile(positional[0]);
    folder = cwd.getChildFile(positional[1]);
    return {};
}

juce::String PictureOptions::prefix(const Plugin& plugin) const
{
    return name.isNotEmpty() ? name : plugin.name.toLowerCase();
}

juce::String Take::read(const PictureOptions& options)
{
    if (!options.input.existsAsFile())
        return "no input file " + options.input.getFullPathName();
    if (options.loadState != juce::File() && !options.loadState.existsAsFile())
        return "no state file " + options.loadState.getFullPathName();
    return readAudioFile(options.input, input, rate);
}

juce::String Take::setUp(const Plugin& plugin, const PictureOptions& options)
{
    ownProcessor = plugin.createProcessor();
    auto& p = *ownProcessor;
    if (const auto error = setUpForPlayback(p, options, input.getNumChannels(), rate, false, plan);
        error.isNotEmpty())
        return error;
    ownPlayback =
        std::make_unique<Playback>(p, options, plan, rate, [&] { p.prepareToPlay(rate, options.blockMax); });
    return {};
}

int fail(const juce::String& message)
{
    std::cerr << "snapshot: " << message << "\n";
    return 1;
}

int badCommandLine(const juce::String& error)
{
    std::cerr << "snapshot: " << error << " (--help shows the options)\n";
    return 2;
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
    if (temp.moveFileTo(file))
        return true;
    temp.deleteFile();
    return false;
}
} // namespace snapshot
