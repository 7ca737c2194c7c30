// The editor benchmarks' parts: an editor in a window of its own whose refresh ticks are timed
// together with the repaint they ask for, a feeder that plays audio into its processor between
// two ticks, and the three measurements (full repaints cold and warm, ticks with audio flowing,
// ticks while the host is stopped and silent). CPU time of this thread is measured.
#pragma once

#include "render/Transport.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace editorbench
{
inline double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Collects what the editor asks to have repainted, as a window's peer would.
struct DirtyRegion : juce::CachedComponentImage
{
    explicit DirtyRegion(juce::Component& c) : component(c) {}
    void paint(juce::Graphics&) override {}
    bool invalidateAll() override
    {
        areas.add(component.getLocalBounds());
        return false;
    }
    bool invalidate(const juce::Rectangle<int>& area) override
    {
        areas.add(area);
        return false;
    }
    void releaseResources() override {}
    juce::Component& component;
    juce::RectangleList<int> areas;
};

// The editor in a window of its own: ticks, and paints what was dirtied into the window's image.
template <typename Editor> class Window
{
public:
    template <typename Processor> Window(Processor& p, int percent) : editor(std::make_unique<Editor>(p))
    {
        editor->stopTimer(); // the bench runs the refresh itself
        editor->sizeButton.apply(percent, false);
        editor->setVisible(true); // as in a host's window: repaints reach the window
        image = juce::Image(juce::Image::ARGB, editor->getWidth(), editor->getHeight(), true);
        dirty = new DirtyRegion(*editor);
        editor->setCachedComponentImage(dirty); // owned by the editor
    }

    void paintAll()
    {
        dirty->areas.clear();
        juce::Graphics g(image);
        editor->paintEntireComponent(g, true);
    }

    // One refresh and the repaint it asked for; returns the pixels painted.
    int tickAndPaint()
    {
        dirty->areas.clear();
        editor->timerCallback();
        if (dirty->areas.isEmpty())
            return 0;
        dirty->areas.consolidate();
        juce::Graphics g(image);
        g.reduceClipRegion(dirty->areas);
        editor->paintEntireComponent(g, true);
        int pixels = 0;
        for (const auto& r : dirty->areas)
            pixels += r.getWidth() * r.getHeight();
        return pixels;
    }

    std::unique_ptr<Editor> editor;
    juce::Image image;
    DirtyRegion* dirty;
};

inline juce::AudioBuffer<float> readLoop(const juce::File& file)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader(formats.createReaderFor(file));
    if (reader == nullptr)
        return {};
    juce::AudioBuffer<float> audio(2, static_cast<int>(reader->lengthInSamples));
    reader->read(&audio, 0, audio.getNumSamples(), 0, true, true);
    return audio;
}

// Feeds the processor 33 ms of the audio (or of silence) in 512-sample blocks, as a host would
// between two refreshes.
template <typename Processor> class Feeder
{
public:
    Feeder(Processor& p, const juce::AudioBuffer<float>& audio, bool playing)
        : processor(p), loop(audio), transport(settings(playing), 48000.0)
    {
        processor.setPlayHead(&transport);
        processor.setPlayConfigDetails(2, 2, 48000.0, 512);
        processor.prepareToPlay(48000.0, 512);
    }
    ~Feeder() { processor.setPlayHead(nullptr); }

    void play33ms(bool silent)
    {
        for (int done = 0; done < 1584; done += 512)
        {
            const int n = std::min(512, 1584 - done);
            block.setSize(2, n, false, false, true);
            for (int c = 0; c < 2; ++c)
            {
                if (silent)
                    block.clear(c, 0, n);
                else
                    block.copyFrom(c, 0, loop, c, pos, n);
            }
            processor.processBlock(block, midi);
            transport.advance(n);
            pos = (pos + n) % (loop.getNumSamples() - 512);
        }
    }

private:
    static Transport::Settings settings(bool playing)
    {
        Transport::Settings s;
        s.playing = playing;
        return s;
    }
    Processor& processor;
    const juce::AudioBuffer<float>& loop;
    Transport transport;
    juce::AudioBuffer<float> block{2, 512};
    juce::MidiBuffer midi;
    int pos = 0;
};

struct Stats
{
    std::vector<double> us;
    void add(double seconds) { us.push_back(seconds * 1e6); }
    double mean() const
    {
        double sum = 0;
        for (const double v : us)
            sum += v;
        return us.empty() ? 0.0 : sum / static_cast<double>(us.size());
    }
    double percentile(double q) const
    {
        if (us.empty())
            return 0.0;
        auto sorted = us;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1,
                               static_cast<size_t>(q * static_cast<double>(sorted.size())))];
    }
};

template <typename Processor, typename Editor>
void fullRepaints(const juce::AudioBuffer<float>& loop, int percent, int rounds)
{
    Stats cold, warm;
    for (int r = 0; r < rounds; ++r)
    {
        // The last editor took the Style and its caches with it; the logo is dropped from the cache.
        juce::ImageCache::releaseUnusedImages();
        Processor processor;
        Feeder<Processor> feeder(processor, loop, true);
        feeder.play33ms(false);
        Window<Editor> window(processor, percent);
        window.editor->timerCallback();
        double t = cpuSeconds();
        window.paintAll();
        cold.add(cpuSeconds() - t);
        for (int w = 0; w < 10; ++w)
        {
            feeder.play33ms(false);
            window.editor->timerCallback();
            t = cpuSeconds();
            window.paintAll();
            warm.add(cpuSeconds() - t);
        }
    }
    std::printf(
        "  full repaint at %3d %%: cold %8.0f us (median of %d), warm %6.0f us (median), %6.0f us (p90)\n",
        percent, cold.percentile(0.5), rounds, warm.percentile(0.5), warm.percentile(0.9));
}

// `beforeTick(editor, i)` may change the editor's view before tick i.
template <typename Processor, typename Editor, typename BeforeTick>
void ticks(const juce::AudioBuffer<float>& loop, int percent, int count, BeforeTick beforeTick)
{
    Processor processor;
    Feeder<Processor> feeder(processor, loop, true);
    Window<Editor> window(processor, percent);
    window.paintAll();
    Stats tick, tickAndPaint;
    long pixels = 0;
    for (int i = 0; i < count; ++i)
    {
        feeder.play33ms(false);
        beforeTick(*window.editor, i);
        double t = cpuSeconds();
        pixels += window.tickAndPaint();
        tickAndPaint.add(cpuSeconds() - t);
    }
    // The tick alone: the copies and the repaint requests, without the painting.
    for (int i = 0; i < count; ++i)
    {
        feeder.play33ms(false);
        beforeTick(*window.editor, i);
        const double t = cpuSeconds();
        window.editor->timerCallback();
        tick.add(cpuSeconds() - t);
    }
    const double perSecond = tickAndPaint.mean() * 1e-6 * (1000.0 / Editor::refreshMs);
    std::printf(
        "  refresh at %3d %%, audio flowing: tick %5.1f us; tick and its repaint %6.0f us (mean), %6.0f us "
        "(p99), %6.0f pixels; %.2f %% of a core\n",
        percent, tick.mean(), tickAndPaint.mean(), tickAndPaint.percentile(0.99),
        static_cast<double>(pixels) / count, 100.0 * perSecond);
}

template <typename Processor, typename Editor>
void stoppedAndSilent(const juce::AudioBuffer<float>& loop, int percent, int count)
{
    Processor processor;
    Feeder<Processor> feeder(processor, loop, false);
    Window<Editor> window(processor, percent);
    for (int i = 0; i < 30; ++i) // a second of silence: the processor falls idle, the meters settle
    {
        feeder.play33ms(true);
        window.tickAndPaint();
    }
    Stats stats;
    long pixels = 0;
    for (int i = 0; i < count; ++i)
    {
        feeder.play33ms(true);
        const double t = cpuSeconds();
        pixels += window.tickAndPaint();
        stats.add(cpuSeconds() - t);
    }
    const double perSecond = stats.mean() * 1e-6 * (1000.0 / Editor::refreshMs);
    std::printf(
        "  stopped and silent at %3d %%: tick and repaint %5.2f us (mean), %5.1f us (p99), %ld pixels "
        "painted; %.4f %% of a core\n",
        percent, stats.mean(), stats.percentile(0.99), pixels, 100.0 * perSecond);
}
} // namespace editorbench
