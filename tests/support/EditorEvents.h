#pragma once

// What editor tests share: a settings folder of their own (so every editor opens at 100 %),
// mouse events as a user's clicks and drags arrive at a component, a repaint counter, and the
// gestures and changes a host would see.
#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <cstdlib>
#include <map>

namespace testsupport
{

// Points the shared settings file at a fresh folder while it lives.
class SettingsFolder
{
public:
    SettingsFolder()
    {
        folder = juce::File::createTempFile("mosslight-settings");
        folder.createDirectory();
        setenv("XDG_CONFIG_HOME", folder.getFullPathName().toRawUTF8(), 1);
    }
    ~SettingsFolder() { folder.deleteRecursively(); }

    juce::File folder;
};

inline juce::MouseEvent mouseAt(juce::Component& c, juce::Point<float> at, juce::Point<float> downAt,
                                bool dragged = false)
{
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent(juce::Desktop::getInstance().getMainMouseSource(), at,
                            juce::ModifierKeys::leftButtonModifier, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, &c, &c, now,
                            downAt, now, 1, dragged);
}

// A click at a point of a component (its own units).
inline void clickAt(juce::Component& c, juce::Point<float> at)
{
    c.mouseDown(mouseAt(c, at, at));
    c.mouseUp(mouseAt(c, at, at));
}

inline void click(juce::Component& c)
{
    clickAt(c, c.getLocalBounds().getCentre().toFloat());
}

// A drag from the centre by (dx, dy).
inline void drag(juce::Component& c, float dx, float dy)
{
    const auto from = c.getLocalBounds().getCentre().toFloat();
    c.mouseDown(mouseAt(c, from, from));
    for (int step = 1; step <= 4; ++step)
        c.mouseDrag(
            mouseAt(c, from + juce::Point<float>(dx, dy) * (static_cast<float>(step) / 4.0f), from, true));
    c.mouseUp(mouseAt(c, from + juce::Point<float>(dx, dy), from, true));
}

// Counts repaints of the component it is installed on (and draws nothing).
struct RepaintCounter : juce::CachedComponentImage
{
    void paint(juce::Graphics&) override {}
    bool invalidateAll() override
    {
        ++count;
        return false;
    }
    bool invalidate(const juce::Rectangle<int>&) override
    {
        ++count;
        return false;
    }
    void releaseResources() override {}
    int count = 0;
};

inline RepaintCounter& countRepaints(juce::Component& c)
{
    auto* counter = new RepaintCounter;
    c.setCachedComponentImage(counter); // owned by the component; installing it repaints
    counter->count = 0;
    return *counter;
}

// The gestures and changes a host would see from an editor, per parameter index.
struct HostView : juce::AudioProcessorListener
{
    void audioProcessorParameterChanged(juce::AudioProcessor*, int index, float) override
    {
        ++changes[index];
    }
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails&) override {}
    void audioProcessorParameterChangeGestureBegin(juce::AudioProcessor*, int index) override
    {
        ++begins[index];
    }
    void audioProcessorParameterChangeGestureEnd(juce::AudioProcessor*, int index) override { ++ends[index]; }
    std::map<int, int> begins, ends, changes;
};

} // namespace testsupport
