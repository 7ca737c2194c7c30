#pragma once

// Sorvel's editor on a prepared processor, fed with known values the way the audio thread
// publishes them (metering records, peaks, counters), refreshed tick by tick and pictured the way
// the snapshot tool pictures it. The settings file lives in a folder of the test's own, so every
// editor opens at 100 % unless a test stores another scale first.
#include "sorvel/PluginEditor.h"
#include "snapshot/Snapshot.h"
#include "support/EditorEvents.h"
#include "support/Pixels.h"

#include <gtest/gtest.h>

namespace sorveleditortest
{
using Record = sv2::MeteringRecord;

class SorvelEditorTest : public ::testing::Test
{
protected:
    SorvelEditorTest() { processor.prepareToPlay(48000.0, 512); }
    ~SorvelEditorTest() override { editor.reset(); }

    // The editor is opened by the test (so it can set the processor up first), or on first use.
    Sorvel2Editor& open()
    {
        if (editor == nullptr)
            editor = std::make_unique<Sorvel2Editor>(processor);
        return *editor;
    }

    sv2::EditorFeed& feed() { return processor.getFeed(); }

    // One more block with these peaks, as a playing processor publishes it.
    void publishBlock(float inputPeak = 0.0f, float outputPeak = 0.0f)
    {
        feed().idle.store(false);
        feed().inputPeak.store(inputPeak);
        feed().outputPeak.store(outputPeak);
        feed().blocksProcessed.fetch_add(1);
    }

    // One block that completed these records.
    void publishRecords(std::initializer_list<Record> records)
    {
        for (const auto& r : records)
            feed().records.push(r);
        publishBlock();
    }

    void tick(int ticks = 1)
    {
        for (int i = 0; i < ticks; ++i)
            open().timerCallback();
    }

    void setParameter(const char* id, float plainValue)
    {
        auto* parameter = processor.apvts.getParameter(id);
        parameter->setValueNotifyingHost(parameter->convertTo0to1(plainValue));
    }

    float parameter(const char* id) { return processor.apvts.getRawParameterValue(id)->load(); }

    juce::Image picture(int percent) { return snapshot::picture(open(), percent); }

    testsupport::SettingsFolder settings;
    Sorvel2Processor processor;
    std::unique_ptr<Sorvel2Editor> editor;
};

// A record of a quiet vocal: every level and reduction at rest, with the given fields set.
inline Record record(std::initializer_list<std::pair<Record::Field, float>> fields)
{
    auto r = Record::silent();
    for (const auto& [field, value] : fields)
        r[field] = value;
    return r;
}

// Where block i of the chain row lies in the row, and the centre of its power symbol.
inline juce::Point<float> blockBody(int i)
{
    return {static_cast<float>(i) * 128.0f + 40.0f, 40.0f};
}
inline juce::Point<float> blockPower(int i)
{
    return {static_cast<float>(i) * 128.0f + 116.0f - 13.0f, 12.0f};
}
} // namespace sorveleditortest
