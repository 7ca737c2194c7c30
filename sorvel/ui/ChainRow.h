// The strip of eight module blocks under the wave display, in signal order: each shows the
// module's name, switch, character, amount, activity (a bar or a miniature filter curve),
// listening and ducking. A click on a block selects it, a click on its power symbol switches it.
// Draws only the blocks its owner fills (svui::fillBlocks). Message thread only.
#pragma once

#include "Modules.h"

#include "common/ui/JuceCompat.h"

#include <array>
#include <functional>

class ChainRow : public juce::Component
{
public:
    struct Block
    {
        juce::String text;          // the character
        float amount = 0.0f;        // 0 .. 10, or -10 .. +10 when bipolar
        bool bipolar = false;       // SHIMMER
        float level = 0.0f;         // activity bar, 0 .. 1
        float unducked = 0.0f;      // the bar before ducking (send modules)
        float duckDepth = 0.0f;     // dB (send modules)
        bool active = true;         // the amount does something
        bool listening = false;     // soloed by "listen"
        bool on = true;             // the module's switch
        float curveValues[2]{0, 0}; // HIGH-PASS: corner in Hz; EQ: bass and treble amounts
        int curveIndices[2]{0, 0};  // EQ: bass and treble characters
    };

    static constexpr float blockHeight = 64.0f;
    static constexpr float gap = 12.0f;

    ChainRow();

    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent& event) override;
    void mouseMove(const juce::MouseEvent& event) override;
    void mouseExit(const juce::MouseEvent& event) override;

    // The block width of a row `rowWidth` wide, and block i's left edge.
    static float blockWidth(float rowWidth) { return (rowWidth - 84.0f) / 8.0f; }
    float blockLeft(int i) const { return static_cast<float>(i) * (blockWidth(rowWidth()) + gap); }

    // The block under p, or -1 (above or below the blocks, or in a gap).
    int blockAt(juce::Point<float> p) const;
    // Whether p lies on block i's power symbol.
    bool isOnPowerSymbol(int i, juce::Point<float> p) const;

    std::array<Block, svui::numModules> blocks;
    int selected = 3;
    std::function<void(int)> onSelect, onPower;
    int hovered = -1;

private:
    float rowWidth() const { return static_cast<float>(getWidth()); }
    void paintBlock(juce::Graphics& g, int i, float bw);
    void paintAmount(juce::Graphics& g, const Block& b, float x0, float G, juce::Colour c, float f);
    void paintCurve(juce::Graphics& g, int i, const Block& b, float x0, float G, juce::Colour c, float f);
    void paintConnector(juce::Graphics& g, int i, float x0, float bw);

    juce::Path curve; // the miniature curves, one after the other
    juce::Font nameFont{juce::FontOptions(11.0f, juce::Font::bold)};
    juce::Font textFont{juce::FontOptions(14.0f, juce::Font::bold)};
    juce::Font smallFont{juce::FontOptions(10.0f, juce::Font::bold)};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(ChainRow)
};
