// Both plug-ins as hosts see them: the built VST3 and LV2 bundles loaded from disk through JUCE's
// own plug-in hosting, and the LV2 bundles as Debian's lv2info reads them.
#include "host/PluginHost.h"
#include "sorvel/ParameterIds.h"
#include "support/HostConditions.h"
#include "support/RenderRun.h"
#include "support/SavedSessions.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

namespace
{
struct Bundle
{
    const char* plugin;
    const char* format;
    const char* path;
    std::vector<const char*> ids;
    int latency44, latency48;
    const char* uri;
};

const std::vector<const char*> sorvelIds(sv::id::all.begin(), sv::id::all.end());
const std::vector<const char*> mirrelIds{"sensitivity", "width", "hole",   "bias", "alternate",
                                         "minjump",     "slew",  "bypass", "seed"};

const Bundle sorvelVst3{
    "Sorvel", "VST3", SORVEL_VST3, sorvelIds, 119, 127, "https://mosslight.audio/plugins/sorvel"};
const Bundle sorvelLv2{
    "Sorvel", "LV2", SORVEL_LV2, sorvelIds, 119, 127, "https://mosslight.audio/plugins/sorvel"};
const Bundle mirrelVst3{
    "Mirrel", "VST3", MIRREL_VST3, mirrelIds, 221, 240, "https://mosslight.audio/plugins/mirrel"};
const Bundle mirrelLv2{
    "Mirrel", "LV2", MIRREL_LV2, mirrelIds, 221, 240, "https://mosslight.audio/plugins/mirrel"};

std::ostream& operator<<(std::ostream& os, const Bundle& b)
{
    return os << b.plugin << " " << b.format;
}

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

juce::String shell(const juce::String& commandLine)
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

// Gives every parameter a random value and plays one block, prepared: LV2 hosts hand parameter
// changes to the plug-in while it runs.
void playRandomValues(host::HostedPlugin& plugin, const Bundle& b, unsigned seed)
{
    auto& p = plugin.processor();
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (const char* id : b.ids)
        host::findParameter(p, id)->setValueNotifyingHost(u(rng));
    plugin.prepare(48000.0, 512);
    auto block = noise(512, seed);
    juce::MidiBuffer midi;
    p.processBlock(block, midi);
}
} // namespace

class Hosted : public ::testing::TestWithParam<Bundle>
{
};

TEST_P(Hosted, showsItsNameAndParameters)
{
    const auto& b = GetParam();
    auto plugin = load(b);
    ASSERT_NE(plugin, nullptr);
    auto& p = plugin->processor();
    EXPECT_EQ(p.getName(), b.plugin);

    // Each format adds its own host bypass (JUCE's default: neither plug-in offers one).
    EXPECT_EQ(p.getParameters().size(), static_cast<int>(b.ids.size()) + 1);
    for (const char* id : b.ids)
        EXPECT_NE(host::findParameter(p, id), nullptr) << id;

    // VST3 keeps the plug-in's order; LV2 hosts order parameters themselves.
    if (juce::String(b.format) == "VST3")
    {
        for (size_t i = 0; i < b.ids.size(); ++i)
            EXPECT_EQ(p.getParameters()[static_cast<int>(i)], host::findParameter(p, b.ids[i])) << b.ids[i];
    }
}

TEST_P(Hosted, reportsItsLatency)
{
    const auto& b = GetParam();
    for (const auto& [rate, latency] : {std::pair{44100.0, b.latency44}, std::pair{48000.0, b.latency48}})
    {
        auto plugin = load(b, rate);
        ASSERT_NE(plugin, nullptr);
        auto& p = plugin->processor();
        plugin->prepare(rate, 512);
        auto buffer = noise(512, 1);
        juce::MidiBuffer midi;
        p.processBlock(buffer, midi); // LV2 reports latency through a port written while running
        EXPECT_EQ(p.getLatencySamples(), latency) << rate;
    }
}

TEST_P(Hosted, stateRoundTripsThroughTheHost)
{
    const auto& b = GetParam();
    auto source = load(b);
    ASSERT_NE(source, nullptr);
    auto& a = source->processor();
    playRandomValues(*source, b, 5);

    juce::MemoryBlock state;
    a.getStateInformation(state);
    ASSERT_GT(state.getSize(), 0u);

    auto restored = load(b);
    ASSERT_NE(restored, nullptr);
    auto& r = restored->processor();
    r.setStateInformation(state.getData(), static_cast<int>(state.getSize()));
    restored->prepare(48000.0, 512);
    auto block = noise(512, 1);
    juce::MidiBuffer midi;
    r.processBlock(block, midi);

    for (const char* id : b.ids)
    {
        auto* from = host::findParameter(a, id);
        auto* to = host::findParameter(r, id);
        // The plug-in snaps what a host sets to its steps: choices and switches compare by label,
        // the rest within half the coarsest step (0.5 dB over 17 dB of Mirrel's sensitivity).
        if (from->isDiscrete())
            EXPECT_EQ(to->getText(to->getValue(), 100), from->getText(from->getValue(), 100)) << id;
        else
            EXPECT_NEAR(to->getValue(), from->getValue(), 0.015f) << id;
    }
}

TEST_P(Hosted, processesAudio)
{
    const auto& b = GetParam();
    auto plugin = load(b);
    ASSERT_NE(plugin, nullptr);
    auto& p = plugin->processor();
    plugin->prepare(48000.0, 512);
    juce::MidiBuffer midi;
    double energy = 0.0;
    for (unsigned block = 0; block < 16; ++block)
    {
        auto buffer = noise(512, 10 + block);
        p.processBlock(buffer, midi);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 512; ++i)
            {
                ASSERT_TRUE(std::isfinite(buffer.getSample(c, i)));
                energy += buffer.getSample(c, i) * buffer.getSample(c, i);
            }
    }
    EXPECT_GT(energy, 100.0) << "noise comes out";
}

// Through each format's own buffer handling: at every rate, blocks whose size changes every
// block (from 1 sample to the prepared 4096) give the samples that 512-sample blocks give.
TEST_P(Hosted, everyRateWithChangingBlockSizes)
{
    const auto& b = GetParam();
    const auto input = testsupport::demoExcerpt(
        juce::String(b.plugin) == "Sorvel" ? "phrase.wav" : "drums.wav", 24000, 24000);
    auto playIn = [&](host::HostedPlugin& plugin, const std::function<int()>& nextBlock)
    {
        juce::AudioBuffer<float> out(2, input.getNumSamples()), buffer(2, 4096);
        juce::MidiBuffer midi;
        for (int pos = 0; pos < out.getNumSamples();)
        {
            const int n = std::min(nextBlock(), out.getNumSamples() - pos);
            buffer.setSize(2, n, false, false, true);
            for (int c = 0; c < 2; ++c)
                buffer.copyFrom(c, 0, input, c, pos, n);
            plugin.processor().processBlock(buffer, midi);
            for (int c = 0; c < 2; ++c)
                out.copyFrom(c, pos, buffer, c, 0, n);
            pos += n;
        }
        return out;
    };
    for (const double rate : testsupport::hostRates)
    {
        auto reference = load(b, rate, 512);
        auto plugin = load(b, rate, 4096);
        ASSERT_TRUE(reference != nullptr && plugin != nullptr);
        reference->prepare(rate, 512);
        plugin->prepare(rate, 4096);
        const auto want = playIn(*reference, [] { return 512; });
        testsupport::BlockSizes sizes{0};
        const auto got = playIn(*plugin, [&] { return sizes.next(); });
        EXPECT_TRUE(testsupport::allFinite(got)) << b << " at " << rate;
        EXPECT_EQ(testsupport::largestDifference(got, want), 0.0f) << b << " at " << rate;
        EXPECT_EQ(plugin->processor().getLatencySamples(), reference->processor().getLatencySamples());
    }
}

// A NaN or an infinity from a broken plug-in before ours is read as silence: the output is
// finite and equals that of the same input with those samples at 0, block after block.
TEST_P(Hosted, nonFiniteInputIsReadAsSilence)
{
    const auto& b = GetParam();
    struct Bad
    {
        int block, channel, from, to;
        float value;
    };
    const Bad bad[] = {{4, 0, 100, 101, std::numeric_limits<float>::quiet_NaN()},
                       {4, 1, 100, 101, std::numeric_limits<float>::quiet_NaN()},
                       {6, 0, 0, 512, std::numeric_limits<float>::infinity()},
                       {9, 1, 511, 512, -std::numeric_limits<float>::infinity()}};
    auto render = [&](bool withBadSamples)
    {
        auto plugin = load(b);
        juce::AudioBuffer<float> out(2, 24 * 512);
        if (plugin == nullptr)
            return out;
        plugin->prepare(48000.0, 512);
        juce::MidiBuffer midi;
        for (int block = 0; block < 24; ++block)
        {
            auto buffer = noise(512, 30 + static_cast<unsigned>(block));
            for (const auto& s : bad)
                if (s.block == block)
                    for (int i = s.from; i < s.to; ++i)
                        buffer.setSample(s.channel, i, withBadSamples ? s.value : 0.0f);
            plugin->processor().processBlock(buffer, midi);
            for (int c = 0; c < 2; ++c)
                out.copyFrom(c, block * 512, buffer, c, 0, 512);
        }
        return out;
    };
    const auto got = render(true);
    const auto want = render(false);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < got.getNumSamples(); ++i)
            ASSERT_TRUE(std::isfinite(got.getSample(c, i))) << b << ": channel " << c << " sample " << i;
    EXPECT_EQ(testsupport::largestDifference(got, want), 0.0f) << b;
}

namespace
{
// The sessions of one plug-in that the hosted checks restore.
std::vector<const testsupport::SavedSession*> sessionsOf(const Bundle& b)
{
    if (juce::String(b.plugin) == "Sorvel")
        return {&testsupport::sorvelStrong, &testsupport::sorvelLastItems};
    return {&testsupport::mirrelStrong, &testsupport::mirrelLastItems};
}

juce::String formatSuffix(const Bundle& b)
{
    return "." + juce::String(b.format).toLowerCase();
}

// What a host saved of a session: the plug-in's state inside the format's own wrapping.
juce::MemoryBlock hostSavedSession(const Bundle& b, const testsupport::SavedSession& session)
{
    if (testsupport::rewritingStateFixtures())
    {
        auto plugin = load(b);
        auto& p = plugin->processor();
        for (const auto& v : session.values)
        {
            // An LV2 host reads a continuous value as its plain number.
            auto* prm = host::findParameter(p, v.id);
            const bool plainNumber = juce::String(b.format) == "LV2" && !prm->isDiscrete();
            prm->setValueNotifyingHost(prm->getValueForText(plainNumber ? juce::String(v.plain) : v.text));
        }
        plugin->prepare(48000.0, 512);
        auto block = noise(512, 1);
        juce::MidiBuffer midi;
        p.processBlock(block, midi); // LV2 hands parameter changes over while running
        juce::MemoryBlock state;
        p.getStateInformation(state);
        testsupport::writeStateFixture(session.name, formatSuffix(b), state);
    }
    return testsupport::readStateFixture(session.name, formatSuffix(b));
}

juce::AudioBuffer<float> play(host::HostedPlugin& plugin, const juce::AudioBuffer<float>& input)
{
    juce::AudioBuffer<float> out(input);
    juce::AudioBuffer<float> buffer(2, 512);
    juce::MidiBuffer midi;
    for (int pos = 0; pos + 512 <= out.getNumSamples(); pos += 512)
    {
        for (int c = 0; c < 2; ++c)
            buffer.copyFrom(c, 0, out, c, pos, 512);
        plugin.processor().processBlock(buffer, midi);
        for (int c = 0; c < 2; ++c)
            out.copyFrom(c, pos, buffer, c, 0, 512);
    }
    return out;
}
} // namespace

// Sessions that version 0.1.0 saved through each format load in this one: every value the
// session holds comes back, whatever the instance held before.
TEST_P(Hosted, sessionsSavedByEarlierVersionsLoad)
{
    const auto& b = GetParam();
    for (const auto* session : sessionsOf(b))
    {
        SCOPED_TRACE(session->name);
        const auto state = hostSavedSession(b, *session);
        auto plugin = load(b);
        ASSERT_NE(plugin, nullptr);
        auto& p = plugin->processor();
        playRandomValues(*plugin, b, 9); // the instance plays other values first
        auto block = noise(512, 2);
        juce::MidiBuffer midi;

        p.setStateInformation(state.getData(), static_cast<int>(state.getSize()));
        p.processBlock(block, midi);
        for (const auto& v : session->values)
        {
            auto* prm = host::findParameter(p, v.id);
            const auto shown = prm->getText(prm->getValue(), 100);
            // An LV2 host shows the plain number of a continuous value, not the plug-in's text.
            if (juce::String(b.format) == "LV2" && !prm->isDiscrete())
                EXPECT_NEAR(shown.getFloatValue(), v.plain, 0.01f * std::max(1.0f, std::abs(v.plain)))
                    << v.id << ": " << shown;
            else
                EXPECT_EQ(shown, juce::String(v.text)) << v.id;
        }
    }
}

// Hosts restore a session before preparing or after it: either way the first block plays the
// session's settings, without a glide from the defaults. An LV2 host always restores after the
// plug-in has been prepared (JUCE prepares it when the host makes the instance), so what every
// order in every format must play is a VST3 restored before it was prepared.
TEST_P(Hosted, aSessionRestoredBeforeOrAfterPreparingStartsAtItsSettings)
{
    const auto& b = GetParam();
    const bool sorvel = juce::String(b.plugin) == "Sorvel";
    const auto input = testsupport::demoExcerpt(sorvel ? "phrase.wav" : "drums.wav", 24000, 24576);
    const auto& session = *sessionsOf(b).front();

    const auto& vst3 = sorvel ? sorvelVst3 : mirrelVst3;
    auto reference = load(vst3);
    ASSERT_NE(reference, nullptr);
    const auto vst3State = hostSavedSession(vst3, session);
    reference->processor().setStateInformation(vst3State.getData(), static_cast<int>(vst3State.getSize()));
    reference->prepare(48000.0, 512);
    const auto want = play(*reference, input);
    EXPECT_GT(testsupport::largestDifference(want, input), 0.01f) << "the session changes the sound";

    const auto state = hostSavedSession(b, session);
    for (const bool restoreFirst : {true, false})
    {
        auto plugin = load(b);
        ASSERT_NE(plugin, nullptr);
        if (restoreFirst)
            plugin->processor().setStateInformation(state.getData(), static_cast<int>(state.getSize()));
        plugin->prepare(48000.0, 512);
        if (!restoreFirst)
            plugin->processor().setStateInformation(state.getData(), static_cast<int>(state.getSize()));
        EXPECT_EQ(testsupport::largestDifference(play(*plugin, input), want), 0.0f)
            << b << (restoreFirst ? ": restored, then prepared" : ": prepared, then restored");
    }
}

class HostedLv2 : public ::testing::TestWithParam<Bundle>
{
};

TEST_P(HostedLv2, lv2infoFindsTheBundleAndItsParameters)
{
    const auto& b = GetParam();
    const juce::File bundle(juce::String::fromUTF8(b.path));
    ASSERT_EQ(host::lv2UriOfBundle(bundle), b.uri);

    const auto lv2Path = "LV2_PATH=" + bundle.getParentDirectory().getFullPathName().quoted();
    const auto info = shell(lv2Path + " lv2info " + b.uri);
    ASSERT_TRUE(info.contains("Name:")) << "lv2info (Debian's lilv-utils) printed: " << info;
    EXPECT_TRUE(info.contains("Name:              " + juce::String(b.plugin))) << info;
    EXPECT_TRUE(info.contains("Author:            mosslight"));
    EXPECT_TRUE(info.contains("Has latency:       yes"));
    EXPECT_FALSE(info.contains("Author Email")) << "no empty mailbox";

    // Its Turtle description of the plug-in names every parameter as a writable property.
    testsupport::TempDir temp;
    const auto description = temp / "description.ttl";
    shell(lv2Path + " lv2info -p " + description.getFullPathName().quoted() + " " + b.uri);
    const auto ttl = description.loadFileAsString();
    for (const char* id : b.ids)
        EXPECT_TRUE(ttl.contains("<" + juce::String(b.uri) + ":" + id + ">")) << id << " is not listed";
}

const auto bundleName = [](const auto& param)
{ return std::string(param.param.plugin) + "_" + param.param.format; };
INSTANTIATE_TEST_SUITE_P(Plugins, Hosted, ::testing::Values(sorvelVst3, sorvelLv2, mirrelVst3, mirrelLv2),
                         bundleName);
INSTANTIATE_TEST_SUITE_P(Plugins, HostedLv2, ::testing::Values(sorvelLv2, mirrelLv2), bundleName);

TEST(SorvelHosted, choiceLabelsReachBothFormats)
{
    // LV2 hosts label choices from the bundle's scale points.
    for (const auto& b : {sorvelVst3, sorvelLv2})
    {
        auto plugin = load(b);
        ASSERT_NE(plugin, nullptr);
        auto& p = plugin->processor();
        const std::pair<const char*, const char*> choices[] = {
            {"hpf", "90 Hz"},        {"deessChar", "Mid"}, {"bassChar", "Lower"},   {"compChar", "Push"},
            {"delayChar", "Eighth"}, {"listen", "Off"},    {"reverbChar", "Plate"}, {"hpfOn", "On"},
        };
        for (const auto& [id, text] : choices)
        {
            auto* prm = host::findParameter(p, id);
            EXPECT_EQ(prm->getText(prm->getValue(), 100), text) << b << " " << id;
        }
        EXPECT_EQ(host::findParameter(p, sv::id::bypass)->getName(100), "Bypass (level matched)");
    }
}

TEST(SorvelHosted, vst3ShowsTextsAndParsesTypedValuesThroughThePlugin)
{
    auto plugin = load(sorvelVst3);
    ASSERT_NE(plugin, nullptr);
    auto& p = plugin->processor();

    auto textAt = [&](const char* id, float normalised)
    { return host::findParameter(p, id)->getText(normalised, 100); };
    auto typed = [&](const char* id, const char* text)
    {
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

TEST(Vst3Layouts, monoOrStereoInAndOnlyStereoOut)
{
    using Set = juce::AudioChannelSet;
    for (const auto& b : {sorvelVst3, mirrelVst3})
    {
        auto plugin = load(b);
        ASSERT_NE(plugin, nullptr);
        auto& p = plugin->processor();

        auto layout = [](const Set& in, const Set& out)
        {
            juce::AudioProcessor::BusesLayout l;
            l.inputBuses.add(in);
            l.outputBuses.add(out);
            return l;
        };
        EXPECT_FALSE(p.setBusesLayout(layout(Set::stereo(), Set::mono()))) << b;
        EXPECT_FALSE(p.setBusesLayout(layout(Set::mono(), Set::mono()))) << b;
        ASSERT_TRUE(p.setBusesLayout(layout(Set::mono(), Set::stereo()))) << b;

        if (auto* width = host::findParameter(p, "width");
            width != nullptr && juce::String(b.plugin) == "Mirrel")
            width->setValueNotifyingHost(0.0f); // hits stay at the centre
        plugin->prepare(48000.0, 2048);
        auto buffer = noise(2048, 3);
        buffer.clear(1, 0, 2048);
        juce::MidiBuffer midi;
        p.processBlock(buffer, midi);
        double left = 0, right = 0;
        for (int i = 0; i < 2048; ++i)
        {
            left += std::abs(buffer.getSample(0, i));
            right += std::abs(buffer.getSample(1, i));
        }
        EXPECT_GT(right, 0.25 * left) << b << ": the mono input reaches both outputs";
    }
}
