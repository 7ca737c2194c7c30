#include "sorvel/engine/ToneEq.h"

#include "sorvel/engine/primitives/SlotCrossfade.h"
#include "common/dsp/ClampSetting.h"
#include "common/dsp/OnePole.h"

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
        slot.designedGainDb = 0.0f;
        for (auto& cascade : slot.channels)
        {
            cascade.count = 0;
            cascade.clearState();
        }
    }
    characters.reset(0);
    initialised = false;
    targetGainDb = currentGainDb = 0.0f;
    samplesToUpdate = 0;
}

void EqBand::redesign(int index) noexcept
{
    Slot& slot = slots[static_cast<size_t>(index)];
    const tune::Band& band = bands[static_cast<size_t>(characters.valueOf(index))];
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

void EqBand::startFade() noexcept
{
    for (auto& cascade : slots[static_cast<size_t>(characters.current())].channels)
    {
        cascade.count = 0;
        cascade.clearState();
    }
    redesign(characters.current());
    fade.restart(0.0f, 1.0f);
}

void EqBand::set(const Settings& settings) noexcept
{
    // A NaN amount would stick in the glide for good; it counts as 0.
    targetGainDb = sv::clampSetting(settings.amount, -10.0f, 10.0f, 0.0f) * amountScaleDb;
    const int character = sv::clampChoice(settings.character, 3);

    if (!initialised)
    {
        currentGainDb = targetGainDb;
        characters.setCurrent(character);
        redesign(characters.current());
        initialised = true;
    }
    // During a fade the character waits; a request for the one fading in leaves an earlier one
    // waiting (it is faded to after this fade, and the next setting fades back).
    else if (characters.request(character))
        startFade();
}

void EqBand::redesignIfMoved(int index) noexcept
{
    const Slot& slot = slots[static_cast<size_t>(index)];
    const bool moved = std::abs(slot.designedGainDb - currentGainDb) > 0.004f;
    const bool backToFlat = currentGainDb == 0.0f && slot.designedGainDb != 0.0f;
    // When the glide has arrived the band lands exactly on its gain, so a steady setting never
    // keeps a filter up to 0.004 dB short of it (and the result does not depend on the path).
    const bool arrived = currentGainDb == targetGainDb && slot.designedGainDb != currentGainDb;
    if (moved || backToFlat || arrived)
        redesign(index);
}

void EqBand::controlUpdate() noexcept
{
    if (currentGainDb != targetGainDb)
    {
        currentGainDb = targetGainDb + glideCoefficient * (currentGainDb - targetGainDb);
        if (std::abs(currentGainDb - targetGainDb) < 0.002f)
            currentGainDb = targetGainDb;
    }
    redesignIfMoved(characters.sounding());
    if (characters.isFading())
        redesignIfMoved(characters.current());
    samplesToUpdate = controlInterval;
}

void EqBand::finishFade() noexcept
{
    characters.finish();
    if (characters.takeUpWaiting())
        startFade();
}

void EqBand::process(float* const* channels, int n) noexcept
{
    int done = 0;
    while (done < n)
    {
        if (samplesToUpdate == 0)
            controlUpdate();
        int len = std::min(n - done, samplesToUpdate);
        if (characters.isFading())
        {
            len = std::min(len, fade.getRemaining());
            detail::crossfadeChunk(slots[static_cast<size_t>(characters.previous())].channels,
                                   slots[static_cast<size_t>(characters.current())].channels, fade, channels,
                                   numChannels, done, len);
        }
        else
        {
            auto& slot = slots[static_cast<size_t>(characters.current())];
            // Steady (the gain has arrived and the slot is designed for it): the control updates
            // inside the rest of the piece would change nothing, so it runs in one chunk.
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
        if (characters.isFading() && fade.getRemaining() == 0)
            finishFade();
    }
}

} // namespace eng::vocal
