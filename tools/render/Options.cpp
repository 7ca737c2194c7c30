#include "Options.h"

namespace
{
bool parseNumber(const juce::String& text, double& out)
{
    const auto t = text.trim();
    if (t.isEmpty() || !t.containsOnly("-+0123456789.eE"))
        return false;
    out = t.getDoubleValue();
    return true;
}

bool parseSetting(const juce::String& text, RenderOptions::Setting& out)
{
    if (!text.contains("="))
        return false;
    out.id = text.upToFirstOccurrenceOf("=", false, false).trim();
    out.value = text.fromFirstOccurrenceOf("=", false, false).trim();
    return out.id.isNotEmpty();
}
} // namespace

const char* RenderOptions::usage()
{
    return R"(usage: render <plugin.vst3|plugin.lv2> <in.wav> <out.wav> [options]
       render <plugin.vst3|plugin.lv2> --info [--rate HZ]

Renders a WAV file through a built plug-in, loaded the way a host loads it.

options:
  --set ID=VALUE          set a parameter before the render (repeatable); VALUE is a plain
                          number or text the plug-in reads ("deessFreq=auto", "comp=6",
                          "compChar=Hard"); ID is the plug-in's parameter ID or its name
  --automate ID=VALUE@S   change one parameter S seconds into the render
  --block N | MIN-MAX     block size, fixed or varying per block (default 512)
  --seed N                seed of the varying block sizes (default 1)
  --tempo BPM             host tempo (default 120)
  --no-tempo              report no tempo
  --play                  transport playing (default: stopped)
  --position QN           song position at the start, in quarter notes (default 0)
  --jump S:QN             at S seconds, jump to QN quarter notes
  --bits 16|24|32         output sample format (32 is float; default 24)
  --tail S                render S seconds of silence after the input (default 0)
  --load-state FILE       restore a saved plug-in state before the render
  --save-state FILE       save the plug-in state after the render
  --progress              show the progress bar even when stderr is not a terminal
)";
}

juce::String RenderOptions::parse(const juce::StringArray& args)
{
    juce::StringArray positional;
    for (int i = 0; i < args.size(); ++i)
    {
        const auto& a = args[i];
        auto next = [&](juce::String& out)
        {
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        juce::String v;
        double number = 0.0;

        if (a == "--info")
            info = true;
        else if (a == "--rate")
        {
            if (!next(v) || !parseNumber(v, infoRate) || infoRate < 8000.0 || infoRate > 384000.0)
                return "--rate needs a sample rate in Hz";
        }
        else if (a == "--set")
        {
            Setting s;
            if (!next(v) || !parseSetting(v, s))
                return "--set needs ID=VALUE";
            settings.add(s);
        }
        else if (a == "--automate")
        {
            Automation autom;
            if (!next(v) || !v.contains("@") ||
                !parseSetting(v.upToLastOccurrenceOf("@", false, false), autom.setting) ||
                !parseNumber(v.fromLastOccurrenceOf("@", false, false), autom.atSeconds) ||
                autom.atSeconds < 0.0)
                return "--automate needs ID=VALUE@SECONDS";
            if (automation)
                return "--automate can be given once";
            automation = autom;
        }
        else if (a == "--block")
        {
            if (!next(v))
                return "--block needs a size or MIN-MAX";
            const auto lo = v.upToFirstOccurrenceOf("-", false, false);
            const auto hi = v.contains("-") ? v.fromFirstOccurrenceOf("-", false, false) : lo;
            if (!lo.containsOnly("0123456789") || !hi.containsOnly("0123456789") || lo.isEmpty() ||
                hi.isEmpty())
                return "--block needs a size or MIN-MAX, for example 512 or 32-2048";
            blockMin = lo.getIntValue();
            blockMax = hi.getIntValue();
            if (blockMin < 1 || blockMax < blockMin || blockMax > 65536)
                return "--block sizes must be 1 to 65536, MIN not above MAX";
        }
        else if (a == "--seed")
        {
            if (!next(v) || !v.containsOnly("0123456789") || v.isEmpty())
                return "--seed needs a whole number";
            seed = v.getLargeIntValue();
        }
        else if (a == "--tempo")
        {
            if (!next(v) || !parseNumber(v, transport.bpm) || transport.bpm <= 0.0)
                return "--tempo needs a tempo in bpm";
        }
        else if (a == "--no-tempo")
            transport.hasTempo = false;
        else if (a == "--play")
            transport.playing = true;
        else if (a == "--stop")
            transport.playing = false;
        else if (a == "--position")
        {
            if (!next(v) || !parseNumber(v, transport.startQuarterNotes))
                return "--position needs a position in quarter notes";
        }
        else if (a == "--jump")
        {
            double at = 0.0, to = 0.0;
            if (!next(v) || !v.contains(":") ||
                !parseNumber(v.upToFirstOccurrenceOf(":", false, false), at) ||
                !parseNumber(v.fromFirstOccurrenceOf(":", false, false), to) || at < 0.0)
                return "--jump needs SECONDS:QUARTERNOTES";
            jump = std::make_pair(at, to);
        }
        else if (a == "--bits")
        {
            if (!next(v) || (v != "16" && v != "24" && v != "32"))
                return "--bits must be 16, 24 or 32";
            bits = v.getIntValue();
        }
        else if (a == "--tail")
        {
            if (!next(v) || !parseNumber(v, number) || number < 0.0 || number > 600.0)
                return "--tail needs seconds (0 to 600)";
            tailSeconds = number;
        }
        else if (a == "--load-state")
        {
            if (!next(v))
                return "--load-state needs a file";
            loadState = juce::File::getCurrentWorkingDirectory().getChildFile(v);
        }
        else if (a == "--save-state")
        {
            if (!next(v))
                return "--save-state needs a file";
            saveState = juce::File::getCurrentWorkingDirectory().getChildFile(v);
        }
        else if (a == "--progress")
            progress = true;
        else if (a.startsWith("--"))
            return "unknown option " + a;
        else
            positional.add(a);
    }

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
