#pragma once

#include <juce_core/juce_core.h>

// The block sizes a render uses: fixed, or varying within a range as hosts do, the same sequence
// for the same seed (tests replay it to drive a processor directly).
class BlockSizes
{
public:
    BlockSizes(int minimum, int maximum, juce::int64 seed) : lo(minimum), hi(maximum), random(seed) {}

    int next() { return lo == hi ? hi : lo + random.nextInt(hi - lo + 1); }

private:
    int lo, hi;
    juce::Random random;
};
