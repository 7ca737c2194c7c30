// snapshot-mirrel: pictures of Mirrel's editor with audio flowing, or of a whole take (see
// Snapshot.h).
#include "Snapshot.h"

#include "mirrel/PluginProcessor.h"
#include "timeline/MirrelTimeline.h"

int main(int argc, char** argv)
{
    snapshot::Plugin plugin;
    plugin.name = "Mirrel";
    plugin.createProcessor = [] { return std::make_unique<MirrelProcessor>(); };
    plugin.timeline = [](juce::AudioProcessor& p, const timeline::TakeInfo& info)
    {
        auto& mirrel = dynamic_cast<MirrelProcessor&>(p);
        return std::make_unique<timeline::MirrelRecorder>(
            info, mirrel.feed(), mirrel.getEngine().loudness(),
            [&mirrel](const char* id) { return mirrel.apvts.getRawParameterValue(id)->load(); });
    };
    return snapshot::run(plugin, argc, argv);
}
