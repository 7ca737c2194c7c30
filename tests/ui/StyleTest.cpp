#include "KitTestSupport.h"

#include "KaAssets.h"

using kittest::KitTest;

namespace
{
// The ink of a line of text: the summed alpha of its pixels.
double ink(const juce::Font& font, const juce::String& text)
{
    kittest::Canvas canvas(200, 30, 2.0f);
    canvas.g.setColour(juce::Colours::white);
    canvas.g.setFont(font);
    canvas.g.drawText(text, 0, 0, 200, 30, juce::Justification::centredLeft, false);
    double sum = 0;
    for (int y = 0; y < canvas.image.getHeight(); ++y)
        for (int x = 0; x < canvas.image.getWidth(); ++x)
            sum += canvas.image.getPixelAt(x, y).getFloatAlpha();
    return sum;
}
} // namespace

TEST_F(KitTest, fontsResolveToTheInterKAFaceOfTheirWeight)
{
    auto& s = style();
    ASSERT_NE(s.regular, nullptr);
    ASSERT_NE(s.medium, nullptr);
    ASSERT_NE(s.semiBold, nullptr);
    EXPECT_EQ(s.semiBold->getName(), "Inter KA");

    struct Case
    {
        juce::Font font;
        juce::Typeface* face;
        const char* what;
    };
    const Case cases[] = {
        {ui::font(12, ui::Weight::SemiBold), s.semiBold.get(), "SemiBold weight"},
        {ui::font(12, ui::Weight::Medium), s.medium.get(), "Medium weight"},
        {ui::font(12, ui::Weight::Regular), s.regular.get(), "Regular weight"},
        {juce::Font(juce::FontOptions(14, juce::Font::bold)), s.semiBold.get(), "bold flag"},
        {juce::Font(juce::FontOptions(14).withStyle("Bold")), s.semiBold.get(), "style Bold"},
        {juce::Font(juce::FontOptions(14).withStyle("Italic")), s.regular.get(), "style Italic"},
        {juce::Font(juce::FontOptions(14, juce::Font::plain)), s.regular.get(), "plain"},
        {juce::Font(juce::FontOptions("Inter KA", 14, juce::Font::bold)), s.semiBold.get(), "named Inter KA"},
        {juce::Font(juce::Font::getDefaultMonospacedFontName(), 14, juce::Font::plain), s.regular.get(),
         "monospaced"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.font.getTypefacePtr().get(), c.face) << c.what;

    // Renders the SemiBold face: the same pixels as that face set directly, more ink than Regular.
    const auto direct = juce::Font(s.semiBold).withHeight(12);
    EXPECT_DOUBLE_EQ(ink(ui::font(12, ui::Weight::SemiBold), "LOUDNESS"), ink(direct, "LOUDNESS"));
    EXPECT_GT(ink(ui::font(12, ui::Weight::SemiBold), "LOUDNESS"),
              ink(ui::font(12, ui::Weight::Regular), "LOUDNESS") * 1.1);
}

TEST_F(KitTest, anotherInstalledFamilyIsLeftAlone)
{
    // Debian's fonts-inter: the same design, another family, which must not become ours.
    const juce::Font inter("Inter", "Regular", 14);
    const auto face = inter.getTypefacePtr();
    ASSERT_NE(face, nullptr);
    EXPECT_NE(face.get(), style().regular.get());
    EXPECT_NE(face.get(), style().semiBold.get());
    EXPECT_NE(face->getName(), "Inter KA");
}

TEST(Style, theLastLookAndFeelLeavesNoDefaultPointingAtAFreedStyle)
{
    const juce::LookAndFeel* styleAddress = nullptr;
    {
        KnobLookAndFeel first;
        {
            KnobLookAndFeel second; // shares the Style
            EXPECT_EQ(&first.style.get(), &second.style.get());
        }
        styleAddress = ui::Style::current;
        ASSERT_NE(styleAddress, nullptr);
        EXPECT_EQ(&juce::LookAndFeel::getDefaultLookAndFeel(), styleAddress);
    }
    EXPECT_EQ(ui::Style::current, nullptr);
    EXPECT_NE(&juce::LookAndFeel::getDefaultLookAndFeel(), styleAddress);
    // Fonts are looked up afresh through whatever the default is now.
    EXPECT_NE(juce::Font(juce::FontOptions(12)).getTypefacePtr(), nullptr);

    KnobLookAndFeel again; // a new Style comes up as before
    EXPECT_EQ(&juce::LookAndFeel::getDefaultLookAndFeel(), ui::Style::current);
}

TEST_F(KitTest, picturesAndGrainAreDecoded)
{
    auto& s = style();
    EXPECT_EQ(s.knob256.getWidth(), 256);
    EXPECT_EQ(s.knob128.getWidth(), 128);
    EXPECT_TRUE(s.knob128.hasAlphaChannel());
    EXPECT_EQ(s.grainSize, 512);
    EXPECT_EQ(s.grain.size(), 512u * 512u);

    int size = -1;
    EXPECT_TRUE(ui::Style::grainFrom(juce::Image(juce::Image::SingleChannel, 4, 3, true), size).empty());
    EXPECT_EQ(size, 0);
    EXPECT_TRUE(ui::Style::grainFrom(juce::Image(), size).empty());
    EXPECT_EQ(size, 0);

    juce::Image grey(juce::Image::RGB, 2, 2, true);
    grey.setPixelAt(1, 0, juce::Colour(10, 200, 30));
    const auto grain = ui::Style::grainFrom(grey, size);
    EXPECT_EQ(size, 2);
    EXPECT_EQ(grain, (std::vector<std::uint8_t>{0, 200, 0, 0})); // the green component, row by row
}

TEST_F(KitTest, applyColoursInstallsThePalette)
{
    juce::LookAndFeel_V4 lf;
    ui::applyColours(lf);
    EXPECT_EQ(lf.findColour(juce::Slider::textBoxHighlightColourId), juce::Colour(0x803f93eau));
    EXPECT_EQ(lf.findColour(juce::Slider::textBoxOutlineColourId), juce::Colour(0x00000000u));
    EXPECT_EQ(lf.findColour(juce::TextButton::buttonOnColourId), ui::amber);
    EXPECT_EQ(lf.findColour(juce::TextButton::textColourOnId), juce::Colour(0xff000000u));
    EXPECT_EQ(lf.findColour(juce::ComboBox::outlineColourId), ui::panelEdge);
    EXPECT_EQ(lf.findColour(juce::PopupMenu::backgroundColourId), ui::panel);
    EXPECT_EQ(lf.findColour(juce::TooltipWindow::outlineColourId), ui::panelEdge);
    EXPECT_EQ(look.findColour(juce::ComboBox::arrowColourId), ui::dim);
    EXPECT_EQ(style().findColour(juce::Label::textColourId), ui::text);
}

TEST(Resources, lookupsByNameAndOriginalName)
{
    const juce::File folder(MOSSLIGHT_ASSETS_DIR);
    ASSERT_EQ(KaAssets::namedResourceListSize, 7);
    for (int i = 0; i < KaAssets::namedResourceListSize; ++i)
    {
        const char* name = KaAssets::namedResourceList[i];
        const auto file = folder.getChildFile(KaAssets::originalFilenames[i]);
        juce::MemoryBlock bytes;
        ASSERT_TRUE(file.loadFileAsData(bytes)) << file.getFullPathName();
        int size = -1;
        const char* data = KaAssets::getNamedResource(name, size);
        ASSERT_NE(data, nullptr) << name;
        EXPECT_EQ(static_cast<size_t>(size), bytes.getSize()) << name;
        EXPECT_EQ(std::memcmp(data, bytes.getData(), bytes.getSize()), 0) << name;
        EXPECT_STREQ(KaAssets::getNamedResourceOriginalFilename(name), KaAssets::originalFilenames[i]);
    }

    int size = -1;
    EXPECT_EQ(KaAssets::getNamedResource("knob128_png", size), KaAssets::knob128_png);
    EXPECT_EQ(size, KaAssets::knob128_pngSize);
    EXPECT_STREQ(KaAssets::getNamedResourceOriginalFilename("texture512_jpg"), "texture-512.jpg");

    for (const char* missing : {"", "knob512_png", static_cast<const char*>(nullptr)})
    {
        size = -1;
        EXPECT_EQ(KaAssets::getNamedResource(missing, size), nullptr);
        EXPECT_EQ(size, 0);
        EXPECT_EQ(KaAssets::getNamedResourceOriginalFilename(missing), nullptr);
    }
    // The original-name lookup compares exactly, not by hash.
    EXPECT_EQ(KaAssets::getNamedResourceOriginalFilename("knob128_pn"), nullptr);
}
