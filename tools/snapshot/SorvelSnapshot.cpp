// snapshot-sorvel: pictures of Sorvel's editor with audio flowing, or of a whole take (see
// Snapshot.h).
#include "Snapshot.h"

#include "sorvel/PluginEditor.h"
#include "sorvel/PluginProcessor.h"
#include "timeline/SorvelTimeline.h"

int main(int argc, char** argv)
{
    snapshot::Plugin plugin;
    plugin.name = "Sorvel";
    plugin.createProcessor = [] { return std::make_unique<Sorvel2Processor>(); };
    plugin.timeline = [](juce::AudioProcessor& p, const timeline::TakeInfo& info)
    {
        auto& sorvel = dynamic_cast<Sorvel2Processor&>(p);
        return std::make_unique<timeline::SorvelRecorder>(info, sorvel.getFeed(), sorvel.getInputMeter(),
                                                          sorvel.getOutputMeter());
    };
    plugin.viewUsage = "module=NAME selects the module panel (HIGH-PASS, DE-ESS, EQ, COMPRESS, SHIMMER, "
                       "REVERB, DELAY, WIDTH)";
    plugin.viewOption = [](juce::AudioProcessorEditor& e, const juce::String& name, const juce::String& value)
    {
        auto* editor = dynamic_cast<Sorvel2Editor*>(&e);
        if (editor == nullptr)
            return juce::String("not Sorvel's editor");
        if (name != "module")
            return "unknown view option " + name + " (module=NAME)";
        const int index = svui::blockNames.indexOf(value, true);
        if (index < 0)
            return "unknown module " + value + " (" + svui::blockNames.joinIntoString(", ") + ")";
        editor->select(index);
        return juce::String();
    };
    return snapshot::run(plugin, argc, argv);
}
