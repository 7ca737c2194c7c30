#include "KitTestSupport.h"

#include "common/ui/Backdrop.h"
#include "common/ui/LogoMark.h"
#include "common/ui/Surfaces.h"

using kittest::Canvas;
using kittest::KitTest;

namespace
{
bool sameColumn(const juce::Image& image, int x0, int x1, int y)
{
    return image.getPixelAt(x0, y) == image.getPixelAt(x1, y);
}
} // namespace

TEST_F(KitTest, grainTilesFollowThePixelScale)
{
    struct Case
    {
        float scale;
        int tilePixels; // the tile, and so the grain's period on screen
    };
    for (const auto c : {Case{1.0f, 512}, Case{1.25f, 512}, Case{2.0f, 1024}})
    {
        style().tiles.clear();
        const int units = static_cast<int>(std::ceil(1200 / c.scale));
        Canvas canvas(units, 4, c.scale);
        ui::fillGrain(canvas.g, {0, 0, static_cast<float>(units), 4}, ui::bg, ui::grainWindow, 0, {});
        ASSERT_EQ(style().tiles.size(), 1u);
        EXPECT_EQ(style().tiles[0].image.getWidth(), c.tilePixels) << "scale " << c.scale;
        EXPECT_EQ(style().tiles[0].factor, c.scale >= 1.5f ? 2 : 1);
        // A tile covers tilePixels / scale units: the grain repeats after tilePixels pixels.
        int repeats = 0, differs = 0;
        for (int x = 3; x < 150; ++x)
        {
            repeats += sameColumn(canvas.image, x, x + c.tilePixels, 2) ? 1 : 0;
            differs += sameColumn(canvas.image, x, x + c.tilePixels / 2 + 7, 2) ? 0 : 1;
        }
        EXPECT_EQ(repeats, 147) << "scale " << c.scale;
        EXPECT_GT(differs, 100) << "the grain is not flat at scale " << c.scale;
    }
}

TEST_F(KitTest, grainIsZeroMeanAndBluerThanRed)
{
    Canvas canvas(512, 512);
    ui::fillGrain(canvas.g, {0, 0, 512, 512}, ui::panel, 0.5f, 0, {});
    double red = 0, blue = 0, redSpread = 0, blueSpread = 0;
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 512; ++x)
        {
            const auto c = canvas.image.getPixelAt(x, y);
            red += c.getRed() - ui::panel.getRed();
            blue += c.getBlue() - ui::panel.getBlue();
            redSpread += std::abs(c.getRed() - ui::panel.getRed());
            blueSpread += std::abs(c.getBlue() - ui::panel.getBlue());
        }
    const double n = 512.0 * 512.0;
    EXPECT_LT(std::abs(red / n), 3.0);
    EXPECT_LT(std::abs(blue / n), 3.0);
    EXPECT_GT(blueSpread, redSpread * 1.2);
}

TEST_F(KitTest, neighboursWithTheirOwnOriginsMeetWithoutASeam)
{
    // Two children of a window, each filling itself from its own position in the window.
    struct Filled : juce::Component
    {
        void paint(juce::Graphics& g) override
        {
            ui::fillGrain(g, getLocalBounds().toFloat(), ui::bg, ui::grainWindow, 0, ui::windowOrigin(*this));
        }
    };
    for (const float scale : {1.0f, 2.0f})
    {
        juce::Component window;
        window.setSize(700, 60);
        Filled left, right;
        window.addAndMakeVisible(left);
        window.addAndMakeVisible(right);
        left.setBounds(0, 0, 173, 60);
        right.setBounds(173, 0, 527, 60);
        EXPECT_EQ(ui::windowOrigin(right), juce::Point<float>(173, 0));
        const auto both = window.createComponentSnapshot(window.getLocalBounds(), true, scale);

        Canvas whole(700, 60, scale);
        ui::fillGrain(whole.g, {0, 0, 700, 60}, ui::bg, ui::grainWindow, 0, {});
        int differing = 0;
        for (int y = 0; y < both.getHeight(); ++y)
            for (int x = 0; x < both.getWidth(); ++x)
                differing += both.getPixelAt(x, y) == whole.image.getPixelAt(x, y) ? 0 : 1;
        EXPECT_EQ(differing, 0) << "scale " << scale;
    }
}

TEST_F(KitTest, theTenthTileCombinationEmptiesTheCache)
{
    style().tiles.clear();
    Canvas canvas(8, 8);
    for (int i = 0; i < 9; ++i)
        ui::fillGrain(canvas.g, {0, 0, 8, 8}, ui::panel.withRotatedHue(0.05f * static_cast<float>(i)), 0.1f,
                      0, {});
    EXPECT_EQ(style().tiles.size(), 9u);
    ui::fillGrain(canvas.g, {0, 0, 8, 8}, ui::panel, 0.1f, 0, {}); // the first again: a hit
    EXPECT_EQ(style().tiles.size(), 9u);
    ui::fillGrain(canvas.g, {0, 0, 8, 8}, ui::panel, 0.2f, 0, {}); // a tenth
    EXPECT_EQ(style().tiles.size(), 1u);
}

TEST(Surfaces, withoutAStyleEverySurfaceIsPlain)
{
    ASSERT_EQ(ui::Style::current, nullptr);
    Canvas canvas(40, 40);
    ui::fillGrain(canvas.g, {0, 0, 40, 40}, ui::bg, ui::grainWindow, 0, {});
    EXPECT_EQ(canvas.image.getPixelAt(3, 3), ui::bg);
    EXPECT_EQ(canvas.image.getPixelAt(33, 21), ui::bg);
}

namespace
{
// An editor whose paint asks for its backdrop and panels and remembers what the backdrop did.
class PanelWindow : public gallery::StubEditor
{
public:
    explicit PanelWindow(juce::AudioProcessor& p) : StubEditor(p) { setSize(300, 200); }

    void paint(juce::Graphics& g) override
    {
        ui::Backdrop backdrop(g, *this);
        mode = backdrop.mode;
        cached.clear();
        for (const auto& r : panels)
        {
            const bool inBackground = ui::Backdrop::current->panel(g, r, 6);
            cached.push_back(inBackground);
            if (!inBackground)
                ui::drawPanelSurface(g, r, 6, backdrop.origin);
        }
    }

    void paintNow(float scale = 1.0f) { last = createComponentSnapshot(getLocalBounds(), true, scale); }

    std::vector<juce::Rectangle<float>> panels{{10, 10, 100, 80}, {120, 10, 100, 80}};
    int mode = -1;
    std::vector<bool> cached;
    juce::Image last;
};
} // namespace

TEST_F(KitTest, aBackdropRendersOncePerSizeAndCachesItsPanels)
{
    gallery::StubProcessor processor;
    PanelWindow window(processor);

    window.paintNow();
    EXPECT_EQ(window.mode, ui::Backdrop::rendering);
    EXPECT_EQ(window.cached, (std::vector<bool>{false, false}));
    const auto* entry = ui::Backdrop::entryOf(window);
    ASSERT_NE(entry, nullptr);
    const auto first = window.last;
    const auto* pixels = juce::Image::BitmapData(entry->image, juce::Image::BitmapData::readOnly).data;

    window.paintNow(); // unchanged: nothing rendered, both panels skipped
    EXPECT_EQ(window.mode, ui::Backdrop::reusing);
    EXPECT_EQ(window.cached, (std::vector<bool>{true, true}));
    EXPECT_EQ(juce::Image::BitmapData(entry->image, juce::Image::BitmapData::readOnly).data, pixels);
    for (const auto& p : {juce::Point<int>(60, 50), {5, 5}, {150, 88}, {299, 199}})
        EXPECT_EQ(window.last.getPixelAt(p.x, p.y), first.getPixelAt(p.x, p.y)) << p.toString();
    EXPECT_EQ(ui::Backdrop::current, nullptr);

    window.setSize(400, 220); // a new size renders once
    window.paintNow();
    EXPECT_EQ(window.mode, ui::Backdrop::rendering);
    window.paintNow();
    EXPECT_EQ(window.mode, ui::Backdrop::reusing);

    // A new panel is drawn directly, then cached by the next frame.
    window.panels.push_back({230, 10, 100, 80});
    window.paintNow();
    EXPECT_EQ(window.mode, ui::Backdrop::reusing);
    EXPECT_EQ(window.cached, (std::vector<bool>{true, true, false}));
    const auto direct = window.last;
    window.paintNow();
    EXPECT_EQ(window.mode, ui::Backdrop::rendering);
    window.paintNow();
    EXPECT_EQ(window.mode, ui::Backdrop::reusing);
    EXPECT_EQ(window.cached, (std::vector<bool>{true, true, true}));
    EXPECT_EQ(window.last.getPixelAt(280, 50), direct.getPixelAt(280, 50));

    // Another pixel scale is another size.
    window.paintNow(2.0f);
    EXPECT_EQ(window.mode, ui::Backdrop::rendering);
    EXPECT_FLOAT_EQ(ui::Backdrop::entryOf(window)->scale, 2.0f);
}

TEST_F(KitTest, theBackdropIsNotDrawnUnderOpaqueChildren)
{
    // Editors scale a content component, whose children JUCE itself does not clip out.
    gallery::StubProcessor processor;
    PanelWindow window(processor);
    window.panels.clear();
    juce::Component content;
    struct Blank : ui::Display
    {
        void paint(juce::Graphics&) override {} // leaves whatever is under it
    } blank;
    window.addAndMakeVisible(content);
    content.setBounds(0, 0, 200, 120);
    content.setTransform(juce::AffineTransform::scale(1.5f));
    content.addAndMakeVisible(blank);
    blank.setBounds(20, 20, 60, 40); // (30, 30, 90, 60) in the window

    juce::Image image(juce::Image::ARGB, 300, 200, true);
    {
        juce::Graphics g(image);
        window.paintEntireComponent(g, false);
    }
    EXPECT_TRUE(image.getPixelAt(75, 60).isTransparent());  // under the child
    EXPECT_TRUE(image.getPixelAt(31, 31).isTransparent());  // just inside its inset edge
    EXPECT_FALSE(image.getPixelAt(30, 30).isTransparent()); // its outermost ring keeps the background
    EXPECT_FALSE(image.getPixelAt(119, 60).isTransparent());
    EXPECT_FALSE(image.getPixelAt(20, 20).isTransparent());
}

TEST_F(KitTest, fillBehindShowsTheEditorsCachedBackground)
{
    gallery::StubProcessor processor;
    PanelWindow window(processor);
    struct Well : ui::Display
    {
        void paint(juce::Graphics& g) override { ui::fillBehind(g, *this, getLocalBounds().toFloat()); }
    } well;
    window.addAndMakeVisible(well);
    well.setBounds(37, 111, 60, 50);

    // Painted after the editor's backdrop is cached: the very pixels of the window background.
    window.paintNow();
    const auto withWell = window.last;
    well.setVisible(false);
    window.paintNow();
    for (const auto& p : {juce::Point<int>(40, 115), {96, 160}, {60, 130}})
        EXPECT_EQ(withWell.getPixelAt(p.x, p.y), window.last.getPixelAt(p.x, p.y)) << p.toString();
}

TEST(Surfaces, fillDisplayDrawsOnlyTheCapsWhenLow)
{
    const auto top = ui::towardsBlack(ui::slot, 0.15f), bottom = ui::towardsWhite(ui::slot, 0.03f);
    // Low: the bottom cap covers the top cap from the top edge; no band colours in between.
    Canvas low(40, 10);
    ui::fillDisplay(low.g, {0, 0, 40, 10}, 5);
    EXPECT_EQ(low.image.getPixelAt(20, 5), bottom);
    // Tall: the bands shade from the top colour to the bottom colour.
    Canvas tall(40, 100);
    ui::fillDisplay(tall.g, {0, 0, 40, 100}, 5);
    EXPECT_EQ(tall.image.getPixelAt(20, 3), top);
    const auto middle = tall.image.getPixelAt(20, 50);
    EXPECT_NE(middle, top);
    EXPECT_NE(middle, bottom);
    EXPECT_TRUE(kittest::near(middle, top.interpolatedWith(bottom, 0.5f), 2));
    // No band edge lets anything through: every row inside the edge is opaque.
    for (int y = 1; y < 99; ++y)
        EXPECT_EQ(tall.image.getPixelAt(20, y).getAlpha(), 255) << "row " << y;
}

TEST_F(KitTest, theLogoKeepsItsAspectAndIsCachedPerHeight)
{
    const auto logo = ui::LogoMark::render(52);
    ASSERT_TRUE(logo.isValid());
    EXPECT_EQ(logo.getHeight(), 52);
    EXPECT_EQ(logo.getWidth(), 53);
    EXPECT_EQ(ui::LogoMark::render(26).getWidth(), 26);
    EXPECT_TRUE(juce::ImageCache::getFromHashCode(ui::LogoMark::cacheKey(52)).isValid());
    EXPECT_EQ(ui::LogoMark::cacheKey(52) & 0xffff, 52);
    EXPECT_NE(ui::LogoMark::cacheKey(52), ui::LogoMark::cacheKey(53));
    // The blues are the house logo blue.
    bool foundBlue = false;
    for (int y = 0; y < 52 && !foundBlue; ++y)
        for (int x = 0; x < 53 && !foundBlue; ++x)
            foundBlue = logo.getPixelAt(x, y).getAlpha() == 255 &&
                        kittest::near(logo.getPixelAt(x, y), juce::Colour(0xff5462c4u), 1);
    EXPECT_TRUE(foundBlue);
}
