#pragma once

#include "sorvel/engine/primitives/FilterDesign.h"
#include "sorvel/engine/primitives/Ramp.h"
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
    // One complete filter set: the choice (0 "Off", 1..4 the corners of tune::hpfHz) and, per
    // channel, a biquad and a first-order section.
    struct Slot
    {
        int choice = 0;
        std::array<md::Cascade<2>, 2> channels{};
    };

    struct Settings
    {
        int choice = 2; // 0 "Off", 1..4 the corners of tune::hpfHz; clamped to 0..4
    };

    // Clears everything; the first set afterwards designs directly, without a crossfade.
    void prepare(double sampleRate, int numChannels) noexcept;

    // Called by the chain once per piece.
    void set(const Settings& settings) noexcept;

    // Stores the choice in the slot and designs its cascades ("Off": none); clears their state.
    void configure(Slot& slot, int choice) noexcept;

    // In place on the first numChannels channels.
    void process(float* const* channels, int n) noexcept;

    int getActiveChoice() const noexcept { return slots[static_cast<size_t>(active)].choice; }
    int getPendingChoice() const noexcept { return pending; }
    bool isFading() const noexcept { return fading; }

private:
    void startFade() noexcept;
    void finishFade() noexcept;

    static constexpr double butterworthQ = 0.70710678;
    static constexpr int slopeIndex = 2; // 18 dB per octave

    double sampleRate = 48000.0;
    int numChannels = 1;
    std::array<float, 4> cornersHz = tune::hpfHz;

    std::array<Slot, 2> slots{};
    int active = 0;
    int pending = -1;
    bool fading = false;
    bool initialised = false;
    Ramp fade;
};

} // namespace eng::vocal
