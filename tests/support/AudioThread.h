#pragma once

// A host's audio thread for the editors' stress tests: plays a loop of audio through a prepared
// processor, block after block, on a thread of its own while the test works the editor on the
// message thread, the simulated transport playing. Counts the blocks and the heap operations
// made inside processBlock, which must stay at none.
#include "render/Transport.h"
#include "support/AllocationCounter.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace testsupport
{
class AudioThread
{
public:
    // Starts at once; the transport is the processor's play head until stop(). `speed`: how many
    // times real time the blocks come, 0 for as fast as they go. A mono loop plays on both sides.
    AudioThread(juce::AudioProcessor& processorToPlay, const juce::AudioBuffer<float>& loopToPlay,
                int blockSizeToUse, double sampleRate, double speed = 0.0)
        : processor(processorToPlay), loop(loopToPlay), blockSize(blockSizeToUse),
          transport(playing(), sampleRate), period(speed > 0.0 ? blockSize / (sampleRate * speed) : 0.0)
    {
        processor.setPlayHead(&transport);
        thread = std::thread([this] { run(); });
    }

    ~AudioThread() { stop(); }

    void stop()
    {
        if (!thread.joinable())
            return;
        stopping.store(true);
        thread.join();
        processor.setPlayHead(nullptr);
    }

    long blocks() const { return blockCount.load(); }
    long heapOperations() const { return heapCount.load(); }

private:
    static Transport::Settings playing()
    {
        Transport::Settings settings;
        settings.playing = true;
        return settings;
    }

    void run()
    {
        juce::AudioBuffer<float> block(2, blockSize);
        juce::MidiBuffer midi;
        int pos = 0;
        auto next = std::chrono::steady_clock::now();
        while (!stopping.load())
        {
            for (int c = 0; c < 2; ++c)
                block.copyFrom(c, 0, loop, std::min(c, loop.getNumChannels() - 1), pos, blockSize);
            {
                ScopedHeapCount count;
                processor.processBlock(block, midi);
                heapCount += count.counts().total();
            }
            transport.advance(blockSize);
            pos = (pos + blockSize) % (loop.getNumSamples() - blockSize);
            ++blockCount;
            if (period.count() > 0.0)
            {
                next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
                std::this_thread::sleep_until(next);
            }
        }
    }

    juce::AudioProcessor& processor;
    const juce::AudioBuffer<float>& loop;
    const int blockSize;
    Transport transport;
    const std::chrono::duration<double> period; // between blocks' starts; zero: no pause
    std::atomic<bool> stopping{false};
    std::atomic<long> blockCount{0}, heapCount{0};
    std::thread thread;
};
} // namespace testsupport
