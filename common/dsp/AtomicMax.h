#pragma once

#include <atomic>

namespace sv
{

// Raises target to value if value is larger; never lowers it. The audio thread merges its peaks
// this way, and the editor takes them with exchange(0), so no peak is lost between two reads.
inline void atomicMax(std::atomic<float>& target, float value) noexcept
{
    float current = target.load(std::memory_order_relaxed);
    while (value > current && !target.compare_exchange_weak(current, value, std::memory_order_relaxed))
    {
    }
}

} // namespace sv
