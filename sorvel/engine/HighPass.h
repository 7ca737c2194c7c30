#pragma once

#include "sorvel/engine/primitives/FilterDesign.h"
#include "sorvel/engine/primitives/Ramp.h"
#include "sorvel/engine/primitives/SlotSwitch.h"
#include "sorvel/engine/Tune.h"

#include <array>

namespace eng::vocal
{

// Takes out rumble, handling noise and plosive thumps below the chosen corner, 18 dB per
// octave. A change of corner is a 20 ms linear crossfade between two complete filter sets; a
// change asked for during a fade waits for its end (the latest one wins). Audio thread only;
// prepare comes from the chain's prepareToPlay.
class HighPass
{
public:
    // One complete filter set: per channel, a biquad and a first-order section (none for "Off").
    using Slot = std::array<md::Cascade<2>, 2>;

    struct Settings
    {
        int choice = 2; // 0 "Off", 1..4 the corners of tune::hpfHz; clamped to 0..4
    };

    // Clears everything; the first set afterwards designs directly, without a crossfade.
    void prepare(double sampleRate, int numChannels) noexcept;

    // Called by the chain once per piece.
    void set(const Settings& settings) noexcept;

    // Designs the slot's cascades for the choice ("Off": none) and clears their state.
    void configure(Slot& slot, int choice) noexcept;

    // In place on the first numChannels channels.
    void process(float* const* channels, int n) noexcept;

    // The choice heard (the one fading out while a fade runs) and the one waiting for it (-1: none).
    int getActiveChoice() const noexcept { return choices.valueOf(choices.sounding()); }
    int getPendingChoice() const noexcept { return choices.getWaiting(); }
    bool isFading() const noexcept { return choices.isFading(); }

private:
    void startFade() noexcept;
    void finishFade() noexcept;
    Slot& slot(int index) noexcept { return slots[static_cast<size_t>(index)]; }

    static constexpr double butterworthQ = 0.70710678;
    static constexpr int slopeIndex = 2; // 18 dB per octave

    double sampleRate = 48000.0;
    int numChannels = 1;
    std::array<float, 4> cornersHz = tune::hpfHz;

    std::array<Slot, 2> slots{};
    SlotSwitch choices{WhileFading::latestWins};
    bool initialised = false;
    Ramp fade;
};

} // namespace eng::vocal
