#include "ViewTestSupport.h"

#include "sorvel/ui/BlockFeed.h"
#include "sorvel/ui/PowerButton.h"

#include "sorvel/PluginProcessor.h"

using viewtest::KitTest;

namespace
{
constexpr int rowWidth = 1012, rowHeight = 74;

struct Row
{
    Row()
    {
        row.setSize(rowWidth, rowHeight);
        svui::fillBlocks(row.blocks, sources);
    }
    void fill() { svui::fillBlocks(row.blocks, sources); }
    svui::BlockSources sources;
    ChainRow row;
};

bool isBlue(juce::Colour c)
{
    return c.getBlue() > 170 && c.getRed() < 110;
}

bool isGreen(juce::Colour c)
{
    return c.getGreen() > 150 && c.getRed() < 110 && c.getBlue() < 150;
}
} // namespace

TEST(ChainRow, geometryAndHitTest)
{
    ChainRow row;
    row.setSize(rowWidth, rowHeight);
    EXPECT_FLOAT_EQ(ChainRow::blockWidth(rowWidth), 116.0f);
    EXPECT_FLOAT_EQ(row.blockLeft(3), 384.0f);
    EXPECT_FLOAT_EQ(row.blockLeft(7) + 116.0f, 1012.0f);
    EXPECT_EQ(row.blockAt({384.0f, 10.0f}), 3);
    EXPECT_EQ(row.blockAt({499.9f, 10.0f}), 3);
    EXPECT_EQ(row.blockAt({500.0f, 10.0f}), -1); // the gap
    EXPECT_EQ(row.blockAt({505.0f, 30.0f}), -1);
    EXPECT_EQ(row.blockAt({512.0f, 30.0f}), 4);
    EXPECT_EQ(row.blockAt({100.0f, 64.0f}), -1); // the pointer strip
    EXPECT_EQ(row.blockAt({100.0f, -0.5f}), -1);
    EXPECT_TRUE(row.isOnPowerSymbol(3, {484.0f, 10.0f}));
    EXPECT_TRUE(row.isOnPowerSymbol(3, {476.0f, 2.0f}));
    EXPECT_FALSE(row.isOnPowerSymbol(3, {475.9f, 10.0f}));
    EXPECT_FALSE(row.isOnPowerSymbol(3, {484.0f, 22.0f}));
    EXPECT_FALSE(row.isOnPowerSymbol(3, {400.0f, 40.0f}));
}

TEST(ChainRow, clicksSelectOrPowerAndHoverFollowsTheMouse)
{
    ChainRow row;
    row.setSize(rowWidth, rowHeight);
    std::vector<std::pair<char, int>> calls;
    row.onSelect = [&](int i) { calls.push_back({'s', i}); };
    row.onPower = [&](int i) { calls.push_back({'p', i}); };

    row.mouseDown(viewtest::mouseAt(row, {484, 10}));
    row.mouseDown(viewtest::mouseAt(row, {400, 40}));
    row.mouseDown(viewtest::mouseAt(row, {505, 30}));
    row.mouseDown(viewtest::mouseAt(row, {20, 70}));
    EXPECT_EQ(calls, (std::vector<std::pair<char, int>>{{'p', 3}, {'s', 3}}));

    EXPECT_EQ(row.hovered, -1);
    row.mouseMove(viewtest::mouseAt(row, {600, 30}));
    EXPECT_EQ(row.hovered, 4);
    row.mouseMove(viewtest::mouseAt(row, {635, 30}));
    EXPECT_EQ(row.hovered, -1);
    row.mouseMove(viewtest::mouseAt(row, {700, 30}));
    EXPECT_EQ(row.hovered, 5);
    row.mouseExit(viewtest::mouseAt(row, {700, 80}));
    EXPECT_EQ(row.hovered, -1);
    EXPECT_TRUE(row.isOpaque());
    EXPECT_EQ(row.selected, 3);
}

TEST(ChainRowBlocks, fillFromParametersAndRefreshState)
{
    svui::BlockSources s;
    s.hpf = 3;
    s.deess = 4;
    s.deessChar = 2;
    s.deessCut = 6;
    s.bass = 10;
    s.bassChar = 0;
    s.treble = -2;
    s.trebleChar = 0;
    s.comp = 5;
    s.compChar = 1;
    s.compMix = 100;
    s.compPeak = 2;
    s.compLevel = 4;
    s.shimmer = -4;
    s.shimmerChar = 2;
    s.lift = 3;
    s.tame = 1.5f;
    s.reverb = 5;
    s.reverbChar = 2;
    s.reverbReturn = -20;
    s.duck = 6;
    s.delay = 0;
    s.delayChar = 3;
    s.delayReturn = -30;
    s.width = 2;
    s.widthChar = 1;
    s.doubles = -95; // silent doubles: no faint bar, no duck mark
    s.listenIndex = 4;
    std::array<ChainRow::Block, 8> b;
    svui::fillBlocks(b, s);

    struct Expected
    {
        const char* text;
        float amount;
        bool bipolar, active, listening;
        float level, unducked, duckDepth;
    };
    const Expected expected[8] = {
        {"130 Hz", 0, false, true, false, 0, 0, 0},
        {"Hard", 4, false, true, false, 0.5f, 0, 0},
        {"Sub / Bite", 0, false, true, false, 0, 0, 0},
        {"Push", 5, false, true, false, 0.5f, 0, 0},
        {"Glass", -4, true, true, false, 0.25f, 0, 0},                   // tamed 1.5 of 6 dB
        {"Hall", 5, false, true, true, 40.0f / 48.0f, 46.0f / 48.0f, 6}, // listening: "listen" 4
        {"Quarter", 0, false, false, false, 0, 0, 0},                    // amount 0: no bar
        {"Wide", 2, false, true, false, -35.0f / 48.0f, 0, 0},
    };
    for (size_t i = 0; i < 8; ++i)
    {
        const auto& e = expected[i];
        EXPECT_EQ(b[i].text, e.text) << i;
        EXPECT_FLOAT_EQ(b[i].amount, e.amount) << i;
        EXPECT_EQ(b[i].bipolar, e.bipolar) << i;
        EXPECT_EQ(b[i].active, e.active) << i;
        EXPECT_EQ(b[i].listening, e.listening) << i;
        EXPECT_TRUE(b[i].on) << i;
        EXPECT_NEAR(b[i].level, e.level, 1e-6) << i;
        EXPECT_NEAR(b[i].unducked, e.unducked, 1e-6) << i;
        EXPECT_FLOAT_EQ(b[i].duckDepth, e.duckDepth) << i;
    }
    EXPECT_FLOAT_EQ(b[0].curveValues[0], 130.0f);
    EXPECT_FLOAT_EQ(b[2].curveValues[0], 10.0f);
    EXPECT_FLOAT_EQ(b[2].curveValues[1], -2.0f);
    EXPECT_EQ(b[2].curveIndices[0], 0);

    // A lifting shimmer shows its lift; a compressor mixed out is inactive; "Off" high-pass
    // draws a flat curve.
    s.shimmer = 6;
    s.compMix = 0.4f;
    s.hpf = 0;
    svui::fillBlocks(b, s);
    EXPECT_FLOAT_EQ(b[4].level, 0.5f);
    EXPECT_FALSE(b[3].active);
    EXPECT_EQ(b[0].text, "Off");
    EXPECT_FALSE(b[0].active);
    EXPECT_FLOAT_EQ(b[0].curveValues[0], 0.0f);

    // Switched off: nothing moves, curves are flat; listening follows "listen" alone.
    s.switches = {0, 0, 0, 0, 0, 0, 0, 0};
    s.hpf = 4;
    svui::fillBlocks(b, s);
    for (size_t i = 0; i < 8; ++i)
    {
        EXPECT_FALSE(b[i].on) << i;
        EXPECT_FLOAT_EQ(b[i].level, 0.0f) << i;
        EXPECT_FLOAT_EQ(b[i].unducked, 0.0f) << i;
        EXPECT_FLOAT_EQ(b[i].duckDepth, 0.0f) << i;
        EXPECT_FLOAT_EQ(b[i].curveValues[0], 0.0f) << i;
        EXPECT_FLOAT_EQ(b[i].curveValues[1], 0.0f) << i;
    }
    EXPECT_EQ(b[0].text, "180 Hz");
    EXPECT_TRUE(b[5].listening);

    // Out-of-range choices are clamped to their tables.
    s.deessChar = 9;
    s.delayChar = -3;
    svui::fillBlocks(b, s);
    EXPECT_EQ(b[1].text, "Hard");
    EXPECT_EQ(b[6].text, "Slap");
}

TEST(ChainRowBlocks, characterTablesEqualTheParametersChoices)
{
    Sorvel2Processor processor;
    const std::pair<const char*, const juce::StringArray*> tables[] = {
        {"hpf", &svui::hpfNames},           {"deessChar", &svui::deessChars},
        {"bassChar", &svui::bassChars},     {"trebleChar", &svui::trebleChars},
        {"compChar", &svui::compChars},     {"shimmerChar", &svui::shimmerChars},
        {"reverbChar", &svui::reverbChars}, {"delayChar", &svui::delayChars},
        {"widthChar", &svui::widthChars}};
    for (const auto& [id, table] : tables)
    {
        auto* parameter = processor.apvts.getParameter(id);
        ASSERT_NE(parameter, nullptr) << id;
        EXPECT_EQ(parameter->getAllValueStrings(), *table) << id;
    }
    for (const auto* id : svui::moduleSwitchIds)
        EXPECT_NE(processor.apvts.getParameter(id), nullptr) << id;
    EXPECT_EQ(svui::blockNames.size(), svui::numModules);
}

TEST(ChainRowBlocks, parametersAreReadFromTheTree)
{
    Sorvel2Processor processor;
    const std::pair<const char*, float> values[] = {{"hpf", 4},         {"deess", 7.5f}, {"trebleChar", 2},
                                                    {"shimmer", -3.5f}, {"compMix", 40}, {"widthChar", 1},
                                                    {"delayOn", 0},     {"listen", 5}};
    for (const auto& [id, value] : values)
    {
        auto* p = processor.apvts.getParameter(id);
        p->setValueNotifyingHost(p->convertTo0to1(value));
    }
    svui::BlockSources s;
    s.deessCut = 3; // refresh state: left alone
    svui::BlockParameters(processor.apvts).read(s);
    EXPECT_FLOAT_EQ(s.hpf, 4);
    EXPECT_FLOAT_EQ(s.deess, 7.5f);
    EXPECT_FLOAT_EQ(s.trebleChar, 2);
    EXPECT_FLOAT_EQ(s.shimmer, -3.5f);
    EXPECT_FLOAT_EQ(s.compMix, 40);
    EXPECT_FLOAT_EQ(s.widthChar, 1);
    EXPECT_FLOAT_EQ(s.comp, 4); // the default
    EXPECT_FLOAT_EQ(s.switches[6], 0);
    EXPECT_FLOAT_EQ(s.switches[5], 1);
    EXPECT_EQ(s.listenIndex, 5);
    EXPECT_FLOAT_EQ(s.deessCut, 3);
}

TEST_F(KitTest, aSwitchedOffBlockIsStruckThroughAndDim)
{
    Row r;
    r.sources.reverb = 5;
    r.sources.reverbReturn = -20;
    r.fill();
    r.row.selected = 0;
    const auto on = viewtest::render(r.row, 2.0f);
    r.sources.switches[5] = 0;
    r.fill();
    const auto off = viewtest::render(r.row, 2.0f);
    // Whatever the character, an off block says "off".
    r.row.blocks[5].text = "Plate";
    const auto other = viewtest::render(r.row, 2.0f);
    for (int y = 0; y < other.getHeight(); ++y)
        for (int x = 1280; x < 1512; ++x)
            ASSERT_EQ(other.getPixelAt(x, y), off.getPixelAt(x, y)) << x << ", " << y;

    const int x0 = 2 * 640; // block 5, at twice the size
    // The strike through the name, (x0 + 22, 13, width + 2, 1.2), in ui::off.
    EXPECT_TRUE(kittest::near(off.getPixelAt(x0 + 2 * 30, 26), ui::off, 10));
    EXPECT_FALSE(kittest::near(on.getPixelAt(x0 + 2 * 30, 26), ui::off, 10));
    // The power symbol's bar at (x0 + 103, 9 .. 13): green when on, dim grey when off.
    const auto bar = [&](const juce::Image& image) { return image.getPixelAt(x0 + 2 * 103, 2 * 11); };
    EXPECT_TRUE(isGreen(bar(on)));
    EXPECT_FALSE(isGreen(bar(off)));
    EXPECT_LT(std::abs(bar(off).getRed() - bar(off).getBlue()), 40);
    EXPECT_GT(bar(off).getRed(), 100);
    // The activity bar (x0 + 10, 51, 96, 4): green when on, the empty slot when off.
    EXPECT_TRUE(isGreen(on.getPixelAt(x0 + 2 * 30, 2 * 53)));
    EXPECT_TRUE(kittest::near(off.getPixelAt(x0 + 2 * 30, 2 * 53), ui::slot, 3));
}

TEST_F(KitTest, shimmerSegmentsFillOutwardsFromTheCentre)
{
    Row r;
    // Segments of block 4: N = (96 - 18) / 10 = 7.8 wide, every 9.8 from x = 512 + 10.
    const auto segment = [](int k) { return 522.0f + 9.8f * static_cast<float>(k); };
    const auto filled = [&](const juce::Image& image, float x)
    { return isBlue(image.getPixelAt(juce::roundToInt(x * 2), 2 * 45)); };

    r.sources.shimmer = -4;
    r.fill();
    auto image = viewtest::render(r.row, 2.0f);
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(filled(image, segment(k) + 3.9f), k == 3 || k == 4) << "-4, segment " << k;

    r.sources.shimmer = 10;
    r.fill();
    image = viewtest::render(r.row, 2.0f);
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(filled(image, segment(k) + 3.9f), k >= 5) << "+10, segment " << k;

    // -3 fills half of segment 3, from its right edge; +3 half of segment 6 from its left.
    r.sources.shimmer = -3;
    r.fill();
    image = viewtest::render(r.row, 2.0f);
    EXPECT_TRUE(filled(image, segment(3) + 6.5f));
    EXPECT_FALSE(filled(image, segment(3) + 1.5f));
    r.sources.shimmer = 3;
    r.fill();
    image = viewtest::render(r.row, 2.0f);
    EXPECT_TRUE(filled(image, segment(6) + 1.5f));
    EXPECT_FALSE(filled(image, segment(6) + 6.5f));
}

TEST_F(KitTest, sendBarsAndTheDuckMark)
{
    Row r;
    r.sources.reverb = 5;
    r.sources.reverbReturn = -20;
    r.sources.duck = 6;
    r.fill();
    const auto image = viewtest::render(r.row, 2.0f);
    const int x0 = 640;
    // Solid to (−20 + 60) / 48 of 96 = 80 units, faint to (−14 + 60) / 48 = 92.
    const auto solid = viewtest::columnRun(image, 2 * 53, 2 * (x0 + 10), 2 * (x0 + 110), isGreen);
    EXPECT_EQ(solid.first, 2 * (x0 + 10));
    EXPECT_NEAR(solid.second / 2.0, x0 + 10 + 80, 1.0);
    const auto faint =
        viewtest::columnRun(image, 2 * 53, 2 * (x0 + 10), 2 * (x0 + 110),
                            [](juce::Colour c) { return c.getGreen() > c.getRed() + 12 && !isGreen(c); });
    EXPECT_NEAR(faint.first / 2.0, x0 + 10 + 80, 1.0);
    EXPECT_NEAR(faint.second / 2.0, x0 + 10 + 92, 1.0);
    // The duck mark at full strength, pointing down at x = x0 + 10 + 96 - 5.
    EXPECT_TRUE(kittest::near(image.getPixelAt(2 * (x0 + 101), 2 * 30), ui::green, 6));
    EXPECT_FALSE(isGreen(image.getPixelAt(2 * (x0 + 101), 2 * 37)));
}

TEST_F(KitTest, selectionListeningAndThePointer)
{
    Row r;
    r.sources.listenIndex = 2; // COMPRESS
    r.sources.comp = 5;
    r.fill();
    r.row.selected = 3;
    const auto image = viewtest::render(r.row, 2.0f);
    // The outline in amber, the pointer under the block's centre (384 + 58, 65 .. 74).
    EXPECT_TRUE(kittest::near(image.getPixelAt(2 * 385, 2 * 32), ui::amber, 30));
    EXPECT_TRUE(kittest::near(image.getPixelAt(2 * 442, 2 * 70), ui::amber, 6));
    EXPECT_FALSE(kittest::near(image.getPixelAt(2 * 430, 2 * 70), ui::amber, 40));
    // The LISTEN badge in red at (384 + 10 + 96 - 42, 25, 42, 13).
    EXPECT_TRUE(kittest::near(image.getPixelAt(2 * 450, 2 * 27), ui::red, 6));
    EXPECT_TRUE(r.row.blocks[3].listening);
}

TEST_F(KitTest, powerButtonShowsItsState)
{
    PowerButton button("on/off", ui::amber);
    button.setSize(28, 22);
    EXPECT_TRUE(button.getClickingTogglesState());
    EXPECT_EQ(button.getName(), "on/off");
    // The symbol's bar at x = (27 - 12) / 2 + 0.5 + 6 = 14, from y = 5 to 11.
    button.setToggleState(true, juce::dontSendNotification);
    auto image = viewtest::render(button, 2.0f);
    EXPECT_TRUE(kittest::near(image.getPixelAt(28, 16), ui::amber, 10));
    // The outline, 1 unit at the edge, in the module colour at alpha B2 hex over the well.
    EXPECT_TRUE(kittest::hasColour(
        image, 1, 20, ui::slot.overlaidWith(ui::amber.withAlpha(static_cast<juce::uint8>(0xb2))), 12));
    button.setToggleState(false, juce::dontSendNotification);
    image = viewtest::render(button, 2.0f);
    EXPECT_TRUE(kittest::near(image.getPixelAt(28, 16), ui::dim, 10));
    EXPECT_TRUE(kittest::near(image.getPixelAt(10, 10), ui::slot, 3));
    EXPECT_TRUE(kittest::hasColour(image, 1, 20, ui::panelEdge, 12));
}
