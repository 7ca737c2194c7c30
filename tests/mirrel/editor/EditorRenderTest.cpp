// Mirrel's editor pictured at 100 % and 150 % with known values in the processor's feed, checked
// at the pixels its layout fixes: where the lane's dots and marker are centred, where its shaded
// zones begin and end, and in which colours.
#include "EditorRig.h"
#include "support/ReferenceImages.h"

#include <cmath>

namespace
{
// The lane sits at (24, 58) in the editor, 540 x 270; its pan axis runs from x = 26 (left) to
// 514 (right); the row of the current place is centred at y = 37 and the history starts at
// y = 60 (newest) and ends at y = 242 (the 24th hit).
constexpr float laneX = 24.0f, laneY = 58.0f;
float axis(float pan)
{
    return 26.0f + 488.0f * (pan + 1.0f) * 0.5f;
}
constexpr float nowRow = 37.0f;
float historyRow(int i)
{
    return 60.0f + 182.0f * static_cast<float>(i) / 23.0f;
}

// 24 places spread across the field, none on a grid line.
std::vector<float> spreadPans()
{
    std::vector<float> pans;
    for (int i = 0; i < 24; ++i)
        pans.push_back(-0.93f + 0.0809f * static_cast<float>(i));
    return pans;
}
constexpr float restingPan = 0.97f; // the marker, clear of every dot

class EditorRender : public editortest::EditorTest, public ::testing::WithParamInterface<int>
{
protected:
    float scale() const { return static_cast<float>(GetParam()) / 100.0f; }

    // The pixel under a point of the lane, given in lane units.
    juce::Colour lane(const juce::Image& image, float x, float y) const
    {
        return image.getPixelAt(static_cast<int>(std::floor((laneX + x) * scale())),
                                static_cast<int>(std::floor((laneY + y) * scale())));
    }

    ::testing::AssertionResult laneHas(const juce::Image& image, float x, float y, juce::Colour expected,
                                       int tolerance = 6) const
    {
        const auto c = lane(image, x, y);
        if (testsupport::near(c, expected, tolerance))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "lane (" << x << ", " << y << ") at " << GetParam() << " % is " << c.toDisplayString(true)
               << ", expected " << expected.toDisplayString(true);
    }

    juce::Image pictureWithHits(int count, float panNow = restingPan)
    {
        publish(spreadPans(), count, panNow);
        tick();
        return picture(GetParam());
    }
};
} // namespace

TEST_P(EditorRender, theWindowIsTheDesignSizeScaled)
{
    const auto image = picture(GetParam());
    EXPECT_EQ(image.getWidth(), juce::roundToInt(1060 * scale()));
    EXPECT_EQ(image.getHeight(), juce::roundToInt(470 * scale()));
    EXPECT_EQ(editor->getWidth(), image.getWidth());
    EXPECT_EQ(editor->sizeButton.getButtonText(), juce::String(GetParam()) + " %");
}

TEST_P(EditorRender, withoutHitsTheLaneIsEmptyAndTheTextsWait)
{
    // The feed's history holds old places, but no hit has come since preparing.
    const auto image = pictureWithHits(0);
    // Where the unshaded ones would be, the well shows what it shows at the hole's middle.
    for (int i = 0; i < 24; ++i)
    {
        const auto pan = spreadPans()[static_cast<size_t>(i)];
        if (std::abs(pan) < 0.3f)
        {
            EXPECT_TRUE(laneHas(image, axis(pan), historyRow(i), lane(image, 282.0f, historyRow(i)), 2)) << i;
        }
    }
    EXPECT_TRUE(laneHas(image, axis(restingPan), nowRow, ui::amber, 4))
        << "the marker stands where the pan is";
    EXPECT_EQ(editor->placeLabel.getText(), "CENTRE");
    EXPECT_EQ(editor->statusLabel.getText(),
              "no hits yet: waiting for the first one;  transport stopped: hits "
              "still move, nothing follows the song position");
}

TEST_P(EditorRender, oneHitDrawsOnlyTheNewestDotInAmber)
{
    const auto empty = pictureWithHits(0);
    const auto image = pictureWithHits(1);
    const auto pans = spreadPans();
    EXPECT_TRUE(laneHas(image, axis(pans[0]), historyRow(0), ui::amber, 4));
    // Its edge: 10 units across.
    EXPECT_TRUE(laneHas(image, axis(pans[0]) + 3.5f, historyRow(0), ui::amber, 8));
    EXPECT_TRUE(laneHas(image, axis(pans[0]) + 6.5f, historyRow(0),
                        lane(empty, axis(pans[0]) + 6.5f, historyRow(0)), 2));
    for (int i = 1; i < 24; ++i)
    {
        const float x = axis(pans[static_cast<size_t>(i)]), y = historyRow(i);
        EXPECT_TRUE(laneHas(image, x, y, lane(empty, x, y), 2)) << "hit " << i << " is not there yet";
    }
    EXPECT_EQ(editor->placeLabel.getText(), "93 % LEFT");
    EXPECT_EQ(editor->statusLabel.getText(),
              "1 hits, last hit at 93 % left;  transport stopped: hits still move, "
              "nothing follows the song position");
}

TEST_P(EditorRender, thirtyHitsDrawTheLastTwentyFourShrinkingAndFadingDownwards)
{
    const auto empty = pictureWithHits(0);
    publish(spreadPans(), 30, restingPan, true);
    tick();
    const auto image = picture(GetParam());
    const auto pans = spreadPans();
    EXPECT_TRUE(laneHas(image, axis(pans[0]), historyRow(0), ui::amber, 4));
    for (int i = 1; i < 24; ++i)
    {
        const float t = static_cast<float>(i) / 23.0f;
        const float x = axis(pans[static_cast<size_t>(i)]), y = historyRow(i);
        const auto behind = lane(empty, x, y);
        const auto expected =
            behind.interpolatedWith(ui::text, std::round((1.0f - 0.8f * t) * 255.0f) / 255.0f);
        EXPECT_TRUE(laneHas(image, x, y, expected, 5)) << "hit " << i;
        // Radius 5 - 2t: a point 1.5 units outside it is the well again.
        const float outside = 5.0f - 2.0f * t + 1.5f;
        EXPECT_TRUE(laneHas(image, x, y + outside, lane(empty, x, y + outside), 2)) << "below hit " << i;
    }
    EXPECT_EQ(editor->placeLabel.getText(), "93 % LEFT");
    EXPECT_EQ(editor->statusLabel.getText(), "30 hits, last hit at 93 % left;  follows the song position");
}

TEST_P(EditorRender, bypassGreysTheMarkerAndSaysSo)
{
    publish(spreadPans(), 12, -0.4f, true);
    setParameter("bypass", 1.0f);
    tick();
    const auto image = picture(GetParam());
    EXPECT_TRUE(laneHas(image, axis(-0.4f), nowRow, ui::off, 4));
    EXPECT_EQ(editor->statusLabel.getText(), "bypassed: everything at the centre, 12 hits so far");

    setParameter("bypass", 0.0f);
    tick();
    EXPECT_TRUE(laneHas(picture(GetParam()), axis(-0.4f), nowRow, ui::amber, 4));
    EXPECT_EQ(editor->statusLabel.getText(), "12 hits, last hit at 93 % left;  follows the song position");
}

TEST_P(EditorRender, theZonesShadeFromTheHoleToTheWidth)
{
    struct Case
    {
        float width, hole;                // knob values, percent
        std::vector<float> shaded, clear; // lane x inside and outside the zones
    };
    const float y = 150.0f; // in the history, where no dot is drawn
    const Case cases[] = {
        // 100 % wide, hole 30 %: from x(-1) to x(-0.3) = 196.8 and from x(0.3) = 343.2 to x(1).
        {100.0f, 30.0f, {30.0f, 100.0f, 195.5f, 345.0f, 440.0f, 510.0f}, {198.0f, 282.0f, 341.0f, 516.0f}},
        // Half as wide: the hole is 30 % of the width, x(-0.5) = 148 to x(-0.15) = 233.4.
        {50.0f, 30.0f, {150.0f, 232.0f, 310.0f, 388.0f}, {140.0f, 236.0f, 304.0f, 396.0f}},
        // A hole of 100 % leaves nowhere to shade.
        {100.0f, 100.0f, {}, {30.0f, 100.0f, 195.5f, 282.0f, 345.0f, 510.0f}},
    };
    publish({}, 0, restingPan);
    for (const auto& c : cases)
    {
        setParameter("width", c.width);
        setParameter("hole", c.hole);
        tick();
        const auto image = picture(GetParam());
        // The well is shaded top to bottom alike, so the hole's middle shows its plain colour.
        const auto plain = lane(image, 269.0f - 8.0f, y);
        const auto tinted = plain.interpolatedWith(ui::blue, 0x1a / 255.0f);
        for (const float x : c.shaded)
            EXPECT_TRUE(laneHas(image, x, y, tinted, 2)) << "width " << c.width << ", hole " << c.hole;
        for (const float x : c.clear)
            EXPECT_TRUE(laneHas(image, x, y, plain, 2)) << "width " << c.width << ", hole " << c.hole;
    }
}

INSTANTIATE_TEST_SUITE_P(Scales, EditorRender, ::testing::Values(100, 150),
                         [](const ::testing::TestParamInfo<int>& scale)
                         { return "at" + std::to_string(scale.param); });

// The lane alone, as a view, against a reference picture (MOSSLIGHT_REWRITE_REFERENCES=1 rewrites).
TEST(PanLaneView, drawsWhatItIsGivenLikeItsReference)
{
    KnobLookAndFeel look; // the Style, for the faces and the grain
    PanLane lane;
    lane.setSize(540, 270);
    const auto pans = spreadPans();
    std::copy(pans.begin(), pans.end(), lane.hits.begin());
    lane.hitCount = 30;
    lane.panNow = pans[0];
    lane.width = 0.8f;
    lane.hole = 0.25f;
    const juce::File folder(MOSSLIGHT_EDITOR_REFERENCE_DIR);
    testsupport::expectMatchesReference(lane.createComponentSnapshot(lane.getLocalBounds(), true, 1.0f),
                                        folder, "pan-lane@100");
    lane.bypassed = true;
    testsupport::expectMatchesReference(lane.createComponentSnapshot(lane.getLocalBounds(), true, 2.0f),
                                        folder, "pan-lane-bypassed@200");
}
