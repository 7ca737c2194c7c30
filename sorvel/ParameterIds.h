#pragma once

#include <array>

// Sorvel's parameter IDs, in host order. Hosts store them in sessions and automation: never
// rename or reorder them.
namespace sv::id
{
inline constexpr const char* input = "input";
inline constexpr const char* hpf = "hpf";
inline constexpr const char* deess = "deess";
inline constexpr const char* deessChar = "deessChar";
inline constexpr const char* deessFreq = "deessFreq";
inline constexpr const char* bass = "bass";
inline constexpr const char* bassChar = "bassChar";
inline constexpr const char* treble = "treble";
inline constexpr const char* trebleChar = "trebleChar";
inline constexpr const char* comp = "comp";
inline constexpr const char* compChar = "compChar";
inline constexpr const char* compMix = "compMix";
inline constexpr const char* shimmer = "shimmer";
inline constexpr const char* shimmerChar = "shimmerChar";
inline constexpr const char* reverb = "reverb";
inline constexpr const char* reverbChar = "reverbChar";
inline constexpr const char* reverbDecay = "reverbDecay";
inline constexpr const char* reverbPredelay = "reverbPredelay";
inline constexpr const char* delay = "delay";
inline constexpr const char* delayChar = "delayChar";
inline constexpr const char* delayFeedback = "delayFeedback";
inline constexpr const char* delayPingPong = "delayPingPong";
inline constexpr const char* width = "width";
inline constexpr const char* widthChar = "widthChar";
inline constexpr const char* duck = "duck";
inline constexpr const char* output = "output";
inline constexpr const char* listen = "listen";
inline constexpr const char* bypass = "bypass";
inline constexpr const char* hpfOn = "hpfOn";
inline constexpr const char* deessOn = "deessOn";
inline constexpr const char* eqOn = "eqOn";
inline constexpr const char* compOn = "compOn";
inline constexpr const char* shimmerOn = "shimmerOn";
inline constexpr const char* reverbOn = "reverbOn";
inline constexpr const char* delayOn = "delayOn";
inline constexpr const char* widthOn = "widthOn";

// clang-format off
inline constexpr std::array<const char*, 36> all{
    input,   hpf,         deess,      deessChar,   deessFreq,     bass,          bassChar,
    treble,  trebleChar,  comp,       compChar,    compMix,       shimmer,       shimmerChar,
    reverb,  reverbChar,  reverbDecay, reverbPredelay, delay,     delayChar,     delayFeedback,
    delayPingPong, width, widthChar,  duck,        output,        listen,        bypass,
    hpfOn,   deessOn,     eqOn,       compOn,      shimmerOn,     reverbOn,      delayOn,
    widthOn};
// clang-format on

// "Auto": every deessFreq value below this picks the ess frequency automatically.
inline constexpr float deessAutoBelowHz = 2950.0f;
} // namespace sv::id
