#pragma once

// JUCE 8 names the interface code is written against, for building with JUCE 7 (Debian ships
// 7.0.5). With JUCE 8 this header adds nothing, so the same code builds unchanged there.
#include <juce_graphics/juce_graphics.h>

#if JUCE_MAJOR_VERSION < 8

namespace juce
{

// JUCE 8's description of a font. Converts to the juce::Font it describes, so
// juce::Font (juce::FontOptions (12.0f, juce::Font::bold)) and label.setFont (juce::FontOptions (...))
// read as they do with JUCE 8.
class FontOptions
{
public:
    FontOptions() = default;
    explicit FontOptions(float fontHeight) : height(fontHeight) {}
    FontOptions(float fontHeight, int styleFlags) : height(fontHeight), flags(styleFlags) {}
    FontOptions(const String& typefaceName, float fontHeight, int styleFlags)
        : name(typefaceName), height(fontHeight), flags(styleFlags)
    {
    }
    FontOptions(const String& typefaceName, const String& typefaceStyle, float fontHeight)
        : name(typefaceName), style(typefaceStyle), height(fontHeight)
    {
    }
    explicit FontOptions(const Typeface::Ptr& face) : typeface(face) {}

    [[nodiscard]] FontOptions withName(const String& x) const { return with(&FontOptions::name, x); }
    [[nodiscard]] FontOptions withStyle(const String& x) const { return with(&FontOptions::style, x); }
    [[nodiscard]] FontOptions withTypeface(const Typeface::Ptr& x) const
    {
        return with(&FontOptions::typeface, x);
    }
    [[nodiscard]] FontOptions withHeight(float x) const { return with(&FontOptions::height, x); }
    [[nodiscard]] FontOptions withKerningFactor(float x) const { return with(&FontOptions::kerning, x); }
    [[nodiscard]] FontOptions withHorizontalScale(float x) const
    {
        return with(&FontOptions::horizontalScale, x);
    }
    [[nodiscard]] FontOptions withUnderline(bool x = true) const { return with(&FontOptions::underlined, x); }

    String getName() const { return name; }
    String getStyle() const { return style; }
    Typeface::Ptr getTypeface() const { return typeface; }
    float getHeight() const { return height; }
    float getKerningFactor() const { return kerning; }
    float getHorizontalScale() const { return horizontalScale; }
    bool getUnderline() const { return underlined; }

    operator Font() const
    {
        Font font = typeface != nullptr ? Font(typeface) : Font(height, flags);
        if (typeface != nullptr)
            font.setHeight(height);
        if (name.isNotEmpty())
            font.setTypefaceName(name);
        if (style.isNotEmpty())
            font.setTypefaceStyle(style);
        if (kerning != 0.0f)
            font.setExtraKerningFactor(kerning);
        if (horizontalScale != 1.0f)
            font.setHorizontalScale(horizontalScale);
        if (underlined)
            font.setUnderline(true);
        return font;
    }

private:
    template <typename Member, typename Value> FontOptions with(Member member, Value value) const
    {
        auto copy = *this;
        copy.*member = std::move(value);
        return copy;
    }

    String name, style;
    Typeface::Ptr typeface;
    float height = 14.0f;
    int flags = Font::plain;
    float kerning = 0.0f;
    float horizontalScale = 1.0f;
    bool underlined = false;
};

} // namespace juce

#endif
