#include "LogoMark.h"

#include "ImageOps.h"
#include "Palette.h"

#include "KaAssets.h"

#include <cmath>

namespace ui
{
juce::int64 LogoMark::cacheKey(int pixelHeight)
{
    // A fixed tag ("kalogo" in ASCII) above the 16 bits of the height.
    constexpr juce::int64 tag = 0x6b616c6f676fLL;
    return (tag << 16) | static_cast<juce::int64>(pixelHeight & 0xffff);
}

juce::Image LogoMark::render(int pixelHeight)
{
    const auto key = cacheKey(pixelHeight);
    auto cached = juce::ImageCache::getFromHashCode(key);
    if (cached.isValid())
        return cached;

    auto picture = juce::ImageFileFormat::loadFrom(KaAssets::logomark_png,
                                                   static_cast<size_t>(KaAssets::logomark_pngSize));
    if (!picture.isValid())
        return {};
    picture = picture.convertedToFormat(juce::Image::ARGB);

    // The picture's blues become the house logo blue.
    const auto pixels = detail::premultiplied(picture,
                                              [](juce::Colour c)
                                              {
                                                  const bool bluish = c.getAlpha() > 0 && c.getBlue() > 0 &&
                                                                      c.getBlue() / 2.0f > c.getGreen();
                                                  return bluish ? juce::Colour(0xff5462c4u) : c;
                                              });
    const int width = juce::jmax(
        juce::roundToInt(static_cast<double>(pixelHeight) * picture.getWidth() / picture.getHeight()), 1);
    auto logo = detail::fromPremultiplied(
        detail::areaResample(pixels, picture.getWidth(), picture.getHeight(), width, pixelHeight), width,
        pixelHeight);
    juce::ImageCache::addImageToCache(logo, key);
    return logo;
}

void LogoMark::draw(juce::Graphics& g, float right, float top)
{
    constexpr float height = 26.0f;
    const int pixelHeight = juce::jlimit(4, 1024, juce::roundToInt(pixelScale(g, 0.25f) * height));
    const auto logo = render(pixelHeight);
    if (!logo.isValid())
        return;
    const float k = height / static_cast<float>(pixelHeight);
    juce::Graphics::ScopedSaveState saved(g);
    g.setImageResamplingQuality(juce::Graphics::highResamplingQuality);
    g.drawImageTransformed(logo, juce::AffineTransform::scale(k).translated(
                                     right - static_cast<float>(logo.getWidth()) * k, top));
}
} // namespace ui
