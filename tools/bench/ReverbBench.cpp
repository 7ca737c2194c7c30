// Times the reverb: its cost per second of audio with one and with two cores running, and the
// time per block of silence after a loud burst, which would rise if states decayed into denormals.
// Flush-to-zero is deliberately left off here, unlike in the plug-in, so that the module is shown
// to stay fast on its own.
#include "sorvel/engine/reverb/Reverb.h"

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace
{

// Thread CPU time, so that other processes on a busy machine count less.
struct Clock
{
    using time_point = double;
    static double now()
    {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
    }
};

double seconds(double a, double b)
{
    return b - a;
}

// Milliseconds of processing per second of audio, for noise through a running module.
double costPerSecond(double rate, int character, bool crossfading)
{
    constexpr int block = 512;
    eng::vocal::Reverb reverb;
    reverb.prepare(rate, block);
    reverb.set({10.0f, character, 6.0f, 30.0f});
    std::vector<float> in(block), left(block), right(block);
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    const int blocks = static_cast<int>(rate * 10.0 / block);
    double busy = 0.0;
    for (int b = 0; b < blocks; ++b)
    {
        for (auto& x : in)
            x = noise(rng);
        // Keep a crossfade going: change the character whenever the last one has settled.
        if (crossfading && !reverb.isCrossfading())
            reverb.set({10.0f, (reverb.getActiveCharacter() + 1) % 3, 6.0f, 30.0f});
        const auto t0 = Clock::now();
        reverb.process(in.data(), left.data(), right.data(), block);
        busy += seconds(t0, Clock::now());
    }
    return 1000.0 * busy / (blocks * double(block) / rate);
}

} // namespace

int main()
{
    std::printf("reverb cost, ms per second of audio (real-time factor), 512-sample blocks\n");
    const char* names[] = {"Plate", "Room", "Hall"};
    for (double rate : {48000.0, 96000.0})
        for (int character = 0; character < 3; ++character)
        {
            const double one = costPerSecond(rate, character, false);
            std::printf("  %5.0f Hz %-5s one core %6.2f ms (%5.0fx)\n", rate, names[character], one,
                        1000.0 / one);
        }
    const double two = costPerSecond(48000.0, 0, true);
    std::printf("  48000 Hz, crossfading all the time (two cores) %6.2f ms (%5.0fx)\n", two, 1000.0 / two);

    // A loud burst, then a minute of silence with the send still up (the module keeps running).
    // The time per block is averaged per 5 s window; it must not rise as the tail dies away.
    constexpr double rate = 48000.0;
    constexpr int block = 512;
    for (int character = 0; character < 3; ++character)
    {
        eng::vocal::Reverb reverb;
        reverb.prepare(rate, block);
        reverb.set({10.0f, character, 20.0f, 0.0f});
        std::vector<float> in(block), left(block), right(block);
        std::mt19937 rng(2);
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        const int burstBlocks = static_cast<int>(0.5 * rate / block);
        for (int b = 0; b < burstBlocks; ++b)
        {
            for (auto& x : in)
                x = noise(rng);
            reverb.process(in.data(), left.data(), right.data(), block);
        }
        std::fill(in.begin(), in.end(), 0.0f);
        std::printf("silence after a burst, %s, decay 20 s, pre-delay 0: median us per block, 5 s windows\n ",
                    names[character]);
        const int windowBlocks = static_cast<int>(5.0 * rate / block);
        std::vector<double> times(static_cast<size_t>(windowBlocks));
        double first = 0.0, slowest = 0.0;
        float lastPeak = 0.0f;
        int denormalWindows = 0;
        for (int w = 0; w < 60; ++w)
        {
            float peak = 0.0f;
#if defined(__SSE__)
            _mm_setcsr(_mm_getcsr() & ~0x3Fu); // clear the exception flags
#endif
            for (auto& time : times)
            {
                const auto t0 = Clock::now();
                reverb.process(in.data(), left.data(), right.data(), block);
                time = seconds(t0, Clock::now());
                for (float v : left)
                    peak = std::max(peak, std::abs(v));
            }
#if defined(__SSE__)
            denormalWindows += (_mm_getcsr() & 0x2u) != 0 ? 1 : 0; // a denormal operand was met
#endif
            // The median shrugs off the odd block that other processes slowed down.
            std::nth_element(times.begin(), times.begin() + windowBlocks / 2, times.end());
            const double perBlock = 1e6 * times[static_cast<size_t>(windowBlocks / 2)];
            if (w == 0)
                first = perBlock;
            slowest = std::max(slowest, perBlock);
            lastPeak = peak;
            std::printf(" %.1f", perBlock);
        }
        std::printf("\n  first window %.1f us, slowest %.1f us (x%.2f); peak of the last window %g; "
                    "windows with arithmetic on denormals: %d\n",
                    first, slowest, slowest / first, double(lastPeak), denormalWindows);
    }
    return 0;
}
