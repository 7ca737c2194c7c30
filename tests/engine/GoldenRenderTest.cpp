// Golden renders of every module and of the whole chain: defaults, strong settings, every
// character, changes of character and switches while the audio runs, three sample rates, mono.
// Each render goes through pieces of deterministic random lengths, with its settings handed over
// before every piece as the chain does, and is checked to the bit against tests/engine/golden.
// MOSSLIGHT_UPDATE_GOLDEN=1 rewrites the file when a change of sound is intended (see
// support/Golden.h).
#include "mirrel/engine/MirrelEngine.h"
#include "sorvel/engine/Chain.h"
#include "support/FlushToZero.h"
#include "support/Golden.h"
#include "support/SyntheticVocal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vocal = eng::vocal;
using testsupport::StereoSignal;

namespace
{

// The audio of a render, and what else it published (listen signals, traces, meters).
struct Render
{
    std::vector<float> audio, extras;
};

void check(const std::string& name, const Render& r)
{
    static testsupport::GoldenFile file(MOSSLIGHT_GOLDEN_DIR "/renders.txt");
    file.check(name, r.audio, r.extras);
}

constexpr double seconds = 2.5;

std::string rateName(double rate)
{
    return std::to_string(static_cast<int>(rate / 100.0 + 0.5) / 10) + "k";
}

// Piece lengths 1..700, the same sequence on every run.
class Pieces
{
public:
    explicit Pieces(std::uint32_t seed) : state(seed * 2654435761u + 1u) {}
    int next(int left, int untilChange) noexcept
    {
        state = state * 1664525u + 1013904223u;
        return std::min({1 + static_cast<int>((state >> 8) % 700u), left, untilChange});
    }

private:
    std::uint32_t state;
};

// Settings that change while the audio runs: each entry holds from its sample on.
template <typename Settings> struct Timeline
{
    std::vector<std::pair<int, Settings>> steps;

    const Settings& at(int pos) const
    {
        size_t k = 0;
        while (k + 1 < steps.size() && steps[k + 1].first <= pos)
            ++k;
        return steps[k].second;
    }
    int nextChange(int pos) const
    {
        for (const auto& s : steps)
            if (s.first > pos)
                return s.first - pos;
        return 1 << 30;
    }
};

template <typename Settings> Timeline<Settings> steady(Settings s)
{
    return {{{0, s}}};
}

template <typename Settings>
Timeline<Settings> changing(Settings first, std::initializer_list<std::pair<double, Settings>> later,
                            double rate)
{
    Timeline<Settings> t{{{0, first}}};
    for (const auto& [atSeconds, s] : later)
        t.steps.push_back({static_cast<int>(atSeconds * rate), s});
    return t;
}

void append(std::vector<float>& to, const std::vector<float>& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

StereoSignal vocalAt(double rate, bool withTail = false)
{
    auto s = testsupport::syntheticStereoVocal(rate, seconds);
    if (withTail)
    {
        // A second of silence, so tails, fades and the modules' stopping show.
        s.left.resize(s.left.size() + static_cast<size_t>(rate), 0.0f);
        s.right.resize(s.right.size() + static_cast<size_t>(rate), 0.0f);
    }
    return s;
}

StereoSignal doubled(const StereoSignal& host)
{
    StereoSignal out;
    for (auto [from, to] : {std::pair{&host.left, &out.left}, std::pair{&host.right, &out.right}})
    {
        sv::Oversampler2x up;
        to->resize(2 * from->size());
        up.up(from->data(), to->data(), static_cast<int>(from->size()));
    }
    return out;
}

// -------------------------------------------------------------------------------------------
// The modules that work in place on the vocal.

struct HighPassSetting
{
    int choice;
};

Render renderHighPass(double rate, int channels, const Timeline<HighPassSetting>& t)
{
    StereoSignal x = vocalAt(rate);
    vocal::HighPass m;
    m.prepare(rate, channels);
    Pieces pieces(1);
    const int total = static_cast<int>(x.left.size());
    for (int pos = 0; pos < total;)
    {
        const int n = pieces.next(total - pos, t.nextChange(pos));
        m.set({t.at(pos).choice});
        float* ch[2] = {x.left.data() + pos, x.right.data() + pos};
        m.process(ch, n);
        pos += n;
    }
    if (channels == 2)
        append(x.left, x.right);
    return {x.left, {}};
}

struct DeEssSetting
{
    float amount;
    int character;
    float freqHz;
};

Render renderDeEsser(double rate, int channels, const Timeline<DeEssSetting>& t)
{
    StereoSignal x = vocalAt(rate);
    const int total = static_cast<int>(x.left.size());
    std::vector<float> trace(x.left.size()), listenL(x.left.size()), listenR(x.left.size());
    vocal::DeEsser m;
    m.prepare(rate, channels);
    Pieces pieces(2);
    for (int pos = 0; pos < total;)
    {
        const int n = pieces.next(total - pos, t.nextChange(pos));
        const auto& s = t.at(pos);
        m.set({s.amount, s.character, s.freqHz});
        float* ch[2] = {x.left.data() + pos, x.right.data() + pos};
        float* listen[2] = {listenL.data() + pos, listenR.data() + pos};
        m.process(ch, n, trace.data() + pos, listen);
        pos += n;
    }
    Render r{x.left, trace};
    append(r.extras, listenL);
    if (channels == 2)
    {
        append(r.audio, x.right);
        append(r.extras, listenR);
    }
    return r;
}

struct EqSetting
{
    float bass;
    int bassCharacter;
    float treble;
    int trebleCharacter;
};

Render renderToneEq(double rate, const Timeline<EqSetting>& t)
{
    StereoSignal x = vocalAt(rate);
    vocal::ToneEq m;
    m.prepare(rate, 2);
    Pieces pieces(3);
    const int total = static_cast<int>(x.left.size());
    for (int pos = 0; pos < total;)
    {
        const int n = pieces.next(total - pos, t.nextChange(pos));
        const auto& s = t.at(pos);
        m.set({{s.bass, s.bassCharacter}, {s.treble, s.trebleCharacter}});
        float* ch[2] = {x.left.data() + pos, x.right.data() + pos};
        m.process(ch, n);
        pos += n;
    }
    append(x.left, x.right);
    return {x.left, {}};
}

struct CompSetting
{
    float amount;
    int character;
    float mix;
};

Render renderCompressor(double rate, int channels, const Timeline<CompSetting>& t)
{
    StereoSignal x = doubled(vocalAt(rate));
    const int total = static_cast<int>(x.left.size()) / 2; // host-rate samples
    std::vector<float> listenL(x.left.size()), listenR(x.left.size());
    vocal::Compressor m;
    m.prepare(rate, channels);
    Pieces pieces(4);
    for (int pos = 0; pos < total;)
    {
        const int n = pieces.next(total - pos, t.nextChange(pos));
        const auto& s = t.at(pos);
        m.set({s.amount, s.character, s.mix});
        float* ch[2] = {x.left.data() + 2 * pos, x.right.data() + 2 * pos};
        float* listen[2] = {listenL.data() + 2 * pos, listenR.data() + 2 * pos};
        m.process(ch, listen, 2 * n);
        pos += n;
    }
    Render r{x.left, listenL};
    if (channels == 2)
    {
        append(r.audio, x.right);
        append(r.extras, listenR);
    }
    return r;
}

struct ShimmerSetting
{
    float amount;
    int character;
    bool on;
};

Render renderShimmer(double rate, const Timeline<ShimmerSetting>& t)
{
    const StereoSignal host = vocalAt(rate);
    // The de-esser's detection trace, as the chain hands it over.
    std::vector<float> trace(host.left.size());
    {
        StereoSignal copy = host;
        vocal::DeEsser d;
        d.prepare(rate, 2);
        d.set({3.0f, 1, 0.0f});
        float* ch[2] = {copy.left.data(), copy.right.data()};
        d.process(ch, static_cast<int>(copy.left.size()), trace.data(), nullptr);
    }
    StereoSignal x = doubled(host);
    const int total = static_cast<int>(host.left.size());
    std::vector<float> listenL(x.left.size()), listenR(x.left.size());
    vocal::Shimmer m;
    m.prepare(2.0 * rate, 2);
    Pieces pieces(5);
    for (int pos = 0; pos < total;)
    {
        const int n = pieces.next(total - pos, t.nextChange(pos));
        const auto& s = t.at(pos);
        m.set({s.amount, s.character, s.on});
        float* ch[2] = {x.left.data() + 2 * pos, x.right.data() + 2 * pos};
        float* listen[2] = {listenL.data() + 2 * pos, listenR.data() + 2 * pos};
        m.process(ch, listen, 2 * n, trace.data() + pos);
        pos += n;
    }
    Render r{x.left, listenL};
    append(r.audio, x.right);
    append(r.extras, listenR);
    return r;
}

// -------------------------------------------------------------------------------------------
// The three returns: the mono send in, a stereo return out.

template <typename Module, typename Settings, typename Apply>
Render renderReturn(Module& m, double rate, const Timeline<Settings>& t, std::uint32_t seed, Apply&& apply)
{
    const StereoSignal x = vocalAt(rate, true);
    const int total = static_cast<int>(x.left.size());
    std::vector<float> send(x.left.size()), left(x.left.size()), right(x.left.size());
    for (size_t i = 0; i < send.size(); ++i)
        send[i] = 0.5f * (x.left[i] + x.right[i]);
    Pieces pieces(seed);
    for (int pos = 0; pos < total;)
    {
        const int n = pieces.next(total - pos, t.nextChange(pos));
        apply(m, t.at(pos));
        m.process(send.data() + pos, left.data() + pos, right.data() + pos, n);
        pos += n;
    }
    append(left, right);
    return {left, {}};
}

struct ReverbSetting
{
    float amount;
    int character;
    float decaySeconds, preDelayMs;
};

Render renderReverb(double rate, const Timeline<ReverbSetting>& t)
{
    auto m = std::make_unique<vocal::Reverb>();
    m->prepare(rate, 512);
    return renderReturn(*m, rate, t, 6,
                        [](vocal::Reverb& r, const ReverbSetting& s) {
                            r.set({s.amount, s.character, s.decaySeconds, s.preDelayMs});
                        });
}

struct DelaySetting
{
    int character;
    float amount, feedbackPercent;
    bool pingPong;
    double tempo;
};

Render renderDelay(double rate, const Timeline<DelaySetting>& t)
{
    auto m = std::make_unique<vocal::TempoDelay>();
    m->prepare(rate);
    return renderReturn(*m, rate, t, 7,
                        [](vocal::TempoDelay& d, const DelaySetting& s) {
                            d.set({s.amount, s.character, s.feedbackPercent, s.pingPong, s.tempo});
                        });
}

struct WidthSetting
{
    int character;
    float amount;
};

Render renderWidth(double rate, const Timeline<WidthSetting>& t)
{
    auto m = std::make_unique<vocal::Width>();
    m->prepare(rate);
    return renderReturn(*m, rate, t, 8,
                        [](vocal::Width& w, const WidthSetting& s) {
                            w.set({s.amount, s.character});
                        });
}

// -------------------------------------------------------------------------------------------
// The whole chain, and what it publishes for the editor.

struct ChainRender
{
    double rate = 48000.0;
    bool mono = false;
    bool playing = true;
};

Render renderChain(const ChainRender& r, const Timeline<sv2::Params>& t)
{
    StereoSignal x = vocalAt(r.rate, true);
    const int total = static_cast<int>(x.left.size());
    auto inputMeter = std::make_unique<sv::LoudnessMeter>();
    auto outputMeter = std::make_unique<sv::LoudnessMeter>();
    auto feed = std::make_unique<sv2::EditorFeed>();
    auto chain = std::make_unique<sv2::Chain>(*inputMeter, *outputMeter, *feed);
    chain->prepare(r.rate, r.mono ? 1 : 2, 512);
    chain->applyParams(t.at(0));
    feed->tapEnabled.store(true);
    std::vector<float> published;
    Pieces blocks(9);
    for (int pos = 0; pos < total;)
    {
        // Host blocks up to 700 samples, beyond the 512 prepared for.
        const int n = blocks.next(total - pos, t.nextChange(pos));
        chain->applyParams(t.at(pos));
        if (r.mono)
            std::copy_n(x.left.data() + pos, n, x.right.data() + pos);
        chain->processBlock(x.left.data() + pos, x.right.data() + pos, n, r.mono ? 1 : 2, false, r.playing);
        for (auto* v : {&feed->inputPeak, &feed->outputPeak, &feed->compStage1Peak, &feed->compStage2Peak,
                        &feed->deessPeak, &feed->duckPeak})
            published.push_back(v->exchange(0.0f));
        published.push_back(feed->matchOffsetDb.load());
        published.push_back(feed->deessFreqHz.load());
        feed->taps.pop(
            [&](const sv2::TapFifo::Entry& e)
            {
                published.push_back(e.a);
                published.push_back(e.b);
                published.push_back(e.c);
            });
        pos += n;
    }
    Render out{x.left, {}};
    append(out.audio, x.right);
    const auto count = feed->records.count();
    for (std::uint32_t k = count > sv2::RecordRing::size ? count - sv2::RecordRing::size : 0; k < count; ++k)
    {
        const auto record = feed->records.at(k);
        append(out.extras, std::vector<float>(record.values.begin(), record.values.end()));
    }
    published.push_back(outputMeter->integrated());
    published.push_back(inputMeter->shortTerm());
    append(out.extras, published);
    return out;
}

sv2::Params strongParams()
{
    sv2::Params p;
    p.deess = 8;
    p.deessChar = 2;
    p.bass = 5;
    p.treble = 6;
    p.comp = 8;
    p.compChar = 2;
    p.shimmer = 8;
    p.shimmerChar = 2;
    p.reverb = 8;
    p.reverbChar = 2;
    p.reverbDecay = 3;
    p.delay = 6;
    p.delayChar = 2;
    p.delayFeedback = 50;
    p.delayPingPong = true;
    p.width = 8;
    p.widthChar = 2;
    p.duck = 8;
    return p;
}

} // namespace

TEST(GoldenRender, highPass)
{
    const testsupport::ScopedFlushToZero flushToZero;
    for (double rate : {44100.0, 48000.0, 96000.0})
        check("high-pass/90Hz-" + rateName(rate), renderHighPass(rate, 2, steady(HighPassSetting{2})));
    check("high-pass/180Hz-mono", renderHighPass(48000.0, 1, steady(HighPassSetting{4})));
    // Off to 60 Hz, then quickly through two more corners (the last waits for the fade), then Off.
    check("high-pass/changes",
          renderHighPass(48000.0, 2,
                         changing(HighPassSetting{0},
                                  {{0.5, {1}}, {0.505, {3}}, {0.51, {4}}, {1.5, {0}}, {2.0, {2}}}, 48000.0)));
}

TEST(GoldenRender, deEsser)
{
    const testsupport::ScopedFlushToZero flushToZero;
    for (double rate : {44100.0, 48000.0, 96000.0})
        check("de-ess/default-" + rateName(rate), renderDeEsser(rate, 2, steady(DeEssSetting{3, 1, 0})));
    check("de-ess/strong", renderDeEsser(48000.0, 2, steady(DeEssSetting{8, 2, 0})));
    check("de-ess/soft-6kHz", renderDeEsser(48000.0, 2, steady(DeEssSetting{5, 0, 6000})));
    check("de-ess/mono", renderDeEsser(48000.0, 1, steady(DeEssSetting{6, 1, 0})));
    check("de-ess/changes", renderDeEsser(48000.0, 2,
                                          changing(DeEssSetting{4, 1, 0},
                                                   {{0.6, {4, 2, 0}},
                                                    {0.9, {4, 2, 5000}},
                                                    {1.2, {0, 2, 5000}},
                                                    {1.7, {7, 0, 5000}},
                                                    {2.1, {7, 0, 0}}},
                                                   48000.0)));
}

TEST(GoldenRender, toneEq)
{
    const testsupport::ScopedFlushToZero flushToZero;
    for (double rate : {44100.0, 48000.0, 96000.0})
        check("eq/default-" + rateName(rate), renderToneEq(rate, steady(EqSetting{0, 1, 2, 0})));
    check("eq/strong", renderToneEq(48000.0, steady(EqSetting{5, 2, 6, 1})));
    check("eq/sub-roof", renderToneEq(48000.0, steady(EqSetting{-6, 0, 4, 2})));
    check("eq/changes", renderToneEq(48000.0, changing(EqSetting{0, 0, 0, 0},
                                                       {{0.4, {10, 0, -10, 0}},
                                                        {0.9, {10, 1, -10, 1}},
                                                        {0.905, {10, 2, -10, 2}},
                                                        {1.6, {-4, 2, 3, 1}}},
                                                       48000.0)));
}

TEST(GoldenRender, compressor)
{
    const testsupport::ScopedFlushToZero flushToZero;
    for (double rate : {44100.0, 48000.0, 96000.0})
        check("compress/default-" + rateName(rate), renderCompressor(rate, 2, steady(CompSetting{4, 1, 1})));
    check("compress/strong", renderCompressor(48000.0, 2, steady(CompSetting{8, 2, 1})));
    check("compress/smooth-half-mix", renderCompressor(48000.0, 2, steady(CompSetting{6, 0, 0.5f})));
    check("compress/mono", renderCompressor(48000.0, 1, steady(CompSetting{5, 1, 1})));
    // Character changes, a mix change, then off (the mix fades, the amount goes to 0) and on again.
    check("compress/changes", renderCompressor(48000.0, 2,
                                               changing(CompSetting{3, 0, 1},
                                                        {{0.5, {3, 2, 1}},
                                                         {0.8, {9, 2, 0.7f}},
                                                         {1.2, {9, 1, 0}},
                                                         {1.25, {0, 1, 0}},
                                                         {1.8, {6, 1, 1}}},
                                                        48000.0)));
}

TEST(GoldenRender, shimmer)
{
    const testsupport::ScopedFlushToZero flushToZero;
    for (double rate : {44100.0, 48000.0, 96000.0})
        check("shimmer/default-" + rateName(rate), renderShimmer(rate, steady(ShimmerSetting{1, 0, true})));
    check("shimmer/glass-strong", renderShimmer(48000.0, steady(ShimmerSetting{8, 2, true})));
    check("shimmer/air", renderShimmer(48000.0, steady(ShimmerSetting{5, 1, true})));
    check("shimmer/taming", renderShimmer(48000.0, steady(ShimmerSetting{-8, 0, true})));
    check("shimmer/changes", renderShimmer(48000.0, changing(ShimmerSetting{5, 0, true},
                                                             {{0.5, {5, 2, true}},
                                                              {0.505, {5, 1, true}},
                                                              {0.9, {0, 1, true}},
                                                              {1.1, {-6, 1, true}},
                                                              {1.5, {-6, 1, false}},
                                                              {1.9, {6, 2, true}}},
                                                             48000.0)));
}

TEST(GoldenRender, reverb)
{
    const testsupport::ScopedFlushToZero flushToZero;
    for (double rate : {44100.0, 48000.0, 96000.0})
        check("reverb/default-" + rateName(rate), renderReverb(rate, steady(ReverbSetting{2, 0, 1.6f, 30})));
    check("reverb/hall-strong", renderReverb(48000.0, steady(ReverbSetting{8, 2, 3.0f, 60})));
    check("reverb/room", renderReverb(48000.0, steady(ReverbSetting{5, 1, 0.9f, 10})));
    // Character changes (the second waits), a decay change, a pre-delay glide, off and on again.
    check("reverb/changes", renderReverb(48000.0, changing(ReverbSetting{5, 0, 1.6f, 30},
                                                           {{0.5, {5, 1, 1.6f, 30}},
                                                            {0.505, {5, 2, 1.6f, 30}},
                                                            {0.9, {5, 2, 4.0f, 30}},
                                                            {1.2, {5, 2, 4.0f, 110}},
                                                            {1.5, {0, 2, 4.0f, 110}},
                                                            {2.2, {6, 0, 1.0f, 20}}},
                                                           48000.0)));
}

TEST(GoldenRender, tempoDelay)
{
    const testsupport::ScopedFlushToZero flushToZero;
    for (double rate : {44100.0, 48000.0, 96000.0})
        check("delay/default-" + rateName(rate),
              renderDelay(rate, steady(DelaySetting{1, 1, 25, false, 120})));
    check("delay/strong", renderDelay(48000.0, steady(DelaySetting{2, 6, 50, true, 120})));
    check("delay/slap", renderDelay(48000.0, steady(DelaySetting{0, 5, 10, false, 120})));
    check("delay/changes", renderDelay(48000.0, changing(DelaySetting{3, 5, 30, false, 96},
                                                         {{0.5, {3, 5, 30, false, 130}},
                                                          {0.9, {1, 5, 30, true, 130}},
                                                          {0.905, {2, 5, 30, true, 130}},
                                                          {1.4, {2, 5, 90, true, 130}},
                                                          {1.8, {2, 0, 90, true, 130}}},
                                                         48000.0)));
}

TEST(GoldenRender, width)
{
    const testsupport::ScopedFlushToZero flushToZero;
    for (double rate : {44100.0, 48000.0, 96000.0})
        check("width/default-" + rateName(rate), renderWidth(rate, steady(WidthSetting{0, 2})));
    check("width/spreader-strong", renderWidth(48000.0, steady(WidthSetting{2, 8})));
    check("width/changes",
          renderWidth(48000.0,
                      changing(WidthSetting{1, 5},
                               {{0.7, {0, 5}}, {1.2, {2, 5}}, {1.5, {2, 0}}, {2.0, {1, 7}}}, 48000.0)));
}

TEST(GoldenRender, oversampler)
{
    const StereoSignal x = vocalAt(48000.0);
    const StereoSignal up = doubled(x);
    std::vector<float> down(x.left.size());
    sv::Oversampler2x d;
    d.down(up.left.data(), down.data(), static_cast<int>(down.size()));
    check("oversampler/up-down", {up.left, down});
}

TEST(GoldenRender, chain)
{
    const testsupport::ScopedFlushToZero flushToZero;
    for (double rate : {44100.0, 48000.0, 96000.0})
        check("chain/defaults-" + rateName(rate), renderChain({rate}, steady(sv2::Params{})));
    check("chain/strong-48k", renderChain({48000.0}, steady(strongParams())));
    check("chain/strong-96k", renderChain({96000.0}, steady(strongParams())));
    check("chain/defaults-mono", renderChain({48000.0, true}, steady(sv2::Params{})));
    check("chain/defaults-stopped", renderChain({48000.0, false, false}, steady(sv2::Params{})));

    sv2::Params off;
    off.hpfOn = off.deessOn = off.eqOn = off.compOn = off.shimmerOn = off.reverbOn = off.delayOn =
        off.widthOn = false;
    check("chain/all-off", renderChain({48000.0}, steady(off)));

    // Every character at once, then each module switched off in turn and on again.
    sv2::Params characters = strongParams();
    characters.hpf = 4;
    characters.deessChar = 0;
    characters.deessFreq = 5000;
    characters.bassChar = 0;
    characters.trebleChar = 2;
    characters.compChar = 0;
    characters.compMix = 60;
    characters.shimmerChar = 1;
    characters.reverbChar = 1;
    characters.delayChar = 3;
    characters.widthChar = 1;
    std::vector<std::pair<double, sv2::Params>> steps{{0.4, characters}};
    sv2::Params p = characters;
    double at = 0.6;
    for (bool sv2::Params::*on :
         {&sv2::Params::hpfOn, &sv2::Params::deessOn, &sv2::Params::eqOn, &sv2::Params::compOn,
          &sv2::Params::shimmerOn, &sv2::Params::reverbOn, &sv2::Params::delayOn, &sv2::Params::widthOn})
    {
        p.*on = false;
        steps.push_back({at, p});
        at += 0.12;
    }
    p = characters;
    steps.push_back({2.0, p});
    Timeline<sv2::Params> switches{{{0, strongParams()}}};
    for (const auto& [s, params] : steps)
        switches.steps.push_back({static_cast<int>(s * 48000.0), params});
    check("chain/characters-and-switches", renderChain({48000.0}, switches));

    // Listen: through every source, quick changes (one waits, one is dropped), back to normal.
    Timeline<sv2::Params> listen{{{0, sv2::Params{}}}};
    double when = 0.3;
    for (int source : {1, 2, 3, 4, 5, 6, 4, 2, 4, 0})
    {
        sv2::Params q;
        q.listen = source;
        listen.steps.push_back({static_cast<int>(when * 48000.0), q});
        when += source == 4 || source == 2 ? 0.004 : 0.25;
    }
    check("chain/listen", renderChain({48000.0}, listen));

    // Gains, the duck, then the level-matched bypass on and off.
    sv2::Params gains;
    gains.input = -6;
    gains.output = 3;
    gains.duck = 12;
    sv2::Params bypassed = gains;
    bypassed.bypass = true;
    check("chain/gains-and-bypass",
          renderChain({48000.0},
                      changing(sv2::Params{}, {{0.5, gains}, {1.5, bypassed}, {2.5, gains}}, 48000.0)));
}

TEST(GoldenRender, mirrel)
{
    const testsupport::ScopedFlushToZero flushToZero;
    const auto drums = testsupport::syntheticDrums(48000.0, 4.0);
    for (const bool playing : {true, false})
    {
        mr::MirrelEngine engine;
        engine.prepare(48000.0);
        mr::Mirrel::Settings settings;
        settings.alternate = playing ? 1 : 2;
        mr::TransportState transport;
        transport.playing = transport.hasPosition = transport.hasTempo = playing;
        transport.bpm = 120.0;
        std::vector<float> left = drums, right = drums, positions;
        Pieces blocks(10);
        const int total = static_cast<int>(drums.size());
        for (int pos = 0; pos < total;)
        {
            const int n = blocks.next(total - pos, 1 << 30);
            engine.process(left.data() + pos, right.data() + pos, n, settings, transport, true);
            transport.quarterNotes += n / 48000.0 * 2.0;
            positions.push_back(engine.position());
            pos += n;
        }
        append(left, right);
        check(playing ? "mirrel/drums-playing" : "mirrel/drums-stopped-always", {left, positions});
    }
}
