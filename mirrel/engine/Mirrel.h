#pragma once

#include "Random.h"

namespace mr
{

// The placement engine: the block's copy of the parameters, the last placement and the draw of
// a new position for each hit. Audio thread only.
class Mirrel
{
public:
    struct Settings
    {
        float sensitivity = 8.0f; // dB the fast envelope must rise above the slow one
        float width = 100.0f;     // percent
        float hole = 30.0f;       // percent of the width kept free around the centre
        float bias = 50.0f;       // percent: pushes positions to the sides
        int alternate = 1;        // 0 "Off", 1 "Mostly", 2 "Always"
        float minJump = 20.0f;    // percent
        float slewMs = 2.0f;
        bool bypass = false;
        int seed = 1;
    };

    // Draws the position of a new hit (-1 left .. +1 right) from `random`, which it advances,
    // and remembers it as the last placement.
    float draw(Random& random) noexcept;

    // Forgets the last placement: the next hit ignores min jump and alternation.
    void resetLast() noexcept;
    void setLast(float position, int side) noexcept;

    Settings settings;
    float lastPosition = 0.0f;
    int lastSide = 0;
    bool firstHit = true;
};

} // namespace mr
