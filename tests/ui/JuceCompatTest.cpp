#include "common/ui/JuceCompat.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

TEST(JuceCompat, fontOptionsDescribeTheFontTheyBecome)
{
    const juce::Font bold(juce::FontOptions(20.0f, juce::Font::bold));
    EXPECT_FLOAT_EQ(bold.getHeight(), 20.0f);
    EXPECT_TRUE(bold.isBold());

    const juce::Font plain =
        juce::FontOptions(12.0f, juce::Font::plain).withUnderline().withHorizontalScale(0.9f);
    EXPECT_FLOAT_EQ(plain.getHeight(), 12.0f);
    EXPECT_FALSE(plain.isBold());
    EXPECT_TRUE(plain.isUnderlined());
    EXPECT_FLOAT_EQ(plain.getHorizontalScale(), 0.9f);

    const juce::Font styled = juce::FontOptions(11.5f).withStyle("Bold");
    EXPECT_EQ(styled.getTypefaceStyle(), "Bold");
    EXPECT_FLOAT_EQ(styled.getHeight(), 11.5f);

    const juce::Font spaced =
        juce::FontOptions(11.5f, juce::Font::plain).withStyle("SemiBold").withKerningFactor(0.04f);
    EXPECT_EQ(spaced.getTypefaceStyle(), "SemiBold");
    EXPECT_FLOAT_EQ(spaced.getExtraKerningFactor(), 0.04f);

    // Labels take the options where they take a font.
    juce::Label label;
    label.setFont(juce::FontOptions(26.0f, juce::Font::bold));
    EXPECT_FLOAT_EQ(label.getFont().getHeight(), 26.0f);
}
