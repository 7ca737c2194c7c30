#pragma once

// The demo material the build makes (MOSSLIGHT_DEMO_DIR), for tests that need a real vocal.
#include "wav/WavFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testsupport
{

// The spoken demo phrase, 48 kHz mono, read once. Empty, with a test failure, when it is missing.
inline const std::vector<float>& demoPhrase()
{
    static const std::vector<float> samples = []
    {
        wav::Audio audio;
        std::string error;
        const std::string path = std::string(MOSSLIGHT_DEMO_DIR) + "/phrase.wav";
        if (!wav::read(path, audio, error) || audio.channels.empty())
        {
            ADD_FAILURE() << path << ": " << error;
            return std::vector<float>();
        }
        return audio.channels[0];
    }();
    return samples;
}

} // namespace testsupport
