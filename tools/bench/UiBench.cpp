// mosslight-ui-bench: the time to paint each interface-kit component and each of Sorvel's views,
// headless, at 100 % and 200 %: cold (the first paint with the caches empty: knob faces, grain
// tiles, backdrops, logos, the views' backgrounds) and warm (a repaint). CPU time of this thread,
// in microseconds. A cold figure of an item that needs its window's background includes painting
// that window once. Then the spectrum analysis of one refresh tick.
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
#include "sorvel/ui/BlockFeed.h"
#include "sorvel/ui/EqView.h"
#include "sorvel/ui/WaveDisplay.h"

#include <algorithm>
#include <cmath>
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
    juce::Component* component;        // painted as a whole
    juce::Component* window;           // painted once first, when the item needs its window's backdrop
    std::function<void()> forget = {}; // empties the item's own caches
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
    if (item.forget)
        item.forget();
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
// Three taps of noise-like material, 1024 frames a tick (about what 21 ms bring at 48 kHz).
struct TapFeed
{
    std::unique_ptr<sv2::TapFifo> fifo = std::make_unique<sv2::TapFifo>();
    std::vector<float> a, b, c;
    TapFeed() : a(1024), b(1024), c(1024)
    {
        std::uint32_t x = 1;
        for (size_t i = 0; i < a.size(); ++i)
        {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            a[i] = static_cast<float>((x >> 8) * (1.0 / 16777216.0) - 0.5);
            b[i] = 0.7f * a[i];
            c[i] = 0.5f * a[i];
        }
    }
    void tick() { fifo->push(a.data(), b.data(), c.data(), 1024); }
};

// Sorvel's views in busy states: a full wave history, the EQ view with both spectra and a curve,
// the chain row with bars, a listen badge and duck marks.
struct SorvelViews
{
    SorvelViews()
    {
        wave.setSize(1012, 236);
        for (int i = 0; i < WaveDisplay::numColumns; ++i)
        {
            WaveDisplay::Column c;
            const float v = std::abs(std::sin(static_cast<float>(i) * 0.07f));
            c.inDb = -40.0f + 36.0f * v;
            c.outPeakDb = -38.0f + 34.0f * v;
            c.outDb = -44.0f + 30.0f * v;
            c.levelGr = 4.0f * v;
            c.peakGr = 3.0f * v * v;
            c.deessCut = i % 60 > 50 ? 6.0f : 0.0f;
            c.deessOn = c.deessCut > 0.0f ? 1.0f : 0.0f;
            wave.append(c);
        }

        eq.setSize(396, 166);
        eq.spectrum.prepare(48000.0);
        highPass.spectrum.prepare(48000.0);
        TapFeed feed;
        for (int i = 0; i < 9; ++i)
        {
            feed.tick();
            eq.pullSpectrum(*feed.fifo);
            highPass.spectrum.levels = eq.spectrum.levels;
        }
        const float values[2]{6.0f, -4.0f};
        const int indices[2]{0, 2};
        eq.setCurve(values, indices);
        highPass.setSize(396, 166);
        highPass.hpfMode = true;
        highPass.spectrum.analysed = eq.spectrum.analysed;
        const float corner[2]{130.0f, 0.0f};
        highPass.setCurve(corner, indices);

        row.setSize(1012, 74);
        svui::BlockSources s;
        s.deess = 5;
        s.deessCut = 4;
        s.bass = 4;
        s.comp = 6;
        s.compPeak = 3;
        s.compLevel = 2;
        s.shimmer = -4;
        s.tame = 2;
        s.reverb = 4;
        s.reverbReturn = -25;
        s.delay = 3;
        s.delayReturn = -35;
        s.width = 3;
        s.doubles = -30;
        s.duck = 4;
        s.listenIndex = 2;
        svui::fillBlocks(row.blocks, s);
    }

    WaveDisplay wave;
    EqView eq, highPass;
    ChainRow row;
};

// The median time of one pull and analysis of the taps, each after a tick of new frames.
double spectrumMicros(const std::array<bool, 3>& taps)
{
    TapSpectrum spectrum;
    spectrum.prepare(48000.0);
    TapFeed feed;
    std::vector<double> times;
    for (int i = 0; i < 201; ++i)
    {
        feed.tick();
        const double start = cpuSeconds();
        spectrum.pullAndAnalyse(*feed.fifo, taps);
        times.push_back((cpuSeconds() - start) * 1e6);
    }
    std::nth_element(times.begin(), times.begin() + 100, times.end());
    return times[100];
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

    SorvelViews views;

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
        {"Sorvel wave display 1012 x 236, full history", &views.wave, nullptr,
         [&] { views.wave.background.invalidate(); }},
        {"Sorvel EQ view 396 x 166, EQ, spectra and curve", &views.eq, nullptr,
         [&] { views.eq.background.invalidate(); }},
        {"Sorvel EQ view 396 x 166, high-pass, spectra, curves", &views.highPass, nullptr,
         [&] { views.highPass.background.invalidate(); }},
        {"Sorvel chain row 1012 x 74", &views.row, nullptr},
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

    std::printf("\nSorvel's spectrum: one pull and analysis after 1024 new frames, microseconds of CPU "
                "(median of 200)\n");
    std::printf("%-62s %12.0f\n", "three taps", spectrumMicros({true, true, true}));
    std::printf("%-62s %12.0f\n", "the two taps the EQ view shows", spectrumMicros({false, true, true}));

    for (auto* c : {static_cast<juce::Component*>(&window), static_cast<juce::Component*>(&bare), &host})
        c->setLookAndFeel(nullptr);
    return 0;
}
