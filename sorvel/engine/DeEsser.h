#pragma once

#include "common/dsp/Biquad.h"
#include "sorvel/engine/primitives/FixedDelay.h"
#include "sorvel/engine/primitives/Ramp.h"
#include "sorvel/engine/Tune.h"

#include <array>

namespace eng::vocal
{

// Split-band de-esser: the vocal, delayed by a short look-ahead, is split by a Linkwitz-Riley
// crossover below the ess frequency, and only the upper band is lowered while the ess band stands
// out above the full signal. The ess frequency is set by hand or found by a bank of nine
// band-passes ("Auto"). Prepared on the host's preparation thread, everything else on the audio
// thread.
class DeEsser
{
public:
    static constexpr int controlInterval = 32;
    static constexpr int bankSize = 9;
    // Frequency settings below this mean Auto.
    static constexpr float autoBelowHz = 2950.0f;
    static constexpr float initialEssHz = 6500.0f;
    static constexpr float splitRatio = 0.65f;
    // An upper-band power at or below this is more than 0.01 dB under the -66 dB gate floor, far
    // beyond the error of the logarithm: the gate is shut there without working the level out.
    static constexpr float shutBelowPower = 2.5e-7f;
    // An upper-band power at or below the full band's times this ratio is under a knee whose
    // corner is kneeLowDb (dB of upper over full band), again with 0.01 dB to spare.
    static float kneeShutRatioFor(float kneeLowDb) noexcept;

    // Sizes the look-ahead lines, derives every coefficient, designs the analysis bank and clears
    // all state: ess frequency 6500 Hz, no split designed, character "Mid", switched off.
    void prepare(double sampleRate, int numChannels);

    struct Settings
    {
        float amount = 3.0f; // 0..10, 1.2 dB of reduction per unit; 0 while switched off
        int character = 1;   // 0 "Soft", 1 "Mid", 2 "Hard"
        float freqHz = 0.0f; // the ess frequency, 3000..12000 Hz; anything below 2950 is Auto
    };

    // Once per piece from the chain. The first call after prepare takes everything at once; later
    // calls ramp the module in or out over 20 ms, clearing filters and followers when it comes in
    // from fully off.
    void set(const Settings& settings) noexcept;

    // Redesigns the crossover and the sidechain at 0.65 x the current ess frequency when forced or
    // when the split moved by 0.3 % or more since the last design. Filter states carry on.
    void updateSplit(bool force) noexcept;

    // In place over n samples of each channel. `detectionTrace` (may be null) receives one value
    // per sample: the detection (0..1) times the on/off ramp, aligned with the undelayed input.
    // `listen` (may be null) receives per channel what the de-esser takes out of the delayed
    // signal. Both are zero while the module is fully off.
    void process(float* const* channels, int n, float* detectionTrace, float* const* listen) noexcept;

    // Metering for the chain: the largest reduction (dB) and whether an ess sounded (detection
    // above 0.5) since the last take; each take clears its value.
    float takePeakReductionDb() noexcept;
    bool takeEssFlag() noexcept;
    void resetMeters() noexcept;

    float getEssFrequencyHz() const noexcept { return essHz; }
    float getTargetFrequencyHz() const noexcept { return targetHz; }
    // The split the crossover is designed for; -1 before the first design.
    float getSplitHz() const noexcept { return lastSplitHz; }
    float getReductionDb() const noexcept { return reductionDb; }
    bool isAuto() const noexcept { return autoMode; }
    // Fully off: the audio only passes the look-ahead line.
    bool isOff() const noexcept { return !ramp.isMoving() && ramp.getValue() <= 0.0f; }
    float getRampValue() const noexcept { return ramp.getValue(); }
    int getLookaheadSamples() const noexcept { return lookahead; }
    // Seconds of open analysis gate since preparation (the Auto search waits for 0.05 s).
    double getAnalysisSeconds() const noexcept { return openSeconds; }

private:
    // The module's single-precision filters as eight lanes, each two identical cookbook sections
    // in transposed direct form II: the Linkwitz-Riley crossover of both channels (left low, left
    // high, right low, right high), the sidechain's high-pass at the split, the analysis high-pass
    // of the Auto search, and two silent lanes. Laid out per coefficient so that one sample
    // through all eight lanes vectorises.
    struct FilterLanes
    {
        static constexpr size_t count = 8;
        static constexpr size_t sidechain = 4;
        static constexpr size_t analysis = 5;
        alignas(16) std::array<float, count> b0{}, b1{}, b2{}, a1{}, a2{};
        alignas(16) std::array<float, count> s1First{}, s2First{}, s1Second{}, s2Second{};
    };

    // The four power followers, as lanes in the same way: upper band, full band, and the analysis
    // gate's band and full band.
    enum Follower : size_t
    {
        upperFollower,
        fullFollower,
        analysisFollower,
        analysisFullFollower,
        followerCount
    };

    // The Auto search's nine constant-peak band-passes, laid out per coefficient so that one
    // sample through all nine vectorises. Double precision: their levels are compared in dB.
    struct Bank
    {
        // One silent lane more than the bank has, so that the lanes fill whole two-double vectors.
        static constexpr size_t lanes = bankSize + 1;
        alignas(16) std::array<double, lanes> b0{}, b1{}, b2{}, a1{}, a2{}, s1{}, s2{};
        alignas(16) std::array<double, lanes> energy{};
        std::array<double, bankSize> centreHz{};
    };

    void controlUpdate() noexcept;
    // Coefficients of one filter lane (both its sections) from a designed section.
    void setLane(size_t lane, const sv::Biquad& section) noexcept;
    // Release coefficient and knee terms from the current character values.
    void deriveCharacterValues() noexcept;
    void analyse() noexcept;
    void clearFiltersAndFollowers() noexcept;
    void delayOnly(float* const* channels, int start, int n, float* detectionTrace,
                   float* const* listen) noexcept;
    // Length: int, or std::integral_constant for a whole chunk.
    template <typename Length>
    void processChunk(float* const* channels, int start, Length n, float* detectionTrace,
                      float* const* listen) noexcept;

    double sampleRate = 48000.0;
    int numChannels = 1;
    int lookahead = 1;

    sv::FixedDelay lookaheadLine; // per channel, for spans of up to a control interval

    FilterLanes filters;
    float lastSplitHz = -1.0f;

    float essHz = initialEssHz;
    float targetHz = initialEssHz;
    float octavesOf = -1.0f, targetOctaves = 0.0f; // log2(octavesOf), kept for the glide
    bool autoMode = true;

    std::array<tune::DeEssChar, 3> chars = tune::deessChars;
    tune::DeEssChar current = tune::deessChars[1];
    tune::DeEssChar target = tune::deessChars[1];

    // Followers: the powers (see Follower) and the reduction in dB.
    std::array<float, followerCount> powers{};
    float reductionDb = 0.0f;
    float peakReductionDb = 0.0f;
    bool essFlag = false;

    float followerAttack = 0.0f;
    float reductionAttack = 0.0f;
    float release = 0.0f;
    float charGlide = 0.0f;
    float freqGlide = 0.0f;
    // Knee corner (T - W/2) and 1 / max(W, 0.5), refreshed at control rate.
    float kneeLowDb = 0.0f;
    float kneeInvWidth = 0.0f;
    // An upper-band power at or below the full band's times this is under the knee for certain.
    float kneeShutRatio = 0.0f;

    Ramp ramp;
    float amountDb = 0.0f;
    bool initialised = false;

    // Auto search.
    Bank bank;
    double bankAveraging = 0.0;
    double openSeconds = 0.0;
    double secondsPerSample = 0.0;
    unsigned controlCount = 0;

    int samplesToControl = 0;
};

} // namespace eng::vocal
