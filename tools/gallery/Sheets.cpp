#include "Sheets.h"
#include "Sheet.h"

#include "common/ui/Backdrop.h"
#include "common/ui/Knob.h"
#include "common/ui/LevelMeter.h"
#include "common/ui/LogoMark.h"
#include "common/ui/LoudnessPanel.h"
#include "common/ui/SizeButton.h"
#include "common/ui/Surfaces.h"

namespace gallery
{
namespace
{
class KnobSheet : public Sheet
{
public:
    explicit KnobSheet(StubProcessor& p) : Sheet(p, "KNOBS", 1000, 470)
    {
        panels = {{14, 48, 972, 164}, {14, 220, 972, 236}};
        struct Case
        {
            const char* id;
            const char* caption;
            juce::Colour colour;
            float value;
            const char* text;
        };
        const Case row[] = {{"gain1", "GAIN", ui::text, -12.0f, "bipolar, minimum"},
                            {"gain2", "GAIN", ui::blue, 0.0f, "bipolar, zero: no arc"},
                            {"gain3", "GAIN", ui::blue, 6.0f, "bipolar, +6 from the middle"},
                            {"amount1", "AMOUNT", ui::green, 0.0f, "unipolar, start"},
                            {"amount2", "AMOUNT", ui::green, 0.35f, "unipolar, 0.35"},
                            {"amount3", "AMOUNT", ui::amber, 1.0f, "unipolar, full"},
                            {"mix1", "MIX", ui::blue, 60.0f, "hovered"},
                            {"gain4", "GAIN", ui::amber, 6.0f, "disabled"}};
        int x = 24;
        for (const auto& c : row)
        {
            auto& knob = add(std::make_unique<Knob>(p.apvts, c.id, c.caption, c.colour), {x, 60, 112, 129});
            knob.slider.setValue(c.value, juce::sendNotificationSync);
            note({x, 192, 112, 14}, c.text);
            if (juce::String(c.text) == "hovered")
                knob.slider.setLookAndFeel(&hoverLook);
            if (juce::String(c.text) == "disabled")
                knob.setEnabled(false);
            x += 119;
        }

        struct Size
        {
            int w, h;
            juce::Colour colour;
        };
        const Size sizes[] = {{60, 80, ui::text},   {71, 118, ui::green},  {94, 118, ui::amber},
                              {112, 130, ui::blue}, {160, 190, ui::green}, {200, 212, ui::text}};
        x = 30;
        int n = 1;
        for (const auto& s : sizes)
        {
            const auto id = "time" + juce::String(n);
            auto& knob = add(std::make_unique<Knob>(p.apvts, id, "TIME", s.colour), {x, 226, s.w, s.h});
            knob.slider.setValue(10.0 + 70.0 * n, juce::sendNotificationSync);
            note({x, 226 + s.h, s.w, 12}, juce::String(s.w) + " x " + juce::String(s.h));
            x += s.w + 24;
            ++n;
        }
    }
};

class ControlSheet : public Sheet
{
public:
    explicit ControlSheet(StubProcessor& p) : Sheet(p, "CONTROLS", 1000, 330), size()
    {
        panels = {{14, 48, 480, 268}, {504, 48, 482, 268}};

        for (int i = 0; i < 2; ++i)
        {
            auto& box = add(std::make_unique<juce::ComboBox>(), {30 + i * 160, 78, 140, 26});
            box.addItemList({"Plate", "Room", "Hall"}, 1);
            box.setSelectedId(2, juce::dontSendNotification);
            box.setEnabled(i == 0);
            note({30 + i * 160, 106, 140, 14}, i == 0 ? "combo box" : "combo box, disabled");
        }

        const char* names[] = {"BYPASS", "LISTEN", "PING-PONG"};
        for (int i = 0; i < 3; ++i)
        {
            auto& button = add(std::make_unique<juce::TextButton>(names[i]), {30 + i * 100, 138, 90, 28});
            button.setToggleState(i > 0, juce::dontSendNotification);
            if (i == 1)
                button.setColour(juce::TextButton::buttonOnColourId, ui::red);
            note({30 + i * 100, 168, 90, 14}, i == 0 ? "off" : i == 1 ? "on (red)" : "on (amber)");
        }

        const char* choices[] = {"OFF", "MOSTLY", "ALWAYS"};
        for (int i = 0; i < 3; ++i)
        {
            auto& button =
                add(std::make_unique<juce::TextButton>(choices[i]), {30 + i * 64 + 2, 200, 60, 28});
            button.setColour(juce::TextButton::buttonOnColourId, ui::blue);
            button.setToggleState(i == 1, juce::dontSendNotification);
            button.setConnectedEdges((i > 0 ? juce::Button::ConnectedOnLeft : 0) |
                                     (i < 2 ? juce::Button::ConnectedOnRight : 0));
        }
        note({30, 230, 192, 14}, "connected edges");
        add(std::make_unique<juce::TextButton>("RESET"), {250, 200, 64, 26}).setEnabled(false);
        note({250, 230, 64, 14}, "disabled");

        auto& seed =
            add(std::make_unique<juce::Slider>(juce::Slider::IncDecButtons, juce::Slider::TextBoxLeft),
                {30, 262, 110, 26});
        seed.setRange(0, 999, 1);
        seed.setValue(17);
        seed.setTextBoxStyle(juce::Slider::TextBoxLeft, false, 40, 24);
        seed.setColour(juce::Slider::textBoxBackgroundColourId, ui::slot);
        seed.setColour(juce::Slider::textBoxOutlineColourId, ui::panelEdge);
        note({30, 290, 110, 14}, "inc/dec value box");

        auto& linear =
            add(std::make_unique<juce::Slider>(juce::Slider::LinearHorizontal, juce::Slider::NoTextBox),
                {520, 78, 220, 24});
        linear.setRange(0, 1);
        linear.setValue(0.62);
        linear.setColour(juce::Slider::trackColourId, ui::blue);
        linear.setColour(juce::Slider::thumbColourId, ui::text);
        note({520, 104, 220, 14}, "linear slider");
        auto& vertical =
            add(std::make_unique<juce::Slider>(juce::Slider::LinearVertical, juce::Slider::TextBoxBelow),
                {760, 66, 60, 150});
        vertical.setRange(-12, 12, 0.1);
        vertical.setValue(3.5);
        vertical.setColour(juce::Slider::trackColourId, ui::amber);
        vertical.setColour(juce::Slider::thumbColourId, ui::text);
        vertical.setTextBoxStyle(juce::Slider::TextBoxBelow, false, 56, 18);
        note({760, 218, 60, 14}, "vertical");

        addAndMakeVisible(size);
        size.setButtonText("100 %");
        size.setColour(juce::TextButton::buttonColourId, ui::slot);
        size.setColour(juce::TextButton::textColourOffId, ui::dim);
        size.setBounds(854, 66, 58, 22);
        note({840, 90, 86, 14}, "size button");
    }

    // The size menu as the look-and-feel draws it.
    void paintExtras(juce::Graphics& g) override
    {
        const juce::Rectangle<int> area(520, 140, 150, 168);
        juce::Graphics::ScopedSaveState saved(g);
        g.setOrigin(area.getPosition());
        g.reduceClipRegion(0, 0, area.getWidth(), area.getHeight());
        look.drawPopupMenuBackground(g, area.getWidth(), area.getHeight());
        int y = 4;
        look.drawPopupMenuSectionHeader(g, {0, y, area.getWidth(), 20}, "window size");
        y += 20;
        for (const int percent : SizeButton::choices)
        {
            const juce::Rectangle<int> row(0, y, area.getWidth(), 20);
            look.drawPopupMenuItem(g, row, false, true, percent == 130, percent == 100, false,
                                   juce::String(percent) + " %", {}, nullptr, nullptr);
            y += 20;
        }
        g.setOrigin(-area.getPosition());
        g.setColour(ui::dim);
        g.setFont(juce::FontOptions(10.0f, juce::Font::plain));
        g.drawText("its menu (130 % under the mouse)", 680, 140, 200, 14, juce::Justification::centredLeft,
                   true);
    }

private:
    juce::TextButton size;
};

class MeterSheet : public Sheet
{
public:
    explicit MeterSheet(StubProcessor& p) : Sheet(p, "LOUDNESS AND LEVELS", 1000, 470)
    {
        panels = {{14, 48, 300, 408}};
        struct Reading
        {
            float level, peak;
            const char* text;
        };
        const Reading meters[] = {
            {-60, -60, "empty"}, {-30, -24, "green"}, {-12, -9, "amber"}, {-3, -2, "red"}, {4, 0, "over"}};
        int x = 40;
        for (const auto& m : meters)
        {
            auto& meter = add(std::make_unique<LevelMeter>(), {x, 84, 10, 352});
            meter.level = m.level;
            meter.peak = m.peak;
            note({x - 20, 64, 50, 14}, m.text);
            x += 52;
        }

        struct Loudness
        {
            float momentary, shortTerm, integrated;
        };
        const Loudness panelsShown[] = {
            {-100, -100, -100}, {-20, -21.3f, -22.75f}, {-12, -13.04f, -14.2f}, {-8, -8.96f, -10.5f}};
        x = 324;
        for (const auto& l : panelsShown)
        {
            auto& panel = add(std::make_unique<LoudnessPanel>("LUFS"), {x, 48, 150, 408});
            panel.momentary = l.momentary;
            panel.shortTerm = l.shortTerm;
            panel.integrated = l.integrated;
            x += 166;
        }
    }
};

// A well that fills its corners with what lies behind it, as display views do.
class Well : public ui::Display
{
public:
    void paint(juce::Graphics& g) override
    {
        const float w = static_cast<float>(getWidth()), h = static_cast<float>(getHeight());
        for (const auto& corner : {juce::Point<float>(0, 0), {w - 7, 0}, {0, h - 7}, {w - 7, h - 7}})
            ui::fillBehind(g, *this, {corner.x, corner.y, 7, 7});
        ui::fillDisplay(g, getLocalBounds().toFloat(), 6);
        g.setColour(ui::dim);
        g.setFont(juce::FontOptions(10.0f, juce::Font::plain));
        g.drawText("display well", getLocalBounds().reduced(10), juce::Justification::bottomLeft, true);
    }
};

class SurfaceSheet : public Sheet
{
public:
    explicit SurfaceSheet(StubProcessor& p) : Sheet(p, "SURFACES", 1000, 400)
    {
        panels = {{14, 48, 560, 338}, {584, 48, 402, 338}};
        add(std::make_unique<Well>(), {24, 58, 540, 270});
        note({24, 332, 540, 14},
             "window backdrop, two panels, a display well with the backdrop behind its corners");
    }

    void paintExtras(juce::Graphics& g) override
    {
        ui::fillDisplay(g, {604, 70, 114, 92}, 5);
        ui::fillDisplay(g, {740, 70, 120, 10}, 5);
        g.setColour(ui::dim);
        g.setFont(juce::FontOptions(10.0f, juce::Font::plain));
        g.drawText("readout well", 604, 164, 114, 14, juce::Justification::centred, true);
        g.drawText("caps only (10 high)", 740, 84, 120, 14, juce::Justification::centred, true);

        for (int i = 0; i < 4; ++i)
        {
            const int h = 13 * (i + 1) * 2 / 2 + 13;
            const auto logo =
                ui::LogoMark::render(juce::roundToInt(static_cast<float>(h) * ui::pixelScale(g, 0.25f)));
            const float k = static_cast<float>(h) / static_cast<float>(logo.getHeight());
            g.drawImageTransformed(logo,
                                   juce::AffineTransform::scale(k).translated(610.0f + i * 80.0f, 220.0f));
        }
        g.drawText("logo at 26, 39, 52 and 65 units", 604, 300, 300, 14, juce::Justification::centredLeft,
                   true);
    }
};
} // namespace

juce::Image render(juce::Component& component, float scale)
{
    return component.createComponentSnapshot(component.getLocalBounds(), true, scale);
}

const std::vector<SheetInfo>& sheets()
{
    static const std::vector<SheetInfo> all{
        {"knobs", [](StubProcessor& p) { return std::make_unique<KnobSheet>(p); }},
        {"controls", [](StubProcessor& p) { return std::make_unique<ControlSheet>(p); }},
        {"meters", [](StubProcessor& p) { return std::make_unique<MeterSheet>(p); }},
        {"surfaces", [](StubProcessor& p) { return std::make_unique<SurfaceSheet>(p); }},
    };
    return all;
}
} // namespace gallery
