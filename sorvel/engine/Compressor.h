#pragma once

#include "sorvel/engine/primitives/FixedDelay.h"
#include "sorvel/engine/primitives/Ramp.h"
#include "sorvel/engine/Tune.h"

#include <array>
#include <cstddef>
#include <type_traits>

namespace eng::vocal
{

// Vocal compressor on one knob: a look-ahead peak catcher (stage 1) and an RMS leveller with a
// dual release (stage 2), an automatic make-up from a level histogram, the "Hard" saturator and
// a dry/wet mix. Runs at twice the host rate inside the chain's oversampled section. Audio thread
// only after prepare.
class Compressor
{
public:
    static constexpr int controlInterval = 64; // oversampled samples between control updates
    static constexpr int histogramBins = 100; // 1 dB bins of the stage-2 level, -90 .. +10 dB (an even count)

    // Largest reduction of each stage since the chain last took them, dB (positive).
    struct StagePeaks
    {
        float stage1Db = 0.0f;
        float stage2Db = 0.0f;
    };

    // hostSampleRate is the chain's rate; the module itself runs at twice that. Clears all state.
    void prepare(double hostSampleRate, int numChannels);

    struct Settings
    {
        float amount = 4.0f; // 0..10; 0 once the module is off and its mix has faded
        int character = 1;   // 0 "Smooth", 1 "Push", 2 "Hard"
        float mix = 1.0f;    // 0..1; 0 while the module is off
    };

    // Once per piece, before process. The first call after prepare sets everything directly;
    // later ones glide.
    void set(const Settings& settings) noexcept;

    // In place on the prepared number of doubled-rate channels, n oversampled samples. listen may
    // be null; otherwise its channels receive "what compress changes": output minus the delayed
    // input. The output is the input delayed by getLookaheadSamples() while the module is idle.
    void process(float* const* channels, float* const* listen, int n) noexcept;

    // The chain takes the stage peaks at each metering record, and clears them while it is idle.
    StagePeaks takeStagePeaks() noexcept;
    void clearStagePeaks() noexcept { peaks = {}; }

    // Idle: the amount and its target are both 0 and the make-up has glided out; the audio is
    // only delayed.
    bool isIdle() const noexcept { return amount == 0.0f && targetAmount == 0.0f && makeupGain == 1.0f; }
    bool isInitialised() const noexcept { return initialised; }
    float getAmount() const noexcept { return amount; }
    float getTargetAmount() const noexcept { return targetAmount; }
    float getMix() const noexcept { return mixRamp.getValue(); }
    bool isMixMoving() const noexcept { return mixRamp.isMoving(); }

    int getLookaheadSamples() const noexcept { return lookahead; }
    const tune::CompRow& getCharacterValues() const noexcept { return row; }
    float getStage2ThresholdDb() const noexcept { return threshold2Db; }
    float getStage1Ratio() const noexcept { return ratio1; }
    float getDrive() const noexcept { return drive; }
    float getMakeupDb() const noexcept { return makeupDb; }

private:
    static constexpr int maxChannels = 2;
    static constexpr std::size_t chunksInFlight = 3; // chunks in flight in the pipeline
    using Work = std::array<float, controlInterval>;

    // One chunk of audio (at most a control interval, within one control period) on its way
    // through the three passes of process: the control values it runs with and its work arrays.
    struct Chunk
    {
        int offset = 0, count = 0;
        bool afterControl = false; // a control update came just before it
        float k = 0.0f, threshold1Db = 0.0f, slope1 = 0.0f, stage1Release = 0.0f, stage1MarginDb = 0.0f;
        float threshold2Db = 0.0f, knee2Db = 0.0f, halfOverKnee2 = 0.0f, slope2 = 0.0f;
        float fastRelease = 0.0f, slowRelease = 0.0f, slowAttack = 0.0f, drive = 0.0f, makeupGain = 1.0f;
        std::array<Work, maxChannels> delayed{};
        Work peakDb{}, power{}, reduction1{}, gain1{}, stage1Power{};
        Work levelDb{}; // the smoothed power first, then its level in dB
        Work staticDb{}, reduction2{};
    };

    void controlGlide() noexcept;
    void controlStatistics(const Chunk& s) noexcept;
    void deriveFromRow() noexcept;
    void estimateMakeup(const Chunk& s) noexcept;
    void passThrough(float* const* channels, float* const* listen, int offset, int n) noexcept;
    void lookaheadDelay(const float* const* in, int offset, int n,
                        std::array<Work, maxChannels>& out) noexcept;
    // Length: int, or Whole for chunks of a full control interval, whose loops then have a
    // trip count known when compiling.
    using Whole = std::integral_constant<int, controlInterval>;
    template <typename Length> static std::size_t lengthOf(const Chunk& s) noexcept
    {
        return static_cast<std::size_t>(std::is_same_v<Length, Whole> ? Whole::value : s.count);
    }
    template <typename Length>
    void beginChunk(Chunk& s, const float* const* channels, int offset, Length n, bool afterControl) noexcept;
    template <typename Length>
    void runPass(Chunk* first, Chunk* second, Chunk* third, float* const* channels,
                 float* const* listen) noexcept;
    void runRecursions(Chunk* first, Chunk* second, Chunk* third) noexcept;
    template <typename Length> void addStatistics(const Chunk& s, const float* gain2) noexcept;
    template <typename Length>
    void finishChunk(Chunk& s, const float* gain2, float* const* channels, float* const* listen) noexcept;

    // This module's copy of its tuning rows.
    std::array<tune::CompRow, 3> rows = tune::compChars;

    double rate = 96000.0; // the oversampled rate
    int channelCount = 1;
    int lookahead = 2;
    bool initialised = false;

    sv::FixedDelay lookaheadLine; // per channel, for spans of up to a control interval

    // Control rate.
    int controlCountdown = 0;
    unsigned controlCount = 0;
    tune::CompRow row{};       // current (gliding) character values
    tune::CompRow targetRow{}; // the chosen character's row
    float amount = 0.0f, targetAmount = 0.0f;
    float reductionScale = 0.0f; // min(amount, 1), scales every reduction
    float threshold2Db = 0.0f, threshold1Db = 0.0f;
    float ratio1 = 1.0f, slope1 = 0.0f, slope2 = 0.0f, knee2Db = 0.0f, halfOverKnee2 = 0.0f;
    float drive = 0.0f;
    float stage1Release = 0.0f, fastRelease = 0.0f, slowRelease = 0.0f, slowAttack = 0.0f;
    float characterGlide = 0.0f, amountGlide = 0.0f, makeupGlide = 0.0f;
    double statisticsDecay = 1.0;

    // Fixed per-sample coefficients.
    float peakRelease = 0.0f, levelRise = 0.0f, levelFall = 0.0f, stage1Attack = 0.0f;
    float powerSmoothing = 0.0f, fastAttack = 0.0f;

    // Stage 1.
    float peakEnvelopeDb = -120.0f;
    float runningLevelDb = -200.0f; // below -150: not known yet
    float heldReductionDb = 0.0f;
    int holdCountdown = 0;
    float reduction1Db = 0.0f;

    // Stage 2.
    float power1 = 0.0f, power2 = 0.0f;
    float fastReductionDb = 0.0f, slowReductionDb = 0.0f;

    // Level statistics behind the make-up.
    std::array<double, histogramBins> histogram{};
    double inputSum = 0.0, realSum = 0.0, staticSum = 0.0;
    float makeupDb = 0.0f;
    float makeupGain = 1.0f;
    float makeupTargetDb = 0.0f, makeupTarget = 1.0f; // 10^(makeupTargetDb / 20)
    std::array<float, histogramBins> binGain{};       // static curve's power gain per bin
    std::array<float, 5> binGainCurve{};              // the curve binGain was worked out for

    Ramp mixRamp;
    StagePeaks peaks;

    // The chunks in flight, used in turn.
    std::array<Chunk, chunksInFlight> chunks{};
    std::size_t nextChunk = 0;
};

} // namespace eng::vocal
