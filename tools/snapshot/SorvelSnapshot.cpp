// snapshot-sorvel: pictures of Sorvel's editor with audio flowing (see Snapshot.h).
#include "Snapshot.h"

#include "sorvel/PluginProcessor.h"

int main(int argc, char** argv)
{
    snapshot::Plugin plugin;
    plugin.name = "Sorvel";
    plugin.createProcessor = [] { return std::make_unique<Sorvel2Processor>(); };
    return snapshot::run(plugin, argc, argv);
}
