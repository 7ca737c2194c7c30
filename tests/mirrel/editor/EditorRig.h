#pragma once

// Mirrel's editor on a prepared processor, fed with known values the way the audio thread
// publishes them, refreshed tick by tick and pictured the way the snapshot tool pictures it. The
// settings file lives in a folder of the test's own, so every editor opens at 100 %.
#include "mirrel/PluginEditor.h"
#include "snapshot/Snapshot.h"
#include "support/EditorEvents.h"
#include "support/Pixels.h"

#include <gtest/gtest.h>

#include <vector>

namespace editortest
{

using testsupport::SettingsFolder;

class EditorTest : public ::testing::Test
{
protected:
    EditorTest()
    {
        processor.prepareToPlay(48000.0, 512);
        editor = std::make_unique<MirrelEditor>(processor);
    }
    ~EditorTest() override { editor.reset(); }

    mr::Feed& feed() { return processor.feed(); }

    // What the audio thread publishes at the end of a block: the history (newest first; the rest
    // of the 24 stay as they are), the count, the place now and of the last hit.
    void publish(const std::vector<float>& pans, int count, float panNow, bool following = false)
    {
        for (size_t k = 0; k < pans.size(); ++k)
            feed().hitPans[k].store(pans[k]);
        feed().hitCount.store(count);
        feed().panNow.store(panNow);
        feed().panLastHit.store(pans.empty() ? 0.0f : pans[0]);
        feed().followingSong.store(following);
    }

    // One more block with these peaks, as a playing processor publishes it.
    void publishBlock(float inputPeak, float outputPeak)
    {
        feed().idle.store(false);
        feed().inputPeak.store(inputPeak);
        feed().outputPeak.store(outputPeak);
        feed().blocksProcessed.fetch_add(1);
    }

    void tick(int ticks = 1)
    {
        for (int i = 0; i < ticks; ++i)
            editor->timerCallback();
    }

    void setParameter(const char* id, float plainValue)
    {
        auto* parameter = processor.apvts.getParameter(id);
        parameter->setValueNotifyingHost(parameter->convertTo0to1(plainValue));
    }

    juce::Image picture(int percent) { return snapshot::picture(*editor, percent); }

    SettingsFolder settings;
    MirrelProcessor processor;
    std::unique_ptr<MirrelEditor> editor;
};

using testsupport::click;
using testsupport::drag;
using testsupport::mouseAt;

} // namespace editortest
