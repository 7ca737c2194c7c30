#include "Surfaces.h"

#include "Backdrop.h"
#include "Style.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <cmath>

namespace ui
{
namespace
{
constexpr size_t maxTiles = 9;

juce::uint8 channel(int base, float deviation)
{
    return static_cast<juce::uint8>(juce::jlimit(0L, 255L, std::lrint(static_cast<float>(base) + deviation)));
}

// The texture bilinearly interpolated to `factor` pixels per texel, wrapped at its edges, as a
// deviation of `amount` around `base`.
juce::Image makeTile(const Style& style, juce::Colour base, float amount, int factor)
{
    const int n = style.grainSize;
    const int size = n * factor;
    // Where each pixel column (and row) samples the texture: two texels and the weight of the second.
    struct Tap
    {
        int first, second;
        float weight;
    };
    std::vector<Tap> taps(static_cast<size_t>(size));
    for (int i = 0; i < size; ++i)
    {
        const float u = (static_cast<float>(i) + 0.5f) / static_cast<float>(factor) - 0.5f;
        const float whole = std::floor(u);
        const int k = static_cast<int>(whole);
        taps[static_cast<size_t>(i)] = {((k % n) + n) % n, (((k + 1) % n) + n) % n, u - whole};
    }

    juce::Image tile(juce::Image::ARGB, size, size, false);
    juce::Image::BitmapData data(tile, juce::Image::BitmapData::writeOnly);
    const auto* grain = style.grain.data();
    const int r = base.getRed(), g = base.getGreen(), b = base.getBlue();
    for (int j = 0; j < size; ++j)
    {
        const auto& row = taps[static_cast<size_t>(j)];
        const auto* above = grain + static_cast<ptrdiff_t>(row.first) * n;
        const auto* below = grain + static_cast<ptrdiff_t>(row.second) * n;
        auto* out = reinterpret_cast<juce::PixelARGB*>(data.getLinePointer(j));
        for (int i = 0; i < size; ++i)
        {
            const auto& column = taps[static_cast<size_t>(i)];
            const float top =
                above[column.first] + (above[column.second] - above[column.first]) * column.weight;
            const float bottom =
                below[column.first] + (below[column.second] - below[column.first]) * column.weight;
            const float d = amount * (top + (bottom - top) * row.weight - 128.0f);
            out[i].setARGB(255, channel(r, 0.85f * d), channel(g, 0.95f * d), channel(b, 1.15f * d));
        }
    }
    return tile;
}

const juce::Image& tileFor(Style& style, juce::Colour base, float amount, int factor)
{
    for (const auto& tile : style.tiles)
        if (tile.colour == base.getARGB() && std::abs(tile.amount - amount) < 0.0001f &&
            tile.factor == factor)
            return tile.image;
    if (style.tiles.size() >= maxTiles)
        style.tiles.clear();
    style.tiles.push_back({base.getARGB(), amount, factor, makeTile(style, base, amount, factor)});
    return style.tiles.back().image;
}
} // namespace

void fillGrain(juce::Graphics& g, juce::Rectangle<float> area, juce::Colour base, float amount,
               float cornerRadius, juce::Point<float> grainOrigin)
{
    g.setColour(base);
    if (cornerRadius > 0)
        g.fillRoundedRectangle(area, cornerRadius);
    else
        g.fillRect(area);

    auto* style = Style::current;
    if (style == nullptr || amount <= 0 || style->grainSize < 1 || area.isEmpty())
        return;

    const float s = pixelScale(g, 0.1f);
    const int factor = s >= 1.5f ? 2 : 1;
    const auto& tile = tileFor(*style, base, amount, factor);

    juce::Graphics::ScopedSaveState saved(g);
    if (cornerRadius > 0)
    {
        juce::Path shape;
        shape.addRoundedRectangle(area, cornerRadius);
        g.reduceClipRegion(shape);
    }
    else
    {
        g.reduceClipRegion(area.getSmallestIntegerContainer());
    }
    if (g.isClipEmpty())
        return;

    // Tiles sit on a lattice anchored at the window's top-left, which lies at -grainOrigin here.
    const float span = static_cast<float>(tile.getWidth()) / s;
    const auto visible = g.getClipBounds().toFloat().getIntersection(area);
    const float anchorX = -grainOrigin.x, anchorY = -grainOrigin.y;
    const int c0 = static_cast<int>(std::floor((visible.getX() - anchorX) / span));
    const int c1 = static_cast<int>(std::ceil((visible.getRight() - anchorX) / span)) - 1;
    const int r0 = static_cast<int>(std::floor((visible.getY() - anchorY) / span));
    const int r1 = static_cast<int>(std::ceil((visible.getBottom() - anchorY) / span)) - 1;
    for (int row = r0; row <= r1; ++row)
        for (int column = c0; column <= c1; ++column)
            g.drawImageTransformed(tile, juce::AffineTransform::scale(1.0f / s).translated(
                                             anchorX + static_cast<float>(column) * span,
                                             anchorY + static_cast<float>(row) * span));
}

void drawPanelSurface(juce::Graphics& g, juce::Rectangle<float> r, float cornerRadius,
                      juce::Point<float> grainOrigin)
{
    const float x = r.getX(), y = r.getY(), w = r.getWidth(), h = r.getHeight();
    fillGrain(g, r, panel, grainPanel, cornerRadius, grainOrigin);

    juce::Path band;
    const float sheen = juce::jmin(h * 0.4f, 28.0f);
    band.addRoundedRectangle(x, y, w, sheen, cornerRadius, cornerRadius, true, true, false, false);
    g.setGradientFill(
        juce::ColourGradient::vertical(juce::Colours::white.withAlpha(static_cast<juce::uint8>(0x09)), y,
                                       juce::Colours::transparentWhite, y + sheen));
    g.fillPath(band);

    const float shade = juce::jmin(h * 0.2f, 10.0f);
    band.clear();
    band.addRoundedRectangle(x, y + h - shade, w, shade, cornerRadius, cornerRadius, false, false, true,
                             true);
    g.setGradientFill(juce::ColourGradient::vertical(
        juce::Colours::transparentBlack, y + h - shade,
        juce::Colours::black.withAlpha(static_cast<juce::uint8>(0x1a)), y + h));
    g.fillPath(band);

    g.setColour(panelEdge);
    g.drawRoundedRectangle(x + 0.5f, y + 0.5f, juce::jmax(w - 1, 0.0f), juce::jmax(h - 1, 0.0f), cornerRadius,
                           1.0f);

    g.setColour(juce::Colours::white.withAlpha(static_cast<juce::uint8>(0x12)));
    g.fillRect(x + 6, y + 1, w - 12, 1.0f);
}

void drawPanel(juce::Graphics& g, juce::Rectangle<float> r, float cornerRadius)
{
    auto* backdrop = Backdrop::current;
    if (backdrop != nullptr && backdrop->panel(g, r, cornerRadius))
        return;
    drawPanelSurface(g, r, cornerRadius, backdrop != nullptr ? backdrop->origin : juce::Point<float>());
}

const juce::Component* outermostEditor(const juce::Component& component, bool includeSelf)
{
    const juce::Component* found = nullptr;
    for (auto* c = includeSelf ? &component : component.getParentComponent(); c != nullptr;
         c = c->getParentComponent())
        if (dynamic_cast<const juce::AudioProcessorEditor*>(c) != nullptr)
            found = c;
    return found;
}

juce::Point<float> windowOrigin(const juce::Component& component)
{
    const auto* window = outermostEditor(component, true);
    if (window == nullptr)
        window = component.getTopLevelComponent();
    if (window == &component || window == nullptr)
        return {};
    return -component.getLocalPoint(window, juce::Point<float>());
}

void fillBehind(juce::Graphics& g, const juce::Component& component, juce::Rectangle<float> area)
{
    if (const auto* editor = outermostEditor(component, false))
    {
        const auto* entry = Backdrop::entryOf(*editor);
        if (entry != nullptr && entry->image.isValid() && !entry->dirty)
        {
            const auto p0 = component.getLocalPoint(editor, juce::Point<float>(0, 0));
            const auto p1 = component.getLocalPoint(editor, juce::Point<float>(1, 0));
            const float k = (p1.x - p0.x) / entry->scale;
            juce::Graphics::ScopedSaveState saved(g);
            g.reduceClipRegion(area.getSmallestIntegerContainer());
            g.setImageResamplingQuality(juce::Graphics::lowResamplingQuality);
            g.setOpacity(1.0f);
            g.drawImageTransformed(entry->image, juce::AffineTransform(k, 0, p0.x, 0, k, p0.y));
            return;
        }
    }
    fillGrain(g, area, bg, grainWindow, 0, windowOrigin(component));
}

void fillDisplay(juce::Graphics& g, juce::Rectangle<float> r, float radius)
{
    const float x = r.getX(), y = r.getY(), w = r.getWidth(), h = r.getHeight();
    const auto top = towardsBlack(slot, 0.15f);
    const auto bottom = towardsWhite(slot, 0.03f);

    g.setColour(top);
    g.fillRoundedRectangle(x, y, w, juce::jmax(juce::jmin(2 * radius, h), 0.0f), radius);

    const float from = y + radius, to = y + h - radius;
    if (to > from)
    {
        // Each band reaches one unit into the next, which is drawn over it: bands that met at a
        // fractional edge would let the background through as a faint line.
        const float band = (to - from) / 10.0f;
        for (int i = 1; i <= 10; ++i)
        {
            const float bandTop = from + static_cast<float>(i - 1) * band;
            const float bandBottom = i < 10 ? juce::jmin(bandTop + band + 1.0f, to) : to;
            g.setColour(top.interpolatedWith(bottom, (static_cast<float>(i) - 0.5f) / 10.0f));
            g.fillRect(x, bandTop, w, bandBottom - bandTop);
        }
    }

    const float capTop = juce::jmax(y, y + h - 2 * radius);
    g.setColour(bottom);
    g.fillRoundedRectangle(x, capTop, w, juce::jmax(y + h - capTop, 0.0f), radius);

    g.setGradientFill(juce::ColourGradient::vertical(
        juce::Colours::black.withAlpha(static_cast<juce::uint8>(0x8c)), y,
        juce::Colours::black.withAlpha(static_cast<juce::uint8>(0x40)), y + h));
    g.drawRoundedRectangle(x + 0.5f, y + 0.5f, juce::jmax(w - 1, 0.0f), juce::jmax(h - 1, 0.0f), radius,
                           1.0f);
}

Display::Display()
{
    setOpaque(true);
}
} // namespace ui
