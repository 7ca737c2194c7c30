// Sorvel as hosts see it: the built VST3 and LV2 bundles loaded from disk through JUCE's own
// plug-in hosting, and the LV2 bundle as Debian's lv2info reads it.
#include "host/PluginHost.h"
#include "sorvel/ParameterIds.h"

#include <gtest/gtest.h>

#include <random>

namespace
{
struct Bundle
{
    const char* format;
    const char* path;
};

std::ostream& operator<<(std::ostream& os, const Bundle& b)
{
    return os << b.format;
}

const Bundle vst3{"VST3", SORVEL_VST3};
const Bundle lv2{"LV2", SORVEL_LV2};

std::unique_ptr<host::HostedPlugin> load(const Bundle& b, double rate = 48000.0, int block = 512)
{
    juce::String error;
    auto plugin = host::HostedPlugin::load(juce::File(juce::String::fromUTF8(b.path)), rate, block, error);
    EXPECT_NE(plugin, nullptr) << error;
    return plugin;
}

juce::AudioBuffer<float> noise(int samples, unsigned seed)
{
    juce::AudioBuffer<float> buffer(2, samples);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-0.5f, 0.5f);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < samples; ++i)
            buffer.setSample(c, i, u(rng));
    return buffer;
}

// Runs a command line and returns what it printed (stdout and stderr).
juce::String run(const juce::String& commandLine)
{
    juce::String output;
    if (FILE* pipe = popen((commandLine + " 2>&1").toRawUTF8(), "r"))
    {
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof(chunk), pipe)) > 0)
            output += juce::String::fromUTF8(chunk, static_cast<int>(n));
        pclose(pipe);
    }
    return output;
}
} // namespace

class SorvelHosted : public ::testing::TestWithParam<Bundle>
{
};

TEST_P(SorvelHosted, showsItsNameAndThe36Parameters)
{
    auto plugin = load(GetParam());
    ASSERT_NE(plugin, nullptr);
    auto& p = plugin->processor();
    EXPECT_EQ(p.getName(), "Sorvel");

    // Each format adds its own host bypass (JUCE's default, since Sorvel offers none).
    const auto& params = p.getParameters();
    EXPECT_EQ(params.size(), 37);
    for (const char* id : sv::id::all)
        EXPECT_NE(host::findParameter(p, id), nullptr) << id;

    EXPECT_EQ(host::findParameter(p, sv::id::bypass)->getName(100), "Bypass (level matched)");
    EXPECT_EQ(host::findParameter(p, sv::id::deessFreq)->getName(100), "De-ess Freq");

    // Choice labels at their defaults.
    const std::pair<const char*, const char*> choices[] = {
        {"hpf", "90 Hz"},  {"deessChar", "Mid"},  {"bassChar", "Lower"},   {"compChar", "Push"},
        {"delayChar", "Eighth"}, {"listen", "Off"}, {"reverbChar", "Plate"}, {"hpfOn", "On"},
    };
    for (const auto& [id, text] : choices)
    {
        auto* prm = host::findParameter(p, id);
        EXPECT_EQ(prm->getText(prm->getValue(), 100), text) << id;
    }
}

TEST_P(SorvelHosted, reportsItsLatency)
{
    for (const auto& [rate, latency] : {std::pair{44100.0, 119}, std::pair{48000.0, 127}})
    {
        auto plugin = load(GetParam(), rate);
        ASSERT_NE(plugin, nullptr);
        auto& p = plugin->processor();
        plugin->prepare(rate, 512);
        auto buffer = noise(512, 1);
        juce::MidiBuffer midi;
        p.processBlock(buffer, midi);  // LV2 reports latency through a port written while running
        EXPECT_EQ(p.getLatencySamples(), latency) << rate;
    }
}

TEST_P(SorvelHosted, stateRoundTripsThroughTheHost)
{
    auto source = load(GetParam());
    ASSERT_NE(source, nullptr);
    auto& a = source->processor();
    const std::pair<const char*, float> changes[] = {
        {"comp", 0.73f}, {"deessFreq", 0.4f}, {"reverbChar", 1.0f}, {"bypass", 1.0f}, {"output", 0.25f},
    };
    for (const auto& [id, normalised] : changes)
        host::findParameter(a, id)->setValueNotifyingHost(normalised);
    // LV2 hosts hand parameter changes to the plug-in while it runs.
    source->prepare(48000.0, 512);
    auto block = noise(512, 1);
    juce::MidiBuffer midi;
    a.processBlock(block, midi);

    juce::MemoryBlock state;
    a.getStateInformation(state);
    ASSERT_GT(state.getSize(), 0u);

    auto restored = load(GetParam());
    ASSERT_NE(restored, nullptr);
    auto& b = restored->processor();
    b.setStateInformation(state.getData(), static_cast<int>(state.getSize()));
    // LV2 hosts apply restored values on the next run.
    restored->prepare(48000.0, 512);
    b.processBlock(block, midi);

    for (const char* id : sv::id::all)
        EXPECT_NEAR(host::findParameter(b, id)->getValue(), host::findParameter(a, id)->getValue(), 1e-3f) << id;
    EXPECT_EQ(host::findParameter(b, "reverbChar")->getText(host::findParameter(b, "reverbChar")->getValue(), 100),
              "Hall");
}

TEST_P(SorvelHosted, passesAudioThroughUnchanged)
{
    auto plugin = load(GetParam());
    ASSERT_NE(plugin, nullptr);
    auto& p = plugin->processor();
    p.prepareToPlay(48000.0, 512);
    juce::MidiBuffer midi;
    for (unsigned block = 0; block < 8; ++block)
    {
        const auto input = noise(512, 10 + block);
        auto buffer = input;
        p.processBlock(buffer, midi);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 512; ++i)
                ASSERT_EQ(buffer.getSample(c, i), input.getSample(c, i)) << "block " << block << " channel " << c;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, SorvelHosted, ::testing::Values(vst3, lv2),
                         [](const auto& param) { return std::string(param.param.format); });

TEST(SorvelVst3, showsTextsAndParsesTypedValuesThroughThePlugin)
{
    auto plugin = load(vst3);
    ASSERT_NE(plugin, nullptr);
    auto& p = plugin->processor();

    // Host order is the table order.
    const auto& params = p.getParameters();
    for (size_t i = 0; i < sv::id::all.size(); ++i)
        EXPECT_EQ(params[static_cast<int>(i)], host::findParameter(p, sv::id::all[i])) << sv::id::all[i];

    auto textAt = [&](const char* id, float normalised) { return host::findParameter(p, id)->getText(normalised, 100); };
    auto typed = [&](const char* id, const char* text) {
        auto* prm = host::findParameter(p, id);
        return prm->getText(prm->getValueForText(text), 100);
    };
    EXPECT_EQ(textAt("deessFreq", 0.0f), "Auto");
    EXPECT_EQ(textAt("input", 0.5f), "0.0 dB");
    EXPECT_EQ(textAt("compMix", 1.0f), "100 %");
    EXPECT_EQ(typed("deessFreq", "5.5 kHz"), "5.5 kHz");
    EXPECT_EQ(typed("deessFreq", "AUTO"), "Auto");
    EXPECT_EQ(typed("input", "+30 dB"), "+24.0 dB");
    EXPECT_EQ(typed("reverbDecay", "0.99"), "0.99 s");
    EXPECT_EQ(host::findParameter(p, "duck")->getLabel(), "dB");

    EXPECT_DOUBLE_EQ(p.getTailLengthSeconds(), 8.0);
}

TEST(SorvelVst3, acceptsMonoOrStereoInAndOnlyStereoOut)
{
    using Set = juce::AudioChannelSet;
    auto plugin = load(vst3);
    ASSERT_NE(plugin, nullptr);
    auto& p = plugin->processor();

    auto layout = [](const Set& in, const Set& out) {
        juce::AudioProcessor::BusesLayout l;
        l.inputBuses.add(in);
        l.outputBuses.add(out);
        return l;
    };
    EXPECT_FALSE(p.setBusesLayout(layout(Set::stereo(), Set::mono())));
    EXPECT_FALSE(p.setBusesLayout(layout(Set::mono(), Set::mono())));
    ASSERT_TRUE(p.setBusesLayout(layout(Set::mono(), Set::stereo())));

    p.prepareToPlay(48000.0, 256);
    auto buffer = noise(256, 3);
    buffer.clear(1, 0, 256);
    const auto input = buffer;
    juce::MidiBuffer midi;
    p.processBlock(buffer, midi);
    for (int i = 0; i < 256; ++i)
    {
        ASSERT_EQ(buffer.getSample(0, i), input.getSample(0, i));
        ASSERT_EQ(buffer.getSample(1, i), input.getSample(0, i)) << "the mono input feeds both outputs";
    }
}

TEST(SorvelLv2, lv2infoFindsTheBundleAndItsParameters)
{
    const juce::File bundle(juce::String::fromUTF8(SORVEL_LV2));
    const auto uri = host::lv2UriOfBundle(bundle);
    ASSERT_EQ(uri, "https://mosslight.audio/plugins/sorvel");

    const auto lv2Path = "LV2_PATH=" + bundle.getParentDirectory().getFullPathName().quoted();
    const auto info = run(lv2Path + " lv2info " + uri);
    ASSERT_TRUE(info.isNotEmpty()) << "lv2info did not run (Debian package lilv-utils)";

    EXPECT_TRUE(info.contains("Name:              Sorvel")) << info;
    EXPECT_TRUE(info.contains("Author:            mosslight"));
    EXPECT_TRUE(info.contains("Has latency:       yes"));
    EXPECT_FALSE(info.contains("Author Email")) << "no empty mailbox";

    // Its Turtle description of the plug-in names every parameter as a writable property.
    const auto description = juce::File::createTempFile(".ttl");
    run(lv2Path + " lv2info -p " + description.getFullPathName().quoted() + " " + uri);
    const auto ttl = description.loadFileAsString();
    description.deleteFile();
    for (const char* id : sv::id::all)
        EXPECT_TRUE(ttl.contains("<" + uri + ":" + id + ">")) << id << " is not a parameter lv2info lists";
}
