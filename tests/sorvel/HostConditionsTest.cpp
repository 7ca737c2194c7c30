// Sorvel under what hosts do: every rate and block size, preparing again, sessions restored
// before or after preparing, a minute of automation, and the sessions earlier versions saved.
#include "sorvel/PluginProcessor.h"
#include "support/HostConditions.h"

#include <gtest/gtest.h>

namespace
{
const testsupport::PluginUnderTest<Sorvel2Processor>& sorvel()
{
    static const testsupport::PluginUnderTest<Sorvel2Processor> plugin{
        testsupport::demoExcerpt("phrase.wav", 24000, 48000),
        [](Sorvel2Processor& p) { testsupport::applySession(p.apvts, testsupport::sorvelStrong); },
        [](Sorvel2Processor& p)
        {
            for (const char* id :
                 {"hpfOn", "deessOn", "eqOn", "compOn", "shimmerOn", "reverbOn", "delayOn", "widthOn"})
                testsupport::setPlain(p.apvts, id, 0.0f);
        },
        "phrase.wav",
        // While automated, the two gains stay within +-6 dB so that the loudness, and with it the
        // steps, stay comparable with the render at the defaults.
        [](Sorvel2Processor& p, std::mt19937& rng)
        {
            std::uniform_real_distribution<float> gain(-6.0f, 6.0f);
            for (const char* id : {"input", "output"})
                testsupport::setPlain(p.apvts, id, gain(rng));
        },
        {&testsupport::sorvelDefaults, &testsupport::sorvelStrong, &testsupport::sorvelLastItems}};
    return plugin;
}
} // namespace

MOSSLIGHT_HOST_CONDITION_TESTS(Sorvel, sorvel)
