// sorvel-views-bench: the time of one refresh's work in Sorvel's views, headless: one spectrum
// pull and analysis of three taps, and one repaint of the wave display with a full history, of
// the EQ view with spectra and curves and of the chain row, each at 100 % and 200 %. CPU time of
// this thread per call, in microseconds: the median of many warm calls, after a first (cold) one.
//
// Usage: sorvel-views-bench
#include "sorvel/ui/BlockFeed.h"
#include "sorvel/ui/EqView.h"
#include "sorvel/ui/WaveDisplay.h"

#include "common/ui/KnobLookAndFeel.h"

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

struct Timing
{
    double coldUs, medianUs;
};

// `prepare` runs before every call and is not timed.
Timing measure(const std::function<void()>& work, const std::function<void()>& prepare = {}, int runs = 200)
{
    std::vector<double> times;
    for (int i = 0; i <= runs; ++i)
    {
        if (prepare)
            prepare();
        const double start = cpuSeconds();
        work();
        times.push_back((cpuSeconds() - start) * 1e6);
    }
    const double cold = times.front();
    times.erase(times.begin());
    std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
    return {cold, times[static_cast<size_t>(runs / 2)]};
}

// One paint of the component into an image at `scale`, as the window would draw it.
std::function<void()> painter(juce::Component& c, float scale)
{
    auto image = std::make_shared<juce::Image>(
        juce::Image::ARGB, juce::roundToInt(static_cast<float>(c.getWidth()) * scale),
        juce::roundToInt(static_cast<float>(c.getHeight()) * scale), true);
    return [&c, image, scale]
    {
        juce::Graphics g(*image);
        g.addTransform(juce::AffineTransform::scale(scale));
        c.paintEntireComponent(g, true);
    };
}

void print(const char* what, Timing t)
{
    std::printf("  %-44s %9.1f %9.1f\n", what, t.medianUs, t.coldUs);
}

// Three taps of noise-like material, 1024 frames per tick.
struct Feed
{
    std::unique_ptr<sv2::TapFifo> fifo = std::make_unique<sv2::TapFifo>();
    std::vector<float> a, b, c;
    Feed() : a(1024), b(1024), c(1024)
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
} // namespace

int main()
{
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    KnobLookAndFeel look; // holds the Style: fonts and grain as in the editor

    std::printf(
        "Sorvel's views: CPU time per call, microseconds (median of 200 warm calls; the first, cold)\n");
    std::printf("  %-44s %9s %9s\n", "", "warm", "cold");

    {
        TapSpectrum spectrum;
        spectrum.prepare(48000.0);
        Feed feed;
        print("spectrum pull and analysis, three taps",
              measure(
                  [&] {
                      spectrum.pullAndAnalyse(*feed.fifo, {true, true, true});
                  },
                  [&] { feed.tick(); }));
        print("spectrum pull and analysis, two taps (EQ view)",
              measure(
                  [&] {
                      spectrum.pullAndAnalyse(*feed.fifo, {false, true, true});
                  },
                  [&] { feed.tick(); }));
    }

    WaveDisplay wave;
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

    EqView eq;
    eq.setSize(396, 166);
    eq.spectrum.prepare(48000.0);
    {
        Feed feed;
        for (int i = 0; i < 9; ++i)
        {
            feed.tick();
            eq.pullSpectrum(*feed.fifo);
        }
        const float values[2]{6.0f, -4.0f};
        const int indices[2]{0, 2};
        eq.setCurve(values, indices);
    }

    ChainRow row;
    row.setSize(1012, 74);
    {
        svui::BlockSources s;
        s.deess = 5;
        s.deessCut = 4;
        s.bass = 4;
        s.comp = 6;
        s.compPeak = 3;
        s.compLevel = 2;
        s.reverb = 4;
        s.reverbReturn = -25;
        s.duck = 4;
        s.listenIndex = 2;
        svui::fillBlocks(row.blocks, s);
    }

    for (const float scale : {1.0f, 2.0f})
    {
        const auto percent = juce::String(juce::roundToInt(scale * 100.0f)) + " %";
        print(("wave display, full history, " + percent).toRawUTF8(), measure(painter(wave, scale)));
        print(("EQ view, high-pass mode, " + percent).toRawUTF8(), measure(
                                                                       [&, p = painter(eq, scale)]
                                                                       {
                                                                           eq.hpfMode = true;
                                                                           p();
                                                                       }));
        print(("EQ view, EQ mode, " + percent).toRawUTF8(), measure(
                                                                [&, p = painter(eq, scale)]
                                                                {
                                                                    eq.hpfMode = false;
                                                                    p();
                                                                }));
        print(("chain row, " + percent).toRawUTF8(), measure(painter(row, scale)));
        WaveDisplay silent;
        silent.setSize(1012, 236);
        print(("wave display, before any audio, " + percent).toRawUTF8(), measure(painter(silent, scale)));
    }
    return 0;
}
