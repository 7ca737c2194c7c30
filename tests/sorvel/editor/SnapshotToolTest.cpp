// snapshot-sorvel as a user runs it: Sorvel's editor pictured at the asked scales with the demo
// phrase flowing, the module panel chosen with --view, and clear refusals of unknown views.
#include "EditorRig.h"
#include "support/SnapshotToolFixture.h"

namespace
{
using testsupport::runTool;
using SorvelSnapshotTool = testsupport::SnapshotToolTest;
} // namespace

TEST_F(SorvelSnapshotTool, picturesTheEditorAtEachScaleWithTheChosenModule)
{
    const auto run = runTool(SNAPSHOT_SORVEL, {demo.getChildFile("phrase.wav").getFullPathName(),
                                               folder.getFullPathName(), "--at", "1.5", "--set", "comp=6",
                                               "--scale", "100", "--scale", "200", "--view", "module=EQ"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const auto image = juce::ImageFileFormat::loadFrom(folder.getChildFile("sorvel-1.50s@100.png"));
    ASSERT_TRUE(image.isValid()) << run.output;
    EXPECT_EQ(image.getWidth(), 1200);
    EXPECT_EQ(image.getHeight(), 560);
    // EQ's panel: the top of the EQ view's well (design 700, 390, above the spectrum) is near black.
    EXPECT_TRUE(testsupport::hasColour(image, 700, 390, juce::Colour(11, 14, 24), 12));

    const auto large = juce::ImageFileFormat::loadFrom(folder.getChildFile("sorvel-1.50s@200.png"));
    ASSERT_TRUE(large.isValid()) << run.output;
    EXPECT_EQ(large.getWidth(), 2400);
    EXPECT_EQ(large.getHeight(), 1120);
}

TEST_F(SorvelSnapshotTool, refusesAnUnknownModuleOrViewOption)
{
    const struct
    {
        const char* view;
        const char* says;
    } cases[] = {{"module=CHORUS", "unknown module CHORUS"}, {"colour=red", "unknown view option colour"}};
    for (const auto& c : cases)
    {
        const auto run = runTool(SNAPSHOT_SORVEL, {demo.getChildFile("phrase.wav").getFullPathName(),
                                                   folder.getFullPathName(), "--view", c.view});
        EXPECT_EQ(run.exitCode, 1) << c.view << "\n" << run.output;
        EXPECT_TRUE(run.output.contains(c.says)) << run.output;
    }
    EXPECT_EQ(folder.getNumberOfChildFiles(juce::File::findFiles), 0);
}
