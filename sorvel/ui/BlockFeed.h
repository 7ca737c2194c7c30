// What the chain row's eight blocks show, worked out from the parameters and the editor's
// refresh state: the editor gathers BlockSources on every tick and fillBlocks writes the
// blocks. Message thread only.
#pragma once

#include "ChainRow.h"

#include <juce_audio_processors/juce_audio_processors.h>

namespace svui
{
struct BlockSources
{
    // Raw parameter values, in the parameters' own units.
    float hpf = 0, deess = 0, deessChar = 0, bass = 0, bassChar = 0, treble = 0, trebleChar = 0;
    float comp = 0, compChar = 0, compMix = 100, shimmer = 0, shimmerChar = 0;
    float reverb = 0, reverbChar = 0, delay = 0, delayChar = 0, width = 0, widthChar = 0;
    std::array<float, numModules> switches{1, 1, 1, 1, 1, 1, 1, 1}; // the module switches
    int listenIndex = 0;                                            // "listen": 0 off, 1 .. 6

    // The refresh's decaying readout values (dB; reductions positive).
    float deessCut = 0, compPeak = 0, compLevel = 0, lift = 0, tame = 0, duck = 0;
    float reverbReturn = -90, delayReturn = -90, doubles = -90;
};

// The parameters the blocks read, looked up once: read() copies their current raw values into
// the sources (the refresh state is left as it is).
class BlockParameters
{
public:
    explicit BlockParameters(juce::AudioProcessorValueTreeState& tree);
    void read(BlockSources& s) const;

private:
    std::array<std::atomic<float>*, 18> values{};
    std::array<std::atomic<float>*, numModules> switches{};
    std::atomic<float>* listen = nullptr;
};

// Refills every block from the sources. Texts are assigned only when they change.
void fillBlocks(std::array<ChainRow::Block, numModules>& blocks, const BlockSources& s);
} // namespace svui
