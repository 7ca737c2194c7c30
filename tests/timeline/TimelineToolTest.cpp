// The snapshot tools' --timeline as a user runs them: one picture of the whole take of the size
// asked for, the figures printed, and one-line refusals that write nothing.
#include "TimelineTestSupport.h"
#include "support/ToolRun.h"

#include <juce_audio_formats/juce_audio_formats.h>

using namespace timelinetest;

namespace
{
// A whole take through a plug-in may take a while on a busy machine.
testsupport::ToolRun runTool(const char* tool, const juce::StringArray& args)
{
    return testsupport::runTool(tool, args, 120000);
}

void writeWav(const juce::File& file, const juce::AudioBuffer<float>& audio)
{
    file.deleteFile();
    auto stream = std::make_unique<juce::FileOutputStream>(file);
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer(
        wav.createWriterFor(stream.get(), 48000.0, static_cast<unsigned>(audio.getNumChannels()), 24, {}, 0));
    ASSERT_NE(writer, nullptr);
    stream.release();
    writer->writeFromAudioSampleBuffer(audio, 0, audio.getNumSamples());
}

class TimelineTool : public ::testing::Test
{
protected:
    TimelineTool()
    {
        folder.createDirectory();
        inputs.createDirectory();
    }
    ~TimelineTool() override
    {
        folder.deleteRecursively();
        inputs.deleteRecursively();
    }

    const juce::File demo{MOSSLIGHT_DEMO_DIR};
    const juce::File folder = juce::File::createTempFile("timelines");
    const juce::File inputs = juce::File::createTempFile("timeline-inputs");
};
} // namespace

TEST_F(TimelineTool, picturesTheWholeTakeOfEachPlugin)
{
    struct Case
    {
        const char* tool;
        juce::StringArray args;
        const char* file;
        int width, height;
        const char* says;
    };
    const Case cases[] = {
        {SNAPSHOT_SORVEL,
         {demo.getChildFile("phrase.wav").getFullPathName(), folder.getFullPathName(), "--timeline", "--set",
          "comp=8"},
         "sorvel-timeline.png",
         timeline::TakePicture::defaultWidth,
         timeline::TakePicture::defaultHeight,
         "integrated loudness in -"},
        {SNAPSHOT_MIRREL,
         {demo.getChildFile("drums.wav").getFullPathName(), folder.getFullPathName(), "--timeline", "--play",
          "--tempo", "120", "--width", "900", "--height", "480", "--name", "drums"},
         "drums-timeline.png",
         900,
         480,
         "song position followed at 120 bpm"},
        {SNAPSHOT_MIRREL,
         {demo.getChildFile("drums.wav").getFullPathName(), folder.getFullPathName(), "--timeline", "--name",
          "stopped"},
         "stopped-timeline.png",
         timeline::TakePicture::defaultWidth,
         timeline::TakePicture::defaultHeight,
         "not followed: transport stopped"},
    };
    for (const auto& c : cases)
    {
        const auto run = runTool(c.tool, c.args);
        ASSERT_EQ(run.exitCode, 0) << c.file << "\n" << run.output;
        const auto file = folder.getChildFile(c.file);
        const auto image = juce::ImageFileFormat::loadFrom(file);
        ASSERT_TRUE(image.isValid()) << c.file << "\n" << run.output;
        EXPECT_EQ(image.getWidth(), c.width) << c.file;
        EXPECT_EQ(image.getHeight(), c.height) << c.file;
        EXPECT_TRUE(run.output.contains(file.getFullPathName())) << run.output;
        EXPECT_TRUE(run.output.contains(c.says)) << run.output;
    }
    EXPECT_EQ(folder.getNumberOfChildFiles(juce::File::findFiles), 3) << "a temporary file stayed behind";
}

TEST_F(TimelineTool, refusesBadInputInOneLineAndWritesNothing)
{
    const auto phrase = demo.getChildFile("phrase.wav").getFullPathName();
    const auto empty = inputs.getChildFile("empty.wav");
    ASSERT_TRUE(empty.create());
    const auto noSamples = inputs.getChildFile("no-samples.wav");
    writeWav(noSamples, juce::AudioBuffer<float>(2, 0));
    const auto text = inputs.getChildFile("text.wav");
    ASSERT_TRUE(text.replaceWithText("not audio at all"));
    const auto out = folder.getFullPathName();

    struct Case
    {
        juce::StringArray args;
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {{inputs.getChildFile("missing.wav").getFullPathName(), out, "--timeline"}, 1, "no input file"},
        {{text.getFullPathName(), out, "--timeline"}, 1, "not a readable audio file"},
        {{empty.getFullPathName(), out, "--timeline"}, 1, "not a readable audio file"},
        {{noSamples.getFullPathName(), out, "--timeline"}, 1, "holds no audio"},
        {{phrase, out, "--timeline", "--width", "0"}, 2, "--width needs the picture's width in pixels"},
        {{phrase, out, "--timeline", "--width", "-5"}, 2, "--width needs"},
        {{phrase, out, "--timeline", "--height", "12"}, 2, "--height needs"},
        {{phrase, out, "--timeline", "--set", "nonsense=3"}, 1, "unknown parameter nonsense"},
        {{phrase, out, "--timeline", "--at", "2"}, 2, "takes no --at"},
        {{phrase, "--timeline"}, 2, "give the input file and the output folder"},
    };
    for (const auto& c : cases)
    {
        const auto run = runTool(SNAPSHOT_SORVEL, c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args.joinIntoString(" ") << "\n" << run.output;
        EXPECT_TRUE(run.output.contains(c.says)) << run.output;
        EXPECT_EQ(run.output.trim().indexOfChar('\n'), -1) << "more than one line:\n" << run.output;
    }
    EXPECT_EQ(folder.getNumberOfChildFiles(juce::File::findFiles), 0);
}
