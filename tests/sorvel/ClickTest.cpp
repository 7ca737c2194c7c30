// Parameter changes never click: the largest sample-to-sample step while a setting changes stays
// within what the same material shows without the change, before or after it.
#include "SorvelRig.h"
#include "sorvel/ParameterIds.h"
#include "support/RenderRun.h"

#include <gtest/gtest.h>

#include <random>

using testsupport::SorvelRig;

namespace
{
constexpr int block = 256;

// Four seconds of the demo vocal, a loud passage first.
const juce::AudioBuffer<float>& vocal()
{
    static const auto excerpt = testsupport::demoExcerpt("phrase.wav", 24000, 4 * 48000);
    return excerpt;
}

struct Change
{
    const char* id;
    float from, to;
};

juce::AudioBuffer<float> render(const Change& c, bool changeAtAll, bool startAtTarget)
{
    SorvelRig rig;
    rig.set(c.id, startAtTarget ? c.to : c.from);
    rig.prepare(48000.0, block);
    return rig.run(vocal(), block,
                   [&](int index, int)
                   {
                       if (changeAtAll && index == 2 * 48000 / block)
                           rig.set(c.id, c.to);
                   });
}
} // namespace

TEST(SorvelClicks, noSettingChangeClicks)
{
    const Change changes[] = {
        {"hpfOn", 1, 0},
        {"hpf", 2, 4},
        {"deessOn", 1, 0},
        {"deess", 3, 10},
        {"deessChar", 1, 2},
        {"deessFreq", 2900, 5000},
        {"eqOn", 1, 0},
        {"bass", 0, 10},
        {"bassChar", 1, 0},
        {"treble", 2, -10},
        {"trebleChar", 0, 2},
        {"compOn", 1, 0},
        {"comp", 4, 10},
        {"compChar", 1, 2},
        {"compMix", 100, 0},
        {"shimmerOn", 1, 0},
        {"shimmer", 1, -10},
        {"shimmerChar", 0, 2},
        {"reverbOn", 1, 0},
        {"reverb", 2, 10},
        {"reverbChar", 0, 2},
        {"reverbDecay", 1.6f, 6},
        {"reverbPredelay", 30, 120},
        {"delayOn", 1, 0},
        {"delay", 1, 10},
        {"delayChar", 1, 3},
        {"delayFeedback", 25, 80},
        {"delayPingPong", 0, 1},
        {"widthOn", 1, 0},
        {"width", 2, 10},
        {"widthChar", 0, 2},
        {"duck", 4, 12},
        {"input", 0, 12},
        {"output", 0, -24},
        {"listen", 0, 2},
        {"listen", 0, 4},
        {"listen", 0, 6},
        {"bypass", 0, 1},
        {"comp", 4, 0},
    };
    const int at = 2 * 48000;
    const int window = 4800; // 100 ms from the change
    for (const auto& c : changes)
    {
        const auto changed = render(c, true, false);
        const auto before = render(c, false, false);
        const auto after = render(c, false, true);
        const float natural = std::max(testsupport::largestStep(before, at, at + window),
                                       testsupport::largestStep(after, at, at + window));
        const float step = testsupport::largestStep(changed, at, at + window);
        EXPECT_LE(step, 1.25f * natural + 1e-3f) << c.id << " " << c.from << " -> " << c.to;
        EXPECT_TRUE(testsupport::allFinite(changed)) << c.id;
    }
}

TEST(SorvelClicks, automatingEveryParameterEveryBlockNeverClicksAllocatesOrBreaks)
{
    // Every parameter gets a new random value every block (5 ms), faster than any ramp can
    // finish. The two gains are limited to +-6 dB here so that the loudness stays comparable
    // with the static render at the defaults; the steps must stay near that render's, where a
    // single unramped switch would jump by the size of the signal.
    SorvelRig reference;
    reference.prepare(48000.0, block);
    const float natural = testsupport::largestStep(reference.run(vocal(), block));

    for (unsigned seed : {21u, 22u, 23u})
    {
        SorvelRig rig;
        rig.prepare(48000.0, block);
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> u(0.0f, 1.0f);
        const auto y = rig.run(vocal(), block,
                               [&](int, int)
                               {
                                   for (auto* prm : rig.p.getParameters())
                                       prm->setValueNotifyingHost(u(rng));
                                   for (const char* gain : {"input", "output"})
                                       rig.set(gain, -6.0f + 12.0f * u(rng));
                               });
        EXPECT_TRUE(testsupport::allFinite(y)) << seed;
        const float step = testsupport::largestStep(y);
        EXPECT_LE(step, 1.5f * natural) << "seed " << seed;
    }
}
