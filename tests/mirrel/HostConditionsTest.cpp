// Mirrel under what hosts do: every rate and block size, preparing again, sessions restored
// before or after preparing, a minute of automation, and the sessions earlier versions saved.
#include "mirrel/PluginProcessor.h"
#include "support/HostConditions.h"
#include "support/RenderRun.h"

#include <gtest/gtest.h>

namespace
{
using testsupport::PluginUnderTest;

const PluginUnderTest<MirrelProcessor>& mirrel()
{
    static const PluginUnderTest<MirrelProcessor> plugin{
        testsupport::demoExcerpt("drums.wav", 0, 48000),
        [](MirrelProcessor& p) { testsupport::applySession(p.apvts, testsupport::mirrelStrong); },
        [](MirrelProcessor& p) { testsupport::setPlain(p.apvts, "width", 0.0f); }};
    return plugin;
}
} // namespace

TEST(MirrelHostConditions, everyRateAndBlockSizeGivesTheSameSamplesAndTheReportedLatency)
{
    testsupport::expectEveryRateAndBlockSize(mirrel());
}

TEST(MirrelHostConditions, preparingAgainStartsAfresh)
{
    testsupport::expectPreparingAgainStartsAfresh(mirrel());
}

TEST(MirrelHostConditions, aSessionRestoredBeforeTheFirstBlockStartsWithoutGlides)
{
    testsupport::expectStateRestoredBeforeTheFirstBlockApplies(mirrel());
}

TEST(MirrelHostConditions, aMinuteOfAutomatingEveryParameterEveryBlock)
{
    const auto minute = testsupport::demoLoop("drums.wav", 60 * 48000);
    testsupport::expectAMinuteOfAutomation<MirrelProcessor>(minute, 1.5f);
}

TEST(MirrelState, sessionsSavedByEarlierVersionsLoad)
{
    for (const auto* session : {&testsupport::mirrelDefaults, &testsupport::mirrelStrong,
                                &testsupport::mirrelLastItems})
        testsupport::expectSavedSessionLoads<MirrelProcessor>(*session);
}
