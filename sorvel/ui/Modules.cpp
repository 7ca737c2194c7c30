#include "Modules.h"

#include <cmath>

namespace svui
{
juce::Colour moduleColour(int module)
{
    switch (module)
    {
    case highPass:
        return ui::text;
    case eq:
    case shimmer:
        return ui::blue;
    case compress:
        return ui::amber;
    default:
        return ui::green;
    }
}

int listenValue(int module)
{
    constexpr std::array<int, numModules> values{0, 1, 0, 2, 3, 4, 5, 6};
    return module >= 0 && module < numModules ? values[static_cast<size_t>(module)] : 0;
}

const juce::String& choiceText(const juce::StringArray& names, float value)
{
    const int index = juce::jlimit(0, names.size() - 1, static_cast<int>(std::lround(value)));
    return names.getReference(index);
}
} // namespace svui
