#include "Backdrop.h"

#include "Style.h"
#include "Surfaces.h"

#include <algorithm>
#include <cmath>

namespace ui
{
Backdrop* Backdrop::current = nullptr;

namespace
{
const juce::Identifier& entryKey()
{
    static const juce::Identifier key("kaBackdrop");
    return key;
}

bool sameScale(float a, float b)
{
    return std::abs(a - b) < 0.0001f;
}
} // namespace

bool Backdrop::Panel::operator==(const Panel& o) const
{
    return x == o.x && y == o.y && width == o.width && height == o.height && sameScale(radius, o.radius) &&
           sameScale(scale, o.scale);
}

Backdrop::Entry* Backdrop::entryOf(const juce::Component& c)
{
    if (const auto* value = c.getProperties().getVarPointer(entryKey()))
        return dynamic_cast<Entry*>(value->getObject());
    return nullptr;
}

Backdrop::Backdrop(juce::Graphics& g, juce::Component& c)
    : graphics(g), component(c), scale(pixelScale(g, 0.1f)), origin(windowOrigin(c))
{
    const auto area = c.getLocalBounds().toFloat();
    const int pw = juce::roundToInt(scale * static_cast<float>(c.getWidth()));
    const int ph = juce::roundToInt(scale * static_cast<float>(c.getHeight()));
    if (Style::current == nullptr || pw < 1 || ph < 1)
    {
        fillGrain(g, area, bg, grainWindow, 0, origin);
        return;
    }

    entry = entryOf(c);
    if (entry == nullptr)
    {
        entry = new Entry();
        c.getProperties().set(entryKey(), juce::var(entry.get()));
    }
    entry->frame.clear();

    if (!entry->dirty && entry->image.getWidth() == pw && entry->image.getHeight() == ph &&
        sameScale(entry->scale, scale))
    {
        mode = reusing;
    }
    else
    {
        mode = rendering;
        if (entry->image.getWidth() != pw || entry->image.getHeight() != ph)
            entry->image = juce::Image(juce::Image::ARGB, pw, ph, true);
        entry->scale = scale;
        entry->panels.clear();
        juce::Graphics ig(entry->image);
        ig.addTransform(juce::AffineTransform::scale(scale));
        fillGrain(ig, area, bg, grainWindow, 0, origin);
    }

    excludeOpaqueDescendants(c, c);

    if (!g.isClipEmpty())
    {
        juce::Graphics::ScopedSaveState saved(g);
        g.setImageResamplingQuality(juce::Graphics::lowResamplingQuality);
        g.setOpacity(1.0f);
        g.drawImageTransformed(entry->image, juce::AffineTransform::scale(1.0f / scale));
    }

    previous = current;
    current = this;
}

Backdrop::~Backdrop()
{
    if (entry == nullptr)
        return;
    current = previous;
    if (mode == rendering)
        entry->dirty = false;
    else if (entry->frame != entry->panels)
        entry->dirty = true; // the next frame renders again with this frame's panels
}

bool Backdrop::panel(juce::Graphics& g, juce::Rectangle<float> r, float radius)
{
    if (entry == nullptr)
        return false;
    const Panel p{r.getX(), r.getY(), r.getWidth(), r.getHeight(), radius, pixelScale(g, 0.1f)};
    entry->frame.push_back(p);
    if (mode == reusing)
        return std::find(entry->panels.begin(), entry->panels.end(), p) != entry->panels.end();

    juce::Graphics ig(entry->image);
    ig.addTransform(juce::AffineTransform::scale(p.scale));
    drawPanelSurface(ig, r, radius, origin);
    entry->panels.push_back(p);
    return false; // the image was composited before this panel was added
}

void Backdrop::excludeOpaqueDescendants(const juce::Component& root, const juce::Component& parent)
{
    for (auto* child : parent.getChildren())
    {
        if (!child->isVisible() || child->getAlpha() < 1.0f)
            continue;
        if (child->isOpaque())
        {
            const auto bounds = root.getLocalArea(child, child->getLocalBounds());
            if (bounds.getWidth() >= 3 && bounds.getHeight() >= 3)
                graphics.excludeClipRegion(bounds.reduced(1));
        }
        else
        {
            excludeOpaqueDescendants(root, *child);
        }
    }
}
} // namespace ui
