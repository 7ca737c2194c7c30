#include "BackgroundCache.h"

#include <cmath>

namespace svui
{
void BackgroundCache::draw(juce::Graphics& g, int w, int h,
                           const std::function<void(juce::Graphics&)>& render)
{
    const float s = juce::jmax(g.getInternalContext().getPhysicalPixelScaleFactor(), 0.1f);
    const int pw = juce::roundToInt(static_cast<float>(w) * s),
              ph = juce::roundToInt(static_cast<float>(h) * s);
    rendered = false;
    if (pw <= 0 || ph <= 0)
        return;
    if (!valid || w != width || h != height || std::abs(s - scale) > 0.0001f || image.getWidth() != pw ||
        image.getHeight() != ph)
    {
        image = juce::Image(juce::Image::RGB, pw, ph, true);
        juce::Graphics ig(image);
        ig.addTransform(juce::AffineTransform::scale(s));
        render(ig);
        width = w;
        height = h;
        scale = s;
        valid = true;
        rendered = true;
    }
    const juce::Graphics::ScopedSaveState state(g);
    g.setImageResamplingQuality(juce::Graphics::lowResamplingQuality);
    g.setOpacity(1.0f);
    g.drawImageTransformed(image, juce::AffineTransform::scale(1.0f / s));
}
} // namespace svui
