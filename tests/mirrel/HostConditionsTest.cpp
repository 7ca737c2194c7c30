// Mirrel under what hosts do: every rate and block size, preparing again, sessions restored
// before or after preparing, a minute of automation, and the sessions earlier versions saved.
#include "mirrel/PluginProcessor.h"
#include "support/HostConditions.h"

#include <gtest/gtest.h>

namespace
{
const testsupport::PluginUnderTest<MirrelProcessor>& mirrel()
{
    static const testsupport::PluginUnderTest<MirrelProcessor> plugin{
        testsupport::demoExcerpt("drums.wav", 0, 48000),
        [](MirrelProcessor& p) { testsupport::applySession(p.apvts, testsupport::mirrelStrong); },
        [](MirrelProcessor& p) { testsupport::setPlain(p.apvts, "width", 0.0f); },
        "drums.wav",
        {},
        {&testsupport::mirrelDefaults, &testsupport::mirrelStrong, &testsupport::mirrelLastItems}};
    return plugin;
}
} // namespace

MOSSLIGHT_HOST_CONDITION_TESTS(Mirrel, mirrel)
