// snapshot-mirrel: pictures of Mirrel's editor with audio flowing (see Snapshot.h).
#include "Snapshot.h"

#include "mirrel/PluginProcessor.h"

int main(int argc, char** argv)
{
    snapshot::Plugin plugin;
    plugin.name = "Mirrel";
    plugin.createProcessor = [] { return std::make_unique<MirrelProcessor>(); };
    return snapshot::run(plugin, argc, argv);
}
