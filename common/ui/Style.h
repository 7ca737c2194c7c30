// The house style: the process-wide default look-and-feel that owns the Inter KA faces, the
// knob pictures, the decoded grain texture and the render caches (knob faces, grain tiles).
// Shared by every editor of a plug-in through juce::SharedResourcePointer<ui::Style>, which
// each KnobLookAndFeel holds. Message thread only.
#pragma once

#include "JuceCompat.h"
#include "Palette.h"

#include <cstdint>
#include <map>
#include <vector>

namespace ui
{
enum class Weight
{
    Regular,
    Medium,
    SemiBold
};

// "Regular", "Medium" or "SemiBold".
juce::String styleName(Weight weight);

// Every kit text goes through this: the default sans-serif family, which the Style resolves to
// the Inter KA face of the weight.
juce::Font font(float height, Weight weight);

// The width of a line of text in a font (JUCE 8 measures through juce::GlyphArrangement).
float stringWidth(const juce::Font& font, const juce::String& text);

class Style : public juce::LookAndFeel_V4
{
public:
    Style();
    ~Style() override;

    // Inter KA for the default sans-serif and monospaced placeholders and for "Inter KA": bold
    // styles get SemiBold, medium styles Medium, all others Regular. Other families go to JUCE.
    juce::Typeface::Ptr getTypefaceForFont(const juce::Font& font) override;

    // One cached grain tile: the base colour (ARGB), the strength, the tile pixels per texel
    // (1 or 2) and the tile itself.
    struct Tile
    {
        juce::uint32 colour = 0;
        float amount = 0.0f;
        int factor = 1;
        juce::Image image;
    };

    // The grain of a decoded texture: one byte per texel (green of each plain colour), row by
    // row. A non-square or invalid image gives no grain (size 0).
    static std::vector<std::uint8_t> grainFrom(const juce::Image& texture, int& size);

    juce::Typeface::Ptr regular, medium, semiBold;
    juce::Image knob256, knob128;
    std::vector<std::uint8_t> grain;
    int grainSize = 0;
    std::map<int, juce::Image> knobCache; // rendered knob faces by diameter in physical pixels
    std::vector<Tile> tiles;              // grain tiles, at most 9

    // The live Style, or null.
    static Style* current;

    JUCE_DECLARE_NON_COPYABLE(Style)
};
} // namespace ui
