#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

// Loads a built plug-in bundle (VST3 or LV2) from disk through JUCE's own plug-in hosting, the
// way a host would. Used by the render tool and the test host. Message thread only.
namespace host
{

class HostedPlugin
{
public:
    // Returns null and sets `error` (one line) when the bundle cannot be loaded.
    static std::unique_ptr<HostedPlugin> load(const juce::File& bundle, double sampleRate, int blockSize,
                                              juce::String& error);

    juce::AudioPluginInstance& processor() { return *instance; }

    // prepareToPlay, then lets the plug-in's messages arrive: a VST3 reports the latency it
    // computes in prepareToPlay through an asynchronous restart, which a host's message loop
    // delivers. Waits at most `timeoutMs` for a latency to appear. An LV2 reports its latency
    // only once it has processed a block.
    void prepare(double sampleRate, int blockSize, int timeoutMs = 1000);
    juce::String formatName() const { return format->getName(); }

    ~HostedPlugin();

private:
    HostedPlugin() = default;

    // The format owns the LV2 world the instance lives in: it must outlive the instance.
    std::unique_ptr<juce::AudioPluginFormat> format;
    std::unique_ptr<juce::AudioPluginInstance> instance;
};

// Finds a parameter by the ID the plug-in gave it, whatever the format made of that ID
// (VST3 numbers it by hash, LV2 makes it a property URI).
juce::AudioProcessorParameter* findParameter(juce::AudioProcessor& processor, const juce::String& id);

// The ID the plug-in gave a hosted parameter, recovered from what the format shows.
juce::String pluginParameterId(const juce::AudioProcessorParameter& parameter);

// The plug-in URI declared in an LV2 bundle's manifest.ttl, or empty.
juce::String lv2UriOfBundle(const juce::File& bundle);

} // namespace host
