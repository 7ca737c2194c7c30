#include "Transport.h"

#include <cmath>

Transport::Transport(Settings s, double sampleRate)
    : settings(s), rate(sampleRate), quarterNotes(s.startQuarterNotes)
{
}

juce::Optional<juce::AudioPlayHead::PositionInfo> Transport::getPosition() const
{
    PositionInfo info;
    if (settings.hasTempo)
        info.setBpm(settings.bpm);
    info.setTimeSignature(TimeSignature{4, 4});
    info.setIsPlaying(settings.playing);
    info.setTimeInSamples(samplesRendered);
    info.setTimeInSeconds(static_cast<double>(samplesRendered) / rate);
    info.setPpqPosition(quarterNotes);
    info.setPpqPositionOfLastBarStart(std::floor(quarterNotes / 4.0) * 4.0);
    info.setBarCount(static_cast<juce::int64>(std::floor(quarterNotes / 4.0)));
    return info;
}

juce::int64 Transport::samplesUntilJump() const
{
    if (jumped || settings.jumpAtSample < 0)
        return -1;
    return settings.jumpAtSample - samplesRendered;
}

void Transport::advance(int numSamples)
{
    samplesRendered += numSamples;
    if (settings.playing)
        quarterNotes += numSamples / rate * settings.bpm / 60.0;
    if (!jumped && settings.jumpAtSample >= 0 && samplesRendered >= settings.jumpAtSample)
    {
        jumped = true;
        quarterNotes = settings.jumpToQuarterNotes;
    }
}
