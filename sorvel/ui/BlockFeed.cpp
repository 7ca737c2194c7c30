#include "BlockFeed.h"

#include "sorvel/engine/Tune.h"

#include <cmath>

namespace svui
{
namespace
{
int indexOf(float value, int size)
{
    return juce::jlimit(0, size - 1, static_cast<int>(std::lround(value)));
}

void setText(ChainRow::Block& b, const juce::String& text)
{
    if (b.text != text)
        b.text = text;
}

// "Sub / Bite" and the other eight pairs, made once.
const juce::String& eqText(int bass, int treble)
{
    static const auto pairs = []
    {
        std::array<juce::String, 9> all;
        for (int b = 0; b < 3; ++b)
            for (int t = 0; t < 3; ++t)
                all[static_cast<size_t>(b * 3 + t)] = bassChars[b] + " / " + trebleChars[t];
        return all;
    }();
    return pairs[static_cast<size_t>(bass * 3 + treble)];
}

// A send module's bar spans -60 .. -12 dB of its return; the faint bar shows it before ducking.
void sendRule(ChainRow::Block& b, float returnDb, float duck)
{
    b.level = b.active ? (returnDb + 60.0f) / 48.0f : 0.0f;
    const bool shown = b.active && returnDb > -89.0f;
    b.unducked = shown ? (returnDb + duck + 60.0f) / 48.0f : 0.0f;
    b.duckDepth = shown ? duck : 0.0f;
}

void quiet(ChainRow::Block& b)
{
    b.level = b.unducked = b.duckDepth = 0.0f;
}
} // namespace

namespace
{
constexpr std::array<const char*, 18> parameterIds{
    "hpf",        "deess",      "deessChar", "bass",      "bassChar", "treble",
    "trebleChar", "comp",       "compChar",  "compMix",   "shimmer",  "shimmerChar",
    "reverb",     "reverbChar", "delay",     "delayChar", "width",    "widthChar"};
} // namespace

BlockParameters::BlockParameters(juce::AudioProcessorValueTreeState& tree)
{
    for (size_t i = 0; i < parameterIds.size(); ++i)
        values[i] = tree.getRawParameterValue(parameterIds[i]);
    for (size_t j = 0; j < switches.size(); ++j)
        switches[j] = tree.getRawParameterValue(moduleSwitchIds[j]);
    listen = tree.getRawParameterValue("listen");
}

void BlockParameters::read(BlockSources& s) const
{
    float* fields[] = {&s.hpf,        &s.deess,      &s.deessChar, &s.bass,      &s.bassChar, &s.treble,
                       &s.trebleChar, &s.comp,       &s.compChar,  &s.compMix,   &s.shimmer,  &s.shimmerChar,
                       &s.reverb,     &s.reverbChar, &s.delay,     &s.delayChar, &s.width,    &s.widthChar};
    for (size_t i = 0; i < values.size(); ++i)
        if (values[i] != nullptr)
            *fields[i] = values[i]->load();
    for (size_t j = 0; j < switches.size(); ++j)
        if (switches[j] != nullptr)
            s.switches[j] = switches[j]->load();
    if (listen != nullptr)
        s.listenIndex = juce::jlimit(0, 6, static_cast<int>(std::lround(listen->load())));
}

void fillBlocks(std::array<ChainRow::Block, numModules>& blocks, const BlockSources& s)
{
    for (auto& b : blocks)
    {
        b.amount = 0.0f;
        b.bipolar = false;
        quiet(b);
        b.curveValues[0] = b.curveValues[1] = 0.0f;
        b.curveIndices[0] = b.curveIndices[1] = 0;
    }

    auto& hp = blocks[highPass];
    const int h = indexOf(s.hpf, hpfNames.size());
    setText(hp, hpfNames.getReference(h));
    hp.active = h > 0;
    hp.curveValues[0] = h > 0 ? eng::vocal::tune::hpfHz[static_cast<size_t>(h - 1)] : 0.0f;

    auto& de = blocks[deEss];
    setText(de, choiceText(deessChars, s.deessChar));
    de.amount = s.deess;
    de.level = s.deessCut / 12.0f;
    de.active = s.deess > 0.05f;

    auto& tone = blocks[eq];
    const int bass = indexOf(s.bassChar, 3), treble = indexOf(s.trebleChar, 3);
    setText(tone, eqText(bass, treble));
    tone.active = juce::jmax(std::abs(s.bass), std::abs(s.treble)) > 0.05f;
    tone.curveValues[0] = s.bass;
    tone.curveValues[1] = s.treble;
    tone.curveIndices[0] = bass;
    tone.curveIndices[1] = treble;

    auto& co = blocks[compress];
    setText(co, choiceText(compChars, s.compChar));
    co.amount = s.comp;
    co.level = (s.compPeak + s.compLevel) / 12.0f;
    co.active = s.comp > 0.05f && s.compMix > 0.5f;

    auto& sh = blocks[shimmer];
    setText(sh, choiceText(shimmerChars, s.shimmerChar));
    sh.amount = s.shimmer;
    sh.bipolar = true;
    sh.level = (s.shimmer >= 0.0f ? s.lift : s.tame) / 6.0f;
    sh.active = std::abs(s.shimmer) > 0.05f;

    struct Send
    {
        int module;
        const juce::StringArray& names;
        float character, amount, returnDb;
    };
    for (const auto& send : {Send{reverb, reverbChars, s.reverbChar, s.reverb, s.reverbReturn},
                             Send{delay, delayChars, s.delayChar, s.delay, s.delayReturn},
                             Send{width, widthChars, s.widthChar, s.width, s.doubles}})
    {
        auto& b = blocks[static_cast<size_t>(send.module)];
        setText(b, choiceText(send.names, send.character));
        b.amount = send.amount;
        b.active = send.amount > 0.05f;
        sendRule(b, send.returnDb, s.duck);
    }

    for (int j = 0; j < numModules; ++j)
    {
        auto& b = blocks[static_cast<size_t>(j)];
        b.listening = listenValue(j) > 0 && listenValue(j) == s.listenIndex;
        b.on = s.switches[static_cast<size_t>(j)] > 0.5f;
        if (!b.on)
        {
            quiet(b);
            b.curveValues[0] = b.curveValues[1] = 0.0f;
        }
    }
}
} // namespace svui
