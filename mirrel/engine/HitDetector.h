#pragma once

#include "common/dsp/Biquad.h"

namespace mr
{

// Finds hits in the mono sum: band-limited to 150 Hz .. 6 kHz, a fast envelope (1 ms) rising
// far enough above a slow one (50 ms) is a hit, with a 40 ms hold against re-triggers.
// Audio thread only.
class HitDetector
{
public:
    void prepare(double sampleRate);
    void setThresholdRatio(float ratio) noexcept { thresholdRatio = ratio; }

    // One sample of the mono sum; true on the sample a hit is detected. A rising edge within
    // the hold of the previous hit is not a hit.
    bool process(float mono) noexcept
    {
        const float e = std::abs(lowPass.process(highPass2.process(highPass1.process(mono))));
        fast = e + fastCoeff * (fast - e);
        slow = fast + slowCoeff * (slow - fast);

        if (holdCounter > 0)
            --holdCounter;

        const bool nowAbove = fast > 0.003f && fast > slow * thresholdRatio;
        bool hit = false;
        if (nowAbove && !above)
        {
            above = true;
            if (holdCounter == 0)
            {
                hit = true;
                holdCounter = hold;
            }
        }
        else if (!nowAbove)
        {
            above = false;
        }
        return hit;
    }

private:
    sv::Biquad highPass1, highPass2, lowPass;
    float fastCoeff = 0.0f, slowCoeff = 0.0f;
    float fast = 0.0f, slow = 0.0f;
    float thresholdRatio = 2.5118864f;
    int hold = 1920;
    int holdCounter = 0;
    bool above = false;
};

} // namespace mr
