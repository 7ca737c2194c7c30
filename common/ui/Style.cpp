#include "Style.h"

#include "KaAssets.h"

namespace ui
{
Style* Style::current = nullptr;

juce::String styleName(Weight weight)
{
    switch (weight)
    {
    case Weight::Medium:
        return "Medium";
    case Weight::SemiBold:
        return "SemiBold";
    case Weight::Regular:
    default:
        return "Regular";
    }
}

juce::Font font(float height, Weight weight)
{
    return juce::Font(juce::FontOptions(height, juce::Font::plain).withStyle(styleName(weight)));
}

float stringWidth(const juce::Font& f, const juce::String& line)
{
#if JUCE_MAJOR_VERSION < 8
    return f.getStringWidthFloat(line);
#else
    return juce::GlyphArrangement::getStringWidth(f, line);
#endif
}

namespace
{
juce::Typeface::Ptr loadFace(const char* data, int size)
{
    return juce::Typeface::createSystemTypefaceFor(data, static_cast<size_t>(size));
}

juce::Image loadPicture(const char* data, int size)
{
    auto image = juce::ImageFileFormat::loadFrom(data, static_cast<size_t>(size));
    return image.isValid() ? image.convertedToFormat(juce::Image::ARGB) : juce::Image();
}
} // namespace

std::vector<std::uint8_t> Style::grainFrom(const juce::Image& texture, int& size)
{
    size = 0;
    if (!texture.isValid() || texture.getWidth() != texture.getHeight())
        return {};
    const int n = texture.getWidth();
    std::vector<std::uint8_t> out(static_cast<size_t>(n) * static_cast<size_t>(n));
    const juce::Image::BitmapData data(texture, juce::Image::BitmapData::readOnly);
    for (int y = 0; y < n; ++y)
    {
        for (int x = 0; x < n; ++x)
        {
            const auto* p = data.getPixelPointer(x, y);
            int value = 0;
            if (data.pixelFormat == juce::Image::SingleChannel)
                value = p[0];
            else if (data.pixelFormat == juce::Image::RGB)
                value = reinterpret_cast<const juce::PixelRGB*>(p)->getGreen();
            else
            {
                const auto* argb = reinterpret_cast<const juce::PixelARGB*>(p);
                const int alpha = argb->getAlpha();
                value = alpha == 0 ? 0 : juce::jmin(255, argb->getGreen() * 255 / alpha);
            }
            out[static_cast<size_t>(y * n + x)] = static_cast<std::uint8_t>(value);
        }
    }
    size = n;
    return out;
}

Style::Style()
{
    regular = loadFace(KaAssets::InterKARegular_ttf, KaAssets::InterKARegular_ttfSize);
    medium = loadFace(KaAssets::InterKAMedium_ttf, KaAssets::InterKAMedium_ttfSize);
    semiBold = loadFace(KaAssets::InterKASemiBold_ttf, KaAssets::InterKASemiBold_ttfSize);

    knob256 = loadPicture(KaAssets::knob256_png, KaAssets::knob256_pngSize);
    knob128 = loadPicture(KaAssets::knob128_png, KaAssets::knob128_pngSize);

    grain = grainFrom(juce::ImageFileFormat::loadFrom(KaAssets::texture512_jpg,
                                                      static_cast<size_t>(KaAssets::texture512_jpgSize)),
                      grainSize);

    applyColours(*this);
    current = this;
    juce::LookAndFeel::setDefaultLookAndFeel(this);
    // Fonts looked up before we became the default must be looked up again.
    juce::Typeface::clearTypefaceCache();
}

Style::~Style()
{
    if (&juce::LookAndFeel::getDefaultLookAndFeel() == this)
        juce::LookAndFeel::setDefaultLookAndFeel(nullptr);
    if (current == this)
        current = nullptr;
    juce::Typeface::clearTypefaceCache();
}

juce::Typeface::Ptr Style::getTypefaceForFont(const juce::Font& f)
{
    const auto name = f.getTypefaceName();
    if (name != juce::Font::getDefaultSansSerifFontName() && name != "Inter KA" &&
        name != juce::Font::getDefaultMonospacedFontName())
        return juce::LookAndFeel_V4::getTypefaceForFont(f);

    const auto style = f.getTypefaceStyle();
    if (style.containsIgnoreCase("bold"))
        return semiBold;
    if (style.containsIgnoreCase("medium"))
        return medium;
    return regular;
}
} // namespace ui
