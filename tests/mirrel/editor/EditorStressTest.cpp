// Opening and closing Mirrel's editor over and over while another thread runs the audio, as a
// host does when the user toggles the window during playback: nothing crashes, nothing leaks (the
// AddressSanitizer build checks), and the audio thread never touches the heap. Labelled "stress"
// so that a ThreadSanitizer run picks it up.
#include "EditorRig.h"

#include "support/AudioFiles.h"
#include "support/AudioThread.h"

TEST(MirrelEditorStress, openingAndClosingWhileAudioRunsNeverBlocksOrAllocatesOnTheAudioThread)
{
    editortest::SettingsFolder settings;
    const auto loop = testsupport::readDemo("drums.wav");
    ASSERT_GT(loop.getNumSamples(), 48000) << "the demo drum loop is missing";

    MirrelProcessor processor;
    processor.prepareToPlay(48000.0, 256);
    testsupport::AudioThread audio(processor, loop, 256, 48000.0);

    for (int opening = 0; opening < 50; ++opening)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor(processor.createEditorIfNeeded());
        ASSERT_NE(editor, nullptr);
        // A few refreshes by hand and by the editor's own timer, and now and then a full picture.
        for (int t = 0; t < 3; ++t)
            snapshot::tick(*editor);
        juce::MessageManager::getInstance()->runDispatchLoopUntil(40);
        if (opening % 10 == 0)
        {
            EXPECT_TRUE(snapshot::picture(*editor, opening % 20 == 0 ? 100 : 150).isValid());
        }
        editor.reset();
        EXPECT_EQ(processor.getActiveEditor(), nullptr);
    }

    audio.stop();
    EXPECT_GT(audio.blocks(), 0);
    EXPECT_EQ(audio.heapOperations(), 0)
        << "heap operations on the audio thread in " << audio.blocks() << " blocks";
}
