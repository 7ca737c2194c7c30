// The snapshot tools run as a user runs them: pictures of the editor at the asked moments and
// scales, and clear refusals. (Sorvel's editor's pictures: tests/sorvel/editor.)
#include "EditorRig.h"
#include "support/SnapshotToolFixture.h"

namespace
{
using testsupport::runTool;
using SnapshotTool = testsupport::SnapshotToolTest;
} // namespace

TEST_F(SnapshotTool, writesTheEditorAtEveryMomentAndScale)
{
    const auto run =
        runTool(SNAPSHOT_MIRREL,
                {demo.getChildFile("drums.wav").getFullPathName(), folder.getFullPathName(), "--at", "1",
                 "--at", "2.5", "--scale", "100", "--scale", "200", "--play", "--tempo", "120"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    struct Expected
    {
        const char* name;
        int width, height;
    };
    for (const auto& e :
         {Expected{"mirrel-1.00s@100.png", 1060, 470}, Expected{"mirrel-1.00s@200.png", 2120, 940},
          Expected{"mirrel-2.50s@100.png", 1060, 470}, Expected{"mirrel-2.50s@200.png", 2120, 940}})
    {
        const auto image = juce::ImageFileFormat::loadFrom(folder.getChildFile(e.name));
        ASSERT_TRUE(image.isValid()) << e.name << "\n" << run.output;
        EXPECT_EQ(image.getWidth(), e.width) << e.name;
        EXPECT_EQ(image.getHeight(), e.height) << e.name;
        EXPECT_TRUE(run.output.contains(folder.getChildFile(e.name).getFullPathName())) << run.output;
    }
    EXPECT_FALSE(settings.folder.getChildFile("mosslight").exists()) << "the tool wrote settings";
    // The drum loop is playing by then: the lane shows hits, the status follows the song.
    const auto later = juce::ImageFileFormat::loadFrom(folder.getChildFile("mirrel-2.50s@100.png"));
    const auto earlier = juce::ImageFileFormat::loadFrom(folder.getChildFile("mirrel-1.00s@100.png"));
    int differing = 0;
    for (int y = 58; y < 328; ++y)
        for (int x = 24; x < 564; ++x)
            differing += later.getPixelAt(x, y) != earlier.getPixelAt(x, y) ? 1 : 0;
    EXPECT_GT(differing, 200) << "the lane did not move between the two moments";
}

TEST_F(SnapshotTool, refusesWhatItCannotDo)
{
    const auto drums = demo.getChildFile("drums.wav").getFullPathName();
    struct Case
    {
        juce::StringArray args;
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {{drums, folder.getFullPathName(), "--at", "60"}, 1, "beyond the end"},
        {{drums, folder.getFullPathName(), "--scale", "120"}, 2, "--scale"},
        {{drums, folder.getFullPathName(), "--set", "nonsense=3"}, 1, "unknown parameter nonsense"},
        {{drums, folder.getFullPathName(), "--view", "module=eq"}, 1, "takes no --view"},
        {{folder.getChildFile("missing.wav").getFullPathName(), folder.getFullPathName()},
         1,
         "no input file"},
        {{drums}, 2, "give the input file and the output folder"},
    };
    for (const auto& c : cases)
    {
        const auto run = runTool(SNAPSHOT_MIRREL, c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args.joinIntoString(" ") << "\n" << run.output;
        EXPECT_TRUE(run.output.contains(c.says)) << run.output;
    }
    EXPECT_EQ(folder.getNumberOfChildFiles(juce::File::findFiles), 0);
}
