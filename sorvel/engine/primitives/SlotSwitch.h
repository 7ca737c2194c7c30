#pragma once

namespace eng::vocal
{

// What a change asked for while a crossfade runs does: it always waits for the fade's end (the
// latest one wins), and the rules differ only in a request for what is fading in already.
enum class WhileFading
{
    latestWins,     // it waits as well (and is dropped at the end, having arrived)
    keepsEarlier,   // it leaves an earlier waiting change in place
    cancelsEarlier, // it cancels an earlier waiting change
};

// The switch behind every click-free change between two complete slots (the High-Pass's and the
// EQ bands' filter sets, the shimmer's and the reverb's cores, the chain's listen sources): which
// slot is current (the one heard alone, or the one fading in while a fade runs), the value each
// slot holds (a choice, a character, a source), and the change that waits for a running fade.
// The owner keeps the slots and the ramp; whenever this says a fade starts, it loads the current
// slot with currentValue() and restarts its ramp. Audio thread only.
class SlotSwitch
{
public:
    explicit constexpr SlotSwitch(WhileFading whileFading) noexcept : rule(whileFading) {}

    // Both slots hold `value`, slot 0 is current; no fade, nothing waits.
    void reset(int value) noexcept
    {
        values[0] = values[1] = value;
        currentSlot = 0;
        fading = false;
        waiting = -1;
    }

    // The current slot was loaded with `value` directly (a first setting, or nothing sounds).
    void setCurrent(int value) noexcept { values[currentSlot] = value; }

    // A change to `value`. True when a fade to it starts now: the other slot has become current.
    bool request(int value) noexcept
    {
        if (fading)
        {
            if (value != values[currentSlot] || rule == WhileFading::latestWins)
                waiting = value;
            else if (rule == WhileFading::cancelsEarlier)
                waiting = -1;
            return false;
        }
        waiting = -1;
        if (value == values[currentSlot])
            return false;
        start(value);
        return true;
    }

    // The fade has ended: the current slot sounds alone. What waits stays waiting.
    void finish() noexcept { fading = false; }

    // After the fade's end: true when the waiting change differs from the current slot and
    // starts the next fade now. The waiting change is cleared either way.
    bool takeUpWaiting() noexcept
    {
        const int next = waiting;
        waiting = -1;
        if (next < 0 || next == values[currentSlot])
            return false;
        start(next);
        return true;
    }

    // The waiting change (-1: none), cleared: for an owner that takes it without a fade.
    int takeWaiting() noexcept
    {
        const int next = waiting;
        waiting = -1;
        return next;
    }

    // The fade is dropped before its end: the previous slot is current again, nothing waits.
    void cancel() noexcept
    {
        if (fading)
            currentSlot = 1 - currentSlot;
        fading = false;
        waiting = -1;
    }

    bool isFading() const noexcept { return fading; }
    int current() const noexcept { return currentSlot; }
    int previous() const noexcept { return 1 - currentSlot; }
    // The slot heard: the previous one while a fade runs (it is the fade's starting point).
    int sounding() const noexcept { return fading ? 1 - currentSlot : currentSlot; }
    int currentValue() const noexcept { return values[currentSlot]; }
    int previousValue() const noexcept { return values[1 - currentSlot]; }
    int valueOf(int slot) const noexcept { return values[slot & 1]; }
    int getWaiting() const noexcept { return waiting; }

private:
    void start(int value) noexcept
    {
        currentSlot = 1 - currentSlot;
        values[currentSlot] = value;
        fading = true;
    }

    WhileFading rule;
    int values[2] = {0, 0};
    int currentSlot = 0;
    bool fading = false;
    int waiting = -1;
};

} // namespace eng::vocal
