// Writes the demo drum loop: four bars of a plain rock beat at 120 bpm, 48 kHz stereo, 24-bit.
// Synthesised here (no samples), deterministic, so renders of it can be compared across runs.
// Usage: demo-drum-loop <out.wav>
#include "common/dsp/XorShift32.h"
#include "wav/WavFile.h"

#include <cmath>
#include <iostream>

namespace
{
constexpr double rate = 48000.0;
constexpr double bpm = 120.0;
constexpr double pi = 3.14159265358979323846;

struct Voice
{
    std::vector<float>& left;
    std::vector<float>& right;
    sv::XorShift32& rng;

    float noise() { return rng.uniform() * 2.0f - 1.0f; }

    void kick(double at, float gain)
    {
        const int start = static_cast<int>(at * rate);
        double phase = 0.0;
        for (int i = 0; i < static_cast<int>(0.45 * rate); ++i)
        {
            const double t = i / rate;
            const double hz = 48.0 + 110.0 * std::exp(-t / 0.035);
            phase += 2.0 * pi * hz / rate;
            const double body = std::sin(phase) * std::exp(-t / 0.22);
            const double click = noise() * std::exp(-t / 0.002) * 0.3;
            add(start + i, static_cast<float>(gain * (body + click)), 0.0f);
        }
    }

    void snare(double at, float gain)
    {
        const int start = static_cast<int>(at * rate);
        float hp = 0.0f, prev = 0.0f;
        for (int i = 0; i < static_cast<int>(0.3 * rate); ++i)
        {
            const double t = i / rate;
            const float n = noise();
            hp = 0.7f * (hp + n - prev); // brightens the rattle
            prev = n;
            const double tone = std::sin(2.0 * pi * 185.0 * t) * std::exp(-t / 0.05);
            const double rattle = hp * std::exp(-t / 0.09);
            add(start + i, static_cast<float>(gain * (0.6 * tone + 0.7 * rattle)), -0.05f);
        }
    }

    void hat(double at, float gain, double decaySeconds)
    {
        const int start = static_cast<int>(at * rate);
        float x1 = 0.0f, x2 = 0.0f;
        for (int i = 0; i < static_cast<int>(decaySeconds * 5.0 * rate); ++i)
        {
            const double t = i / rate;
            const float n = noise();
            const float high = n - 2.0f * x1 + x2; // second difference: mostly above 8 kHz
            x2 = x1;
            x1 = n;
            add(start + i, static_cast<float>(gain * 0.25 * high * std::exp(-t / decaySeconds)), 0.15f);
        }
    }

    // pan: -1 left .. +1 right, a little placement so the loop is not dead mono.
    void add(int i, float v, float pan)
    {
        if (i < 0 || i >= static_cast<int>(left.size()))
            return;
        left[static_cast<size_t>(i)] += v * (1.0f - pan) * 0.5f * 1.41421356f;
        right[static_cast<size_t>(i)] += v * (1.0f + pan) * 0.5f * 1.41421356f;
    }
};
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: demo-drum-loop <out.wav>\n";
        return 2;
    }

    const double beat = 60.0 / bpm;
    const int bars = 4;
    wav::Audio audio;
    audio.sampleRate = rate;
    audio.channels.assign(2, std::vector<float>(static_cast<size_t>((bars * 4 * beat + 0.5) * rate), 0.0f));

    sv::XorShift32 rng(0x0D5A11u);
    Voice v{audio.channels[0], audio.channels[1], rng};
    for (int bar = 0; bar < bars; ++bar)
    {
        const double t0 = bar * 4 * beat;
        v.kick(t0, 0.9f);
        v.kick(t0 + 2 * beat, 0.85f);
        v.kick(t0 + 2.5 * beat, 0.6f);
        v.snare(t0 + beat, 0.7f);
        v.snare(t0 + 3 * beat, 0.75f);
        if (bar % 2 == 1)
            v.snare(t0 + 3.75 * beat, 0.25f); // ghost note
        for (int eighth = 0; eighth < 8; ++eighth)
        {
            const bool open = bar == bars - 1 && eighth == 7;
            v.hat(t0 + eighth * 0.5 * beat, eighth % 2 == 0 ? 0.5f : 0.32f, open ? 0.12 : 0.025);
        }
    }

    std::string error;
    if (!wav::write24(argv[1], audio, error))
    {
        std::cerr << "demo-drum-loop: " << error << "\n";
        return 1;
    }
    return 0;
}
