// mosslight-bench: the cost of both plug-ins' audio paths, as time per second of audio and
// real-time factor on one core, for several settings, sample rates and block sizes; and the cost
// of each of Sorvel's modules. Runs on the demo material, with flush-to-zero set as the plug-ins
// set it. CPU time of this thread is measured, so a busy machine disturbs the figures less.
//
// Usage: mosslight-bench <demo folder> [--quick | --silence | --profile]
#include "common/dsp/LoudnessMeter.h"
#include "mirrel/engine/MirrelEngine.h"
#include "sorvel/engine/Chain.h"
#include "wav/WavFile.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace
{
double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

void flushDenormals(bool on = true)
{
#if defined(__SSE__)
    const unsigned bits = 0x8040; // flush-to-zero and denormals-are-zero
    _mm_setcsr(on ? (_mm_getcsr() | bits) : (_mm_getcsr() & ~bits));
#else
    (void)on;
#endif
}

// Stereo material at least `seconds` long, by repeating the file.
std::vector<std::vector<float>> loop(const wav::Audio& a, double seconds, double rate)
{
    const auto length = static_cast<size_t>(seconds * rate);
    std::vector<std::vector<float>> out(2, std::vector<float>(length));
    for (size_t c = 0; c < 2; ++c)
    {
        const auto& src = a.channels[std::min<size_t>(c, a.channels.size() - 1)];
        for (size_t i = 0; i < length; ++i)
            out[c][i] = src[i % src.size()];
    }
    return out;
}

struct Result
{
    double msPerSecond;
    double realTime() const { return msPerSecond > 0 ? 1000.0 / msPerSecond : 0.0; }
};

// Processes the material block by block with `process` and returns the cost.
Result measure(const std::vector<std::vector<float>>& input, double rate, int block,
               const std::function<void(float*, float*, int)>& process)
{
    std::vector<float> l(static_cast<size_t>(block)), r(static_cast<size_t>(block));
    const int total = static_cast<int>(input[0].size());
    const double start = cpuSeconds();
    for (int pos = 0; pos + block <= total; pos += block)
    {
        std::memcpy(l.data(), input[0].data() + pos, sizeof(float) * static_cast<size_t>(block));
        std::memcpy(r.data(), input[1].data() + pos, sizeof(float) * static_cast<size_t>(block));
        process(l.data(), r.data(), block);
    }
    const double audioSeconds = (total / block) * block / rate;
    return {1000.0 * (cpuSeconds() - start) / audioSeconds};
}

struct SorvelSetting
{
    const char* name;
    sv2::Params params;
};

std::vector<SorvelSetting> sorvelSettings()
{
    std::vector<SorvelSetting> s;
    s.push_back({"defaults", sv2::Params{}});

    sv2::Params strong;
    strong.deess = 8;
    strong.deessChar = 2;
    strong.bass = 5;
    strong.treble = 6;
    strong.comp = 8;
    strong.compChar = 2;
    strong.shimmer = 8;
    strong.shimmerChar = 2;
    strong.reverb = 8;
    strong.reverbChar = 2;
    strong.reverbDecay = 3;
    strong.delay = 6;
    strong.delayChar = 2;
    strong.delayFeedback = 50;
    strong.delayPingPong = true;
    strong.width = 8;
    strong.widthChar = 2;
    strong.duck = 8;
    s.push_back({"all strong", strong});

    sv2::Params off;
    off.hpfOn = off.deessOn = off.eqOn = off.compOn = off.shimmerOn = off.reverbOn = off.delayOn =
        off.widthOn = false;
    s.push_back({"all off", off});

    const char* sources[] = {"listen De-ess", "listen Compress", "listen Shimmer",
                             "listen Reverb", "listen Delay",    "listen Width"};
    for (int k = 1; k <= 6; ++k)
    {
        sv2::Params p;
        p.listen = k;
        s.push_back({sources[k - 1], p});
    }
    return s;
}

Result runSorvel(const std::vector<std::vector<float>>& input, double rate, int block,
                 const sv2::Params& params)
{
    auto inputMeter = std::make_unique<sv::LoudnessMeter>();
    auto outputMeter = std::make_unique<sv::LoudnessMeter>();
    auto feed = std::make_unique<sv2::EditorFeed>();
    auto chain = std::make_unique<sv2::Chain>(*inputMeter, *outputMeter, *feed);
    chain->prepare(rate, 2, block);
    chain->applyParams(params);
    return measure(input, rate, block,
                   [&](float* l, float* r, int n)
                   {
                       chain->applyParams(params);
                       chain->processBlock(l, r, n, 2, false, true);
                   });
}

// Each of Sorvel's modules on its own at its default setting, 48 kHz stereo, 512-sample blocks:
// where the chain's time goes.
void moduleCosts(const std::vector<std::vector<float>>& input)
{
    const double rate = 48000.0;
    const int block = 512;
    std::vector<float> up0(2 * block), up1(2 * block), mono(block), outL(block), outR(block), trace(block);
    auto report = [](const char* name, Result r)
    { std::printf("  %-28s %7.3f ms/s\n", name, r.msPerSecond); };

    {
        eng::vocal::HighPass m;
        m.prepare(rate, 2);
        m.set({2});
        report("High-Pass (90 Hz)", measure(input, rate, block,
                                            [&](float* l, float* r, int n)
                                            {
                                                float* ch[2] = {l, r};
                                                m.process(ch, n);
                                            }));
    }
    {
        eng::vocal::DeEsser m;
        m.prepare(rate, 2);
        m.set({3.0f, 1, 0.0f});
        report("De-ess (3, Mid, Auto)", measure(input, rate, block,
                                                [&](float* l, float* r, int n)
                                                {
                                                    float* ch[2] = {l, r};
                                                    m.process(ch, n, trace.data(), nullptr);
                                                }));
    }
    {
        eng::vocal::ToneEq m;
        m.prepare(rate, 2);
        m.set({{0.0f, 1}, {2.0f, 0}});
        report("EQ (bass 0, treble +2)", measure(input, rate, block,
                                                 [&](float* l, float* r, int n)
                                                 {
                                                     float* ch[2] = {l, r};
                                                     m.process(ch, n);
                                                 }));
    }
    {
        sv::Oversampler2x u0, u1, d0, d1;
        report("Oversampler (up and down, 2 ch)", measure(input, rate, block,
                                                          [&](float* l, float* r, int n)
                                                          {
                                                              u0.up(l, up0.data(), n);
                                                              u1.up(r, up1.data(), n);
                                                              d0.down(up0.data(), l, n);
                                                              d1.down(up1.data(), r, n);
                                                          }));
    }
    // Compress and Shimmer run inside the oversampled section: they get the material at twice
    // the rate, up-sampled beforehand so that only the module is timed.
    std::vector<std::vector<float>> doubled(2, std::vector<float>(2 * input[0].size()));
    for (size_t c = 0; c < 2; ++c)
    {
        sv::Oversampler2x o;
        for (size_t pos = 0; pos + block <= input[c].size(); pos += block)
            o.up(input[c].data() + pos, doubled[c].data() + 2 * pos, block);
    }
    auto atTwiceTheRate = [&](auto&& processDoubled)
    {
        int position = 0;
        return [&, position](float*, float*, int n) mutable
        {
            std::copy_n(doubled[0].begin() + 2 * position, 2 * n, up0.begin());
            std::copy_n(doubled[1].begin() + 2 * position, 2 * n, up1.begin());
            float* ch[2] = {up0.data(), up1.data()};
            processDoubled(ch, n);
            position += n;
        };
    };
    {
        eng::vocal::Compressor m;
        m.prepare(rate, 2);
        m.set({4.0f, 1, 1.0f});
        report("Compress (4, Push) at 2x",
               measure(input, rate, block,
                       atTwiceTheRate([&](float** ch, int n) { m.process(ch, nullptr, 2 * n); })));
    }
    {
        eng::vocal::Shimmer m;
        m.prepare(2.0 * rate, 2);
        m.set({1.0f, 0, true});
        report(
            "Shimmer (+1, Silk) at 2x",
            measure(input, rate, block,
                    atTwiceTheRate([&](float** ch, int n) { m.process(ch, nullptr, 2 * n, trace.data()); })));
    }
    {
        eng::vocal::Reverb m;
        m.prepare(rate, block);
        m.set({2.0f, 0, 1.6f, 30.0f});
        report("Reverb (2, Plate)",
               measure(input, rate, block,
                       [&](float* l, float*, int n) { m.process(l, outL.data(), outR.data(), n); }));
    }
    {
        eng::vocal::TempoDelay m;
        m.prepare(rate);
        m.set({1.0f, 1, 25.0f, false, 120.0});
        report("Delay (1, Eighth)",
               measure(input, rate, block,
                       [&](float* l, float*, int n) { m.process(l, outL.data(), outR.data(), n); }));
    }
    {
        eng::vocal::Width m;
        m.prepare(rate);
        m.set({2.0f, 0});
        report("Width (2, Stereo)",
               measure(input, rate, block,
                       [&](float* l, float*, int n) { m.process(l, outL.data(), outR.data(), n); }));
    }
    {
        sv::LoudnessMeter m;
        m.prepare(rate);
        report("Loudness meter (one of two)",
               measure(input, rate, block, [&](float* l, float* r, int n) { m.process(l, r, n); }));
    }
}

Result runMirrel(const std::vector<std::vector<float>>& input, double rate, int block)
{
    auto engine = std::make_unique<mr::MirrelEngine>();
    engine->prepare(rate);
    mr::Mirrel::Settings settings;
    mr::TransportState transport;
    transport.playing = transport.hasPosition = transport.hasTempo = true;
    transport.bpm = 120.0;
    return measure(input, rate, block,
                   [&](float* l, float* r, int n)
                   {
                       engine->process(l, r, n, settings, transport, true);
                       transport.quarterNotes += n / rate * 2.0;
                   });
}

// Loud input, then minutes of silence with the transport running (so nothing sleeps): a filter or
// a feedback path decaying into denormal numbers would make the later windows slower. With
// flush-to-zero, as the plug-ins run, and without, as the engine alone would.
void silenceAfterLoud(const wav::Audio& phrase, const wav::Audio& drums, bool quick)
{
    const double rate = 48000.0;
    const int block = 512;
    const int windows = quick ? 3 : 6;
    const double windowSeconds = 30.0;
    const auto silence = std::vector<std::vector<float>>(
        2, std::vector<float>(static_cast<size_t>(windowSeconds * rate), 0.0f));

    std::printf("\nSilence after loud input, 48 kHz, 512-sample blocks: ms of CPU per second of audio,\n"
                "the loud 4 s, then each %.0f s of silence\n", windowSeconds);
    for (const bool flush : {true, false})
    {
        flushDenormals(flush);
        const char* mode = flush ? "flush-to-zero" : "no flush-to-zero";
        auto row = [&](const char* name, const std::function<void(float*, float*, int)>& process,
                       const std::vector<std::vector<float>>& loud)
        {
            std::printf("%-20s %-17s loud %7.3f  silent", name, mode, measure(loud, rate, block, process).msPerSecond);
            for (int w = 0; w < windows; ++w)
                std::printf(" %7.3f", measure(silence, rate, block, process).msPerSecond);
            std::printf("\n");
            std::fflush(stdout);
        };

        const auto strong = sorvelSettings()[1].params;
        auto inputMeter = std::make_unique<sv::LoudnessMeter>();
        auto outputMeter = std::make_unique<sv::LoudnessMeter>();
        auto feed = std::make_unique<sv2::EditorFeed>();
        auto chain = std::make_unique<sv2::Chain>(*inputMeter, *outputMeter, *feed);
        chain->prepare(rate, 2, block);
        row("Sorvel all strong",
            [&](float* l, float* r, int n)
            {
                chain->applyParams(strong);
                chain->processBlock(l, r, n, 2, false, true);
            },
            loop(phrase, 4.0, rate));

        auto engine = std::make_unique<mr::MirrelEngine>();
        engine->prepare(rate);
        mr::Mirrel::Settings settings;
        mr::TransportState transport;
        transport.playing = transport.hasPosition = transport.hasTempo = true;
        row("Mirrel defaults",
            [&](float* l, float* r, int n)
            {
                engine->process(l, r, n, settings, transport, true);
                transport.quarterNotes += n / rate * 2.0;
            },
            loop(drums, 4.0, rate));
    }
    flushDenormals(true);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: mosslight-bench <demo folder> [--quick | --silence | --profile]\n");
        return 2;
    }
    const bool quick = argc > 2 && std::strcmp(argv[2], "--quick") == 0;
    // --profile: only the default chain at 48 kHz, 512-sample blocks, for a profiler.
    const bool profile = argc > 2 && std::strcmp(argv[2], "--profile") == 0;
    flushDenormals();

    wav::Audio phrase, drums;
    std::string error;
    if (!wav::read(std::string(argv[1]) + "/phrase.wav", phrase, error) ||
        !wav::read(std::string(argv[1]) + "/drums.wav", drums, error))
    {
        std::fprintf(stderr, "mosslight-bench: %s\n", error.c_str());
        return 1;
    }

    // --silence: only loud input followed by minutes of silence.
    if (argc > 2 && std::strcmp(argv[2], "--silence") == 0)
    {
        silenceAfterLoud(phrase, drums, false);
        return 0;
    }

    if (profile)
    {
        const auto r = runSorvel(loop(phrase, 3.0, 48000.0), 48000.0, 512, sv2::Params{});
        std::printf("defaults 48000 512: %.3f ms/s (%.0fx)\n", r.msPerSecond, r.realTime());
        return 0;
    }

    const double rates[] = {44100.0, 48000.0, 96000.0};
    const int blocks[] = {32, 128, 512, 2048};
    const double seconds = quick ? 4.0 : 20.0;

    std::printf("Sorvel, the demo phrase (stereo): ms of CPU per second of audio (real-time factor)\n");
    std::printf("%-16s %8s", "setting", "rate");
    for (int b : blocks)
        std::printf("  %17d", b);
    std::printf("\n");
    for (const auto& s : sorvelSettings())
        for (double rate : rates)
        {
            if (quick && rate != 48000.0)
                continue;
            const auto input = loop(phrase, seconds, rate);
            std::printf("%-16s %8.0f", s.name, rate);
            for (int b : blocks)
            {
                const auto r = runSorvel(input, rate, b, s.params);
                std::printf("  %7.3f (%6.0fx)", r.msPerSecond, r.realTime());
            }
            std::printf("\n");
            std::fflush(stdout);
        }

    std::printf("\nSorvel's modules alone, 48 kHz, 512-sample blocks\n");
    moduleCosts(loop(phrase, seconds, 48000.0));

    std::printf("\nMirrel, the demo drum loop, transport playing\n");
    for (double rate : rates)
    {
        const auto input = loop(drums, seconds, rate);
        std::printf("%-16s %8.0f", "defaults", rate);
        for (int b : blocks)
        {
            const auto r = runMirrel(input, rate, b);
            std::printf("  %7.3f (%6.0fx)", r.msPerSecond, r.realTime());
        }
        std::printf("\n");
    }

    silenceAfterLoud(phrase, drums, quick);
    return 0;
}
