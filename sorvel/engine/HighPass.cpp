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
    for (auto& s : slots)
        for (auto& cascade : s)
        {
            cascade.count = 0;
            cascade.clearState();
        }
    choices.reset(0);
    initialised = false;
}

void HighPass::configure(Slot& s, int choice) noexcept
{
    md::Design d;
    if (choice > 0)
        md::design(d, md::highPass, slopeIndex, sampleRate, cornersHz[static_cast<size_t>(choice - 1)], 0.0,
                   butterworthQ);
    for (auto& cascade : s)
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
        configure(slot(choices.current()), choice);
        choices.setCurrent(choice);
        initialised = true;
    }
    else if (choices.request(choice))
        startFade();
}

void HighPass::startFade() noexcept
{
    configure(slot(choices.current()), choices.currentValue());
    fade.restart(0.0f, 1.0f);
}

void HighPass::finishFade() noexcept
{
    choices.finish();
    if (choices.takeUpWaiting())
        startFade();
}

void HighPass::process(float* const* channels, int n) noexcept
{
    int done = 0;
    while (done < n)
    {
        if (!choices.isFading())
        {
            if (choices.currentValue() == 0)
                return;
            Slot& s = slot(choices.current());
            if (numChannels == 2)
                md::processTwoChannels(s[0], s[1], channels[0] + done, channels[1] + done, n - done);
            else
                s[0].process(channels[0] + done, n - done);
            return;
        }
        const int len = std::min(n - done, fade.getRemaining());
        detail::crossfadeChunk(slot(choices.previous()), slot(choices.current()), fade, channels, numChannels,
                               done, len);
        done += len;
        if (fade.getRemaining() == 0)
            finishFade();
    }
}

} // namespace eng::vocal
