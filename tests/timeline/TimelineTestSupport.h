// Helpers for the take pictures' tests: made-up takes, renders and what a pixel shows.
#pragma once

#include "support/Pixels.h"
#include "timeline/MirrelTimeline.h"
#include "timeline/SorvelTimeline.h"

#include <gtest/gtest.h>

namespace timelinetest
{
using R = sv2::MeteringRecord;

// A take of `seconds` whose every 10 ms record is silent and reduces nothing.
inline timeline::SorvelTake quietTake(double seconds)
{
    timeline::SorvelTake take;
    take.info.fileName = "made-up.wav";
    take.seconds = seconds;
    const auto n = static_cast<int>(std::lround(seconds / take.intervalSeconds));
    for (int k = 0; k < n; ++k)
        take.records.push_back({(k + 1) * take.intervalSeconds, R::silent()});
    return take;
}

inline juce::Image renderSorvel(const timeline::SorvelTake& take,
                                int width = timeline::TakePicture::defaultWidth,
                                int height = timeline::TakePicture::defaultHeight)
{
    timeline::SorvelPicture picture(take);
    return picture.render(width, height);
}

inline juce::Image renderMirrel(const timeline::MirrelTake& take,
                                int width = timeline::TakePicture::defaultWidth,
                                int height = timeline::TakePicture::defaultHeight)
{
    timeline::MirrelPicture picture(take);
    return picture.render(width, height);
}

// Amber over the dark well, faint (the level reduction's fill) or strong.
inline bool amberish(juce::Colour c)
{
    return c.getRed() > c.getBlue() + 20 && c.getGreen() > c.getBlue() + 10;
}
inline bool strongAmber(juce::Colour c)
{
    return c.getRed() > 150 && c.getGreen() > 100 && c.getBlue() < 100;
}
// The de-ess bars' green.
inline bool green(juce::Colour c)
{
    return c.getGreen() > 120 && c.getRed() < 100 && c.getGreen() > c.getBlue() + 30;
}
// A hit's dot, in the near-white text colour.
inline bool light(juce::Colour c)
{
    return c.getRed() > 150 && c.getGreen() > 150 && c.getBlue() > 150;
}

using testsupport::columnRun;
using testsupport::rowRun;
using testsupport::run;

// Saves a picture beside the test's working folder when MOSSLIGHT_KEEP_PICTURES names a folder,
// to look at.
inline void keep(const juce::Image& image, const juce::String& name)
{
    const auto folder = juce::SystemStats::getEnvironmentVariable("MOSSLIGHT_KEEP_PICTURES", {});
    if (folder.isEmpty())
        return;
    juce::File(folder).createDirectory();
    juce::FileOutputStream out(juce::File(folder).getChildFile(name + ".png"));
    if (out.openedOk())
    {
        out.setPosition(0);
        out.truncate();
        juce::PNGImageFormat().writeImageToStream(image, out);
    }
}

class TimelinePictureTest : public ::testing::Test
{
protected:
    juce::SharedResourcePointer<ui::Style> style; // the faces and the grain while a test draws
};
} // namespace timelinetest
