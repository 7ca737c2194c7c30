// Sorvel under what hosts do: every rate and block size, preparing again, sessions restored
// before or after preparing, a minute of automation, and the sessions earlier versions saved.
#include "SorvelRig.h"
#include "support/HostConditions.h"
#include "support/RenderRun.h"

#include <gtest/gtest.h>

namespace
{
using testsupport::PluginUnderTest;

const PluginUnderTest<Sorvel2Processor>& sorvel()
{
    static const PluginUnderTest<Sorvel2Processor> plugin{
        testsupport::demoExcerpt("phrase.wav", 24000, 48000),
        [](Sorvel2Processor& p) { testsupport::applySession(p.apvts, testsupport::sorvelStrong); },
        [](Sorvel2Processor& p)
        {
            for (const char* id :
                 {"hpfOn", "deessOn", "eqOn", "compOn", "shimmerOn", "reverbOn", "delayOn", "widthOn"})
                testsupport::setPlain(p.apvts, id, 0.0f);
        }};
    return plugin;
}
} // namespace

TEST(SorvelHostConditions, everyRateAndBlockSizeGivesTheSameSamplesAndTheReportedLatency)
{
    testsupport::expectEveryRateAndBlockSize(sorvel());
}

TEST(SorvelHostConditions, preparingAgainStartsAfresh)
{
    testsupport::expectPreparingAgainStartsAfresh(sorvel());
}

TEST(SorvelHostConditions, aSessionRestoredBeforeTheFirstBlockStartsWithoutGlides)
{
    testsupport::expectStateRestoredBeforeTheFirstBlockApplies(sorvel());
}

TEST(SorvelHostConditions, aMinuteOfAutomatingEveryParameterEveryBlock)
{
    // The two gains stay within +-6 dB so that the loudness, and with it the steps, stay
    // comparable with the render at the defaults.
    const auto minute = testsupport::demoLoop("phrase.wav", 60 * 48000);
    testsupport::expectAMinuteOfAutomation<Sorvel2Processor>(
        minute, 1.5f,
        [](Sorvel2Processor& p, std::mt19937& rng)
        {
            std::uniform_real_distribution<float> gain(-6.0f, 6.0f);
            for (const char* id : {"input", "output"})
                testsupport::setPlain(p.apvts, id, gain(rng));
        });
}

TEST(SorvelState, sessionsSavedByEarlierVersionsLoad)
{
    for (const auto* session : {&testsupport::sorvelDefaults, &testsupport::sorvelStrong,
                                &testsupport::sorvelLastItems})
        testsupport::expectSavedSessionLoads<Sorvel2Processor>(*session);
}
