#pragma once

// Runs the render tool as a separate process and reads what it wrote: the end-to-end path a user
// takes. RENDER_TOOL is the built executable.
#include "support/AudioFiles.h"
#include "support/BufferChecks.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

#include <cstdio>

namespace testsupport
{

struct RenderResult
{
    int exitCode = -1;
    juce::String output; // stdout and stderr
};

inline juce::String shellQuote(const juce::String& s)
{
    return "'" + s.replace("'", "'\\''") + "'";
}

inline RenderResult runRender(const juce::StringArray& args)
{
    juce::String command = shellQuote(RENDER_TOOL);
    for (const auto& a : args)
        command << " " << shellQuote(a);
    RenderResult result;
    if (FILE* pipe = popen((command + " 2>&1").toRawUTF8(), "r"))
    {
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof(chunk), pipe)) > 0)
            result.output += juce::String::fromUTF8(chunk, static_cast<int>(n));
        const int status = pclose(pipe);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return result;
}

// A scratch folder for one test, removed afterwards.
struct TempDir
{
    juce::File dir = juce::File::createTempFile("").getSiblingFile(
        "mosslight-test-" + juce::String::toHexString(juce::Random::getSystemRandom().nextInt64()));
    TempDir() { dir.createDirectory(); }
    ~TempDir() { dir.deleteRecursively(); }
    juce::File operator/(const char* name) const { return dir.getChildFile(name); }
};

} // namespace testsupport
