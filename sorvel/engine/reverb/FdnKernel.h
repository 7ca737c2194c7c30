#pragma once

// The reverb core's kernel: one sample of the network (FdnCore.cpp says what it does, step by
// step) done for W samples at a time with GCC and Clang vector extensions (SSE on x86, NEON on
// Arm): W = 8 where the processor has AVX2, 4 otherwise, and 1 for what is left of a chunk. Every
// value sees the same operations in the same order whatever W is, so the output does not depend
// on W or on where groups start. Included by FdnCore.cpp only; everything here is inlined into
// the loops that use it, so the wide loop compiles to 256-bit instructions.
#include "sorvel/engine/reverb/FdnCore.h"

#include "common/dsp/Lanes.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#define FDN_INLINE inline __attribute__((always_inline))

// GCC notes that passing 32-byte vectors by value without AVX has another ABI; these helpers are
// always inlined and never called across a boundary, so there is no ABI to speak of.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wunknown-warning-option"
#pragma clang diagnostic ignored "-Wpsabi"
#elif defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace eng::vocal::fdn
{

// ---------------------------------------------------------------------------------------------
// Lanes: W floats (or ints) side by side.

typedef float Float1 __attribute__((vector_size(4)));
typedef std::int32_t Int1 __attribute__((vector_size(4)));
using Double2 = sv::Double2;

template <int W> struct Vectors;
template <> struct Vectors<1>
{
    using F = Float1;
    using I = Int1;
};
template <> struct Vectors<4>
{
    using F = sv::Float4;
    using I = sv::Int4;
};
template <> struct Vectors<8>
{
    using F = sv::Float8;
    using I = sv::Int8;
};

template <typename V, typename T> FDN_INLINE V load(const T* p) noexcept
{
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename V, typename T> FDN_INLINE void store(T* p, const V& v) noexcept
{
    std::memcpy(p, &v, sizeof v);
}

// True when every lane of a comparison holds.
FDN_INLINE bool allLanes(const Int1& mask) noexcept
{
    return mask[0] != 0;
}

FDN_INLINE bool allLanes(const sv::Int4& mask) noexcept
{
#if defined(__SSE__)
    return _mm_movemask_ps(reinterpret_cast<__m128>(mask)) == 15;
#else
    return (mask[0] & mask[1] & mask[2] & mask[3]) != 0;
#endif
}

FDN_INLINE bool allLanes(const sv::Int8& mask) noexcept
{
    return allLanes(sv::Int4{mask[0], mask[1], mask[2], mask[3]} &
                    sv::Int4{mask[4], mask[5], mask[6], mask[7]});
}

// Lane k of vector j goes to lane j of vector k (W vectors of W lanes).
FDN_INLINE void transpose(Float1*) noexcept {}

FDN_INLINE void transpose(sv::Float4* v) noexcept
{
    using F = sv::Float4;
    const F t0 = __builtin_shufflevector(v[0], v[1], 0, 4, 1, 5);
    const F t1 = __builtin_shufflevector(v[0], v[1], 2, 6, 3, 7);
    const F t2 = __builtin_shufflevector(v[2], v[3], 0, 4, 1, 5);
    const F t3 = __builtin_shufflevector(v[2], v[3], 2, 6, 3, 7);
    v[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    v[1] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    v[2] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    v[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// The same for eight: within each half as above, then the halves swapped across.
FDN_INLINE void transpose(sv::Float8* v) noexcept
{
    sv::Float8 t[8], u[8];
    for (int k = 0; k < 4; ++k)
    {
        t[2 * k] = __builtin_shufflevector(v[2 * k], v[2 * k + 1], 0, 8, 1, 9, 4, 12, 5, 13);
        t[2 * k + 1] = __builtin_shufflevector(v[2 * k], v[2 * k + 1], 2, 10, 3, 11, 6, 14, 7, 15);
    }
    for (int k = 0; k < 2; ++k)
    {
        u[4 * k] = __builtin_shufflevector(t[4 * k], t[4 * k + 2], 0, 1, 8, 9, 4, 5, 12, 13);
        u[4 * k + 1] = __builtin_shufflevector(t[4 * k], t[4 * k + 2], 2, 3, 10, 11, 6, 7, 14, 15);
        u[4 * k + 2] = __builtin_shufflevector(t[4 * k + 1], t[4 * k + 3], 0, 1, 8, 9, 4, 5, 12, 13);
        u[4 * k + 3] = __builtin_shufflevector(t[4 * k + 1], t[4 * k + 3], 2, 3, 10, 11, 6, 7, 14, 15);
    }
    for (int k = 0; k < 4; ++k)
    {
        v[k] = __builtin_shufflevector(u[k], u[k + 4], 0, 1, 2, 3, 8, 9, 10, 11);
        v[k + 4] = __builtin_shufflevector(u[k], u[k + 4], 4, 5, 6, 7, 12, 13, 14, 15);
    }
}

// Lanes 2k and 2k + 1 as doubles.
FDN_INLINE Double2 pairAsDoubles(const sv::Float4& v, int k) noexcept
{
    return k == 0 ? __builtin_convertvector(__builtin_shufflevector(v, v, 0, 1), Double2)
                  : __builtin_convertvector(__builtin_shufflevector(v, v, 2, 3), Double2);
}

FDN_INLINE Double2 pairAsDoubles(const sv::Float8& v, int k) noexcept
{
    const sv::Float4 half =
        k < 2 ? __builtin_shufflevector(v, v, 0, 1, 2, 3) : __builtin_shufflevector(v, v, 4, 5, 6, 7);
    return pairAsDoubles(half, k & 1);
}

// ---------------------------------------------------------------------------------------------
// The network's steps, on lanes (lines, or samples).

// Anything this small is -400 dB: set to zero where it would otherwise decay into denormals.
constexpr float tiny = 1e-20f;

template <typename F> FDN_INLINE F flushTiny(const F& v) noexcept
{
    using I = decltype(v < v);
    const F magnitude = (F)((I)v & 0x7fffffff);
    return (F)((I)v & (magnitude >= tiny));
}

FDN_INLINE float flushTiny(float v) noexcept
{
    return std::abs(v) < tiny ? 0.0f : v;
}

// Catmull-Rom between p1 (newer) and p2 at f, p0 and p3 the outer neighbours.
template <typename F>
FDN_INLINE F catmullRom(const F& p0, const F& p1, const F& p2, const F& p3, const F& f) noexcept
{
    return p1 +
           0.5f * f *
               (p2 - p0 + f * (2.0f * p0 - 5.0f * p1 + 4.0f * p2 - p3 + f * (3.0f * (p1 - p2) + p3 - p0)));
}

// A line's damping section in transposed form.
template <typename F> FDN_INLINE F damp(const F& x, const F& b0, const F& b1, const F& a1, F& state) noexcept
{
    const F out = flushTiny(b0 * x + state);
    state = b1 * x - a1 * out;
    return out;
}

// out[k] = sum over j of (-1)^popcount(k & j) in[j], lane by lane.
template <typename F> FDN_INLINE void hadamard4(const F* in, F* out) noexcept
{
    const F s01 = in[0] + in[1], d01 = in[0] - in[1];
    const F s23 = in[2] + in[3], d23 = in[2] - in[3];
    out[0] = s01 + s23;
    out[1] = d01 + d23;
    out[2] = s01 - s23;
    out[3] = d01 - d23;
}

// What goes back into a line: its share of the Hadamard mix plus its share of the diffused input
// (the sign is +1 or -1, so that is an exact add or subtract).
template <typename F> FDN_INLINE F feedback(const F& mixed, float sign, const F& input) noexcept
{
    return flushTiny(0.25f * mixed + sign * input);
}

// Feed signs of the diffused input, and the signs of the two late outputs, per line.
constexpr std::array<float, 16> inputSigns{1, -1, 1, 1, -1, -1, 1, -1, 1, 1, -1, 1, -1, -1, -1, 1};
constexpr std::array<float, 16> leftSigns{1, 1, -1, 1, -1, 1, 1, -1, -1, 1, 1, 1, -1, -1, 1, -1};
constexpr std::array<float, 16> rightSigns{1, -1, 1, 1, 1, -1, -1, -1, 1, 1, -1, 1, 1, -1, -1, -1};

// ---------------------------------------------------------------------------------------------
// The kernel: groups of W samples. Each line is one vector over the group for its reads and
// writes (contiguous loads and stores); the modulation and the damping go sample by sample with
// W lines per vector. Holds the lines' running values in registers for one chunk of a core.

template <int W, bool WithReflections> class GroupKernel
{
    using F = typename Vectors<W>::F;
    using I = typename Vectors<W>::I;
    static constexpr int lines = FdnCore::numLines;
    static constexpr int lineVectors = lines / W; // vector g holds lines W g .. W g + W - 1
    static constexpr auto width = static_cast<size_t>(W);
    static constexpr auto lineVectorCount = static_cast<size_t>(lineVectors);

public:
    FDN_INLINE explicit GroupKernel(FdnCore& owner) noexcept : core(owner)
    {
        for (int g = 0; g < lineVectors; ++g)
        {
            const auto at = static_cast<size_t>(W * g);
            lfoC[g] = load<F>(&core.lfoCos[at]);
            lfoS[g] = load<F>(&core.lfoSin[at]);
            rotC[g] = load<F>(&core.rotCos[at]);
            rotS[g] = load<F>(&core.rotSin[at]);
            dep[g] = load<F>(&core.depth[at]);
            b0[g] = load<F>(&core.dampB0[at]);
            b1[g] = load<F>(&core.dampB1[at]);
            a1[g] = load<F>(&core.dampA1[at]);
            state[g] = load<F>(&core.dampState[at]);
            floorLow[g] = load<F>(&core.modulationFloor[at]);
            offset[g] = load<I>(&core.lineOffset[at]);
            baseLen[g] = load<I>(&core.baseLength[at]);
        }
    }

    // Groups from sample `from` of the chunk on, as many as fit before n; returns where they end.
    // The outputs are written, not added to.
    FDN_INLINE int run(const float* input, const float* reflectionLevel, float* outL, float* outR, int from,
                       int n) noexcept
    {
        int t = from;
        for (; t + W <= n; t += W)
        {
            F modulation[width][lineVectorCount];
            const bool sameWholes = turnModulation(modulation);
            F x[lines];
            readLines(modulation, sameWholes, x);
            F y[lines];
            dampLines(x, y);
            const F d = diffuse(load<F>(input + t));
            F left, right;
            lateOutput(y, left, right);
            feedBack(y, d);
            if constexpr (WithReflections)
                addReflections(reflectionLevel, t, left, right);
            followTail(left, right);
            store(outL + t, left);
            store(outR + t, right);
        }
        for (int g = 0; g < lineVectors; ++g)
        {
            const auto at = static_cast<size_t>(W * g);
            store(&core.lfoCos[at], lfoC[g]);
            store(&core.lfoSin[at], lfoS[g]);
            store(&core.dampState[at], state[g]);
            store(&core.modulationFloor[at], floorLow[g]);
        }
        return t;
    }

private:
    // 1. Modulation, sample by sample: each line's phasor turns one step; m = depth x sine is the
    //    modulation in samples. True while every line's modulation stays within the same whole
    //    sample as before (nearly always: it moves by well under a hundredth of a sample per
    //    sample), so that only the fractions need computing.
    FDN_INLINE bool turnModulation(F (&modulation)[width][lineVectorCount]) noexcept
    {
        I inside = (F{} == F{}); // all true
        for (int q = 0; q < lineVectors; ++q)
        {
            F lowest{}, highest{};
            for (int k = 0; k < W; ++k)
            {
                const F co = lfoC[q] * rotC[q] - lfoS[q] * rotS[q];
                const F si = lfoS[q] * rotC[q] + lfoC[q] * rotS[q];
                lfoC[q] = co;
                lfoS[q] = si;
                const F m = dep[q] * si;
                lowest = k == 0 ? m : (m < lowest ? m : lowest);
                highest = k == 0 ? m : (m > highest ? m : highest);
                modulation[k][q] = m;
            }
            inside &= (lowest >= floorLow[q]) & (highest < floorLow[q] + 1.0f);
        }
        return allLanes(inside);
    }

    // 2. Each line read `base + modulation` samples back with four-point Catmull-Rom
    //    interpolation, line by line over the group: while a line's whole modulation stays put,
    //    its samples read neighbouring runs.
    FDN_INLINE void readLines(const F (&modulation)[width][lineVectorCount], bool sameWholes, F* x) noexcept
    {
        const float* const line = core.lines.data();
        const int mask = core.lineMask;
        const int readAt = core.writePos - 2;
        if (sameWholes)
        {
            alignas(32) std::int32_t start[lines];
            for (int q = 0; q < lineVectors; ++q)
                store(start + W * q,
                      offset[q] + ((readAt - load<I>(&core.readLag[static_cast<size_t>(W * q)])) & mask));
            for (int q = 0; q < lineVectors; ++q)
            {
                F f[width];
                for (int k = 0; k < W; ++k)
                    f[k] = modulation[k][q] - floorLow[q];
                transpose(f);
                for (int k = 0; k < W; ++k)
                {
                    const float* const p = line + start[W * q + k];
                    x[W * q + k] =
                        catmullRom(load<F>(p + 3), load<F>(p + 2), load<F>(p + 1), load<F>(p), f[k]);
                }
            }
            return;
        }
        // Some line moved to another whole sample: floors sample by sample.
        for (int q = 0; q < lineVectors; ++q)
        {
            I whole[width];
            F f[width];
            I moved{};
            for (int k = 0; k < W; ++k)
            {
                const F m = modulation[k][q];
                whole[k] = __builtin_convertvector(m, I);
                whole[k] += m < __builtin_convertvector(whole[k], F); // truncation to floor (true is -1)
                f[k] = m - __builtin_convertvector(whole[k], F);
                moved |= whole[k] - whole[0];
            }
            transpose(f);
            const I lag = baseLen[q] + whole[0];
            for (int k = 0; k < W; ++k)
            {
                const float* const lineStart = line + offset[q][k];
                const int first = readAt - lag[k];
                F p0, p1, p2, p3;
                if (moved[k] == 0)
                {
                    const float* const p = lineStart + (first & mask);
                    p3 = load<F>(p);
                    p2 = load<F>(p + 1);
                    p1 = load<F>(p + 2);
                    p0 = load<F>(p + 3);
                }
                else
                {
                    for (int s = 0; s < W; ++s)
                    {
                        const float* const p = lineStart + ((first + s + whole[0][k] - whole[s][k]) & mask);
                        p3[s] = p[0];
                        p2[s] = p[1];
                        p1[s] = p[2];
                        p0[s] = p[3];
                    }
                }
                x[W * q + k] = catmullRom(p0, p1, p2, p3, f[k]);
            }
            // The newest sample's floor is the one the next group expects.
            floorLow[q] = __builtin_convertvector(whole[W - 1], F);
            store(&core.readLag[static_cast<size_t>(W * q)], baseLen[q] + whole[W - 1]);
        }
    }

    // 3. Each line's damping section, sample by sample across the lines.
    FDN_INLINE void dampLines(const F* x, F* y) noexcept
    {
        for (int q = 0; q < lineVectors; ++q)
        {
            F v[width];
            for (int k = 0; k < W; ++k)
                v[k] = x[W * q + k];
            transpose(v);
            for (int s = 0; s < W; ++s)
                v[s] = damp(v[s], b0[q], b1[q], a1[q], state[q]);
            transpose(v);
            for (int k = 0; k < W; ++k)
                y[W * q + k] = v[k];
        }
    }

    // 4. The input through the four all-passes in series, w = x + g w[n - D], y = w[n - D] - g w
    //    (every all-pass is at least a group long).
    FDN_INLINE F diffuse(F d) noexcept
    {
        float* const ap = core.allPass.data();
        const float g = core.allPassGain;
        const int write = core.allPassWrite, mask = core.allPassMask;
        for (int k = 0; k < FdnCore::numAllPasses; ++k)
        {
            float* const apLine = ap + k * core.allPassStride;
            const F delayed = load<F>(apLine + ((write - core.allPassDelay[static_cast<size_t>(k)]) & mask));
            const F w = flushTiny(d + g * delayed);
            if (write >= FdnCore::allPassGuard && write <= mask - (W - 1))
                store(apLine + write, w);
            else
                for (int s = 0; s < W; ++s)
                {
                    const int pos = (write + s) & mask;
                    apLine[pos] = w[s];
                    if (pos < FdnCore::allPassGuard)
                        apLine[pos + core.allPassLength] = w[s];
                }
            d = delayed - g * w;
        }
        core.allPassWrite = (write + W) & mask;
        return d;
    }

    // 5. The late output: the lines' signed sums, scaled last. The gain is a power of two (0.25 x
    //    1 in every character), so this equals weighting each line first, to the bit.
    FDN_INLINE void lateOutput(const F* y, F& left, F& right) const noexcept
    {
        F acc[2][4];
        for (int b = 0; b < 4; ++b)
        {
            const auto at = static_cast<size_t>(b);
            acc[0][b] = leftSigns[at] * y[b] + leftSigns[at + 4] * y[4 + b] + leftSigns[at + 8] * y[8 + b] +
                        leftSigns[at + 12] * y[12 + b];
            acc[1][b] = rightSigns[at] * y[b] + rightSigns[at + 4] * y[4 + b] +
                        rightSigns[at + 8] * y[8 + b] + rightSigns[at + 12] * y[12 + b];
        }
        left = core.lateGain * ((acc[0][0] + acc[0][1]) + (acc[0][2] + acc[0][3]));
        right = core.lateGain * ((acc[1][0] + acc[1][1]) + (acc[1][2] + acc[1][3]));
    }

    // 6. Feedback: the orthonormal 16 x 16 Hadamard mix of the lines (H4 over the top two index
    //    bits, then over the bottom two) plus each line's share of the diffused input, written
    //    into the lines.
    FDN_INLINE void feedBack(const F* y, const F& d) noexcept
    {
        F h[lines], r[lines];
        for (int b = 0; b < 4; ++b)
        {
            const F in[4] = {y[b], y[4 + b], y[8 + b], y[12 + b]};
            F out[4];
            hadamard4(in, out);
            for (int a = 0; a < 4; ++a)
                h[4 * a + b] = out[a];
        }
        for (int a = 0; a < 4; ++a)
            hadamard4(h + 4 * a, r + 4 * a);

        float* const line = core.lines.data();
        const int write = core.writePos, mask = core.lineMask;
        float* const dst = line + write;
        if (write >= FdnCore::lineGuard && write <= mask - (W - 1))
            for (int j = 0; j < lines; ++j)
                store(dst + j * core.lineStride, feedback(r[j], inputSigns[static_cast<size_t>(j)], d));
        else
            for (int j = 0; j < lines; ++j)
            {
                const F v = feedback(r[j], inputSigns[static_cast<size_t>(j)], d);
                float* const lineStart = line + j * core.lineStride;
                for (int s = 0; s < W; ++s)
                {
                    const int pos = (write + s) & mask;
                    lineStart[pos] = v[s];
                    if (pos < FdnCore::lineGuard)
                        lineStart[pos + core.lineLength] = v[s];
                }
            }
        core.writePos = (write + W) & mask;
    }

    // 7. The early reflections of each side (summed for the chunk beforehand) through their
    //    one-pole low-pass, times the reflection level, added to the late output.
    FDN_INLINE void addReflections(const float* reflectionLevel, int t, F& left, F& right) noexcept
    {
        const float c = core.reflectionCoeff, oneMinusC = 1.0f - c;
        for (int s = 0; s < W; ++s)
        {
            const float level = reflectionLevel[t + s];
            const auto at = static_cast<size_t>(t + s);
            core.reflectionL = flushTiny(oneMinusC * core.sideL[at] * level + c * core.reflectionL);
            core.reflectionR = flushTiny(oneMinusC * core.sideR[at] * level + c * core.reflectionR);
            left[s] += core.reflectionL;
            right[s] += core.reflectionR;
        }
    }

    // 8. The tail energy, 0.9995 tail + 0.0005 (left^2 + right^2): the squares for the group at
    //    once, the recursion sample by sample.
    FDN_INLINE void followTail(const F& left, const F& right) noexcept
    {
        double e = core.tail;
        if constexpr (W == 1)
        {
            const double l = left[0], rr = right[0];
            e = 0.9995 * e + 0.0005 * (l * l + rr * rr);
        }
        else
            for (int k = 0; k < W / 2; ++k)
            {
                const Double2 l = pairAsDoubles(left, k), rr = pairAsDoubles(right, k);
                const Double2 power = 0.0005 * (l * l + rr * rr);
                e = 0.9995 * e + power[0];
                e = 0.9995 * e + power[1];
            }
        core.tail = e;
    }

    FdnCore& core;
    F lfoC[lineVectorCount], lfoS[lineVectorCount], rotC[lineVectorCount], rotS[lineVectorCount],
        dep[lineVectorCount], b0[lineVectorCount], b1[lineVectorCount], a1[lineVectorCount],
        state[lineVectorCount], floorLow[lineVectorCount];
    I offset[lineVectorCount], baseLen[lineVectorCount];
};

} // namespace eng::vocal::fdn
