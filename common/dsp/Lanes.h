#pragma once

#include <cstdint>
#include <cstring>

// Floats, doubles and lane masks side by side in one register (GCC and Clang vector extensions:
// SSE on x86, NEON on Arm, AVX for the eight-wide ones where a function asks for it), for running
// independent recursions together: each lane does exactly the arithmetic of the scalar code it
// stands for, so results are the same to the bit. The one set of these types for the engine.
namespace sv
{

typedef float Float2 __attribute__((vector_size(8)));
typedef float Float4 __attribute__((vector_size(16)));
typedef float Float8 __attribute__((vector_size(32)));
typedef double Double2 __attribute__((vector_size(16)));
typedef std::int32_t Int2 __attribute__((vector_size(8)));
typedef std::int32_t Int4 __attribute__((vector_size(16)));
typedef std::int32_t Int8 __attribute__((vector_size(32)));

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
