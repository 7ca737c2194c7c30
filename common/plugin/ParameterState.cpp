#include "ParameterState.h"

#include <cmath>

namespace plugin
{
namespace
{
// A damaged state must not put NaN or infinity into a parameter: the audio thread would carry
// it into every filter. Values are read the way the parameter tree reads them.
void replaceNonFiniteValues(juce::XmlElement& root, juce::AudioProcessorValueTreeState& tree)
{
    for (auto* child : root.getChildIterator())
    {
        if (std::isfinite(child->getStringAttribute("value").getDoubleValue()))
            continue;
        if (auto* param = tree.getParameter(child->getStringAttribute("id")))
            child->setAttribute("value", param->convertFrom0to1(param->getValue()));
        else
            child->removeAttribute("value");
    }
}
} // namespace

void saveParameters(juce::AudioProcessorValueTreeState& tree, juce::MemoryBlock& destination)
{
    if (auto xml = tree.copyState().createXml())
        juce::AudioProcessor::copyXmlToBinary(*xml, destination);
}

bool restoreParameters(juce::AudioProcessorValueTreeState& tree, const void* data, int sizeInBytes)
{
    auto xml = juce::AudioProcessor::getXmlFromBinary(data, sizeInBytes);
    const auto type = tree.state.getType().toString();
    if (xml == nullptr || !xml->getTagName().equalsIgnoreCase(type))
        return false;

    replaceNonFiniteValues(*xml, tree);
    xml->setTagName(type);
    tree.replaceState(juce::ValueTree::fromXml(*xml));
    if (auto* undo = tree.undoManager)
        undo->clearUndoHistory();
    return true;
}

} // namespace plugin
