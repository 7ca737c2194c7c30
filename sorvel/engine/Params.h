#pragma once

namespace sv2
{

// The per-block snapshot of Sorvel's 36 parameters and the host tempo, in the units the chain
// uses. Filled by the processor once per block from its table of bindings (one per parameter);
// the chain keeps a copy. The defaults are the parameters' own (a processor test holds them to
// it), so a default snapshot is the plug-in at its defaults. Audio thread only.
struct Params
{
    float input = 0.0f, output = 0.0f; // dB
    int hpf = 2;
    float deess = 3.0f;
    int deessChar = 1;
    float deessFreq = 0.0f; // Hz; 0 = Auto
    float bass = 0.0f, treble = 2.0f;
    int bassChar = 1, trebleChar = 0;
    float comp = 4.0f;
    int compChar = 1;
    float compMix = 100.0f; // percent
    float shimmer = 1.0f;
    int shimmerChar = 0;
    float reverb = 2.0f;
    int reverbChar = 0;
    float reverbDecay = 1.6f;     // s
    float reverbPredelay = 30.0f; // ms
    float delay = 1.0f;
    int delayChar = 1;
    float delayFeedback = 25.0f; // percent
    bool delayPingPong = false;
    float width = 2.0f;
    int widthChar = 0;
    float duck = 4.0f; // dB
    int listen = 0;
    bool bypass = false, hpfOn = true, deessOn = true, eqOn = true, compOn = true, shimmerOn = true,
         reverbOn = true, delayOn = true, widthOn = true;
    double tempo = 120.0;
};

} // namespace sv2
