// The curves the EQ view and the chain row draw: the typical lead vocal spectrum with its
// tolerance, and the magnitude responses of the High-Pass and the EQ computed from their
// settings. Pure functions; message thread.
#pragma once

#include <juce_graphics/juce_graphics.h>

#include <cmath>
#include <cstddef>

namespace svui
{
struct GuidePoint
{
    float hz;
    float db;
};

// The typical lead vocal spectrum (dB, 0 at 200 Hz and 1 kHz).
inline constexpr GuidePoint guide[28]{
    {40, -39.4f},    {50, -29.8f},    {63, -21.4f},    {80, -13.4f},   {100, -7.6f},   {125, -4.5f},
    {160, -2.0f},    {200, 0.0f},     {250, 1.1f},     {315, 1.9f},    {400, 3.3f},    {500, 4.3f},
    {630, 3.6f},     {800, 1.8f},     {1000, 0.0f},    {1250, -1.1f},  {1600, -2.2f},  {2000, -3.8f},
    {2500, -5.3f},   {3150, -6.4f},   {4000, -8.1f},   {5000, -10.8f}, {6300, -12.8f}, {8000, -13.7f},
    {10000, -14.5f}, {12500, -15.8f}, {16000, -18.8f}, {20000, -24.6f}};

// The half-width of the guide band (+-dB).
inline constexpr GuidePoint tolerance[8]{{20, 6.0f},   {50, 6.0f},    {100, 4.5f},   {250, 3.0f},
                                         {5000, 3.0f}, {10000, 4.5f}, {16000, 6.0f}, {20000, 6.0f}};

// The level of a table of n points at hz, interpolated linearly over log frequency; held flat
// beyond its ends.
float interpLog(const GuidePoint* table, std::size_t n, float hz);

template <std::size_t N> float interpLog(const GuidePoint (&table)[N], float hz)
{
    static_assert(N >= 1);
    return interpLog(&table[0], N, hz);
}

// What responsePath draws.
enum ResponseMode
{
    highPassResponse = 0, // values[0]: the corner in Hz (0: off)
    eqResponse = 2        // values: bass and treble amounts; indices: their characters
};

// The level in dB of a mode's response at hz: the 18 dB per octave Butterworth high-pass, or
// the bass and treble bands of the EQ (0.6 dB per unit of amount) from their analog prototypes.
double responseDb(int mode, const float* values, const int* indices, double hz);

// Replaces the path's contents with the response over 20 Hz .. 20 kHz (log axis) across `area`,
// n points, topDb at the area's top and bottomDb at its bottom (clamped to the area).
void responsePath(juce::Path& path, juce::Rectangle<float> area, int mode, const float* values,
                  const int* indices, float topDb, float bottomDb, int n);

// The frequency of point k of n along the 20 Hz .. 20 kHz axis.
inline float logAxisHz(int k, int n)
{
    return 20.0f * std::pow(1000.0f, static_cast<float>(k) / static_cast<float>(n - 1));
}
} // namespace svui
