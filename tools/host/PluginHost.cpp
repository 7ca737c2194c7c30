#include "PluginHost.h"

#include <cstdlib>

namespace host
{
namespace
{
// JUCE numbers VST3 parameters by the hash of their string ID, top bit cleared.
juce::String vst3NumberFor(const juce::String& id)
{
    return juce::String(static_cast<juce::uint32>(id.hashCode()) & 0x7fffffffu);
}

// JUCE's LV2 world always loads ~/.lv2 when it is created, and lilv keeps the first bundle that
// declares a URI: an installed copy would shadow the bundle we were asked to load. So the world
// is created with HOME pointing nowhere; the bundle's own folder is searched afterwards.
std::unique_ptr<juce::AudioPluginFormat> makeLv2FormatWithoutUserFolder()
{
    const char* home = std::getenv("HOME");
    const std::string savedHome = home != nullptr ? home : "";
    setenv("HOME", "/nonexistent/mosslight-host", 1);
    auto format = std::make_unique<juce::LV2PluginFormat>();
    if (home != nullptr)
        setenv("HOME", savedHome.c_str(), 1);
    else
        unsetenv("HOME");
    return format;
}
} // namespace

HostedPlugin::~HostedPlugin()
{
    instance.reset();
    format.reset();
}

void HostedPlugin::prepare(double sampleRate, int blockSize, int timeoutMs)
{
    instance->prepareToPlay(sampleRate, blockSize);
    // An LV2 plug-in writes its latency to a port while it runs: no message will bring it.
    if (format->getName() == "LV2")
        return;
    auto* messages = juce::MessageManager::getInstance();
    for (int waited = 0; waited < timeoutMs && instance->getLatencySamples() == 0; waited += 10)
        messages->runDispatchLoopUntil(10);
}

juce::String lv2UriOfBundle(const juce::File& bundle)
{
    const auto manifest = bundle.getChildFile("manifest.ttl").loadFileAsString();
    // The plug-in subject: "<uri>" followed by "a lv2:Plugin".
    int start = 0;
    while ((start = manifest.indexOf(start, "<")) >= 0)
    {
        const int end = manifest.indexOf(start, ">");
        if (end < 0)
            break;
        const auto rest = manifest.substring(end + 1).trimStart();
        if (rest.startsWith("a lv2:Plugin"))
            return manifest.substring(start + 1, end);
        start = end + 1;
    }
    return {};
}

std::unique_ptr<HostedPlugin> HostedPlugin::load(const juce::File& bundle, double sampleRate, int blockSize,
                                                 juce::String& error)
{
    if (!bundle.exists())
    {
        error = "no plug-in at " + bundle.getFullPathName();
        return nullptr;
    }

    std::unique_ptr<HostedPlugin> result(new HostedPlugin());
    juce::OwnedArray<juce::PluginDescription> found;

    if (bundle.hasFileExtension("vst3"))
    {
        result->format = std::make_unique<juce::VST3PluginFormat>();
        result->format->findAllTypesForFile(found, bundle.getFullPathName());
    }
    else if (bundle.hasFileExtension("lv2"))
    {
        const auto uri = lv2UriOfBundle(bundle);
        if (uri.isEmpty())
        {
            error = "no LV2 plug-in declared in " + bundle.getChildFile("manifest.ttl").getFullPathName();
            return nullptr;
        }
        result->format = makeLv2FormatWithoutUserFolder();
        result->format->searchPathsForPlugins(
            juce::FileSearchPath(bundle.getParentDirectory().getFullPathName()), false, false);
        result->format->findAllTypesForFile(found, uri);
    }
    else
    {
        error = "not a .vst3 or .lv2 bundle: " + bundle.getFullPathName();
        return nullptr;
    }

    if (found.isEmpty())
    {
        error = "no plug-in found in " + bundle.getFullPathName();
        return nullptr;
    }

    juce::String message;
    result->instance =
        result->format->createInstanceFromDescription(*found[0], sampleRate, blockSize, message);
    if (result->instance == nullptr)
    {
        error =
            "could not instantiate " + bundle.getFullPathName() + (message.isEmpty() ? "" : ": " + message);
        return nullptr;
    }
    return result;
}

juce::String pluginParameterId(const juce::AudioProcessorParameter& parameter)
{
    if (auto* ranged = dynamic_cast<const juce::RangedAudioParameter*>(&parameter))
        return ranged->getParameterID();
    if (auto* hosted = dynamic_cast<const juce::HostedAudioProcessorParameter*>(&parameter))
    {
        const auto id = hosted->getParameterID();
        // LV2: "<plug-in URI>:<id>".
        if (id.contains(":"))
            return id.fromLastOccurrenceOf(":", false, false);
        return id;
    }
    return {};
}

juce::AudioProcessorParameter* findParameter(juce::AudioProcessor& processor, const juce::String& id)
{
    const auto vst3Id = vst3NumberFor(id);
    for (auto* parameter : processor.getParameters())
    {
        if (pluginParameterId(*parameter) == id)
            return parameter;
        if (auto* hosted = dynamic_cast<juce::HostedAudioProcessorParameter*>(parameter))
            if (hosted->getParameterID() == vst3Id)
                return parameter;
    }
    return nullptr;
}

} // namespace host
