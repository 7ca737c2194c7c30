// The house surfaces: grain-textured fills, panel surfaces, what lies behind a child, recessed
// display wells. All of it is drawn inside paint on the message thread.
#pragma once

#include "Palette.h"

namespace ui
{
// Fills `area` with `base` and, when the Style has a grain texture, a fine zero-mean grain of
// strength `amount` (slightly stronger in blue than in red). The grain is tiled from the
// window's top-left: `grainOrigin` is where the painted component's top-left lies in the
// window (in this component's units), so neighbouring components show one continuous grain.
// Tiles are rendered once per (colour, amount, pixel factor) and kept in the Style.
void fillGrain(juce::Graphics& g, juce::Rectangle<float> area, juce::Colour base, float amount,
               float cornerRadius, juce::Point<float> grainOrigin);

// A panel: grained ui::panel with a top sheen, a bottom shade, an outline and a top light.
void drawPanelSurface(juce::Graphics& g, juce::Rectangle<float> r, float cornerRadius,
                      juce::Point<float> grainOrigin);

// Draws a panel surface the way editors do: nothing when the current Backdrop has it cached,
// else the surface itself, grained from the current Backdrop's origin.
void drawPanel(juce::Graphics& g, juce::Rectangle<float> r, float cornerRadius = 6.0f);

// Paints the window background under `area` of `component` (its own coordinates), e.g. outside
// the rounded corners of an opaque child: the editor's cached background when there is one,
// else freshly grained background.
void fillBehind(juce::Graphics& g, const juce::Component& component, juce::Rectangle<float> area);

// A recessed display well: darker at the top, a shaded edge.
void fillDisplay(juce::Graphics& g, juce::Rectangle<float> r, float radius);

// Where the top-left of `component` lies in its window (its outermost editor ancestor, else its
// top-level ancestor), in the component's own units; (0, 0) for the window itself.
juce::Point<float> windowOrigin(const juce::Component& component);

// The outermost juce::AudioProcessorEditor among the component's parents (or itself when
// `includeSelf`), or null.
const juce::Component* outermostEditor(const juce::Component& component, bool includeSelf);

// An opaque component that draws nothing itself: display wells derive from it and paint
// themselves with fillDisplay.
class Display : public juce::Component
{
public:
    Display();
};
} // namespace ui
