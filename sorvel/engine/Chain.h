#pragma once

#include "sorvel/engine/Compressor.h"
#include "sorvel/engine/DeEsser.h"
#include "sorvel/engine/EditorFeed.h"
#include "sorvel/engine/HighPass.h"
#include "sorvel/engine/primitives/FixedDelay.h"
#include "sorvel/engine/primitives/Oversampler2x.h"
#include "sorvel/engine/Params.h"
#include "sorvel/engine/primitives/Ramp.h"
#include "sorvel/engine/primitives/SlotSwitch.h"
#include "sorvel/engine/reverb/Reverb.h"
#include "sorvel/engine/Shimmer.h"
#include "sorvel/engine/TempoDelay.h"
#include "sorvel/engine/ToneEq.h"
#include "sorvel/engine/Width.h"

#include "common/dsp/LoudnessMeter.h"

#include <array>
#include <vector>

namespace sv2
{

// Sorvel's whole signal chain: the modules in their fixed order, the gains, on/off crossfades,
// the oversampled Compress/Shimmer section, the three parallel returns with their duck, listen,
// the level-matched bypass, delay compensation, silence detection and the metering that feeds
// the editor. Plain C++; the processor reads the parameters and calls it. prepare on the host's
// preparing thread; everything else on the audio thread.
//
// Spans of samples have one word each throughout the engine: the host's block (processBlock),
// the chain's piece (the part of a block within one 10 ms metering interval, at most the
// prepared size, that every module is handed at once) and a module's chunk (its own inner span,
// such as the samples up to its next control update).
class Chain
{
public:
    Chain(sv::LoudnessMeter& inputMeter, sv::LoudnessMeter& outputMeter, EditorFeed& feed);

    // Sizes everything for pieces of up to max(maxBlock, 16) samples and clears all state. The
    // next applyParams is the first: every ramp starts at its target.
    void prepare(double sampleRate, int numChannels, int maxBlock);

    // The look-ahead the host must compensate: de-esser, compressor and oversampler.
    int getLatencySamples() const noexcept { return latency; }

    // Once per block: the snapshot becomes module settings and ramp targets.
    void applyParams(const Params& p) noexcept;

    // One host block in place. `inputChannels` is how many of the two carry input (a mono input
    // is read from channel 0 only); `inputMarkedClear` when the host says the input is silent;
    // `playing` when the transport runs (never idle then). Non-finite input samples are read as
    // silence (set to 0 in place).
    void processBlock(float* left, float* right, int numSamples, int inputChannels, bool inputMarkedClear,
                      bool playing) noexcept;

    int getListenFrom() const noexcept { return listen.previousValue(); }
    int getListenTo() const noexcept { return listen.currentValue(); }
    int getListenPending() const noexcept { return listen.getWaiting(); }
    bool isListenCrossfading() const noexcept { return listenFade.isMoving(); }
    float getInputGain() const noexcept { return inputGain.getValue(); }
    float getOutputGain() const noexcept { return outputGain.getValue(); }
    float getDuckDepthDb() const noexcept { return duckDepth; }
    double getTempo() const noexcept { return tempo; }

private:
    // One piece (within a metering interval), n <= the prepared piece size. in[1] equals in[0] for
    // a mono chain; in and out may be the same memory.
    void processPiece(const float* const* in, float* const* out, int n) noexcept;

    enum Source
    {
        normal,
        deessSource,
        compSource,
        shimmerSource,
        reverbSource,
        delaySource,
        widthSource,
        numSources
    };

    struct Stereo
    {
        std::vector<float> left, right;
        void resize(int n)
        {
            left.assign(static_cast<size_t>(n), 0.0f);
            right.assign(static_cast<size_t>(n), 0.0f);
        }
        float* l() noexcept { return left.data(); }
        float* r() noexcept { return right.data(); }
    };

    bool sourceNeeded(int source) const noexcept;
    bool sectionActive() const noexcept;
    void measureLevelMatch() noexcept;
    void runWrapped(eng::vocal::Ramp& ramp, int n, bool isHighPass) noexcept;
    void runSection(int n, bool needComp, bool needShimmer) noexcept;
    void runReturns(int n) noexcept;
    void duck(int n) noexcept;
    void mix(float* const* out, int n) noexcept;
    void listenMix(float* const* out, int n) noexcept;
    const float* sourceSignal(int source, int c, const float* const* normalOut) const noexcept;
    void writeRecord() noexcept;
    void resetInterval() noexcept;
    float* mainChannel(int c) noexcept { return c == 0 || channels == 1 ? main.l() : main.r(); }

    sv::LoudnessMeter& inputMeter;
    sv::LoudnessMeter& outputMeter;
    EditorFeed& feed;

    double sampleRate = 48000.0;
    int channels = 2;
    int maxPiece = 512;
    int latency = 0, sectionDelay = 0;

    Params params;
    bool initialised = false;
    bool previousBypass = false;
    double tempo = 120.0;

    // Modules, in the order the vocal meets them.
    eng::vocal::HighPass highPass;
    eng::vocal::DeEsser deesser;
    eng::vocal::ToneEq toneEq;
    eng::vocal::Compressor compressor;
    eng::vocal::Shimmer shimmer;
    // Up: main left and right. Down: main, and the Compress and Shimmer listen pairs (both may
    // be heard at once during a listen crossfade).
    std::array<sv::Oversampler2x, 2> up;
    std::array<sv::Oversampler2x, 2> downMain, downComp, downShimmer;
    eng::vocal::Reverb reverb;
    eng::vocal::TempoDelay tempoDelay;
    eng::vocal::Width width;

    // The chain's own ramps.
    eng::vocal::Ramp inputGain, outputGain, sectionOn, listenFade, bypassRamp, matchGain, highPassOn, eqOn;
    std::array<eng::vocal::Ramp, numSources> sourceGain;
    // Listen: "to" is the current source, "from" the previous one; a change during a crossfade
    // waits, and a request for the source fading in cancels it.
    eng::vocal::SlotSwitch listen{eng::vocal::WhileFading::cancelsEarlier};
    std::array<bool, numSources> neededLastPiece{};
    std::array<bool, numSources> computed{}; // listen signals made in this piece

    // Delay compensation.
    sv::FixedDelay dryDelay, sectionBypass, deessListenDelay;

    // Work buffers: host rate (P) and doubled rate (2P).
    Stereo main, dry, scratch, delayed, deessListen, compListen, shimmerListen, reverbOut, delayOut, widthOut;
    Stereo upMain, upCompListen, upShimmerListen;
    std::vector<float> send, trace, duckGain, rampValues, levels, tapA, tapB, tapC;
    std::vector<float> sourceValues; // the listen-source ramps, one row of P per source
    bool tapThisPiece = false;

    // Duck.
    float duckEnvelope = -120.0f, duckDepth = 0.0f, duckDb = 4.0f;
    float duckAttack = 0.0f, duckRelease = 0.0f, duckDeepen = 0.0f, duckRecover = 0.0f;
    bool returnsTakePart = false;

    // Silence detection.
    long long silenceLimit = 4800, silenceCount = 4800;
    bool idle = true;
    bool tapEnabled = false;

    // Metering interval.
    int intervalLength = 480, intervalCount = 0;
    float intervalInputPeak = 0.0f, intervalOutputPeak = 0.0f, intervalDuckMax = 0.0f;
    double inputEnergy = 0.0, outputEnergy = 0.0, reverbEnergy = 0.0, delayEnergy = 0.0, widthEnergy = 0.0;
    float blockInputPeak = 0.0f, blockOutputPeak = 0.0f, blockDuckMax = 0.0f;
    MeteringRecord latest = MeteringRecord::silent();
    float matchOffsetDb = 0.0f;
};

} // namespace sv2
