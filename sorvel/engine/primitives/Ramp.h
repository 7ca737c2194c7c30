#pragma once

#include <algorithm>

namespace eng::vocal
{

// Linear ramp behind every switch, gain change, listen change, bypass and filter-set crossfade.
// A new target restarts the ramp only when it differs from the current target, so a steady
// parameter never restarts it; the last step lands exactly on the target. Audio thread only.
class Ramp
{
public:
    void setLength(int samples) noexcept { length = samples > 0 ? samples : 1; }
    int getLength() const noexcept { return length; }

    void setTarget(float newTarget) noexcept
    {
        if (newTarget == target)
            return;
        target = newTarget;
        remaining = length;
        step = (target - value) / static_cast<float>(length);
    }

    // Sets value and target with no motion.
    void jumpTo(float v) noexcept
    {
        value = target = v;
        step = 0.0f;
        remaining = 0;
    }

    // Restarts from `from` towards `to` over the full length, even if `to` is the current target.
    void restart(float from, float to) noexcept
    {
        value = from;
        target = to;
        remaining = length;
        step = (target - value) / static_cast<float>(length);
    }

    float next() noexcept
    {
        if (remaining > 0)
        {
            if (--remaining == 0)
                value = target;
            else
                value += step;
        }
        return value;
    }

    // Advances n samples at once (for pieces where only the end value matters).
    void skip(int n) noexcept
    {
        if (remaining <= 0 || n <= 0)
            return;
        if (n >= remaining)
        {
            value = target;
            remaining = 0;
        }
        else
        {
            value += step * static_cast<float>(n);
            remaining -= n;
        }
    }

    // The values of the next n samples, advancing the ramp. Writes nothing and returns false
    // when it stands still, so a caller can use getValue() for the whole piece.
    bool nextValues(float* values, int n) noexcept
    {
        if (remaining <= 0)
            return false;
        for (int i = 0; i < n; ++i)
            values[i] = next();
        return true;
    }

    // The same, always written: the standing value when the ramp does not move.
    void fill(float* values, int n) noexcept
    {
        if (!nextValues(values, n))
            std::fill(values, values + n, value);
    }

    float getValue() const noexcept { return value; }
    float getTarget() const noexcept { return target; }
    int getRemaining() const noexcept { return remaining; }
    bool isMoving() const noexcept { return remaining > 0; }

private:
    float value = 0.0f;
    float target = 0.0f;
    float step = 0.0f;
    int remaining = 0;
    int length = 1;
};

} // namespace eng::vocal
