// Mirrel end to end: the built bundles rendered by the render tool, as a user would, against the
// processor driven directly; and placements that follow the song position.
#include "mirrel/PluginProcessor.h"
#include "support/DirectRender.h"
#include "support/ParameterAccess.h"
#include "support/RenderRun.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
using testsupport::runRender;

const juce::File drums = juce::File(MOSSLIGHT_DEMO_DIR).getChildFile("drums.wav");

juce::String bundlePath(const char* format)
{
    return juce::String(format) == juce::String("VST3") ? MIRREL_VST3 : MIRREL_LV2;
}

// Identical bursts every half second (one per eighth note at 120 bpm): a loop whose placements
// can be read back from the output, hit by hit.
juce::AudioBuffer<float> clickLoop(double rate, double seconds)
{
    juce::AudioBuffer<float> x(2, static_cast<int>(seconds * rate));
    x.clear();
    const int period = static_cast<int>(0.5 * rate);
    for (int i = 0; i < x.getNumSamples(); ++i)
    {
        const int t = i % period;
        const float v = t < 4800 ? 0.6f * static_cast<float>(std::sin(2.0 * M_PI * 700.0 * t / rate)) *
                                       std::exp(-t / 1500.0f)
                                 : 0.0f;
        x.setSample(0, i, v);
        x.setSample(1, i, v);
    }
    return x;
}

// The place of each burst, read from the output's balance 10 to 40 ms after it is heard.
std::vector<float> placementsOf(const juce::AudioBuffer<float>& y, double rate, int latency)
{
    std::vector<float> result;
    const int period = static_cast<int>(0.5 * rate);
    for (int start = latency; start + period <= y.getNumSamples(); start += period)
    {
        double l = 0, r = 0;
        for (int i = start + static_cast<int>(0.01 * rate); i < start + static_cast<int>(0.04 * rate); ++i)
        {
            l += y.getSample(0, i) * y.getSample(0, i);
            r += y.getSample(1, i) * y.getSample(1, i);
        }
        result.push_back(static_cast<float>(std::atan2(std::sqrt(r), std::sqrt(l)) * 4.0 / M_PI - 1.0));
    }
    return result;
}

void expectNear(const std::vector<float>& a, const std::vector<float>& b, float tolerance, const char* what)
{
    ASSERT_EQ(a.size(), b.size()) << what;
    for (size_t i = 0; i < a.size(); ++i)
        EXPECT_NEAR(a[i], b[i], tolerance) << what << ", hit " << i;
}
} // namespace

class MirrelRender : public ::testing::TestWithParam<const char*>
{
};

TEST_P(MirrelRender, equalsTheProcessorDrivenDirectly)
{
    testsupport::TempDir temp;
    double rate = 0;
    const auto input = testsupport::readDemo("drums.wav", &rate);
    ASSERT_GT(input.getNumSamples(), 0);

    struct Case
    {
        const char* what;
        juce::StringArray args;
        testsupport::DirectRenderSettings direct;
    };
    testsupport::DirectRenderSettings playing;
    playing.transport.playing = true;
    playing.transport.bpm = 120.0;
    testsupport::DirectRenderSettings varying;
    varying.blockMin = 32;
    varying.blockMax = 2048;
    varying.seed = 9;
    const Case cases[] = {
        {"playing, fixed blocks", {"--play", "--tempo", "120", "--block", "512"}, playing},
        {"stopped, varying blocks", {"--block", "32-2048", "--seed", "9"}, varying},
    };

    for (const auto& c : cases)
    {
        const auto out = temp / "out.wav";
        auto args = juce::StringArray{bundlePath(GetParam()),
                                      drums.getFullPathName(),
                                      out.getFullPathName(),
                                      "--bits",
                                      "32",
                                      "--set",
                                      "width=80",
                                      "--set",
                                      "seed=5",
                                      "--set",
                                      "hole=10"};
        args.addArray(c.args);
        const auto result = runRender(args);
        ASSERT_EQ(result.exitCode, 0) << result.output;

        MirrelProcessor direct;
        const auto expected = testsupport::renderDirect(
            direct, input, rate, c.direct,
            [&]
            {
                for (const auto& [id, v] :
                     {std::pair{"width", 80.0f}, std::pair{"seed", 5.0f}, std::pair{"hole", 10.0f}})
                    testsupport::setPlain(direct.apvts, id, v);
            },
            juce::String(GetParam()) == "VST3" ? testsupport::HostSequence::vst3
                                               : testsupport::HostSequence::lv2);

        const auto rendered = testsupport::readWav(out);
        EXPECT_EQ(testsupport::largestDifference(rendered, expected), 0.0f) << GetParam() << ": " << c.what;
        EXPECT_GT(direct.feed().hitCount.load(), 10) << "the drums are hits";
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, MirrelRender, ::testing::Values("VST3", "LV2"));

TEST(MirrelSongPosition, placementsFollowTheSongThroughRender)
{
    testsupport::TempDir temp;
    const double rate = 48000.0;
    const auto loop = temp / "loop.wav";
    testsupport::writeWav(loop, clickLoop(rate, 4.0), rate);

    auto render = [&](const char* name, juce::StringArray extra)
    {
        const auto out = temp / name;
        juce::StringArray args{
            MIRREL_VST3, loop.getFullPathName(), out.getFullPathName(), "--bits", "32", "--set", "hole=20"};
        args.addArray(extra);
        const auto result = runRender(args);
        EXPECT_EQ(result.exitCode, 0) << result.output;
        return placementsOf(testsupport::readWav(out), rate, 240);
    };

    const auto first = render("a.wav", {"--play", "--tempo", "120"});
    ASSERT_EQ(first.size(), 7u);
    expectNear(render("b.wav", {"--play", "--tempo", "120"}), first, 1e-6f, "the same passage again");

    const auto otherSeed = render("c.wav", {"--play", "--tempo", "120", "--set", "seed=2"});
    int differing = 0;
    for (size_t i = 0; i < first.size(); ++i)
        differing += std::abs(otherSeed[i] - first[i]) > 0.05f ? 1 : 0;
    EXPECT_GE(differing, 5) << "another seed gives other places";

    // Starting two bars in, then jumping back to the start two seconds later: the first two
    // seconds replay the places the passage had from bar 3, then the places from the start.
    const auto fromBar3 = render("d.wav", {"--play", "--tempo", "120", "--position", "8"});
    const auto jumped = render("e.wav", {"--play", "--tempo", "120", "--position", "8", "--jump", "2:0"});
    for (size_t i = 0; i < 3; ++i)
        EXPECT_NEAR(jumped[i], fromBar3[i], 1e-6f) << "before the jump, hit " << i;
    for (size_t i = 4; i < jumped.size(); ++i)
        EXPECT_NEAR(jumped[i], first[i - 4], 1e-6f) << "after the jump back, hit " << i;

    // Stopped: the free-running sequence, the same from every fresh preparation, unlike the song's.
    const auto stopped = render("f.wav", {});
    expectNear(render("g.wav", {}), stopped, 1e-6f, "stopped, rendered again");
    int differsFromSong = 0;
    for (size_t i = 0; i < first.size(); ++i)
        differsFromSong += std::abs(stopped[i] - first[i]) > 0.05f ? 1 : 0;
    EXPECT_GE(differsFromSong, 5);
}
