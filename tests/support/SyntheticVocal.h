#pragma once

// Material made in the test itself, the same on every run and every machine that builds the
// tests alike: a vocal-like phrase (voiced syllables with formants and vibrato, sibilants, pauses,
// accents) and a drum-like loop. Tests that only need the engine use it instead of the demo
// recordings, so they need no speech synthesiser and golden renders never move with one.
#include "common/dsp/XorShift32.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace testsupport
{

// A sung-and-spoken phrase at `rate`, `seconds` long, about -20 dBFS RMS while it sounds, with
// peaks up to about -3 dBFS. Syllables of 100 to 300 ms (a fundamental of 110 to 260 Hz with
// vibrato, three formants, a breathy top), sibilants (noise around 5 to 8 kHz) and pauses of
// 30 to 250 ms, some of them silent and some with a faint noise floor.
inline std::vector<float> syntheticVocal(double rate, double seconds, unsigned seed = 1)
{
    constexpr double twoPi = 6.283185307179586;
    sv::XorShift32 random(0x2545F491u ^ (seed * 0x9E3779B9u));
    const auto uniform = [&] { return static_cast<double>(random.uniform()); };
    const auto noise = [&] { return 2.0 * uniform() - 1.0; };

    const auto total = static_cast<size_t>(seconds * rate);
    std::vector<float> out(total, 0.0f);
    double phase = 0.0, vibrato = 0.0;
    // Sibilant band: a two-pole resonator on white noise, then a first-order high-pass.
    double r1 = 0.0, r2 = 0.0, hpIn = 0.0, hpOut = 0.0;

    size_t pos = 0;
    while (pos < total)
    {
        const double kind = uniform();
        const bool voiced = kind < 0.6, sibilant = kind >= 0.6 && kind < 0.8;
        const double lengthSeconds = voiced     ? 0.1 + 0.2 * uniform()
                                     : sibilant ? 0.06 + 0.1 * uniform()
                                                : 0.03 + 0.22 * uniform();
        const auto length = std::min(total - pos, static_cast<size_t>(lengthSeconds * rate));
        const double level = 0.2 + 1.3 * uniform() * uniform(); // accents now and then
        const double f0 = 110.0 + 150.0 * uniform();
        const double formant[3] = {500.0 + 400.0 * uniform(), 1200.0 + 1000.0 * uniform(),
                                   2600.0 + 800.0 * uniform()};
        const double essHz = std::min(5000.0 + 3000.0 * uniform(), 0.4 * rate);
        const double floorLevel = uniform() < 0.5 ? 0.0 : 3e-4; // a silent pause, or about -70 dB
        // Resonator at the ess frequency, radius for a bandwidth of about 2 kHz.
        const double radius = std::exp(-twoPi * 1000.0 / rate);
        const double a1 = -2.0 * radius * std::cos(twoPi * essHz / rate), a2 = radius * radius;
        const double hp = std::exp(-twoPi * 3000.0 / rate);
        const int harmonics = std::max(1, static_cast<int>(std::min(9000.0, 0.45 * rate) / f0));
        const double edge = std::min(0.015 * rate, 0.5 * static_cast<double>(length));

        for (size_t i = 0; i < length; ++i, ++pos)
        {
            // Raised-cosine edges, so syllables start and end like a voice does.
            const double t = static_cast<double>(i);
            const double fromEnd = static_cast<double>(length - 1 - i);
            const double in = edge > 0.0 ? std::min(1.0, std::min(t, fromEnd) / edge) : 1.0;
            const double envelope = 0.5 - 0.5 * std::cos(3.141592653589793 * in);
            double x = 0.0;
            if (voiced)
            {
                vibrato += twoPi * 5.5 / rate;
                phase += twoPi * f0 * (1.0 + 0.02 * std::sin(vibrato)) / rate;
                if (phase > twoPi)
                    phase -= twoPi;
                // Harmonics by the Chebyshev recurrence, each weighted by the formants and a
                // falling slope.
                const double s1 = std::sin(phase), c1 = std::cos(phase);
                double previous = 0.0, current = s1;
                for (int k = 1; k <= harmonics; ++k)
                {
                    const double hz = f0 * k;
                    double weight = 0.0;
                    for (int f = 0; f < 3; ++f)
                    {
                        const double d = (hz - formant[f]) / (80.0 + 0.1 * formant[f]);
                        weight += 1.0 / (1.0 + d * d) / (1 + f);
                    }
                    x += current * (0.15 + weight) / k;
                    const double next = 2.0 * c1 * current - previous;
                    previous = current;
                    current = next;
                }
                x = 0.6 * x + 0.01 * noise();
            }
            const double white = noise();
            const double resonant = white - a1 * r1 - a2 * r2;
            r2 = r1;
            r1 = resonant;
            hpOut = hp * (hpOut + resonant - hpIn);
            hpIn = resonant;
            if (sibilant)
                x = 0.3 * hpOut;
            const double value = voiced || sibilant ? level * envelope * x : floorLevel * white;
            out[pos] = static_cast<float>(std::clamp(value, -0.95, 0.95));
        }
    }
    return out;
}

// The engine tests' vocal: eleven seconds of the phrase at 48 kHz, made once.
inline const std::vector<float>& vocalPhrase()
{
    static const std::vector<float> phrase = syntheticVocal(48000.0, 10.85, 3);
    return phrase;
}

// A stereo take of the same phrase: the right side 7 samples later and 2 dB lower.
struct StereoSignal
{
    std::vector<float> left, right;
};

inline StereoSignal syntheticStereoVocal(double rate, double seconds, unsigned seed = 1)
{
    StereoSignal s;
    s.left = syntheticVocal(rate, seconds, seed);
    s.right.assign(s.left.size(), 0.0f);
    for (size_t i = 7; i < s.left.size(); ++i)
        s.right[i] = 0.794f * s.left[i - 7];
    return s;
}

// A drum-like loop: a kick (a falling sine) on every beat of 120 bpm, a snare (noise with a body)
// on beats 2 and 4 and hats (short noise) on every eighth, with accents drawn once per hit.
inline std::vector<float> syntheticDrums(double rate, double seconds, unsigned seed = 1)
{
    constexpr double twoPi = 6.283185307179586;
    sv::XorShift32 random(0x68E31DA4u ^ (seed * 0x9E3779B9u));
    const auto total = static_cast<size_t>(seconds * rate);
    std::vector<float> out(total, 0.0f);
    const auto eighth = static_cast<size_t>(0.25 * rate);
    for (size_t start = 0, count = 0; start < total; start += eighth, ++count)
    {
        const double accent = 0.6 + 0.4 * static_cast<double>(random.uniform());
        const bool kick = count % 2 == 0, snare = count % 4 == 2;
        const size_t length = std::min(total - start, static_cast<size_t>((kick ? 0.2 : 0.08) * rate));
        double phase = 0.0;
        for (size_t i = 0; i < length; ++i)
        {
            const double t = static_cast<double>(i) / rate;
            const double white = 2.0 * static_cast<double>(random.uniform()) - 1.0;
            double x = 0.25 * white * std::exp(-t / 0.015); // the hat, on every hit
            if (kick)
            {
                phase += twoPi * (50.0 + 100.0 * std::exp(-t / 0.03)) / rate;
                x += 0.8 * std::sin(phase) * std::exp(-t / 0.08);
            }
            if (snare)
                x += (0.5 * white + 0.3 * std::sin(twoPi * 190.0 * t)) * std::exp(-t / 0.04);
            out[start + i] = static_cast<float>(std::clamp(accent * x, -0.95, 0.95));
        }
    }
    return out;
}

} // namespace testsupport
