#include "Options.h"

juce::String RenderOptions::usage()
{
    return juce::String(R"(usage: render <plugin.vst3|plugin.lv2> <in.wav> <out.wav> [options]
       render <plugin.vst3|plugin.lv2> --info [--rate HZ]

Renders a WAV file through a built plug-in, loaded the way a host loads it.

options:
)") + PlaybackOptions::usage() +
           R"(  --bits 16|24|32         output sample format (32 is float; default 24)
  --tail S                render S seconds of silence after the input (default 0)
  --save-state FILE       save the plug-in state after the render
  --progress              show the progress bar even when stderr is not a terminal
)";
}

juce::String RenderOptions::parse(const juce::StringArray& args)
{
    juce::StringArray positional;
    const auto own = [this](const juce::String& a, const ValueReader& next, juce::String& error)
    {
        juce::String v;
        double number = 0.0;
        if (a == "--info")
            info = true;
        else if (a == "--rate")
        {
            if (!next(v) || !parsePlainNumber(v, infoRate) || infoRate < 8000.0 || infoRate > 384000.0)
                error = "--rate needs a sample rate in Hz";
        }
        else if (a == "--bits")
        {
            if (!next(v) || (v != "16" && v != "24" && v != "32"))
                error = "--bits must be 16, 24 or 32";
            else
                bits = v.getIntValue();
        }
        else if (a == "--tail")
        {
            if (!next(v) || !parsePlainNumber(v, number) || number < 0.0 || number > 600.0)
                error = "--tail needs seconds (0 to 600)";
            else
                tailSeconds = number;
        }
        else if (a == "--save-state")
        {
            if (!next(v))
                error = "--save-state needs a file";
            else
                saveState = juce::File::getCurrentWorkingDirectory().getChildFile(v);
        }
        else if (a == "--progress")
            progress = true;
        else
            return false;
        return true;
    };
    if (const auto error = PlaybackOptions::parse(args, own, positional); error.isNotEmpty())
        return error;

    const auto cwd = juce::File::getCurrentWorkingDirectory();
    if (positional.isEmpty())
        return "no plug-in given";
    plugin = cwd.getChildFile(positional[0]);
    if (info)
        return positional.size() == 1 ? juce::String() : "--info takes only the plug-in";
    if (positional.size() != 3)
        return "give the plug-in, the input file and the output file";
    input = cwd.getChildFile(positional[1]);
    output = cwd.getChildFile(positional[2]);
    return {};
}
