// Sorvel's editor opened and closed over and over, every module selected in turn, while another
// thread plays the demo phrase through the processor at the pace a host would: nothing crashes or
// leaks (the AddressSanitizer build checks), the ThreadSanitizer build finds no data race between
// the refresh and the audio thread (records, taps, peaks), and the audio thread never touches the
// heap. Labelled "stress" so that the sanitizer runs pick it up.
#include "EditorRig.h"

#include "support/AudioFiles.h"
#include "support/AudioThread.h"

TEST(SorvelEditorStress, openingClosingAndSelectingWhileAudioRunsNeverRacesOrAllocatesOnTheAudioThread)
{
    testsupport::SettingsFolder settings;
    const auto phrase = testsupport::readDemo("phrase.wav");
    ASSERT_GT(phrase.getNumSamples(), 48000) << "the demo phrase is missing";

    constexpr int blockSize = 256;
    Sorvel2Processor processor;
    processor.setPlayConfigDetails(2, 2, 48000.0, blockSize);
    processor.prepareToPlay(48000.0, blockSize);

    // The audio thread keeps to about real time, as a host's does: the ring's slots are reused
    // 5.12 s after they were written, and the editor reads at most 504 records back. Four times
    // real time gives more records per tick than a host does.
    testsupport::AudioThread audio(processor, phrase, blockSize, 48000.0, 4.0);

    for (int opening = 0; opening < 24; ++opening)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor(processor.createEditorIfNeeded());
        ASSERT_NE(editor, nullptr);
        auto* sorvel = dynamic_cast<Sorvel2Editor*>(editor.get());
        ASSERT_NE(sorvel, nullptr);
        // Every module in turn (the EQ modules switch the taps on and off), a few refreshes by
        // hand and by the editor's own timer, and now and then a full picture.
        sorvel->select(opening % 8);
        for (int t = 0; t < 3; ++t)
            snapshot::tick(*editor);
        juce::MessageManager::getInstance()->runDispatchLoopUntil(60);
        if (opening % 8 == 0)
        {
            EXPECT_TRUE(snapshot::picture(*editor, opening % 16 == 0 ? 100 : 150).isValid());
        }
        editor.reset();
        EXPECT_EQ(processor.getActiveEditor(), nullptr);
        EXPECT_FALSE(processor.getFeed().tapEnabled.load());
    }

    // One editor left open while the ring wraps round more than once (512 records are 5.12 s of
    // audio, 1.3 s here), refreshing on its own timer: the refresh keeps reading the newest
    // records while the audio thread overwrites the oldest. At least 3 s, and longer until the
    // ring has wrapped twice: under ThreadSanitizer the chain plays slower than four times real
    // time.
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor(processor.createEditorIfNeeded());
        ASSERT_NE(editor, nullptr);
        const auto recordsBefore = processor.getFeed().records.count();
        const auto wrappedTwice = [&]
        { return processor.getFeed().records.count() - recordsBefore > 2u * sv2::RecordRing::size; };
        juce::MessageManager::getInstance()->runDispatchLoopUntil(3000);
        for (int waited = 0; !wrappedTwice() && waited < 60000; waited += 100)
            juce::MessageManager::getInstance()->runDispatchLoopUntil(100);
        EXPECT_GT(processor.getFeed().records.count() - recordsBefore, 2u * sv2::RecordRing::size)
            << "the audio thread did not wrap the ring round";
        const auto* sorvel = dynamic_cast<Sorvel2Editor*>(editor.get());
        ASSERT_NE(sorvel, nullptr);
        EXPECT_GT(sorvel->refresh.readIndex, recordsBefore);
    }

    audio.stop();
    EXPECT_GT(audio.blocks(), 0);
    EXPECT_EQ(audio.heapOperations(), 0)
        << "heap operations on the audio thread in " << audio.blocks() << " blocks";
}
