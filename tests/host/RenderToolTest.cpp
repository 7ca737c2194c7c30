// The render tool as a user meets it: its options, its errors, and what it never does (overwrite
// its input, leave a half-written file behind).
#include "support/RenderRun.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
using testsupport::runRender;

const juce::File phrase = juce::File(MOSSLIGHT_DEMO_DIR).getChildFile("phrase.wav");
const juce::File drums = juce::File(MOSSLIGHT_DEMO_DIR).getChildFile("drums.wav");

bool oneLine(const juce::String& text)
{
    return juce::StringArray::fromLines(text.trim()).size() == 1;
}
} // namespace

TEST(RenderTool, refusesBadRequestsWithOneLineAndWritesNothing)
{
    testsupport::TempDir temp;
    const auto out = temp / "out.wav";
    const auto notWav = temp / "notes.wav";
    notWav.replaceWithText("not audio");
    const auto emptyBundle = temp / "Empty.vst3";
    emptyBundle.createDirectory();

    struct Case
    {
        const char* what;
        juce::StringArray args;
        const char* message;
    };
    const Case cases[] = {
        {"missing input",
         {MIRREL_VST3, (temp / "none.wav").getFullPathName(), out.getFullPathName()},
         "no input file"},
        {"unreadable input", {MIRREL_VST3, notWav.getFullPathName(), out.getFullPathName()}, "cannot read"},
        {"unknown parameter",
         {MIRREL_VST3, drums.getFullPathName(), out.getFullPathName(), "--set", "nope=1"},
         "unknown parameter nope"},
        {"value that does not parse",
         {SORVEL_VST3, phrase.getFullPathName(), out.getFullPathName(), "--set", "comp=loud"},
         "is not a value of Compress"},
        {"choice that does not exist",
         {SORVEL_VST3, phrase.getFullPathName(), out.getFullPathName(), "--set", "compChar=Brutal"},
         "is not a value of Compress Character"},
        {"LV2 text",
         {SORVEL_LV2, phrase.getFullPathName(), out.getFullPathName(), "--set", "deessFreq=5.5 kHz"},
         "plain numbers"},
        {"automation that does not parse",
         {MIRREL_VST3, drums.getFullPathName(), out.getFullPathName(), "--automate", "width=wide@1"},
         "is not a value of Width"},
        {"missing plug-in",
         {(temp / "Nope.vst3").getFullPathName(), drums.getFullPathName(), out.getFullPathName()},
         "no plug-in at"},
        {"plug-in that does not load",
         {emptyBundle.getFullPathName(), drums.getFullPathName(), out.getFullPathName()},
         "no plug-in found"},
        {"missing state file",
         {MIRREL_VST3, drums.getFullPathName(), out.getFullPathName(), "--load-state", "/nonexistent/state"},
         "no state file"},
    };
    for (const auto& c : cases)
    {
        const auto result = runRender(c.args);
        EXPECT_EQ(result.exitCode, 1) << c.what << ": " << result.output;
        EXPECT_TRUE(result.output.startsWith("render: ")) << c.what << ": " << result.output;
        EXPECT_TRUE(result.output.contains(c.message)) << c.what << ": " << result.output;
        EXPECT_TRUE(oneLine(result.output)) << c.what << ": " << result.output;
        EXPECT_FALSE(out.exists()) << c.what << ": no output on failure";
        EXPECT_EQ(temp.dir.getNumberOfChildFiles(juce::File::findFiles, "*tmp*"), 0) << c.what;
    }

    // Usage mistakes exit with 2 and point at --help.
    for (const auto& args :
         {juce::StringArray{"--block", "0"}, juce::StringArray{MIRREL_VST3, "--bits", "20"},
          juce::StringArray{MIRREL_VST3, drums.getFullPathName()}, juce::StringArray{"--frobnicate"}})
    {
        const auto result = runRender(args);
        EXPECT_EQ(result.exitCode, 2) << args.joinIntoString(" ") << ": " << result.output;
        EXPECT_TRUE(result.output.contains("--help")) << result.output;
    }
}

TEST(RenderTool, neverOverwritesItsInput)
{
    testsupport::TempDir temp;
    const auto input = temp / "in.wav";
    ASSERT_TRUE(drums.copyFileTo(input));
    const auto before = input.loadFileAsString();
    // The same file under another spelling of its path.
    const auto sameFile = input.getParentDirectory().getFullPathName() + "/./in.wav";
    for (const auto& target : {input.getFullPathName(), sameFile})
    {
        const auto result = runRender({MIRREL_VST3, input.getFullPathName(), target});
        EXPECT_EQ(result.exitCode, 1) << result.output;
        EXPECT_TRUE(result.output.contains("would overwrite the input")) << result.output;
    }
    EXPECT_EQ(input.loadFileAsString(), before);
}

TEST(RenderTool, infoShowsWhatAHostSees)
{
    const auto result = runRender({SORVEL_VST3, "--info", "--rate", "44100"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    for (const char* expected :
         {"plugin:     Sorvel (VST3)", "latency:    119 samples at 44100 Hz", "tail:       8 s",
          "Mono -> Stereo: yes", "Stereo -> Stereo: yes", "Stereo -> Mono: no", "parameters: 37",
          "De-ess Freq", "Auto .. 12.0 kHz", "Bypass (level matched)"})
        EXPECT_TRUE(result.output.contains(expected)) << expected << " in:\n" << result.output;

    const auto lv2 = runRender({MIRREL_LV2, "--info"});
    ASSERT_EQ(lv2.exitCode, 0) << lv2.output;
    for (const char* expected : {"plugin:     Mirrel (LV2)", "latency:    240 samples at 48000 Hz",
                                 "sensitivity", "Side bias", "Off .. Always"})
        EXPECT_TRUE(lv2.output.contains(expected)) << expected << " in:\n" << lv2.output;
}

TEST(RenderTool, summaryProgressFormatsAndMonoFiles)
{
    testsupport::TempDir temp;
    // A mono 16-bit file at 44.1 kHz: prepared at the file's rate, both outputs carry it.
    juce::AudioBuffer<float> mono(1, 44100 * 2);
    for (int i = 0; i < mono.getNumSamples(); ++i)
        mono.setSample(0, i, 0.3f * static_cast<float>(std::sin(0.05 * i)));
    const auto in = temp / "mono.wav";
    testsupport::writeWav(in, mono, 44100.0, 16);

    const auto out = temp / "out.wav";
    const auto result = runRender({MIRREL_VST3, in.getFullPathName(), out.getFullPathName(), "--set",
                                   "width=0", "--bits", "16", "--tail", "0.5", "--progress"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_TRUE(result.output.contains("100 %")) << "progress bar";
    EXPECT_TRUE(result.output.contains("rendered 2.50 s of audio at 44100 Hz through Mirrel (VST3)"))
        << result.output;
    EXPECT_TRUE(result.output.contains("x real time")) << result.output;

    double rate = 0;
    const auto y = testsupport::readWav(out, &rate);
    EXPECT_EQ(rate, 44100.0);
    ASSERT_EQ(y.getNumChannels(), 2);
    EXPECT_EQ(y.getNumSamples(), 44100 * 2 + 22050) << "the input plus the tail";
    // 221 samples of look-ahead at 44.1 kHz, then the input on both sides (16-bit steps apart).
    for (int i = 1000; i < 2000; ++i)
    {
        ASSERT_NEAR(y.getSample(0, i), mono.getSample(0, i - 221), 1.0f / 16384.0f) << i;
        ASSERT_NEAR(y.getSample(1, i), mono.getSample(0, i - 221), 1.0f / 16384.0f) << i;
    }
}

TEST(RenderTool, savedStateRestoresTheSettingsAndAutomationLandsOnTime)
{
    testsupport::TempDir temp;
    const auto state = temp / "state.bin";
    const auto a = temp / "a.wav", b = temp / "b.wav", c = temp / "c.wav";
    ASSERT_EQ(runRender({MIRREL_VST3, drums.getFullPathName(), a.getFullPathName(), "--bits", "32", "--set",
                         "seed=17", "--set", "alternate=Always", "--save-state", state.getFullPathName()})
                  .exitCode,
              0);
    ASSERT_TRUE(state.existsAsFile());
    ASSERT_EQ(runRender({MIRREL_VST3, drums.getFullPathName(), b.getFullPathName(), "--bits", "32",
                         "--load-state", state.getFullPathName()})
                  .exitCode,
              0);
    EXPECT_EQ(testsupport::largestDifference(testsupport::readWav(a), testsupport::readWav(b)), 0.0f)
        << "the saved settings come back";

    // Bypass automated at 2 s on a mono drum loop: from then on (after the 10 ms glide) both
    // sides are equal.
    auto monoDrums = testsupport::readDemo("drums.wav");
    monoDrums.copyFrom(1, 0, monoDrums, 0, 0, monoDrums.getNumSamples());
    const auto monoIn = temp / "mono-drums.wav";
    testsupport::writeWav(monoIn, monoDrums, 48000.0);
    ASSERT_EQ(runRender({MIRREL_VST3, monoIn.getFullPathName(), c.getFullPathName(), "--bits", "32",
                         "--automate", "bypass=On@2"})
                  .exitCode,
              0);
    const auto y = testsupport::readWav(c);
    const double rate = 48000.0;
    float before = 0.0f, after = 0.0f;
    for (int i = 0; i < y.getNumSamples(); ++i)
    {
        const float d = std::abs(y.getSample(0, i) - y.getSample(1, i));
        if (i < static_cast<int>(2.0 * rate))
            before = std::max(before, d);
        else if (i > static_cast<int>(2.011 * rate))
            after = std::max(after, d);
    }
    EXPECT_GT(before, 0.05f) << "hits are placed before the automation";
    EXPECT_LT(after, 1e-6f) << "centred after it";
}
