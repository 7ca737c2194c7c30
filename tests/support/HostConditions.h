#pragma once

// What real hosts do to a processor, written once for both plug-ins: every sample rate and block
// size, preparing again with other settings, releasing, restoring a session before or after the
// preparation, and automating everything for a minute. Every processBlock runs under the heap
// counter.
#include "support/AllocationCounter.h"
#include "support/AudioFiles.h"
#include "support/BufferChecks.h"
#include "support/ParameterAccess.h"
#include "support/PlayThrough.h"
#include "support/ProcessorChecks.h"
#include "support/SavedSessions.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <type_traits>
#include <vector>

namespace testsupport
{

inline const double hostRates[] = {22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0};

// Block sizes hosts hand over; 0 stands for a size that changes every block (up to 4096).
inline const int hostBlocks[] = {1, 2, 3, 64, 1000, 4096, 8192, 0};

// The sizes of the blocks for `block` (0: changing, from a fixed sequence) and the size to prepare.
struct BlockSizes
{
    int block;
    std::mt19937 rng{17};

    int prepared() const { return block > 0 ? block : 4096; }
    int next()
    {
        if (block > 0)
            return block;
        // Mostly small odd sizes, now and then a large one, as hosts with loops and automation do.
        std::uniform_int_distribution<int> small(1, 600), large(1, 4096), pick(0, 9);
        return pick(rng) == 0 ? large(rng) : small(rng);
    }
};

inline juce::String blockName(int block)
{
    return block > 0 ? juce::String(block) : juce::String("changing");
}

// Counts the host notifications that say the latency changed.
struct LatencyWatch : juce::AudioProcessorListener
{
    int changes = 0;
    void audioProcessorParameterChanged(juce::AudioProcessor*, int, float) override {}
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails& details) override
    {
        if (details.latencyChanged)
            ++changes;
    }
};

// What a test of one plug-in hands these checks: its material and how to set it up.
template <typename Processor> struct PluginUnderTest
{
    using ProcessorType = Processor;

    // Material at any rate (the same samples whatever the rate; only the timing changes).
    juce::AudioBuffer<float> material;
    // Settings far from the defaults, applied to a fresh processor.
    std::function<void(Processor&)> strongSettings;
    // Settings under which the output is the input delayed by the reported latency.
    std::function<void(Processor&)> transparentSettings;
    // The demo file a minute of automation plays (looped), and what bounds some of the random
    // values then (may be empty).
    const char* demoFile;
    std::function<void(Processor&, std::mt19937&)> automationLimits;
    // The sessions earlier versions saved.
    std::vector<const SavedSession*> sessions;
};

// At every rate: the reported latency is the delay the audio really has, and every block size
// (including one that changes every block) gives the samples that 512-sample blocks give.
template <typename Processor> void expectEveryRateAndBlockSize(const PluginUnderTest<Processor>& plugin)
{
    for (const double rate : hostRates)
    {
        SCOPED_TRACE(juce::String(rate) + " Hz");
        {
            Processor p;
            plugin.transparentSettings(p);
            p.prepareToPlay(rate, 512);
            const int latency = p.getLatencySamples();
            const auto out = playInBlocks(p, plugin.material, 512);
            float worst = 0.0f;
            for (int c = 0; c < 2; ++c)
                for (int i = latency; i < out.getNumSamples(); ++i)
                    worst = std::max(worst, std::abs(out.getSample(c, i) -
                                                     plugin.material.getSample(c, i - latency)));
            EXPECT_LE(worst, 1e-6f) << "the output is the input " << latency << " samples later";
        }

        Processor reference;
        plugin.strongSettings(reference);
        reference.prepareToPlay(rate, 512);
        const auto want = playInBlocks(reference, plugin.material, 512);
        EXPECT_TRUE(allFinite(want));
        for (const int block : hostBlocks)
        {
            Processor p;
            plugin.strongSettings(p);
            BlockSizes sizes{block};
            p.prepareToPlay(rate, sizes.prepared());
            EXPECT_EQ(p.getLatencySamples(), reference.getLatencySamples()) << blockName(block);
            const auto got = playThrough(p, plugin.material, [&] { return sizes.next(); });
            EXPECT_EQ(largestDifference(got, want), 0.0f) << "blocks of " << blockName(block);
        }
    }
}

// Preparing again (another rate, another block size, or after releaseResources) while the
// settings are off their defaults leaves nothing of the earlier run: the output equals that of a
// fresh processor prepared once, the first block allocates nothing, and the latency is announced
// only when it really changes.
template <typename Processor> void expectPreparingAgainStartsAfresh(const PluginUnderTest<Processor>& plugin)
{
    struct Case
    {
        const char* what;
        double rate;
        int block;
        bool release;
    };
    const Case cases[] = {
        {"another rate", 96000.0, 512, false},
        {"another block size", 48000.0, 64, false},
        {"another rate and block size", 44100.0, 1000, false},
        {"released, then the same again", 48000.0, 512, true},
        {"released, then another rate", 88200.0, 3, true},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        Processor fresh;
        plugin.strongSettings(fresh);
        fresh.prepareToPlay(c.rate, c.block);
        const auto want = playInBlocks(fresh, plugin.material, c.block);

        Processor p;
        plugin.strongSettings(p);
        p.prepareToPlay(48000.0, 512);
        playInBlocks(p, plugin.material, 512);
        const int latencyBefore = p.getLatencySamples();
        LatencyWatch watch;
        p.addListener(&watch);
        if (c.release)
            p.releaseResources();
        p.prepareToPlay(c.rate, c.block);
        p.removeListener(&watch);
        EXPECT_EQ(p.getLatencySamples(), fresh.getLatencySamples());
        EXPECT_EQ(watch.changes, p.getLatencySamples() != latencyBefore ? 1 : 0) << "latency announcements";
        EXPECT_EQ(largestDifference(playInBlocks(p, plugin.material, c.block), want), 0.0f);
    }
}

// A host restores a session before or after preparing, always before the first block: the first
// block plays the restored settings as if they had always been there (no glide from the defaults).
template <typename Processor>
void expectStateRestoredBeforeTheFirstBlockApplies(const PluginUnderTest<Processor>& plugin)
{
    Processor source;
    plugin.strongSettings(source);
    const auto state = stateOf(source);

    Processor before;
    before.setStateInformation(state.getData(), static_cast<int>(state.getSize()));
    before.prepareToPlay(48000.0, 512);
    const auto want = playInBlocks(before, plugin.material, 512);

    Processor after;
    after.prepareToPlay(48000.0, 512);
    after.setStateInformation(state.getData(), static_cast<int>(state.getSize()));
    EXPECT_EQ(largestDifference(playInBlocks(after, plugin.material, 512), want), 0.0f)
        << "restored after preparing";

    Processor again;
    again.prepareToPlay(44100.0, 256);
    playInBlocks(again, plugin.material, 256);
    again.releaseResources();
    again.prepareToPlay(48000.0, 512);
    again.setStateInformation(state.getData(), static_cast<int>(state.getSize()));
    EXPECT_EQ(largestDifference(playInBlocks(again, plugin.material, 512), want), 0.0f)
        << "restored after preparing again";
}

// Every parameter gets a new random value every block for a minute of audio; `adjust` may then
// bound some of them. The output stays finite, allocates nothing, and its largest step stays
// within `bound` times that of the same audio at the defaults.
template <typename Processor>
void expectAMinuteOfAutomation(const juce::AudioBuffer<float>& minute, float bound,
                               const std::function<void(Processor&, std::mt19937&)>& adjust = {})
{
    constexpr int block = 256;
    Processor reference;
    reference.prepareToPlay(48000.0, block);
    const float natural = largestStep(playInBlocks(reference, minute, block));

    Processor p;
    p.prepareToPlay(48000.0, block);
    std::mt19937 rng(29);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    const auto out = playThrough(
        p, minute, [] { return block; },
        [&](int, int)
        {
            for (auto* prm : p.getParameters())
                prm->setValueNotifyingHost(u(rng));
            if (adjust)
                adjust(p, rng);
        });
    EXPECT_TRUE(allFinite(out));
    EXPECT_LE(largestStep(out), bound * natural) << "natural step " << natural;
}

inline void applySession(juce::AudioProcessorValueTreeState& tree, const SavedSession& session)
{
    for (const auto& v : session.values)
        setPlain(tree, v.id, v.plain);
}

// A session saved by an earlier version loads into a processor that was anywhere else: every
// parameter takes the saved value (or its default where the session lists none) and shows the
// saved text.
template <typename Processor> void expectSavedSessionLoads(const SavedSession& session)
{
    SCOPED_TRACE(session.name);
    if (rewritingStateFixtures())
    {
        Processor source;
        applySession(source.apvts, session);
        writeStateFixture(session.name, {}, stateOf(source));
    }
    const auto blob = readStateFixture(session.name);
    Processor p;
    randomiseParameters(p, 41);
    p.setStateInformation(blob.getData(), static_cast<int>(blob.getSize()));
    for (auto* prm : p.getParameters())
    {
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*>(prm);
        const auto id = ranged->getParameterID();
        const auto listed = std::find_if(session.values.begin(), session.values.end(),
                                         [&](const SavedValue& v) { return id == v.id; });
        const float want = listed != session.values.end() ? listed->plain
                                                            : ranged->convertFrom0to1(ranged->getDefaultValue());
        const float got = ranged->convertFrom0to1(ranged->getValue());
        EXPECT_NEAR(got, want, 1e-4f * std::max(1.0f, std::abs(want))) << id;
        if (listed != session.values.end())
        {
            EXPECT_EQ(ranged->getText(ranged->getValue(), 100), listed->text) << id;
        }
    }
}

} // namespace testsupport

// Every check above as the tests of one plug-in: `Plugin` names the suite
// (<Plugin>HostConditions), `plugin` is a function returning its PluginUnderTest.
#define MOSSLIGHT_HOST_CONDITION_TESTS(Plugin, plugin)                                                   \
    TEST(Plugin##HostConditions, everyRateAndBlockSizeGivesTheSameSamplesAndTheReportedLatency)          \
    {                                                                                                    \
        testsupport::expectEveryRateAndBlockSize(plugin());                                              \
    }                                                                                                    \
    TEST(Plugin##HostConditions, preparingAgainStartsAfresh)                                             \
    {                                                                                                    \
        testsupport::expectPreparingAgainStartsAfresh(plugin());                                         \
    }                                                                                                    \
    TEST(Plugin##HostConditions, aSessionRestoredBeforeTheFirstBlockStartsWithoutGlides)                 \
    {                                                                                                    \
        testsupport::expectStateRestoredBeforeTheFirstBlockApplies(plugin());                            \
    }                                                                                                    \
    TEST(Plugin##HostConditions, aMinuteOfAutomatingEveryParameterEveryBlock)                            \
    {                                                                                                    \
        using P = std::decay_t<decltype(plugin())>::ProcessorType;                                       \
        testsupport::expectAMinuteOfAutomation<P>(testsupport::demoLoop(plugin().demoFile, 60 * 48000),  \
                                                  1.5f, plugin().automationLimits);                      \
    }                                                                                                    \
    TEST(Plugin##HostConditions, sessionsSavedByEarlierVersionsLoad)                                     \
    {                                                                                                    \
        using P = std::decay_t<decltype(plugin())>::ProcessorType;                                       \
        for (const auto* session : plugin().sessions)                                                    \
            testsupport::expectSavedSessionLoads<P>(*session);                                           \
    }
