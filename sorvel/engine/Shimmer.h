#pragma once

#include "sorvel/engine/primitives/FilterDesign.h"
#include "sorvel/engine/primitives/Ramp.h"
#include "sorvel/engine/primitives/SlotSwitch.h"
#include "sorvel/engine/Tune.h"

#include <array>

namespace eng::vocal
{

// The shimmer's display sums of one metering interval: what the chain turns into the sparkle,
// taming and lift fields of its record. Each sample counts with its crossfade weight times the
// module's on/off fade. Audio thread only (the chain takes and clears it at each record).
struct ShimmerMeter
{
    double sparklePower = 0.0; // sum over samples of the added sparkle's power (mean of channels)
    float tamingPeakDb = 0.0f; // largest harshness reduction applied
    double liftSumDb = 0.0;    // sum over samples of the shelf's display gain at 12 kHz
    int samples = 0;           // doubled-rate samples processed while the module was not fully off

    // Record values: mean sparkle power in dB (-120 when nothing was processed or added) and the
    // mean lift in dB (0 when nothing was processed).
    float sparkleDb() const noexcept;
    float liftDb() const noexcept;
};

// One character of the shimmer: the air shelf eased on esses, the harshness taming for negative
// amounts and, for "Glass", the sparkle. Runs at twice the host rate; the Shimmer holds two so
// that a character change crossfades instead of clicking. Audio thread only after prepare.
class ShimmerCore
{
public:
    static constexpr int maxChannels = 2;
    // Control interval at the doubled rate (32 host samples): shelf redesign and glides.
    static constexpr int controlInterval = 64;

    // Follower coefficients for `rate` (the doubled rate); the current character's filters are
    // designed again for it and everything is cleared, shelf off.
    void prepare(double rate, int channels) noexcept;

    // Character clamped to 0..2; copies its row of tune::shimmerChars, designs every filter for it
    // and clears all filter and follower states (shelf off). Allocation-free.
    void configure(int character) noexcept;

    // Every filter state and follower cleared, shelf off, next sample is a control update. The
    // designs stay.
    void clearState() noexcept;

    // In place on `numSamples` doubled-rate samples of each channel. `deessTrace` (may be null)
    // holds one de-ess detection value per host sample of the chain's piece, and `traceStart` is
    // the doubled-rate position of channels[c][0] within that piece, so doubled sample j reads
    // deessTrace[(traceStart + j) / 2]. `weights` (may be null, meaning 1) scales this core's
    // contribution to `meter` per sample. `amount` is -10..+10.
    void process(float* const* channels, int numSamples, float amount, const float* deessTrace,
                 int traceStart, const float* weights, ShimmerMeter& meter) noexcept;

    int getCharacter() const noexcept { return character; }
    // Gain the shelf was last designed for (dB; 0 when off) and the analog shelf at 12 kHz.
    float getShelfGainDb() const noexcept { return static_cast<float>(designedGainDb); }
    float getDisplayDb() const noexcept { return displayDb; }
    bool isShelfOn() const noexcept { return shelfOn; }
    bool isShelfMoving() const noexcept { return shelfGlideLeft > 0; }
    // The easing follower (0..1) and the harshness reduction now applied (dB).
    float getEasing() const noexcept { return easing; }
    float getReductionDb() const noexcept { return reductionDb; }
    // True while the core still changes the signal: shelf on or moving, taming releasing,
    // sparkle present. At amount 0 a core that is not busy rests (passes the input untouched)
    // from its next control update and starts from clean states when the amount leaves 0.
    bool isBusy() const noexcept;
    bool isResting() const noexcept { return resting; }

private:
    // Two sections side by side in one vector register (the shared runner): a channel pair, or
    // two stages of one mono chain a sample apart.
    using Lanes = md::Lanes;
    using Pair = md::SectionPair;

    template <int Channels>
    void processChunk(float* const* io, int n, float amount, const float* trace, int traceStart,
                      const float* weights, ShimmerMeter& meter) noexcept;
    void controlUpdate(float amount) noexcept;
    void easingTargets(int start, int n, float amount) noexcept;
    template <int Channels, bool WithShelf>
    void measureEssAndRunShelf(float* const* io, const float* mono, int n, float amount, const float* trace,
                               int traceStart) noexcept;
    template <int Channels>
    void tame(float* const* io, const float* mono, int n, float amount, const float* weights,
              ShimmerMeter& meter) noexcept;
    template <int Channels>
    void sparkle(float* const* io, int n, const float* weights, ShimmerMeter& meter) noexcept;
    void clearSparkle() noexcept;

    double rate = 96000.0;
    int channelCount = 1;
    int character = 0;
    tune::ShimmerRow row = tune::shimmerChars[0];
    bool hasSparkle = false;
    float sparkleGain = 0.0f;

    // Coefficients, exp(-1 / (rate x time)).
    float powerAttack = 0, powerRelease = 0; // full band and the three harshness bands
    float tameAttack = 0, tameRelease = 0;   // harshness reduction
    float essAttack = 0, essRelease = 0;     // ess band and its full-band reference
    float easeAttack = 0, easeRelease = 0;   // easing follower
    float sparkleTrack = 0;                  // sparkle power trackers
    float refRise = 0, refFall = 0;          // sparkle references

    int samplesToControl = 0;
    bool resting = false; // decided at each control update

    // Shelf: one design for both lanes (channels), gliding linearly to a new design over one
    // control interval.
    Pair shelf, shelfTarget, shelfStep;
    int shelfGlideLeft = 0;
    bool shelfOn = false;
    double designedGainDb = 0.0;
    float displayDb = 0.0f;

    // Ess measurement on the mono input: 24 dB/oct high-pass at 5 kHz then low-pass at 10 kHz,
    // first sections in essFirst, second ones in essSecond (lane 0 the low-pass, lane 1 the
    // high-pass). Each section takes the previous one's output of the sample before, so the band
    // lags the input by three samples; essFirstOut and essSecondOut hold those outputs.
    Pair essFirst, essSecond;
    Lanes essFirstOut{0.0, 0.0}, essSecondOut{0.0, 0.0};
    float essBandPower = 0, essFullPower = 0;
    float easing = 0, easingPeak = 0;

    // Harshness: the Q 2 band-passes on the mono input (centre and half in one pair, double in the
    // other), their powers and the full-band power; the reduction; the bells (one per channel).
    Pair harshCentreLow, harshHigh, bell;
    float centrePower = 0, lowPower = 0, highPower = 0, fullPower = 0;
    float reductionDb = 0;
    bool taming = false, measuring = false;

    // Sparkle ("Glass"), per channel: band high- and low-pass, then the harmonics' 24 dB/oct
    // high-pass (two sections) and low-pass. Power trackers, gated references, and the amount
    // scale gliding over a control interval.
    std::array<Pair, 5> sparkleFilters{};
    float sparkleBandPower = 0, sparkleMonoPower = 0, bandReference = 0, monoReference = 0;
    float sparkleScale = 0, sparkleScaleStep = 0, sparkleScaleTarget = 0;
    int sparkleScaleLeft = 0;
    bool sparkling = false;

    // Per-chunk scratch (a chunk never crosses a control update).
    std::array<float, controlInterval> monoBuf{}, easingBuf{}, gainBuf{};
    std::array<float, 2 * controlInterval> shapeBuf{}, scaleBuf{};
    std::array<std::array<float, controlInterval>, 4> powerBuf{};
    std::array<float, 2 * controlInterval> essPowerBuf{}; // followed band and full power, interleaved
    std::array<float, controlInterval> easingTargetBuf{};
    static constexpr std::array<float, controlInterval / 2> noTrace{}; // stands in for a missing trace
};

// The Shimmer module: "plus lifts the air with a smooth shelf that eases off on esses; minus
// tames harshness". Two cores, a linear crossfade on character changes (a change during a
// crossfade waits), an on/off fade whose start from fully off clears every state, the listen
// signal "what shimmer adds or takes out" and the display sums. Runs at twice the host rate
// inside the oversampled section. Audio thread only after prepare.
class Shimmer
{
public:
    // `doubledRate` is twice the host rate. Both cores are prepared and configured for character 0;
    // the next set() is taken as the first setting.
    void prepare(double doubledRate, int channels) noexcept;

    struct Settings
    {
        float amount = 1.0f; // -10..+10: plus lifts the air, minus tames harshness
        int character = 0;   // 0 "Silk", 1 "Air", 2 "Glass"
        bool on = true;      // the target of the module's fade
    };

    // Once per piece. The first setting after prepare is direct (core configured, fade at its
    // target); later character changes configure the idle core and crossfade over 20 ms, and a
    // fade that starts from fully off clears every filter and follower first.
    void set(const Settings& settings) noexcept;

    // In place on the doubled-rate channels. `listen` (null when not needed) receives output
    // minus input per channel. `deessTrace` (may be null) holds numSamples / 2 values, one per
    // host sample. numSamples is even (the chain's 2n) so pieces keep the trace aligned.
    void process(float* const* channels, float* const* listen, int numSamples,
                 const float* deessTrace) noexcept;

    // True while processing changes anything: amount not 0 (or a core still releasing, or a
    // crossfade running) and the fade above 0 or moving.
    bool isActive() const noexcept;

    float getAmount() const noexcept { return amount; }
    float getFade() const noexcept { return fade.getValue(); }
    bool isCrossfading() const noexcept { return characters.isFading(); }
    // The character heard (the active core's), and the one the incoming core fades to.
    int getCharacter() const noexcept { return activeCore().getCharacter(); }
    int getIncomingCharacter() const noexcept
    {
        return cores[static_cast<size_t>(1 - characters.sounding())].getCharacter();
    }
    const ShimmerCore& getActiveCore() const noexcept { return activeCore(); }

    // Display sums since the last take; taking clears them.
    ShimmerMeter takeMeter() noexcept;
    void clearMeter() noexcept { meter = {}; }

private:
    void startCrossfade() noexcept;
    void finishCrossfade() noexcept;

    static constexpr int chunk = ShimmerCore::controlInterval;

    // The core heard (the one fading out while a crossfade runs).
    ShimmerCore& activeCore() noexcept { return cores[static_cast<size_t>(characters.sounding())]; }
    const ShimmerCore& activeCore() const noexcept
    {
        return cores[static_cast<size_t>(characters.sounding())];
    }

    std::array<ShimmerCore, 2> cores{};
    SlotSwitch characters{WhileFading::cancelsEarlier};
    bool initialised = false;
    int channelCount = 1;
    float amount = 0.0f;
    Ramp crossfade, fade;
    ShimmerMeter meter;

    std::array<std::array<float, chunk>, ShimmerCore::maxChannels> dry{}, incoming{};
    std::array<float, chunk> fadeBuf{}, outgoingWeight{}, incomingWeight{}, mixBuf{};
};

} // namespace eng::vocal
