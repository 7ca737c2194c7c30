#include "sorvel/engine/HighPass.h"

#include "sorvel/engine/primitives/SlotCrossfade.h"

#include "common/dsp/ClampSetting.h"

#include <algorithm>

namespace eng::vocal
{

void HighPass::prepare(double rate, int channels) noexcept
{
    sampleRate = rate;
    numChannels = std::clamp(channels, 1, 2);
    cornersHz = tune::hpfHz;
    fade.setLength(detail::crossfadeSamples(rate));
    fade.jumpTo(0.0f);
    for (auto& slot : slots)
    {
        slot.choice = 0;
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
}

void HighPass::configure(Slot& slot, int choice) noexcept
{
    slot.choice = sv::clampChoice(choice, 5);
    md::Design d;
    if (slot.choice > 0)
        md::design(d, md::highPass, slopeIndex, sampleRate, cornersHz[static_cast<size_t>(slot.choice - 1)],
                   0.0, butterworthQ);
    for (auto& cascade : slot.channels)
    {
        cascade.setDesign(d);
        cascade.clearState();
    }
}

void HighPass::set(const Settings& settings) noexcept
{
    const int choice = sv::clampChoice(settings.choice, 5);
    if (!initialised)
    {
        configure(slots[static_cast<size_t>(active)], choice);
        initialised = true;
    }
    else if (fading)
        pending = choice;
    else if (choice != getActiveChoice())
    {
        configure(slots[static_cast<size_t>(1 - active)], choice);
        startFade();
        pending = -1;
    }
}

void HighPass::startFade() noexcept
{
    fade.restart(0.0f, 1.0f);
    fading = true;
}

void HighPass::finishFade() noexcept
{
    active = 1 - active;
    fading = false;
    if (pending >= 0 && pending != getActiveChoice())
    {
        configure(slots[static_cast<size_t>(1 - active)], pending);
        startFade();
    }
    pending = -1;
}

void HighPass::process(float* const* channels, int n) noexcept
{
    int done = 0;
    while (done < n)
    {
        if (!fading)
        {
            Slot& slot = slots[static_cast<size_t>(active)];
            if (slot.choice == 0)
                return;
            if (numChannels == 2)
                md::processTwoChannels(slot.channels[0], slot.channels[1], channels[0] + done,
                                       channels[1] + done, n - done);
            else
                slot.channels[0].process(channels[0] + done, n - done);
            return;
        }
        const int len = std::min(n - done, fade.getRemaining());
        detail::crossfadeRun(slots[static_cast<size_t>(active)].channels,
                             slots[static_cast<size_t>(1 - active)].channels, fade, channels, numChannels,
                             done, len);
        done += len;
        if (fade.getRemaining() == 0)
            finishFade();
    }
}

} // namespace eng::vocal
