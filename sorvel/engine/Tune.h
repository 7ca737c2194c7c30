#pragma once

#include <array>

// The engine's one table of tuning constants. Each module copies the rows it uses when it is
// prepared or set, so the table itself is never read on the audio thread by two modules at once.
namespace eng::vocal::tune
{

// clang-format off

// High-Pass corners of choices 1 to 4 ("60 Hz" .. "180 Hz"); choice 0 is "Off".
inline constexpr std::array<float, 4> hpfHz{60.0f, 90.0f, 130.0f, 180.0f};

// One EQ band: kind (0 bell, 1 low shelf, 2 high shelf; anything else is a bell), frequency, Q.
struct Band
{
    int kind;
    float hz;
    float q;
};

inline constexpr std::array<Band, 3> bassBands{{
    {1, 80.0f, 0.71f},   // "Sub"
    {0, 150.0f, 0.6f},   // "Lower"
    {0, 250.0f, 0.9f},   // "Upper"
}};

inline constexpr std::array<Band, 3> trebleBands{{
    {0, 3000.0f, 0.8f},   // "Bite"
    {2, 8000.0f, 0.65f},  // "Top"
    {2, 12000.0f, 0.65f}, // "Roof"
}};

// De-ess characters: threshold T (dB, upper band over full band), knee width W (dB), release (ms).
struct DeEssChar
{
    float thresholdDb;
    float kneeDb;
    float releaseMs;
};

inline constexpr std::array<DeEssChar, 3> deessChars{{
    {-6.0f, 10.0f, 60.0f},  // "Soft"
    {-8.0f, 7.0f, 45.0f},   // "Mid"
    {-11.0f, 5.0f, 35.0f},  // "Hard"
}};

// Compress characters, 11 values per row:
//  0 stage-2 ratio, 1 stage-2 knee (dB), 2 stage-2 threshold offset (dB),
//  3 stage-1 margin above the running level (dB), 4 stage-1 ratio at amount 0,
//  5 stage-1 ratio added per unit of amount, 6 stage-1 release (ms), 7 stage-2 fast release (ms),
//  8 stage-2 slow release (ms), 9 stage-2 slow attack (ms), 10 saturation drive at amount 10.
using CompRow = std::array<float, 11>;
inline constexpr std::array<CompRow, 3> compChars{{
    {2.5f, 14.0f, -2.0f, 3.0f, 4.0f, 1.0f, 70.0f, 120.0f, 1500.0f, 500.0f, 0.0f},  // "Smooth"
    {3.0f, 10.0f, 0.0f, 1.5f, 6.0f, 2.0f, 50.0f, 80.0f, 1200.0f, 600.0f, 0.0f},   // "Push"
    {4.0f, 6.0f, 1.0f, 1.0f, 8.0f, 3.0f, 45.0f, 70.0f, 1000.0f, 600.0f, 1.6f},    // "Hard"
}};

// Shimmer characters, 11 values per row:
//  0 shelf corner (Hz), 1 shelf Q, 2 shelf gain at +10 (dB), 3 sparkle high-pass (Hz),
//  4 sparkle low-pass (Hz), 5 sparkle output low-pass (Hz), 6 sparkle level (dB; <= -100: none),
//  7 ess band centre (Hz), 8 ess band Q, 9 harshness window centre (dB), 10 its width (dB).
using ShimmerRow = std::array<float, 11>;
inline constexpr std::array<ShimmerRow, 3> shimmerChars{{
    {10000.0f, 0.65f, 9.4f, 0.0f, 0.0f, 0.0f, -200.0f, 4000.0f, 1.4f, 1.5f, 6.0f},        // "Silk"
    {18000.0f, 0.6f, 10.0f, 0.0f, 0.0f, 0.0f, -200.0f, 5500.0f, 1.4f, 1.5f, 6.0f},        // "Air"
    {12000.0f, 0.7f, 8.0f, 3500.0f, 7000.0f, 15000.0f, -30.0f, 3000.0f, 1.4f, 1.5f, 6.0f}, // "Glass"
}};

// Delay characters: note length in beats (0 = the fixed 100 ms slap) and the feedback the editor
// gives "Delay Feedback" when the character is picked (percent).
inline constexpr std::array<float, 4> delayBeats{0.0f, 0.5f, 0.75f, 1.0f};
inline constexpr double slapSeconds = 0.100; // double: 0.1 s is exactly 4800 samples at 48 kHz
inline constexpr std::array<float, 4> delayDefaultFeedback{10.0f, 25.0f, 25.0f, 30.0f};

// Width characters, 7 values per row: 0 shortest and 1 longest delay of a double (ms),
// 2 smallest and 3 largest pitch deviation of a glide (cents), 4 separation, 5 cross-feed,
// 6 always 1 and unused.
using WidthRow = std::array<float, 7>;
inline constexpr std::array<WidthRow, 3> widthChars{{
    {9.0f, 20.0f, 2.5f, 4.5f, 0.75f, 0.0f, 1.0f},   // "Stereo"
    {12.0f, 25.0f, 3.5f, 6.0f, 1.0f, 0.0f, 1.0f},   // "Wide"
    {8.0f, 25.0f, 3.0f, 5.5f, 1.0f, -0.3f, 1.0f},   // "Spreader"
}};

// Reverb characters, 17 values per row:
//  0 shortest and 1 longest line delay (ms), 2..5 input all-pass delays (ms), 6 input all-pass
//  gain, 7 high-frequency decay ratio, 8 damping corner (Hz), 9 modulation depth (ms),
//  10 modulation rate (Hz), 11 early reflection count, 12 first and 13 last reflection (ms),
//  14 reflection level, 15 late output gain, 16 the character's own decay (s).
using ReverbRow = std::array<float, 17>;
inline constexpr std::array<ReverbRow, 3> reverbChars{{
    {17.0f, 58.0f, 1.1f, 1.7f, 3.1f, 4.3f, 0.7f, 0.7f, 6500.0f, 0.234f, 0.6f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f,
     1.6f}, // "Plate"
    {14.0f, 50.0f, 0.9f, 1.4f, 2.2f, 3.3f, 0.62f, 0.5f, 4000.0f, 0.14f, 0.9f, 14.0f, 3.0f, 38.0f, 0.55f, 1.0f,
     0.9f}, // "Room"
    {27.0f, 97.0f, 1.5f, 2.5f, 4.4f, 6.3f, 0.66f, 0.55f, 4500.0f, 0.18f, 0.4f, 10.0f, 9.0f, 72.0f, 0.38f, 1.0f,
     2.6f}, // "Hall"
}};

// Reverb decay that comes with each character (Plate, Room, Hall), seconds; the editor sets
// "Reverb Decay" to it when a character is picked.
inline constexpr std::array<float, 3> reverbCharDecay{reverbChars[0][16], reverbChars[1][16],
                                                      reverbChars[2][16]};

// clang-format on

} // namespace eng::vocal::tune
