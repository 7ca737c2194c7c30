// The house palette and the colour rules every kit drawing follows. Message thread only.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace ui
{
inline const juce::Colour bg{0xff13192du};        // window background
inline const juce::Colour panel{0xff1a223du};     // panel surfaces, popup menus, tooltips
inline const juce::Colour panelEdge{0xff283357u}; // outlines, grid lines
inline const juce::Colour slot{0xff0c101cu};      // wells: text boxes, buttons, tracks
inline const juce::Colour text{0xffdde1e8u};
inline const juce::Colour dim{0xff9ba3b5u};
inline const juce::Colour off{0xff58617au};
inline const juce::Colour green{0xff3fc46cu};
inline const juce::Colour blue{0xff3f93eau};
inline const juce::Colour red{0xffe65a49u};
inline const juce::Colour amber{0xffe8b23cu};
inline const juce::Colour orange{0xffff9440u};

// Grain strengths of the window background and of panel surfaces.
constexpr float grainWindow = 0.15f;
constexpr float grainPanel = 0.13f;

// Lightening and darkening always mix with white or black at the colour's own alpha, so a
// translucent colour stays as translucent.
inline juce::Colour towardsWhite(juce::Colour c, float amount)
{
    return c.interpolatedWith(juce::Colours::white.withAlpha(c.getAlpha()), amount);
}

inline juce::Colour towardsBlack(juce::Colour c, float amount)
{
    return c.interpolatedWith(juce::Colours::black.withAlpha(c.getAlpha()), amount);
}

// Installs the palette into a look-and-feel: text boxes, buttons, labels, combo boxes, popup
// menus and tooltips.
void applyColours(juce::LookAndFeel& lookAndFeel);

// The physical pixels per user unit of a graphics context, never below `minimum`.
inline float pixelScale(juce::Graphics& g, float minimum)
{
    return juce::jmax(g.getInternalContext().getPhysicalPixelScaleFactor(), minimum);
}
} // namespace ui
