#pragma once

#include <cstdint>

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace testsupport
{

// Flushes denormals to zero for its scope, as the processors do for every block (JUCE's
// ScopedNoDenormals), so that engine tests on real material with silences run at the speed and
// with the numbers the plug-in sees.
class ScopedFlushToZero
{
public:
    ScopedFlushToZero()
    {
#if defined(__SSE__) || defined(__x86_64__)
        saved = _mm_getcsr();
        _mm_setcsr(static_cast<unsigned>(saved | 0x8040u)); // flush-to-zero and denormals-are-zero
#elif defined(__aarch64__)
        asm volatile("mrs %0, fpcr" : "=r"(saved));
        const std::uint64_t flushing = saved | (1ull << 24);
        asm volatile("msr fpcr, %0" : : "r"(flushing));
#endif
    }

    ~ScopedFlushToZero()
    {
#if defined(__SSE__) || defined(__x86_64__)
        _mm_setcsr(static_cast<unsigned>(saved));
#elif defined(__aarch64__)
        asm volatile("msr fpcr, %0" : : "r"(saved));
#endif
    }

    ScopedFlushToZero(const ScopedFlushToZero&) = delete;
    ScopedFlushToZero& operator=(const ScopedFlushToZero&) = delete;

private:
    std::uint64_t saved = 0;
};

} // namespace testsupport
