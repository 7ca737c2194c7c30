#include "sorvel/engine/ToneEq.h"
#include "common/dsp/ClampSetting.h"
#include "common/dsp/OnePole.h"

#include "sorvel/engine/primitives/SlotCrossfade.h"

#include <algorithm>
#include <cmath>

namespace eng::vocal
{

void EqBand::prepare(double rate, int channels) noexcept
{
    sampleRate = rate;
    numChannels = std::clamp(channels, 1, 2);
    fade.setLength(detail::crossfadeSamples(rate));
    fade.jumpTo(0.0f);
    glideCoefficient = static_cast<float>(sv::onePoleCoefficient(0.025, rate / controlInterval));
    for (auto& slot : slots)
    {
        slot.character = 0;
        slot.designedGainDb = 0.0f;
        for (auto& cascade : slot.channels)
        {
            cascade.count = 0;
            cascade.clearState();
        }
    }
    active = 0;
    pending = -1;
    fading = false;
    initialised = false;
    targetGainDb = currentGainDb = 0.0f;
    samplesToUpdate = 0;
}

void EqBand::redesign(Slot& slot) noexcept
{
    const tune::Band& band = bands[static_cast<size_t>(slot.character)];
    const int kind = band.kind == 1 ? md::lowShelf : band.kind == 2 ? md::highShelf : md::bell;
    md::Design d;
    // A gain of exactly 0 designs nothing: count 0, a unity band.
    md::design(d, kind, 0, sampleRate, band.hz, currentGainDb, band.q);
    for (auto& cascade : slot.channels)
    {
        const bool hadSection = cascade.count > 0;
        cascade.setDesign(d);
        if (!hadSection || cascade.count == 0)
            cascade.clearState();
    }
    slot.designedGainDb = currentGainDb;
}

void EqBand::startCharacter(Slot& slot, int character) noexcept
{
    slot.character = character;
    for (auto& cascade : slot.channels)
    {
        cascade.count = 0;
        cascade.clearState();
    }
    redesign(slot);
    fade.restart(0.0f, 1.0f);
    fading = true;
}

void EqBand::set(const Settings& settings) noexcept
{
    // A NaN amount would stick in the glide for good; it counts as 0.
    targetGainDb = sv::clampSetting(settings.amount, -10.0f, 10.0f, 0.0f) * amountScaleDb;
    const int character = sv::clampChoice(settings.character, 3);

    if (!initialised)
    {
        currentGainDb = targetGainDb;
        Slot& slot = slots[static_cast<size_t>(active)];
        slot.character = character;
        redesign(slot);
        initialised = true;
    }
    else if (fading)
    {
        // A request for the character already fading in leaves an earlier pending one in place.
        if (character != slots[static_cast<size_t>(1 - active)].character)
            pending = character;
    }
    else if (character != getActiveCharacter())
    {
        startCharacter(slots[static_cast<size_t>(1 - active)], character);
        pending = -1;
    }
}

void EqBand::redesignIfMoved(Slot& slot) noexcept
{
    const bool moved = std::abs(slot.designedGainDb - currentGainDb) > 0.004f;
    const bool backToFlat = currentGainDb == 0.0f && slot.designedGainDb != 0.0f;
    // When the glide has arrived the band lands exactly on its gain, so a steady setting never
    // keeps a filter up to 0.004 dB short of it (and the result does not depend on the path).
    const bool arrived = currentGainDb == targetGainDb && slot.designedGainDb != currentGainDb;
    if (moved || backToFlat || arrived)
        redesign(slot);
}

void EqBand::controlUpdate() noexcept
{
    if (currentGainDb != targetGainDb)
    {
        currentGainDb = targetGainDb + glideCoefficient * (currentGainDb - targetGainDb);
        if (std::abs(currentGainDb - targetGainDb) < 0.002f)
            currentGainDb = targetGainDb;
    }
    redesignIfMoved(slots[static_cast<size_t>(active)]);
    if (fading)
        redesignIfMoved(slots[static_cast<size_t>(1 - active)]);
    samplesToUpdate = controlInterval;
}

void EqBand::finishFade() noexcept
{
    active = 1 - active;
    fading = false;
    if (pending >= 0 && pending != getActiveCharacter())
        startCharacter(slots[static_cast<size_t>(1 - active)], pending);
    pending = -1;
}

void EqBand::process(float* const* channels, int n) noexcept
{
    int done = 0;
    while (done < n)
    {
        if (samplesToUpdate == 0)
            controlUpdate();
        int len = std::min(n - done, samplesToUpdate);
        if (fading)
        {
            len = std::min(len, fade.getRemaining());
            detail::crossfadeRun(slots[static_cast<size_t>(active)].channels,
                                 slots[static_cast<size_t>(1 - active)].channels, fade, channels, numChannels,
                                 done, len);
        }
        else
        {
            auto& slot = slots[static_cast<size_t>(active)];
            // Steady (the gain has arrived and the slot is designed for it): the control updates
            // inside the rest of the piece would change nothing, so it runs in one stretch.
            if (currentGainDb == targetGainDb && slot.designedGainDb == currentGainDb)
                len = n - done;
            if (numChannels == 2)
                md::processTwoChannels(slot.channels[0], slot.channels[1], channels[0] + done,
                                       channels[1] + done, len);
            else
                slot.channels[0].process(channels[0] + done, len);
        }
        done += len;
        if (len <= samplesToUpdate)
            samplesToUpdate -= len;
        else
        {
            // The updates skipped keep their places: every controlInterval samples.
            const int sinceLast = (len - samplesToUpdate) % controlInterval;
            samplesToUpdate = sinceLast == 0 ? 0 : controlInterval - sinceLast;
        }
        if (fading && fade.getRemaining() == 0)
            finishFade();
    }
}

} // namespace eng::vocal
