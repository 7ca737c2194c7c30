#pragma once

#include <cstring>

// Four floats or two doubles in one register (GCC and Clang vector extensions: SSE on x86, NEON
// on Arm), for running independent recursions side by side: each lane does exactly the
// arithmetic of the scalar code it stands for, so results are the same to the bit.
namespace sv
{

typedef float Float4 __attribute__((vector_size(16)));
typedef double Double2 __attribute__((vector_size(16)));

// Unaligned loads and stores from and to arrays of the element type.
template <typename Vector, typename T> inline Vector loadLanes(const T* p) noexcept
{
    Vector v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename Vector, typename T> inline void storeLanes(T* p, Vector v) noexcept
{
    std::memcpy(p, &v, sizeof v);
}

inline Float4 splat4(float x) noexcept
{
    return Float4{x, x, x, x};
}

} // namespace sv
