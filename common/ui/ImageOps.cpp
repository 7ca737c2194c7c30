#include "ImageOps.h"

#include <cmath>

namespace ui::detail
{
namespace
{
// A pixel as a non-premultiplied colour, whatever the image format.
juce::Colour plainColour(const juce::Image::BitmapData& data, int x, int y)
{
    const auto* p = data.getPixelPointer(x, y);
    switch (data.pixelFormat)
    {
    case juce::Image::SingleChannel:
        return juce::Colour(p[0], p[0], p[0], p[0]);
    case juce::Image::RGB:
    {
        const auto* rgb = reinterpret_cast<const juce::PixelRGB*>(p);
        return juce::Colour(rgb->getRed(), rgb->getGreen(), rgb->getBlue(), static_cast<juce::uint8>(255));
    }
    case juce::Image::ARGB:
    {
        const auto* argb = reinterpret_cast<const juce::PixelARGB*>(p);
        const int alpha = argb->getAlpha();
        if (alpha == 0)
            return juce::Colour(0x00000000u);
        const auto unpremultiply = [alpha](int c)
        { return static_cast<juce::uint8>(juce::jmin(255, c * 255 / alpha)); };
        return juce::Colour(unpremultiply(argb->getRed()), unpremultiply(argb->getGreen()),
                            unpremultiply(argb->getBlue()), static_cast<juce::uint8>(alpha));
    }
    case juce::Image::UnknownFormat:
    default:
        return juce::Colour(0x00000000u);
    }
}

// One box-filter step along one axis: `count` lines of `length` samples (each `stride` floats
// apart, lines `lineStride` apart) become lines of `wanted` samples.
void resampleAxis(const float* in, float* out, int length, int wanted, int count, int inStride,
                  int inLineStride, int outStride, int outLineStride)
{
    const double f = static_cast<double>(length) / wanted;
    for (int line = 0; line < count; ++line)
    {
        const float* src = in + static_cast<std::ptrdiff_t>(line) * inLineStride;
        float* dst = out + static_cast<std::ptrdiff_t>(line) * outLineStride;
        for (int j = 0; j < wanted; ++j)
        {
            const double from = j * f, to = (j + 1) * f;
            const int first = static_cast<int>(std::floor(from));
            const int last = juce::jmin(static_cast<int>(std::ceil(to)), length) - 1;
            double sum[4] = {0, 0, 0, 0};
            for (int k = first; k <= last; ++k)
            {
                const double weight = juce::jmin(k + 1.0, to) - juce::jmax(static_cast<double>(k), from);
                const float* s = src + static_cast<std::ptrdiff_t>(k) * inStride;
                for (int c = 0; c < 4; ++c)
                    sum[c] += weight * s[c];
            }
            float* d = dst + static_cast<std::ptrdiff_t>(j) * outStride;
            for (int c = 0; c < 4; ++c)
                d[c] = static_cast<float>(sum[c] / f);
        }
    }
}
} // namespace

std::vector<float> premultiplied(const juce::Image& image,
                                 const std::function<juce::Colour(juce::Colour)>& map)
{
    const int width = image.getWidth(), height = image.getHeight();
    std::vector<float> out(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0.0f);
    if (!image.isValid())
        return out;
    const juce::Image::BitmapData data(image, juce::Image::BitmapData::readOnly);
    float* p = out.data();
    for (int y = 0; y < height; ++y)
    {
        for (int x = 0; x < width; ++x, p += 4)
        {
            auto colour = plainColour(data, x, y);
            if (map)
                colour = map(colour);
            const float a = colour.getAlpha() / 255.0f;
            p[0] = colour.getRed() / 255.0f * a;
            p[1] = colour.getGreen() / 255.0f * a;
            p[2] = colour.getBlue() / 255.0f * a;
            p[3] = a;
        }
    }
    return out;
}

std::vector<float> areaResample(const std::vector<float>& pixels, int width, int height, int wantedWidth,
                                int wantedHeight)
{
    if (width < 1 || height < 1 || wantedWidth < 1 || wantedHeight < 1)
        return {};
    std::vector<float> across(static_cast<size_t>(wantedWidth) * static_cast<size_t>(height) * 4);
    resampleAxis(pixels.data(), across.data(), width, wantedWidth, height, 4, width * 4, 4, wantedWidth * 4);
    std::vector<float> out(static_cast<size_t>(wantedWidth) * static_cast<size_t>(wantedHeight) * 4);
    resampleAxis(across.data(), out.data(), height, wantedHeight, wantedWidth, wantedWidth * 4, 4,
                 wantedWidth * 4, 4);
    return out;
}

juce::Image fromPremultiplied(const std::vector<float>& pixels, int width, int height)
{
    juce::Image image(juce::Image::ARGB, juce::jmax(width, 1), juce::jmax(height, 1), true);
    if (width < 1 || height < 1 ||
        pixels.size() < static_cast<size_t>(width) * static_cast<size_t>(height) * 4)
        return image;
    juce::Image::BitmapData data(image, juce::Image::BitmapData::writeOnly);
    const float* p = pixels.data();
    const auto byte = [](float v)
    { return static_cast<int>(std::lround(juce::jlimit(0.0f, 1.0f, v) * 255.0f)); };
    for (int y = 0; y < height; ++y)
    {
        for (int x = 0; x < width; ++x, p += 4)
        {
            auto* out = reinterpret_cast<juce::PixelARGB*>(data.getPixelPointer(x, y));
            const float a = juce::jlimit(0.0f, 1.0f, p[3]);
            if (a <= 0.0f)
            {
                out->setARGB(0, 0, 0, 0);
                continue;
            }
            const int alpha = a >= 1.0f ? 255 : byte(a);
            const auto premultiply = [alpha](int c)
            { return static_cast<juce::uint8>((c * alpha + 127) >> 8); };
            out->setARGB(static_cast<juce::uint8>(alpha), premultiply(byte(p[0] / a)),
                         premultiply(byte(p[1] / a)), premultiply(byte(p[2] / a)));
        }
    }
    return image;
}
} // namespace ui::detail
