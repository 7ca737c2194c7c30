#pragma once

#include "sorvel/engine/primitives/DelayLine.h"
#include "sorvel/engine/primitives/FilterDesign.h"
#include "sorvel/engine/primitives/Ramp.h"

#include <array>
#include <cstdint>

namespace eng::vocal
{

// The Delay return: two feedback lines (left, right) whose time is a note value at the host
// tempo or a fixed slap, with a band-limited, gently saturated feedback path so every repeat is
// darker and softer than the one before; straight or ping-pong. prepare() runs on the message
// thread (it allocates); set() and process() run on the audio thread once per piece.
class TempoDelay
{
public:
    static constexpr double longestSeconds = 2.6;
    static constexpr double fallbackTempo = 120.0;
    static constexpr double lowestTempo = 20.0;
    static constexpr double highestTempo = 400.0;
    static constexpr float maxFeedbackPercent = 80.0f;

    // Echo time of a character at a tempo in seconds, before the clamp to the lines' length.
    // Tempi outside 20..400 bpm (or missing, 0) fall back to 120 bpm.
    static double noteSeconds(int character, double tempoBpm) noexcept;

    void prepare(double sampleRate);

    struct Settings
    {
        float amount = 1.0f;           // 0..10; 0 while the module is off
        int character = 1;             // 0 "Slap", 1 "Eighth", 2 "Dotted", 3 "Quarter"
        float feedbackPercent = 25.0f; // 0..80
        bool pingPong = false;
        double tempoBpm = 120.0; // the host's; outside 20..400 bpm counts as 120
    };

    // Once per piece. The first call after prepare() sets everything directly; later a tempo
    // change glides the time, a character change crossfades the reading position over 20 ms.
    void set(const Settings& settings) noexcept;

    // Mono send in, the two returns out (overwritten). While not running the outputs are
    // silent and nothing else happens.
    void process(const float* in, float* outLeft, float* outRight, int n) noexcept;

    // True while the send is open or moving, or echoes are still sounding in the lines.
    bool isRunning() const noexcept { return running; }

    // Current echo time in samples (the glide's position) and where it is heading.
    double getDelaySamples() const noexcept { return delayTarget + glideOffset; }
    double getTargetDelaySamples() const noexcept { return delayTarget; }
    bool isCrossfading() const noexcept { return crossfade.isMoving(); }
    int getCharacter() const noexcept { return character; }
    float getFeedback() const noexcept { return feedback.getTarget(); }

    // Sum of rL^2 + rR^2 + (written left)^2 since the last call, for metering; resets it.
    double takeEnergy() noexcept;

private:
    static constexpr int chunk = 256;

    // Clears both lines, the feedback filters and any crossfade; settings are kept.
    void clear() noexcept;
    bool wantsToRun() const noexcept { return send.getValue() > 0.0f || send.getTarget() > 0.0f; }
    // Returns n, or the index of the sample after which the module stops (tail silent).
    int processChunk(const float* in, float* outLeft, float* outRight, int n) noexcept;
    void settleIdle(int n) noexcept;

    double rate = 48000.0;
    double glideCoeff = 0.0;
    double shortestDelay = 2.0;
    double longestDelay = 2.0;

    // Both lines are written alike, so their write positions agree; reads happen before the write.
    sv::DelayLine lineLeft, lineRight;

    // Echo time = target + offset; the offset decays with the 80 ms glide and is snapped to 0
    // once it no longer matters, after which the lines are read at one fixed position.
    double delayTarget = 2.0;
    double glideOffset = 0.0;
    double oldTime = 2.0;
    Ramp crossfade;
    int character = 0;

    Ramp send, feedback, pingPongAmount;

    // Feedback path per line: high-pass then low-pass.
    md::RunningSection highPassLeft, highPassRight, lowPassLeft, lowPassRight;

    // Work space for one chunk: ramp values, old readings, line inputs.
    std::array<float, chunk> sendValues{}, feedbackValues{}, pingPongValues{};
    std::array<float, chunk> oldLeft{}, oldRight{}, writeLeft{}, writeRight{};

    double energy = 0.0;
    // Consecutive written samples that were all below the silence floor; once the run is
    // longer than any read reaches, the lines hold nothing audible and a closed module stops.
    std::int64_t quietWrites = 0;
    std::int64_t tailSamples = 0;
    bool initialised = false;
    bool running = false;
};

} // namespace eng::vocal
