// Opening and closing Mirrel's editor over and over while another thread runs the audio, as a
// host does when the user toggles the window during playback: nothing crashes, nothing leaks (the
// AddressSanitizer build checks), and the audio thread never touches the heap. Labelled "stress"
// so that a ThreadSanitizer run picks it up.
#include "EditorRig.h"

#include "render/Transport.h"
#include "support/AllocationCounter.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <atomic>
#include <thread>

namespace
{
juce::AudioBuffer<float> drumLoop()
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader(
        formats.createReaderFor(juce::File(MOSSLIGHT_DEMO_DIR).getChildFile("drums.wav")));
    juce::AudioBuffer<float> audio(2, reader != nullptr ? static_cast<int>(reader->lengthInSamples) : 0);
    if (reader != nullptr)
        reader->read(&audio, 0, audio.getNumSamples(), 0, true, true);
    return audio;
}
} // namespace

TEST(MirrelEditorStress, openingAndClosingWhileAudioRunsNeverBlocksOrAllocatesOnTheAudioThread)
{
    editortest::SettingsFolder settings;
    const auto loop = drumLoop();
    ASSERT_GT(loop.getNumSamples(), 48000) << "the demo drum loop is missing";

    MirrelProcessor processor;
    Transport::Settings playing;
    playing.playing = true;
    Transport transport(playing, 48000.0);
    processor.setPlayHead(&transport);
    processor.prepareToPlay(48000.0, 256);

    std::atomic<bool> stop{false};
    std::atomic<long> blocks{0}, heapOperations{0};
    std::thread audio(
        [&]
        {
            juce::AudioBuffer<float> block(2, 256);
            juce::MidiBuffer midi;
            int pos = 0;
            while (!stop.load())
            {
                for (int c = 0; c < 2; ++c)
                    block.copyFrom(c, 0, loop, c, pos, 256);
                {
                    testsupport::ScopedHeapCount count;
                    processor.processBlock(block, midi);
                    heapOperations += count.counts().total();
                }
                transport.advance(256);
                pos = (pos + 256) % (loop.getNumSamples() - 256);
                ++blocks;
            }
        });

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

    stop.store(true);
    audio.join();
    processor.setPlayHead(nullptr);
    EXPECT_GT(blocks.load(), 0);
    EXPECT_EQ(heapOperations.load(), 0)
        << "heap operations on the audio thread in " << blocks.load() << " blocks";
}
