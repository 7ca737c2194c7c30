#pragma once

// A fixture for running a snapshot tool as a user runs it (support/ToolRun.h): the demo
// material, an output folder of the test's own, removed afterwards, and a settings folder of its
// own, since the tools must not need, nor touch, the user's settings.
#include "EditorEvents.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

namespace testsupport
{
class SnapshotToolTest : public ::testing::Test
{
protected:
    SnapshotToolTest() { folder.createDirectory(); }
    ~SnapshotToolTest() override { folder.deleteRecursively(); }

    const juce::File demo{MOSSLIGHT_DEMO_DIR};
    const juce::File folder = juce::File::createTempFile("snapshots");
    SettingsFolder settings;
};
} // namespace testsupport
