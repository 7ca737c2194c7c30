#include "Timeline.h"

#include <algorithm>
#include <cmath>

namespace timeline
{
void LoudnessSampler::afterBlock(LoudnessTrack& track, juce::int64 blockEnd, double sampleRate, float reading)
{
    // Reading k belongs to the moment (k + 1) x 100 ms: the end of the sub-block it closes.
    const auto hop = LoudnessTrack::hopSeconds * sampleRate;
    while (static_cast<double>(taken + 1) * hop <= static_cast<double>(blockEnd) + 0.5)
    {
        track.values.push_back(reading);
        ++taken;
    }
}

std::optional<float> loudnessRange(const std::vector<float>& shortTerm)
{
    std::vector<float> kept;
    kept.reserve(shortTerm.size());
    for (const float v : shortTerm)
        if (v > -70.0f)
            kept.push_back(v);
    if (kept.empty())
        return std::nullopt;

    double power = 0.0;
    for (const float v : kept)
        power += std::pow(10.0, static_cast<double>(v) / 10.0);
    const double gate = 10.0 * std::log10(power / static_cast<double>(kept.size())) - 20.0;
    kept.erase(std::remove_if(kept.begin(), kept.end(), [gate](float v) { return v < gate; }), kept.end());
    if (kept.empty())
        return std::nullopt;

    std::sort(kept.begin(), kept.end());
    // Percentiles by linear interpolation between the nearest ranks.
    const auto percentile = [&kept](double p)
    {
        const double rank = p * static_cast<double>(kept.size() - 1);
        const auto below = static_cast<size_t>(std::floor(rank));
        const auto above = std::min(below + 1, kept.size() - 1);
        const double f = rank - static_cast<double>(below);
        return static_cast<double>(kept[below]) * (1.0 - f) + static_cast<double>(kept[above]) * f;
    };
    return static_cast<float>(percentile(0.95) - percentile(0.10));
}

double tickSeconds(double takeSeconds, float plotWidth, float minimumPixels)
{
    static constexpr double steps[] = {0.1, 0.2, 0.5, 1,   2,   5,   10,   15,
                                       30,  60,  120, 300, 600, 900, 1800, 3600};
    if (takeSeconds <= 0.0 || plotWidth <= 0.0f)
        return steps[std::size(steps) - 1];
    for (const double s : steps)
        if (s / takeSeconds * static_cast<double>(plotWidth) >= static_cast<double>(minimumPixels))
            return s;
    // Longer than the steps go: whole hours.
    return 3600.0 * std::ceil(takeSeconds / 3600.0 * minimumPixels / plotWidth);
}

juce::String clockText(double seconds, double tickSpacing)
{
    const bool tenths = tickSpacing < 0.999;
    const auto total = tenths ? std::llround(seconds * 10.0) : std::llround(seconds);
    const auto whole = tenths ? total / 10 : total;
    const auto h = whole / 3600, m = (whole / 60) % 60, s = whole % 60;
    juce::String text = h > 0 ? juce::String(h) + ":" + juce::String(m).paddedLeft('0', 2) : juce::String(m);
    text << ":" << juce::String(s).paddedLeft('0', 2);
    if (tenths)
        text << "." << juce::String(total % 10);
    return text;
}

juce::String lufsText(float value)
{
    return value <= -99.0f ? juce::String("none") : juce::String(value, 1);
}
} // namespace timeline
