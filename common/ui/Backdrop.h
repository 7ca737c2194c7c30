// The window background of an editor (or a large component), rendered once per pixel size with
// the panels drawn on it and cached in the component's properties. Construct one on the stack at
// the start of paint; panels drawn while it lives go through panel(). Message thread only;
// backdrops nest strictly inside one paint call.
#pragma once

#include "Palette.h"

#include <vector>

namespace ui
{
class Backdrop
{
public:
    struct Panel
    {
        float x = 0, y = 0, width = 0, height = 0, radius = 6, scale = 1;
        bool operator==(const Panel& other) const;
        bool operator!=(const Panel& other) const { return !(*this == other); }
    };

    // The cache, kept in the component's properties under "kaBackdrop".
    struct Entry : juce::ReferenceCountedObject
    {
        juce::Image image; // the background at physical resolution
        float scale = 0;
        std::vector<Panel> panels; // drawn into the image
        std::vector<Panel> frame;  // requested during the current frame (storage kept)
        bool dirty = true;
        using Ptr = juce::ReferenceCountedObjectPtr<Entry>;
    };

    enum Mode
    {
        noCache = 0,
        rendering = 1, // the cached image is rendered this frame
        reusing = 2    // the cached image is reused
    };

    Backdrop(juce::Graphics& g, juce::Component& component);
    ~Backdrop();

    // Asks for a panel surface at r. True when it is already in the composited background (draw
    // nothing); false when the caller must draw it (it is then cached for the next frames).
    bool panel(juce::Graphics& g, juce::Rectangle<float> r, float radius);

    // Excludes the opaque descendants of `parent` (inset by one unit, in `root`'s coordinates)
    // from the clip: the background is never drawn under them.
    void excludeOpaqueDescendants(const juce::Component& root, const juce::Component& parent);

    // The cache entry of a component, or null.
    static Entry* entryOf(const juce::Component& component);

    juce::Graphics& graphics;
    juce::Component& component;
    float scale;
    juce::Point<float> origin;
    Entry::Ptr entry;
    int mode = noCache;
    Backdrop* previous = nullptr;

    // The innermost live Backdrop, or null.
    static Backdrop* current;

    JUCE_DECLARE_NON_COPYABLE(Backdrop)
};
} // namespace ui
