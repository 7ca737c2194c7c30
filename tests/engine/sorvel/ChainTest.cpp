// sv2::Chain on its own, without the processor or JUCE: delay compensation, listen, pieces and
// metering records, real-time safety. (The processor's tests drive it through processBlock.)
#include "sorvel/engine/Chain.h"
#include "support/AllocationCounter.h"
#include "support/FlushToZero.h"
#include "support/SyntheticVocal.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

namespace
{
// A chain with its meters and feed, prepared.
struct ChainRig
{
    std::unique_ptr<sv::LoudnessMeter> inputMeter = std::make_unique<sv::LoudnessMeter>();
    std::unique_ptr<sv::LoudnessMeter> outputMeter = std::make_unique<sv::LoudnessMeter>();
    std::unique_ptr<sv2::EditorFeed> feed = std::make_unique<sv2::EditorFeed>();
    std::unique_ptr<sv2::Chain> chain = std::make_unique<sv2::Chain>(*inputMeter, *outputMeter, *feed);

    ChainRig(double rate, int channels, int maxBlock, const sv2::Params& p)
    {
        chain->prepare(rate, channels, maxBlock);
        chain->applyParams(p);
    }

    // Host blocks of random sizes 1..maxSize, the snapshot handed over before each.
    void run(float* left, float* right, int total, const sv2::Params& p, int inputChannels, bool playing,
             int maxSize, unsigned seed = 1)
    {
        std::minstd_rand random(seed);
        for (int pos = 0; pos < total;)
        {
            const int n =
                std::min(total - pos, 1 + static_cast<int>(random() % static_cast<unsigned>(maxSize)));
            chain->applyParams(p);
            EXPECT_NO_HEAP(chain->processBlock(left + pos, right + pos, n, inputChannels, false, playing));
            pos += n;
        }
    }
};

sv2::Params everyModuleOff()
{
    sv2::Params p;
    p.hpfOn = p.deessOn = p.eqOn = p.compOn = p.shimmerOn = p.reverbOn = p.delayOn = p.widthOn = false;
    return p;
}
} // namespace

// With every module off the output is the input, later by exactly the reported latency, in
// mono and in stereo, whatever the host's blocks (here also larger than prepared for).
TEST(Chain, everyModuleOffIsThePureLatencyDelay)
{
    const testsupport::ScopedFlushToZero flushToZero;
    for (const double rate : {44100.0, 48000.0, 96000.0})
        for (const int channels : {1, 2})
        {
            const auto in = testsupport::syntheticStereoVocal(rate, 1.0);
            ChainRig rig(rate, channels, 256, everyModuleOff());
            const int latency = rig.chain->getLatencySamples();
            EXPECT_EQ(latency, static_cast<int>(std::lround(0.0015 * rate)) +
                                   static_cast<int>(std::lround(0.0005 * rate)) + 31);
            std::vector<float> left = in.left, right = in.right;
            const int total = static_cast<int>(left.size());
            rig.run(left.data(), right.data(), total, everyModuleOff(), channels, true, 700);
            const auto& sourceRight = channels == 1 ? in.left : in.right;
            for (int i = 0; i < total; ++i)
            {
                const auto u = static_cast<size_t>(i);
                const float wantLeft = i < latency ? 0.0f : in.left[u - static_cast<size_t>(latency)];
                const float wantRight = i < latency ? 0.0f : sourceRight[u - static_cast<size_t>(latency)];
                ASSERT_EQ(left[u], wantLeft) << rate << " Hz, " << channels << " channels, sample " << i;
                ASSERT_EQ(right[u], wantRight) << rate << " Hz, " << channels << " channels, sample " << i;
            }
        }
}

// Listen 1 -> 4 -> 2 -> 4 in quick succession: one crossfade to 4 runs to its end; 2 waited and
// was cancelled when 4 was asked for again, so no second crossfade follows.
TEST(Chain, quickListenChangesFadeOnceToTheLastAndDropTheRest)
{
    const double rate = 48000.0;
    auto in = testsupport::syntheticStereoVocal(rate, 0.5);
    sv2::Params p;
    ChainRig rig(rate, 2, 64, p);
    const auto block = [&](int listen, int at)
    {
        p.listen = listen;
        rig.chain->applyParams(p);
        rig.chain->processBlock(in.left.data() + at, in.right.data() + at, 64, 2, false, true);
    };
    block(1, 0);
    // Past the first fade (20 ms), listening to the de-esser.
    for (int k = 1; k < 20; ++k)
        block(1, 64 * k);
    ASSERT_FALSE(rig.chain->isListenCrossfading());
    block(4, 64 * 20);
    EXPECT_TRUE(rig.chain->isListenCrossfading());
    EXPECT_EQ(rig.chain->getListenFrom(), 1);
    EXPECT_EQ(rig.chain->getListenTo(), 4);
    block(2, 64 * 21);
    EXPECT_EQ(rig.chain->getListenPending(), 2) << "a change during the fade waits";
    block(4, 64 * 22);
    EXPECT_EQ(rig.chain->getListenPending(), -1) << "asking for the source fading in cancels it";
    for (int k = 23; k < 40; ++k)
        block(4, 64 * k);
    EXPECT_FALSE(rig.chain->isListenCrossfading());
    EXPECT_EQ(rig.chain->getListenTo(), 4);
    EXPECT_EQ(rig.chain->getListenFrom(), 1) << "no second fade ran";
}

// While audio flows one metering record comes every 10 ms, however the host cuts its blocks;
// a stopped transport with silent input goes idle after 100 ms and the records stop.
TEST(Chain, oneRecordPerMeteringIntervalWhileAudioFlows)
{
    const testsupport::ScopedFlushToZero flushToZero;
    const double rate = 44100.0; // an interval of 441 samples: pieces of odd lengths
    const int interval = 441;
    auto in = testsupport::syntheticStereoVocal(rate, 1.0);
    const int total = 100 * interval;
    ChainRig rig(rate, 2, 512, sv2::Params{});
    rig.run(in.left.data(), in.right.data(), total, sv2::Params{}, 2, true, 1500);
    EXPECT_EQ(rig.feed->records.count(), 100u);

    std::vector<float> silence(static_cast<size_t>(rate), 0.0f), silenceRight = silence;
    rig.run(silence.data(), silenceRight.data(), static_cast<int>(silence.size()), sv2::Params{}, 2, false,
            512);
    const auto count = rig.feed->records.count();
    EXPECT_LE(count, 100u + 11u) << "records stop after 100 ms of silence";
    EXPECT_TRUE(rig.feed->idle.load());
}
