// snapshot-sorvel: pictures of Sorvel's editor with audio flowing, or of a whole take (see
// Snapshot.h).
#include "Snapshot.h"

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
    return snapshot::run(plugin, argc, argv);
}
