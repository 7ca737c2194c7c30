#pragma once

#include "HitDetector.h"
#include "Mirrel.h"
#include "SongRecords.h"

#include "common/dsp/LoudnessMeter.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace mr
{

// What the host's play head said for this block.
struct TransportState
{
    bool playing = false;
    bool hasPosition = false;
    double quarterNotes = 0.0;
    bool hasTempo = false;
    double bpm = 0.0;
};

// Values the audio thread publishes for the editor; each one is an atomic of its own. Peaks are
// raised by an atomic maximum and taken by the editor with exchange(0).
struct Feed
{
    static constexpr int historySize = 24;

    std::array<std::atomic<float>, historySize> hitPans{}; // newest first
    std::atomic<int> hitCount{0};
    std::atomic<float> panNow{0.0f};
    std::atomic<float> panLastHit{0.0f};
    std::atomic<float> inputPeak{0.0f};
    std::atomic<float> outputPeak{0.0f};
    std::atomic<bool> resetLoudness{false}; // the only value the editor writes
    std::atomic<bool> followingSong{false};
    std::atomic<int> blocksProcessed{0};
    std::atomic<bool> idle{true};
};

// Mirrel's audio path: detects hits in the mono sum, draws a place for each (keyed to the song
// position while the host plays), glides the 5 ms delayed signal there just before the hit is
// heard, and meters the output. prepare on the host's preparing thread, process on the audio
// thread; neither runs while the other does.
class MirrelEngine
{
public:
    MirrelEngine();

    void prepare(double sampleRate);

    // In place on two channels (a mono input is copied to both before). `inputPresent` is false
    // when the block carries no input (no input channel, or a buffer marked clear). Non-finite
    // input samples are read as silence (set to 0 in place).
    void process(float* left, float* right, int numSamples, const Mirrel::Settings& settings,
                 const TransportState& transport, bool inputPresent) noexcept;

    int latencySamples() const noexcept { return lookahead; }
    int slewSamples() const noexcept { return slew; }
    float position() const noexcept { return pan; }
    bool isFollowing() const noexcept { return following; }
    bool isIdle() const noexcept { return idle; }
    const SongRecords& records() const noexcept { return store; }
    const sv::LoudnessMeter& loudness() const noexcept { return meter; }

    Feed feed;

private:
    void followTransport(const TransportState& transport) noexcept;
    void updateIdle(const float* left, const float* right, int n, bool playing, bool inputPresent) noexcept;
    float drawFor(int sampleInBlock) noexcept;
    void startGlide(float to, int samples) noexcept;
    void updateGains() noexcept;
    void publish() noexcept;

    double sampleRate = 48000.0;
    int lookahead = 240;
    int slew = 96;
    int countdownMargin = 96; // 2 ms: the glide ends this long before the hit is heard

    // Look-ahead delay lines.
    std::vector<float> delayLeft, delayRight;
    int writePos = 0;
    int mask = 0;

    HitDetector detector;
    Mirrel mirrel;
    Random freeRunning{0x9E3779B9u};

    // Placement.
    float pan = 0.0f, target = 0.0f, step = 0.0f;
    int remaining = 0;
    int countdown = -1;
    float pending = 0.0f;
    float gainLeft = 1.0f, gainRight = 1.0f;

    // Transport following.
    SongRecords store;
    bool following = false;
    double blockQuarterNotes = 0.0;
    double beatsPerSample = 0.0;
    std::int64_t samplesSinceBlock = 0;
    std::int64_t lastDrawnKey = 0;
    double tempo = 120.0;

    // Silence.
    std::int64_t silenceLimit = 4800, silenceCount = 4800;
    bool idle = true;

    // History and peaks.
    std::array<float, Feed::historySize> history{};
    int historyIndex = 0;
    int hitCount = 0;
    float blockInputPeak = 0.0f, blockOutputPeak = 0.0f;

    sv::LoudnessMeter meter;
};

} // namespace mr
