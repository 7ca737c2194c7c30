#pragma once

#include <algorithm>

namespace sv
{

// A setting brought into the range its owner accepts: the one way every module (and the
// chain, for its own values) sanitises what it is given. Anything that is not a number becomes
// `otherwise` (by default the low end), so a damaged value can never stick in a glide.
inline float clampSetting(float value, float low, float high, float otherwise) noexcept
{
    return value != value ? otherwise : std::min(std::max(value, low), high);
}

inline float clampSetting(float value, float low, float high) noexcept
{
    return clampSetting(value, low, high, low);
}

// A choice brought into 0..count - 1.
inline int clampChoice(int index, int count) noexcept
{
    return std::clamp(index, 0, count - 1);
}

} // namespace sv
