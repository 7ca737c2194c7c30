// Sorvel end to end: the built bundles rendered by the render tool against the processor driven
// directly, the same blocks and settings.
#include "sorvel/PluginProcessor.h"
#include "support/DirectRender.h"
#include "support/ParameterAccess.h"
#include "support/RenderRun.h"

#include <gtest/gtest.h>

namespace
{
const juce::File phrase = juce::File(MOSSLIGHT_DEMO_DIR).getChildFile("phrase.wav");

void set(Sorvel2Processor& p, const char* id, float plain)
{
    testsupport::setPlain(p.apvts, id, plain);
}
} // namespace

class SorvelRender : public ::testing::TestWithParam<const char*>
{
};

TEST_P(SorvelRender, equalsTheProcessorDrivenDirectly)
{
    testsupport::TempDir temp;
    double rate = 0;
    const auto input = testsupport::readDemo("phrase.wav", &rate);
    ASSERT_GT(input.getNumSamples(), 0);
    const bool vst3 = juce::String(GetParam()) == "VST3";

    struct Case
    {
        const char* what;
        std::vector<std::pair<const char*, float>> settings;
        juce::StringArray args;
        testsupport::DirectRenderSettings direct;
    };
    testsupport::DirectRenderSettings varying;
    varying.blockMin = 16;
    varying.blockMax = 1500;
    varying.seed = 4;
    varying.transport.playing = true;
    varying.transport.bpm = 96.0;
    const Case cases[] = {
        {"defaults", {}, {"--block", "512"}, {}},
        {"strong settings, varying blocks, playing at 96 bpm",
         {{"comp", 8},
          {"compChar", 2},
          {"shimmer", 6},
          {"shimmerChar", 2},
          {"reverb", 7},
          {"reverbChar", 2},
          {"delay", 6},
          {"delayChar", 2},
          {"delayPingPong", 1},
          {"width", 7},
          {"widthChar", 2},
          {"deess", 8}},
         {"--block", "16-1500", "--seed", "4", "--play", "--tempo", "96"},
         varying},
    };

    for (const auto& c : cases)
    {
        const auto out = temp / "out.wav";
        juce::StringArray args{vst3 ? SORVEL_VST3 : SORVEL_LV2, phrase.getFullPathName(),
                               out.getFullPathName(), "--bits", "32"};
        for (const auto& [id, v] : c.settings)
            args.addArray({"--set", juce::String(id) + "=" + juce::String(v)});
        args.addArray(c.args);
        const auto result = testsupport::runRender(args);
        ASSERT_EQ(result.exitCode, 0) << result.output;

        Sorvel2Processor direct;
        const auto expected = testsupport::renderDirect(
            direct, input, rate, c.direct,
            [&]
            {
                for (const auto& [id, v] : c.settings)
                    set(direct, id, v);
            },
            vst3 ? testsupport::HostSequence::vst3 : testsupport::HostSequence::lv2);
        EXPECT_EQ(testsupport::largestDifference(testsupport::readWav(out), expected), 0.0f)
            << GetParam() << ": " << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, SorvelRender, ::testing::Values("VST3", "LV2"));

TEST(SorvelRender, everyModuleOffIsThePureLatencyDelayThroughTheVst3)
{
    testsupport::TempDir temp;
    double rate = 0;
    const auto input = testsupport::readDemo("phrase.wav", &rate);
    const auto out = temp / "out.wav";
    juce::StringArray args{
        SORVEL_VST3, phrase.getFullPathName(), out.getFullPathName(), "--bits", "32", "--block", "1-999"};
    for (const char* id :
         {"hpfOn", "deessOn", "eqOn", "compOn", "shimmerOn", "reverbOn", "delayOn", "widthOn"})
        args.addArray({"--set", juce::String(id) + "=Off"});
    const auto result = testsupport::runRender(args);
    ASSERT_EQ(result.exitCode, 0) << result.output;
    const auto y = testsupport::readWav(out);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < y.getNumSamples(); ++i)
            ASSERT_EQ(y.getSample(c, i), i < 127 ? 0.0f : input.getSample(0, i - 127))
                << "channel " << c << " sample " << i;
}
