// Whole renders compared with reference pictures kept in the repository. When a change of look is
// intended, rewrite them with MOSSLIGHT_REWRITE_REFERENCES=1 and look at the new pictures before
// committing them.
#pragma once

#include <juce_graphics/juce_graphics.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace testsupport
{
inline bool rewritingReferences()
{
    const char* value = std::getenv("MOSSLIGHT_REWRITE_REFERENCES");
    return value != nullptr && *value != 0 && juce::String(value) != "0";
}

inline bool writePng(const juce::Image& image, const juce::File& file)
{
    file.deleteFile();
    juce::FileOutputStream out(file);
    return out.openedOk() && juce::PNGImageFormat().writeImageToStream(image, out);
}

// Same size, and at most 0.1 % of the pixels off by more than 3 in any channel. A failing render
// is saved beside the working directory as <name>.actual.png.
inline void expectMatchesReference(const juce::Image& actual, const juce::File& folder,
                                   const juce::String& name)
{
    const auto file = folder.getChildFile(name + ".png");
    if (rewritingReferences())
    {
        ASSERT_TRUE(writePng(actual, file)) << file.getFullPathName();
        return;
    }
    const auto expected = juce::ImageFileFormat::loadFrom(file);
    ASSERT_TRUE(expected.isValid()) << "missing reference " << file.getFullPathName()
                                    << " (MOSSLIGHT_REWRITE_REFERENCES=1 writes it)";
    ASSERT_EQ(actual.getWidth(), expected.getWidth()) << name;
    ASSERT_EQ(actual.getHeight(), expected.getHeight()) << name;
    int off = 0, worst = 0;
    for (int y = 0; y < actual.getHeight(); ++y)
    {
        for (int x = 0; x < actual.getWidth(); ++x)
        {
            const auto a = actual.getPixelAt(x, y), e = expected.getPixelAt(x, y);
            const int d =
                juce::jmax(std::abs(a.getRed() - e.getRed()), std::abs(a.getGreen() - e.getGreen()),
                           std::abs(a.getBlue() - e.getBlue()), std::abs(a.getAlpha() - e.getAlpha()));
            worst = juce::jmax(worst, d);
            off += d > 3 ? 1 : 0;
        }
    }
    const int allowed = actual.getWidth() * actual.getHeight() / 1000;
    if (off > allowed)
    {
        const auto saved = juce::File::getCurrentWorkingDirectory().getChildFile(name + ".actual.png");
        writePng(actual, saved);
        ADD_FAILURE() << name << ": " << off << " pixels differ (worst by " << worst << "); this render is "
                      << saved.getFullPathName();
    }
}
} // namespace testsupport
