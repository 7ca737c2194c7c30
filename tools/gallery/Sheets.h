// The gallery's sheets: editor-like windows that show every kit component in its states, laid
// out on the house backdrop. The gallery renders them to PNG; the tests compare some of them with
// reference pictures. Message thread only.
#pragma once

#include "StubProcessor.h"

#include <functional>
#include <memory>
#include <vector>

namespace gallery
{
struct SheetInfo
{
    const char* name;
    std::function<std::unique_ptr<juce::AudioProcessorEditor>(StubProcessor&)> make;
};

// Every sheet, in the order the gallery writes them.
const std::vector<SheetInfo>& sheets();

// A component painted headless at `scale` physical pixels per unit.
juce::Image render(juce::Component& component, float scale);
} // namespace gallery
