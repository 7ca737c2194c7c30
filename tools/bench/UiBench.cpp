// mosslight-ui-bench: the time to paint each interface-kit component, headless, at 100 % and
// 200 %: cold (the first paint with the kit's caches empty: knob faces, grain tiles, backdrops,
// logos) and warm (a repaint). CPU time of this thread, in microseconds. A cold figure of an item
// that needs its window's background includes painting that window once.
//
// Usage: mosslight-ui-bench
#include "common/ui/Backdrop.h"
#include "common/ui/Knob.h"
#include "common/ui/LevelMeter.h"
#include "common/ui/LogoMark.h"
#include "common/ui/LoudnessPanel.h"
#include "common/ui/SizeButton.h"
#include "common/ui/Surfaces.h"
#include "gallery/StubProcessor.h"

#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace
{
double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// A window of the second plug-in's size with its surfaces and controls, as an editor lays them.
class Window : public gallery::StubEditor
{
public:
    explicit Window(gallery::StubProcessor& p, bool withControls) : StubEditor(p)
    {
        setSize(1060, 470);
        if (!withControls)
            return;
        const char* ids[] = {"gain1", "amount1", "amount2", "mix1", "mix2", "time1"};
        for (int i = 0; i < 6; ++i)
        {
            knobs.push_back(
                std::make_unique<Knob>(p.apvts, ids[i], "KNOB", i % 2 == 0 ? ui::blue : ui::amber));
            addAndMakeVisible(*knobs.back());
            knobs.back()->setBounds(652 + 112 * (i % 2), 58 + 129 * (i / 2), 112, 129);
        }
        for (auto* m : {&in, &out})
        {
            addAndMakeVisible(*m);
            m->level = -14;
            m->peak = -8;
        }
        in.setBounds(594, 84, 10, 352);
        out.setBounds(616, 84, 10, 352);
        addAndMakeVisible(loudness);
        loudness.setBounds(896, 48, 150, 408);
        loudness.momentary = -12;
        loudness.shortTerm = -13;
        loudness.integrated = -14;
        addAndMakeVisible(well);
        well.setBounds(24, 58, 540, 270);
    }

    void paint(juce::Graphics& g) override
    {
        const ui::Backdrop backdrop(g, *this);
        g.setColour(ui::text);
        g.setFont(juce::FontOptions(20.0f, juce::Font::bold));
        g.drawText("WINDOW", 18, 10, 300, 28, juce::Justification::centredLeft, true);
        ui::LogoMark::draw(g, 1042);
        ui::drawPanel(g, {14, 48, 560, 408});
        ui::drawPanel(g, {584, 48, 302, 408});
    }

    struct Well : ui::Display
    {
        void paint(juce::Graphics& g) override
        {
            const float w = static_cast<float>(getWidth()), h = static_cast<float>(getHeight());
            for (const auto& corner : {juce::Point<float>(0, 0), {w - 7, 0}, {0, h - 7}, {w - 7, h - 7}})
                ui::fillBehind(g, *this, {corner.x, corner.y, 7, 7});
            ui::fillDisplay(g, getLocalBounds().toFloat(), 6);
        }
    };

    std::vector<std::unique_ptr<Knob>> knobs;
    LevelMeter in, out;
    LoudnessPanel loudness{"LUFS"};
    Well well;
};

void forgetBackdrops(juce::Component& c)
{
    c.getProperties().remove("kaBackdrop");
    for (auto* child : c.getChildren())
        forgetBackdrops(*child);
}

void emptyCaches(juce::Component& c)
{
    if (auto* style = ui::Style::current)
    {
        style->knobCache.clear();
        style->tiles.clear();
    }
    juce::ImageCache::releaseUnusedImages();
    forgetBackdrops(c);
}

struct Item
{
    const char* name;
    juce::Component* component; // painted as a whole
    juce::Component* window;    // painted once first, when the item needs its window's backdrop
};

struct Timing
{
    double coldMicros, warmMicros;
};

Timing measure(const Item& item, float scale)
{
    auto& c = *item.component;
    juce::Image image(juce::Image::ARGB, juce::roundToInt(static_cast<float>(c.getWidth()) * scale),
                      juce::roundToInt(static_cast<float>(c.getHeight()) * scale), true);
    juce::Image windowImage;
    if (item.window != nullptr)
        windowImage = juce::Image(
            juce::Image::ARGB, juce::roundToInt(static_cast<float>(item.window->getWidth()) * scale),
            juce::roundToInt(static_cast<float>(item.window->getHeight()) * scale), true);
    const auto paintOnce = [&](juce::Component& what, juce::Image& into)
    {
        juce::Graphics g(into);
        g.addTransform(juce::AffineTransform::scale(scale));
        what.paintEntireComponent(g, true);
    };

    emptyCaches(item.window != nullptr ? *item.window : c);
    double start = cpuSeconds();
    if (item.window != nullptr)
        paintOnce(*item.window, windowImage);
    else
        paintOnce(c, image);
    const double cold = cpuSeconds() - start;

    int count = 0;
    start = cpuSeconds();
    double elapsed = 0;
    while (count < 20 || elapsed < 0.25)
    {
        paintOnce(c, image);
        ++count;
        elapsed = cpuSeconds() - start;
    }
    return {cold * 1e6, elapsed * 1e6 / count};
}
} // namespace

int main()
{
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    KnobLookAndFeel look;
    gallery::StubProcessor processor;

    Window window(processor, true);
    window.setLookAndFeel(&look);
    Window bare(processor, false);
    bare.setLookAndFeel(&look);

    juce::Component host; // plain parent for the lone controls
    host.setLookAndFeel(&look);
    host.setSize(400, 200);
    Knob knob(processor.apvts, "gain2", "GAIN", ui::blue);
    knob.slider.setValue(6.0, juce::sendNotificationSync);
    juce::ComboBox combo;
    combo.addItemList({"Plate", "Room", "Hall"}, 1);
    combo.setSelectedId(2);
    juce::TextButton button("BYPASS");
    button.setToggleState(true, juce::dontSendNotification);
    juce::Slider linear(juce::Slider::LinearHorizontal, juce::Slider::NoTextBox);
    linear.setValue(0.4);
    LevelMeter meter;
    meter.level = -3;
    meter.peak = -1;
    SizeButton size;
    size.setButtonText("100 %");
    struct Logo : juce::Component
    {
        void paint(juce::Graphics& g) override { ui::LogoMark::draw(g, 40, 0); }
    } logo;
    const std::pair<juce::Component*, juce::Rectangle<int>> parts[] = {
        {&knob, {0, 0, 112, 129}},  {&combo, {0, 0, 140, 26}}, {&button, {0, 0, 80, 28}},
        {&linear, {0, 0, 220, 24}}, {&meter, {0, 0, 10, 352}}, {&size, {0, 0, 58, 22}},
        {&logo, {0, 0, 40, 26}}};
    for (const auto& [component, bounds] : parts)
    {
        host.addAndMakeVisible(*component);
        component->setBounds(bounds);
    }

    const Item items[] = {
        {"knob 112 x 129", &knob, nullptr},
        {"combo box 140 x 26", &combo, nullptr},
        {"text button 80 x 28", &button, nullptr},
        {"linear slider 220 x 24", &linear, nullptr},
        {"level meter 10 x 352", &meter, nullptr},
        {"size button 58 x 22", &size, nullptr},
        {"logo 26 high", &logo, nullptr},
        {"loudness panel 150 x 408", &window.loudness, nullptr},
        {"display well 540 x 270 (cold: with its window)", &window.well, &window},
        {"backdrop with two panels 1060 x 470", &bare, nullptr},
        {"whole window 1060 x 470 (6 knobs, 2 meters, loudness, well)", &window, nullptr},
    };

    // One pass first, so that what the kit does not cache itself (decoders, JUCE's glyph cache)
    // is warm for every cold figure.
    for (const auto& warmUp : items)
        measure(warmUp, 1.0f);

    std::printf("%-62s %12s %12s %12s %12s\n", "paint, microseconds of CPU", "cold 100 %", "warm 100 %",
                "cold 200 %", "warm 200 %");
    for (const auto& item : items)
    {
        const auto one = measure(item, 1.0f);
        const auto two = measure(item, 2.0f);
        // One pass first, so that what the kit does not cache itself (decoders, JUCE's glyph cache)
        // is warm for every cold figure.
        for (const auto& warmUp : items)
            measure(warmUp, 1.0f);

        std::printf("%-62s %12.0f %12.1f %12.0f %12.1f\n", item.name, one.coldMicros, one.warmMicros,
                    two.coldMicros, two.warmMicros);
    }

    for (auto* c : {static_cast<juce::Component*>(&window), static_cast<juce::Component*>(&bare), &host})
        c->setLookAndFeel(nullptr);
    return 0;
}
