#pragma once

#include "sorvel/engine/primitives/DelayLine.h"
#include "sorvel/engine/reverb/FdnCore.h"
#include "sorvel/engine/primitives/FilterDesign.h"
#include "sorvel/engine/primitives/Ramp.h"
#include "sorvel/engine/primitives/SlotSwitch.h"

#include <array>
#include <vector>

namespace eng::vocal
{

// The reverb send: the mono send through a gliding pre-delay into one of two FdnCores (two
// during a 20 ms character crossfade), the return high- and low-passed so it sits behind the
// vocal. Runs while the send is on and for as long as its tail is heard. Audio thread only;
// prepare comes from the chain's prepareToPlay.
class Reverb
{
public:
    // Both cores, the pre-delay line and the work buffers for pieces of up to maxPieceSamples
    // (longer pieces are cut). The first set afterwards takes its values directly.
    void prepare(double sampleRate, int maxPieceSamples);

    struct Settings
    {
        float amount = 2.0f;       // 0..10; 0 while the reverb is switched off
        int character = 0;         // 0 "Plate", 1 "Room", 2 "Hall"
        float decaySeconds = 1.6f; // 0.1..20 s
        float preDelayMs = 30.0f;  // 0..120 ms
    };

    // Once per block from the parameter pull. A character change crossfades to the other core (or
    // waits for it to be free); a decay change alone recomputes the running core's damping in
    // place.
    void set(const Settings& settings) noexcept;

    // The stereo return of n samples of mono send (any n; longer than the prepared piece is cut).
    // Writes zeros while the module is off. The send may share memory with an output.
    void process(const float* send, float* outL, float* outR, int n) noexcept;

    // On or fading (the send is up or moving, or the tail still rings): the return takes part in
    // the mix. While this is false, process only writes zeros and may be skipped.
    bool isActive() const noexcept { return running || sendRamp.getTarget() > 0.0f || sendRamp.isMoving(); }

    // The core that takes the send (the incoming one while a crossfade runs), and the character
    // waiting for the outgoing core to be free (-1: none).
    int getActiveCharacter() const noexcept { return activeCore().getCharacter(); }
    int getPendingCharacter() const noexcept { return characters.getWaiting(); }
    bool isCrossfading() const noexcept { return characters.isFading(); }
    int getActiveCoreIndex() const noexcept { return characters.current(); }
    const FdnCore& getCore(int k) const noexcept { return cores[static_cast<size_t>(k)]; }
    float getSendLevel() const noexcept { return sendRamp.getValue(); }
    float getPreDelaySamples() const noexcept { return preDelayTarget + preDelayOffset; }

private:
    void processPiece(const float* send, float* outL, float* outR, int n) noexcept;
    void start() noexcept;
    void stop() noexcept;
    void startCrossfade() noexcept;
    void takeUpPending() noexcept;
    FdnCore& activeCore() noexcept { return cores[static_cast<size_t>(characters.current())]; }
    const FdnCore& activeCore() const noexcept { return cores[static_cast<size_t>(characters.current())]; }
    bool decayMoved(float decaySeconds) const noexcept;
    void filterReturn(float* outL, float* outR, int n) noexcept;

    double sampleRate = 48000.0;
    int maxPiece = 0;

    std::array<FdnCore, 2> cores;
    std::array<Ramp, 2> fades; // each core's input and output ramp (they always move together)
    // Which core is current; it fades while the other core is still fading out. A new character
    // waits for the outgoing core to be free.
    SlotSwitch characters{WhileFading::cancelsEarlier};
    float latestDecay = 1.6f;

    Ramp sendRamp;
    sv::DelayLine preDelayLine;
    // The pre-delay in samples is target + offset; the offset glides to 0. (Gliding the sum itself
    // in single precision would stall a fraction of a sample short of a long target.)
    float preDelayTarget = 1.0f;
    float preDelayOffset = 0.0f;
    float glideCoeff = 0.0f;

    // Left in lane 0, right in lane 1.
    md::SectionPair highPass, lowPass;
    int sinceFilterFlush = 0;

    bool initialised = false;
    bool running = false;
    long silentFor = 0; // samples since the send last sent anything

    // Work buffers of maxPiece samples.
    std::vector<float> delayedSend, preDelays, ones, gains, coreIn, coreL, coreR;
};

} // namespace eng::vocal
