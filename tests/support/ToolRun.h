#pragma once

// Runs a command-line tool as a user runs it and keeps its exit code and everything it printed.
#include <juce_core/juce_core.h>

namespace testsupport
{
struct ToolRun
{
    int exitCode = -1; // -1: it did not start, or ran longer than `timeoutMs`
    juce::String output;
};

inline ToolRun runTool(const char* tool, const juce::StringArray& args, int timeoutMs = 60000)
{
    juce::StringArray command{tool};
    command.addArray(args);
    juce::ChildProcess process;
    ToolRun run;
    if (!process.start(command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        return run;
    run.output = process.readAllProcessOutput();
    if (process.waitForProcessToFinish(timeoutMs))
        run.exitCode = static_cast<int>(process.getExitCode());
    return run;
}
} // namespace testsupport
