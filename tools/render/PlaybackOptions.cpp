#include "PlaybackOptions.h"

#include <cmath>

namespace
{
bool parseSetting(const juce::String& text, PlaybackOptions::Setting& out)
{
    if (!text.contains("="))
        return false;
    out.id = text.upToFirstOccurrenceOf("=", false, false).trim();
    out.value = text.fromFirstOccurrenceOf("=", false, false).trim();
    return out.id.isNotEmpty();
}
} // namespace

bool parsePlainNumber(const juce::String& text, double& out)
{
    const auto t = text.trim();
    if (t.isEmpty() || !t.containsOnly("-+0123456789.eE"))
        return false;
    out = t.getDoubleValue();
    return true;
}

const char* PlaybackOptions::usage()
{
    return R"(  --set ID=VALUE          set a parameter before the render (repeatable); VALUE is a plain
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
  --load-state FILE       restore a saved plug-in state before the render
)";
}

Transport::Settings PlaybackOptions::transportAt(double sampleRate) const
{
    auto t = transport;
    if (jump)
    {
        t.jumpAtSample = static_cast<juce::int64>(std::llround(jump->first * sampleRate));
        t.jumpToQuarterNotes = jump->second;
    }
    return t;
}

juce::String PlaybackOptions::parse(const juce::StringArray& args, const OwnOptions& own,
                                    juce::StringArray& positional)
{
    for (int i = 0; i < args.size(); ++i)
    {
        const auto& a = args[i];
        const ValueReader value = [&](juce::String& out)
        {
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        juce::String error;
        if (parseOption(a, value, error) || (own && own(a, value, error)))
        {
            if (error.isNotEmpty())
                return error;
        }
        else if (a.startsWith("--"))
            return "unknown option " + a;
        else
            positional.add(a);
    }
    return {};
}

bool PlaybackOptions::parseOption(const juce::String& a, const ValueReader& next, juce::String& error)
{
    juce::String v;

    if (a == "--set")
    {
        Setting s;
        if (!next(v) || !parseSetting(v, s))
            error = "--set needs ID=VALUE";
        else
            settings.add(s);
    }
    else if (a == "--automate")
    {
        Automation autom;
        if (!next(v) || !v.contains("@") ||
            !parseSetting(v.upToLastOccurrenceOf("@", false, false), autom.setting) ||
            !parsePlainNumber(v.fromLastOccurrenceOf("@", false, false), autom.atSeconds) ||
            autom.atSeconds < 0.0)
            error = "--automate needs ID=VALUE@SECONDS";
        else if (automation)
            error = "--automate can be given once";
        else
            automation = autom;
    }
    else if (a == "--block")
    {
        if (!next(v))
            error = "--block needs a size or MIN-MAX";
        else
        {
            const auto lo = v.upToFirstOccurrenceOf("-", false, false);
            const auto hi = v.contains("-") ? v.fromFirstOccurrenceOf("-", false, false) : lo;
            if (!lo.containsOnly("0123456789") || !hi.containsOnly("0123456789") || lo.isEmpty() ||
                hi.isEmpty())
                error = "--block needs a size or MIN-MAX, for example 512 or 32-2048";
            else
            {
                blockMin = lo.getIntValue();
                blockMax = hi.getIntValue();
                if (blockMin < 1 || blockMax < blockMin || blockMax > 65536)
                    error = "--block sizes must be 1 to 65536, MIN not above MAX";
            }
        }
    }
    else if (a == "--seed")
    {
        if (!next(v) || !v.containsOnly("0123456789") || v.isEmpty())
            error = "--seed needs a whole number";
        else
            seed = v.getLargeIntValue();
    }
    else if (a == "--tempo")
    {
        if (!next(v) || !parsePlainNumber(v, transport.bpm) || transport.bpm <= 0.0)
            error = "--tempo needs a tempo in bpm";
    }
    else if (a == "--no-tempo")
        transport.hasTempo = false;
    else if (a == "--play")
        transport.playing = true;
    else if (a == "--stop")
        transport.playing = false;
    else if (a == "--position")
    {
        if (!next(v) || !parsePlainNumber(v, transport.startQuarterNotes))
            error = "--position needs a position in quarter notes";
    }
    else if (a == "--jump")
    {
        double at = 0.0, to = 0.0;
        if (!next(v) || !v.contains(":") ||
            !parsePlainNumber(v.upToFirstOccurrenceOf(":", false, false), at) ||
            !parsePlainNumber(v.fromFirstOccurrenceOf(":", false, false), to) || at < 0.0)
            error = "--jump needs SECONDS:QUARTERNOTES";
        else
            jump = std::make_pair(at, to);
    }
    else if (a == "--load-state")
    {
        if (!next(v))
            error = "--load-state needs a file";
        else
            loadState = juce::File::getCurrentWorkingDirectory().getChildFile(v);
    }
    else
        return false;
    return true;
}
