#pragma once

#include "sorvel/engine/primitives/FilterDesign.h"
#include "sorvel/engine/primitives/Ramp.h"
#include "sorvel/engine/primitives/SlotSwitch.h"
#include "sorvel/engine/Tune.h"

#include <array>

namespace eng::vocal
{

// One EQ band: an amount (-10..+10, 0.6 dB per unit) and a character (bell or shelf from its
// table). The gain glides with a 25 ms time constant, updated and redesigned every 32 samples; a
// character change is a 20 ms crossfade between two complete filter sets. Audio thread only;
// prepare comes from the chain's prepareToPlay.
class EqBand
{
public:
    // One complete filter set: the gain it was last designed for and, per channel, one section
    // (count 0 while the gain is 0 dB).
    struct Slot
    {
        float designedGainDb = 0.0f;
        std::array<md::Cascade<1>, 2> channels{};
    };

    struct Settings
    {
        float amount = 0.0f; // -10..+10, 0.6 dB per unit
        int character = 0;   // the row of the band's table, 0..2
    };

    explicit EqBand(const std::array<tune::Band, 3>& bandTable) noexcept : bands(bandTable) {}

    // Clears everything; the first set() afterwards designs directly, without glide or crossfade.
    void prepare(double sampleRate, int numChannels) noexcept;

    // Called by the chain once per piece.
    void set(const Settings& settings) noexcept;

    // Designs the slot's section for its character and the current gain. A slot that already had
    // a section keeps its state words (the coefficients change under running state).
    void redesign(int slot) noexcept;

    // In place on the first numChannels channels.
    void process(float* const* channels, int n) noexcept;

    float getTargetGainDb() const noexcept { return targetGainDb; }
    float getCurrentGainDb() const noexcept { return currentGainDb; }
    // The character heard (the one fading out while a fade runs) and the one waiting (-1: none).
    int getActiveCharacter() const noexcept { return characters.valueOf(characters.sounding()); }
    int getPendingCharacter() const noexcept { return characters.getWaiting(); }
    bool isFading() const noexcept { return characters.isFading(); }
    const Slot& getActiveSlot() const noexcept { return slots[static_cast<size_t>(characters.sounding())]; }

    static constexpr int controlInterval = 32;
    static constexpr float amountScaleDb = 0.6f;

private:
    void controlUpdate() noexcept;
    void redesignIfMoved(int slot) noexcept;
    void startFade() noexcept;
    void finishFade() noexcept;

    double sampleRate = 48000.0;
    int numChannels = 1;
    std::array<tune::Band, 3> bands;

    std::array<Slot, 2> slots{};
    SlotSwitch characters{WhileFading::keepsEarlier};
    bool initialised = false;
    Ramp fade;

    float targetGainDb = 0.0f;
    float currentGainDb = 0.0f;
    float glideCoefficient = 0.0f; // per control update: a 25 ms time constant
    int samplesToUpdate = 0;
};

// Bass and treble: two EqBands in series on the same buffers. The chain runs it under its EQ-on
// ramp. Audio thread only.
class ToneEq
{
public:
    struct Settings
    {
        EqBand::Settings bass{0.0f, 1};   // "Lower"
        EqBand::Settings treble{2.0f, 0}; // "Bite"
    };

    ToneEq() noexcept : bass(tune::bassBands), treble(tune::trebleBands) {}

    void prepare(double sampleRate, int numChannels) noexcept
    {
        bass.prepare(sampleRate, numChannels);
        treble.prepare(sampleRate, numChannels);
    }

    void set(const Settings& settings) noexcept
    {
        bass.set(settings.bass);
        treble.set(settings.treble);
    }

    void process(float* const* channels, int n) noexcept
    {
        bass.process(channels, n);
        treble.process(channels, n);
    }

    EqBand& getBass() noexcept { return bass; }
    EqBand& getTreble() noexcept { return treble; }
    const EqBand& getBass() const noexcept { return bass; }
    const EqBand& getTreble() const noexcept { return treble; }

private:
    EqBand bass;
    EqBand treble;
};

} // namespace eng::vocal
