#include "sorvel/engine/Chain.h"

#include "sorvel/engine/Latency.h"
#include "common/dsp/ClampSetting.h"
#include "common/dsp/FastMath.h"
#include "common/dsp/NonFinite.h"
#include "common/dsp/OnePole.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sv2
{
namespace
{
constexpr float silenceThreshold = 0.00031622776f; // -70 dBFS

int samplesFor(double seconds, double sampleRate)
{
    return std::max(1, static_cast<int>(std::lround(seconds * sampleRate)));
}

// The gain of the input and output parameters, up to +24 dB; below -24 dB is the floor.
float gainFromDb(float db)
{
    db = sv::clampSetting(db, -100.0f, 24.0f, 0.0f);
    return db < -24.0f ? 0.0630957f : static_cast<float>(std::pow(10.0, db * 0.05));
}

void copy(const float* from, float* to, int n) noexcept
{
    if (from != to)
        std::memmove(to, from, static_cast<size_t>(n) * sizeof(float));
}

float powerDb(double energy, int count)
{
    const double mean = energy / std::max(count, 1);
    return std::max(static_cast<float>(10.0 * std::log10(std::max(mean, 1e-20))), -120.0f);
}
} // namespace

Chain::Chain(sv::LoudnessMeter& input, sv::LoudnessMeter& output, EditorFeed& editorFeed)
    : inputMeter(input), outputMeter(output), feed(editorFeed)
{
}

void Chain::prepare(double newSampleRate, int numChannels, int maxBlock)
{
    sampleRate = newSampleRate;
    channels = numChannels >= 2 ? 2 : 1;
    maxPiece = std::max(maxBlock, 16);

    highPass.prepare(sampleRate, channels);
    deesser.prepare(sampleRate, channels);
    toneEq.prepare(sampleRate, channels);
    compressor.prepare(sampleRate, channels);
    shimmer.prepare(2.0 * sampleRate, channels);
    for (auto* bank : {&up, &downMain, &downComp, &downShimmer})
        for (auto& o : *bank)
            o.prepare();
    reverb.prepare(sampleRate, maxPiece);
    tempoDelay.prepare(sampleRate);
    width.prepare(sampleRate);

    sectionDelay = eng::vocal::sectionDelaySamples(sampleRate);
    latency = eng::vocal::deEssLookaheadSamples(sampleRate) + sectionDelay;
    dryDelay.prepare(channels, latency, maxPiece);
    sectionBypass.prepare(channels, sectionDelay, maxPiece);
    deessListenDelay.prepare(channels, sectionDelay, maxPiece);

    inputMeter.prepare(sampleRate);
    outputMeter.prepare(sampleRate);

    for (auto* s : {&main, &dry, &scratch, &delayed, &deessListen, &compListen, &shimmerListen, &reverbOut,
                    &delayOut, &widthOut})
        s->resize(maxPiece);
    for (auto* s : {&upMain, &upCompListen, &upShimmerListen})
        s->resize(2 * maxPiece);
    for (auto* v : {&send, &trace, &duckGain, &rampValues, &levels, &tapA, &tapB, &tapC})
        v->assign(static_cast<size_t>(maxPiece), 0.0f);
    sourceValues.assign(static_cast<size_t>(numSources * maxPiece), 0.0f);

    const int twentyMs = samplesFor(0.020, sampleRate);
    for (auto* r : {&inputGain, &outputGain, &sectionOn, &listenFade, &highPassOn, &eqOn})
        r->setLength(twentyMs);
    for (auto& r : sourceGain)
        r.setLength(twentyMs);
    bypassRamp.setLength(samplesFor(0.025, sampleRate));
    matchGain.setLength(samplesFor(0.025, sampleRate));
    matchGain.jumpTo(1.0f);

    duckAttack = static_cast<float>(sv::onePoleCoefficient(0.001, sampleRate));
    duckRelease = static_cast<float>(sv::onePoleCoefficient(0.040, sampleRate));
    duckDeepen = static_cast<float>(sv::onePoleCoefficient(0.010, sampleRate, 2.302585093)); // to 10 %
    duckRecover = static_cast<float>(sv::onePoleCoefficient(0.250, sampleRate, 2.995732));   // to 5 %
    duckEnvelope = -120.0f;
    duckDepth = 0.0f;

    intervalLength = samplesFor(0.010, sampleRate);
    silenceLimit = silenceCount = samplesFor(0.100, sampleRate);
    idle = true;
    feed.idle.store(true);
    resetInterval();
    latest = MeteringRecord::silent();
    matchOffsetDb = 0.0f;
    feed.matchOffsetDb.store(0.0f);
    feed.deessFreqHz.store(6500.0f);

    listen.reset(normal);
    neededLastPiece.fill(false);
    initialised = false;
    previousBypass = false;
}

bool Chain::sectionActive() const noexcept
{
    return !compressor.isIdle() || shimmer.isActive();
}

void Chain::measureLevelMatch() noexcept
{
    float in = inputMeter.shortTerm(), out = outputMeter.shortTerm();
    if (in <= -99.0f || out <= -99.0f)
    {
        in = inputMeter.momentary();
        out = outputMeter.momentary();
    }
    matchOffsetDb = (in > -99.0f && out > -99.0f) ? std::clamp(out - in, -20.0f, 20.0f) : 0.0f;
    matchGain.setTarget(static_cast<float>(std::pow(10.0, matchOffsetDb / 20.0)));
}

void Chain::applyParams(const Params& p) noexcept
{
    params = p;
    tempo = p.tempo;
    const bool first = !initialised;

    inputGain.setTarget(gainFromDb(p.input));
    outputGain.setTarget(gainFromDb(p.output));

    // Each module clamps its own settings; a module that is switched off gets the amount 0.
    highPass.set({p.hpf});

    eng::vocal::DeEsser::Settings deess;
    deess.amount = p.deessOn ? p.deess : 0.0f;
    deess.character = p.deessChar;
    deess.freqHz = p.deessFreq;
    deesser.set(deess);

    eng::vocal::ToneEq::Settings eq;
    eq.bass = {p.bass, p.bassChar};
    eq.treble = {p.treble, p.trebleChar};
    toneEq.set(eq);

    // The amount stays while the mix fades out, so switching off fades rather than stops.
    eng::vocal::Compressor::Settings comp;
    const bool compSounding = p.compOn || compressor.getMix() > 0.0f || compressor.isMixMoving();
    comp.amount = compSounding ? p.comp : 0.0f;
    comp.character = p.compChar;
    comp.mix = p.compOn ? p.compMix / 100.0f : 0.0f;
    compressor.set(comp);

    eng::vocal::Shimmer::Settings shine;
    shine.amount = p.shimmer;
    shine.character = p.shimmerChar;
    shine.on = p.shimmerOn;
    shimmer.set(shine);

    eng::vocal::Reverb::Settings space;
    space.amount = p.reverbOn ? p.reverb : 0.0f;
    space.character = p.reverbChar;
    space.decaySeconds = p.reverbDecay;
    space.preDelayMs = p.reverbPredelay;
    reverb.set(space);

    eng::vocal::TempoDelay::Settings echo;
    echo.amount = p.delayOn ? p.delay : 0.0f;
    echo.character = p.delayChar;
    echo.feedbackPercent = p.delayFeedback;
    echo.pingPong = p.delayPingPong;
    echo.tempoBpm = p.tempo;
    tempoDelay.set(echo);

    eng::vocal::Width::Settings doubles;
    doubles.amount = p.widthOn ? p.width : 0.0f;
    doubles.character = p.widthChar;
    width.set(doubles);

    highPassOn.setTarget(p.hpfOn ? 1.0f : 0.0f);
    eqOn.setTarget(p.eqOn ? 1.0f : 0.0f);
    const bool sourceOn[numSources] = {true,       p.deessOn, p.compOn, p.shimmerOn,
                                       p.reverbOn, p.delayOn, p.widthOn};
    for (int k = 0; k < numSources; ++k)
        sourceGain[static_cast<size_t>(k)].setTarget(sourceOn[k] ? 1.0f : 0.0f);

    duckDb = sv::clampSetting(p.duck, 0.0f, 12.0f);

    const int index = sv::clampChoice(p.listen, numSources);
    if (first)
    {
        listen.reset(index);
        listenFade.jumpTo(1.0f);
    }
    else if (listen.request(index))
        listenFade.restart(0.0f, 1.0f);

    // A project that opens with bypass on is not level-matched until bypass is engaged again.
    if (!first && p.bypass && !previousBypass)
        measureLevelMatch();
    bypassRamp.setTarget(p.bypass ? 1.0f : 0.0f);
    previousBypass = p.bypass;

    if (first)
    {
        for (auto* r : {&inputGain, &outputGain, &highPassOn, &eqOn, &bypassRamp})
            r->jumpTo(r->getTarget());
        for (auto& r : sourceGain)
            r.jumpTo(r.getTarget());
        sectionOn.jumpTo(sectionActive() ? 1.0f : 0.0f);
    }
    initialised = true;
}

void Chain::processBlock(float* left, float* right, int numSamples, int inputChannels, bool inputMarkedClear,
                         bool playing) noexcept
{
    // Before the silence detection, the meters and every filter see it.
    sv::silenceNonFinite(left, numSamples);
    if (inputChannels >= 2)
        sv::silenceNonFinite(right, numSamples);

    float peak = 0.0f;
    if (inputChannels >= 1 && !inputMarkedClear)
    {
        for (int i = 0; i < numSamples; ++i)
            peak = std::max(peak, std::abs(left[i]));
        if (inputChannels >= 2)
            for (int i = 0; i < numSamples; ++i)
                peak = std::max(peak, std::abs(right[i]));
    }

    // Idle after 100 ms below -70 dBFS with the transport stopped; a playing transport counts as
    // sound, so the silence after it stops is idle at once.
    if (playing)
        silenceCount = silenceLimit;
    else if (peak > silenceThreshold)
        silenceCount = 0;
    else
        silenceCount = std::min(silenceLimit, silenceCount + numSamples);
    idle = !playing && silenceCount >= silenceLimit;
    feed.idle.store(idle);
    if (!idle)
        feed.blocksProcessed.fetch_add(1);

    if (feed.resetLoudness.exchange(false))
        outputMeter.reset();
    tapEnabled = feed.tapEnabled.load();

    blockInputPeak = blockOutputPeak = blockDuckMax = 0.0f;

    // Pieces never cross a metering interval.
    for (int pos = 0; pos < numSamples;)
    {
        const int n = std::min({numSamples - pos, maxPiece, intervalLength - intervalCount});
        const float* in[2] = {left + pos, (inputChannels >= 2 && channels == 2) ? right + pos : left + pos};
        float* out[2] = {left + pos, right + pos};
        processPiece(in, out, n);
        pos += n;
    }

    sv::atomicMax(feed.inputPeak, blockInputPeak);
    sv::atomicMax(feed.outputPeak, blockOutputPeak);
    sv::atomicMax(feed.duckPeak, blockDuckMax);
    sv::atomicMax(feed.compStage1Peak, latest[MeteringRecord::compStage1Db]);
    sv::atomicMax(feed.compStage2Peak, latest[MeteringRecord::compStage2Db]);
    sv::atomicMax(feed.deessPeak, latest[MeteringRecord::deessReductionDb]);
    feed.matchOffsetDb.store(matchOffsetDb);
    feed.deessFreqHz.store(deesser.getEssFrequencyHz());
    feed.hostBpm.store(static_cast<float>(tempo));
}

bool Chain::sourceNeeded(int source) const noexcept
{
    return (listenFade.isMoving() || listen.currentValue() != normal) &&
           (source == listen.previousValue() || source == listen.currentValue());
}

void Chain::runWrapped(eng::vocal::Ramp& ramp, int n, bool isHighPass) noexcept
{
    auto run = [&](float* const* ch)
    {
        if (isHighPass)
            highPass.process(ch, n);
        else
            toneEq.process(ch, n);
    };
    float* mainPtrs[2] = {main.l(), main.r()};
    if (ramp.getValue() >= 1.0f && !ramp.isMoving())
    {
        run(mainPtrs);
        return;
    }

    // Off or fading: the module runs on a copy, so its state stays current, and is faded in.
    float* copies[2] = {scratch.l(), scratch.r()};
    for (int c = 0; c < channels; ++c)
        copy(mainPtrs[c], copies[c], n);
    run(copies);

    float* r = rampValues.data();
    if (!ramp.nextValues(r, n))
    {
        if (ramp.getValue() <= 0.0f)
            return;
        std::fill(r, r + n, ramp.getValue());
    }
    for (int c = 0; c < channels; ++c)
    {
        float* x = mainPtrs[c];
        const float* wet = copies[c];
        for (int i = 0; i < n; ++i)
            x[i] += r[i] * (wet[i] - x[i]);
    }
}

void Chain::runSection(int n, bool needComp, bool needShimmer) noexcept
{
    sectionOn.setTarget(sectionActive() ? 1.0f : 0.0f);

    float* mainPtrs[2] = {main.l(), main.r()};
    float* delayedPtrs[2] = {delayed.l(), delayed.r()};
    sectionBypass.process(mainPtrs, delayedPtrs, n);

    float* compDown[2] = {compListen.l(), compListen.r()};
    float* shimmerDown[2] = {shimmerListen.l(), shimmerListen.r()};
    if (!(sectionActive() || sectionOn.getValue() > 0.0f || sectionOn.isMoving()))
    {
        // Idle: a plain delay of the same length, so the latency never changes.
        for (int c = 0; c < channels; ++c)
        {
            copy(delayedPtrs[c], mainPtrs[c], n);
            if (needComp)
                std::fill(compDown[c], compDown[c] + n, 0.0f);
            if (needShimmer)
                std::fill(shimmerDown[c], shimmerDown[c] + n, 0.0f);
        }
        return;
    }

    float* upPtrs[2] = {upMain.l(), upMain.r()};
    float* upComp[2] = {upCompListen.l(), upCompListen.r()};
    float* upShimmer[2] = {upShimmerListen.l(), upShimmerListen.r()};
    for (int c = 0; c < channels; ++c)
        up[static_cast<size_t>(c)].up(mainPtrs[c], upPtrs[c], n);
    compressor.process(upPtrs, needComp ? upComp : nullptr, 2 * n);
    shimmer.process(upPtrs, needShimmer ? upShimmer : nullptr, 2 * n, trace.data());
    for (int c = 0; c < channels; ++c)
    {
        const auto ch = static_cast<size_t>(c);
        downMain[ch].down(upPtrs[c], mainPtrs[c], n);
        if (needComp)
            downComp[ch].down(upComp[c], compDown[c], n);
        if (needShimmer)
            downShimmer[ch].down(upShimmer[c], shimmerDown[c], n);
    }

    float* r = rampValues.data();
    if (!sectionOn.nextValues(r, n))
    {
        if (sectionOn.getValue() >= 1.0f)
            return;
        std::fill(r, r + n, sectionOn.getValue());
    }
    for (int c = 0; c < channels; ++c)
    {
        float* x = mainPtrs[c];
        const float* d = delayedPtrs[c];
        for (int i = 0; i < n; ++i)
            x[i] = d[i] + r[i] * (x[i] - d[i]);
    }
}

void Chain::runReturns(int n) noexcept
{
    float* s = send.data();
    if (channels == 2)
        for (int i = 0; i < n; ++i)
            s[i] = 0.5f * (main.left[static_cast<size_t>(i)] + main.right[static_cast<size_t>(i)]);
    else
        copy(main.l(), s, n);

    // Each module writes silence and does nothing else while it is off.
    reverb.process(s, reverbOut.l(), reverbOut.r(), n);
    tempoDelay.process(s, delayOut.l(), delayOut.r(), n);
    width.process(s, widthOut.l(), widthOut.r(), n);
    returnsTakePart = reverb.isActive() || tempoDelay.isRunning() || width.isRunning();
}

void Chain::duck(int n) noexcept
{
    // The vocal's level in dB (vectorised), then the two followers (serial), then the gain.
    float* level = levels.data();
    const float* l = main.l();
    const float* r = mainChannel(1);
    for (int i = 0; i < n; ++i)
        level[i] = sv::fastAmplitudeToDb(std::max({std::abs(l[i]), std::abs(r[i]), 1e-9f}));

    float e = duckEnvelope, d = duckDepth, deepest = 0.0f;
    float* depth = duckGain.data();
    for (int i = 0; i < n; ++i)
    {
        const float lv = level[i];
        e = lv + (lv > e ? duckAttack : duckRelease) * (e - lv);
        // No ducking below -51 dBFS, full ducking above -39 dBFS.
        const float x = std::clamp((e + 51.0f) / 12.0f, 0.0f, 1.0f);
        const float t = duckDb * x * x * (3.0f - 2.0f * x);
        d = t + (t > d ? duckDeepen : duckRecover) * (d - t);
        depth[i] = d;
        deepest = std::max(deepest, d);
    }
    duckEnvelope = e;
    duckDepth = d;
    intervalDuckMax = std::max(intervalDuckMax, deepest);

    if (!returnsTakePart)
        return;
    constexpr float log2Of10Over20 = 0.16609640474f; // 10^(-d/20) = 2^(-d log2(10) / 20)
    for (int i = 0; i < n; ++i)
        depth[i] = depth[i] > 0.0001f ? sv::fastExp2(-depth[i] * log2Of10Over20) : 1.0f;
}

const float* Chain::sourceSignal(int source, int c, const float* const* normalOut) const noexcept
{
    auto pick = [&](const Stereo& s) { return c == 0 || channels == 1 ? s.left.data() : s.right.data(); };
    switch (source)
    {
    case deessSource:
        return computed[deessSource] ? pick(deessListen) : nullptr;
    case compSource:
        return computed[compSource] ? pick(compListen) : nullptr;
    case shimmerSource:
        return computed[shimmerSource] ? pick(shimmerListen) : nullptr;
    case reverbSource:
        return c == 0 ? reverbOut.left.data() : reverbOut.right.data();
    case delaySource:
        return c == 0 ? delayOut.left.data() : delayOut.right.data();
    case widthSource:
        return c == 0 ? widthOut.left.data() : widthOut.right.data();
    default:
        return normalOut[c];
    }
}

void Chain::listenMix(float* const* out, int n) noexcept
{
    std::array<float*, numSources> gains{};
    for (int k = 0; k < numSources; ++k)
    {
        gains[static_cast<size_t>(k)] = sourceValues.data() + static_cast<size_t>(k * maxPiece);
        auto& ramp = sourceGain[static_cast<size_t>(k)];
        if (!ramp.nextValues(gains[static_cast<size_t>(k)], n))
            std::fill(gains[static_cast<size_t>(k)], gains[static_cast<size_t>(k)] + n, ramp.getValue());
    }

    // Sample by sample: a crossfade may end, and the pending source take over, inside the piece.
    for (int i = 0; i < n; ++i)
    {
        const float r = listenFade.isMoving() ? listenFade.next() : listenFade.getValue();
        const int listenFrom = listen.previousValue(), listenTo = listen.currentValue();
        const float gFrom = gains[static_cast<size_t>(listenFrom)][i];
        const float gTo = gains[static_cast<size_t>(listenTo)][i];
        for (int c = 0; c < 2; ++c)
        {
            const float* from = sourceSignal(listenFrom, c, out);
            const float* to = sourceSignal(listenTo, c, out);
            const float a = from != nullptr ? from[i] * gFrom : 0.0f;
            const float b = to != nullptr ? to[i] * gTo : 0.0f;
            out[c][i] = a + r * (b - a);
        }
        if (listen.isFading() && !listenFade.isMoving())
        {
            listen.finish();
            if (listen.takeUpWaiting())
                listenFade.restart(0.0f, 1.0f);
        }
    }
}

void Chain::mix(float* const* out, int n) noexcept
{
    const float* g = duckGain.data();
    std::array<Stereo*, 3> returns{&reverbOut, &delayOut, &widthOut};
    if (returnsTakePart)
        for (auto* ret : returns)
            for (auto* x : {ret->l(), ret->r()})
                for (int i = 0; i < n; ++i)
                    x[i] *= g[i];

    // The normal output: the processed vocal and, when they take part, the ducked returns.
    for (int c = 0; c < 2; ++c)
    {
        const float* m = mainChannel(c);
        float* o = out[c];
        if (returnsTakePart)
        {
            const float* a = c == 0 ? reverbOut.l() : reverbOut.r();
            const float* b = c == 0 ? delayOut.l() : delayOut.r();
            const float* w = c == 0 ? widthOut.l() : widthOut.r();
            for (int i = 0; i < n; ++i)
                o[i] = m[i] + a[i] + b[i] + w[i];
        }
        else
        {
            copy(m, o, n);
        }
    }

    if (listen.currentValue() != normal || listenFade.isMoving())
        listenMix(out, n);
    else
        for (auto& r : sourceGain)
            r.skip(n);

    float* r = rampValues.data();
    if (outputGain.nextValues(r, n))
    {
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
                out[c][i] *= r[i];
    }
    else if (const float gain = outputGain.getValue(); gain != 1.0f)
    {
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
                out[c][i] *= gain;
    }

    // Level-matched bypass: towards the latency-aligned dry input; output gain, listen and the
    // returns do not apply to it.
    if (bypassRamp.isMoving() || bypassRamp.getValue() > 0.0f)
    {
        for (int i = 0; i < n; ++i)
        {
            const float b = bypassRamp.next();
            const float m = matchGain.next();
            const float dl = dry.left[static_cast<size_t>(i)] * m;
            const float dr =
                (channels == 2 ? dry.right[static_cast<size_t>(i)] : dry.left[static_cast<size_t>(i)]) * m;
            if (b >= 1.0f)
            {
                // Fully bypassed: exactly the dry signal.
                out[0][i] = dl;
                out[1][i] = dr;
            }
            else if (b > 0.0f)
            {
                out[0][i] += b * (dl - out[0][i]);
                out[1][i] += b * (dr - out[1][i]);
            }
        }
    }
    else
    {
        matchGain.skip(n);
    }

    if (idle)
        return;
    float peak = intervalOutputPeak;
    double energy = 0.0;
    for (int i = 0; i < n; ++i)
    {
        const float l = out[0][i], rr = out[1][i];
        peak = std::max({peak, std::abs(l), std::abs(rr)});
        energy += 0.5 * (static_cast<double>(l) * l + static_cast<double>(rr) * rr);
    }
    intervalOutputPeak = peak;
    outputEnergy += energy;
    if (returnsTakePart)
    {
        auto sumSquares = [n](const Stereo& s)
        {
            double e = 0.0;
            for (int i = 0; i < n; ++i)
                e += 0.5 *
                     (static_cast<double>(s.left[static_cast<size_t>(i)]) * s.left[static_cast<size_t>(i)] +
                      static_cast<double>(s.right[static_cast<size_t>(i)]) * s.right[static_cast<size_t>(i)]);
            return e;
        };
        reverbEnergy += sumSquares(reverbOut);
        delayEnergy += sumSquares(delayOut);
        widthEnergy += sumSquares(widthOut);
    }
}

void Chain::resetInterval() noexcept
{
    intervalCount = 0;
    intervalInputPeak = intervalOutputPeak = intervalDuckMax = 0.0f;
    inputEnergy = outputEnergy = reverbEnergy = delayEnergy = widthEnergy = 0.0;
}

void Chain::writeRecord() noexcept
{
    using R = MeteringRecord;
    R r;
    const int count = std::max(intervalCount, 1);
    r[R::inputPeak] = intervalInputPeak;
    r[R::inputRms] = static_cast<float>(std::sqrt(inputEnergy / count));
    r[R::outputPeak] = intervalOutputPeak;
    r[R::outputRms] = static_cast<float>(std::sqrt(outputEnergy / count));

    // Module peaks are taken (and so cleared) whether or not the module is on.
    const float deessDb = deesser.takePeakReductionDb();
    const bool ess = deesser.takeEssFlag();
    r[R::deessReductionDb] = params.deessOn ? deessDb : 0.0f;
    r[R::essSounding] = params.deessOn && ess ? 1.0f : 0.0f;
    const auto stages = compressor.takeStagePeaks();
    r[R::compStage1Db] = params.compOn ? stages.stage1Db : 0.0f;
    r[R::compStage2Db] = params.compOn ? stages.stage2Db : 0.0f;
    const auto shimmerMeter = shimmer.takeMeter();
    r[R::shimmerSparkleDb] = params.shimmerOn ? shimmerMeter.sparkleDb() : -120.0f;
    r[R::shimmerTamingDb] = params.shimmerOn ? shimmerMeter.tamingPeakDb : 0.0f;
    r[R::shimmerLiftDb] = params.shimmerOn ? shimmerMeter.liftDb() : 0.0f;
    r[R::duckingDb] = intervalDuckMax;
    r[R::reverbReturnDb] = params.reverbOn ? powerDb(reverbEnergy, count) : -120.0f;
    r[R::delayReturnDb] = params.delayOn ? powerDb(delayEnergy, count) : -120.0f;
    r[R::widthReturnDb] = params.widthOn ? powerDb(widthEnergy, count) : -120.0f;

    feed.records.push(r);
    latest = r;
    resetInterval();
}

void Chain::processPiece(const float* const* in, float* const* out, int n) noexcept
{
    // 1. The dry input, delayed to line up with the processed signal (the bypass uses it).
    float* dryPtrs[2] = {dry.l(), dry.r()};
    dryDelay.process(in, dryPtrs, n);

    // 2. Input loudness and levels, from the raw input.
    if (!idle)
    {
        inputMeter.process(in[0], in[1], n);
        float peak = intervalInputPeak;
        double energy = 0.0;
        for (int i = 0; i < n; ++i)
        {
            peak = std::max({peak, std::abs(in[0][i]), std::abs(in[1][i])});
            energy +=
                0.5 * (static_cast<double>(in[0][i]) * in[0][i] + static_cast<double>(in[1][i]) * in[1][i]);
        }
        intervalInputPeak = peak;
        inputEnergy += energy;
    }

    // 3. Input gain. Every input sample needed later has been copied once this is written.
    float* mainPtrs[2] = {main.l(), main.r()};
    float* r = rampValues.data();
    const bool gainMoving = inputGain.nextValues(r, n);
    for (int c = 0; c < channels; ++c)
    {
        if (gainMoving)
            for (int i = 0; i < n; ++i)
                mainPtrs[c][i] = in[c][i] * r[i];
        else
        {
            const float g = inputGain.getValue();
            for (int i = 0; i < n; ++i)
                mainPtrs[c][i] = in[c][i] * g;
        }
    }

    // 4. Listen signals are made only while heard or crossfaded; one that starts being needed
    // starts from clean histories.
    for (int k = deessSource; k <= shimmerSource; ++k)
    {
        const bool needed = sourceNeeded(k);
        if (needed && !neededLastPiece[static_cast<size_t>(k)])
        {
            if (k == deessSource)
                deessListenDelay.clear();
            if (k == compSource)
                for (auto& o : downComp)
                    o.clear();
            if (k == shimmerSource)
                for (auto& o : downShimmer)
                    o.clear();
        }
        neededLastPiece[static_cast<size_t>(k)] = needed;
        computed[static_cast<size_t>(k)] = needed;
    }

    // 5. Tap A: after the input gain.
    tapThisPiece = tapEnabled && !idle;
    auto tap = [&](std::vector<float>& into)
    {
        if (!tapThisPiece)
            return;
        if (channels == 2)
            for (int i = 0; i < n; ++i)
                into[static_cast<size_t>(i)] =
                    0.5f * (main.left[static_cast<size_t>(i)] + main.right[static_cast<size_t>(i)]);
        else
            copy(main.l(), into.data(), n);
    };
    tap(tapA);

    // 6. High-Pass under its on ramp.
    runWrapped(highPassOn, n, true);

    // 7. De-ess, with its look-ahead; its listen signal lined up with the oversampled section.
    float* deessListenPtrs[2] = {deessListen.l(), deessListen.r()};
    deesser.process(mainPtrs, n, trace.data(), computed[deessSource] ? deessListenPtrs : nullptr);
    if (computed[deessSource])
        deessListenDelay.process(deessListenPtrs, deessListenPtrs, n);
    tap(tapB);

    // 8. EQ under its on ramp.
    runWrapped(eqOn, n, false);
    tap(tapC);
    if (tapThisPiece)
        feed.taps.push(tapA.data(), tapB.data(), tapC.data(), static_cast<std::uint32_t>(n));

    // 9. Compress and Shimmer at twice the rate, or the same delay without them.
    runSection(n, computed[compSource], computed[shimmerSource]);

    // 10, 11. The mono send and the three parallel returns.
    runReturns(n);

    // 12. Duck the returns under the vocal.
    duck(n);

    // 13. Mix, listen, output gain, bypass.
    mix(out, n);

    // 14. Metering.
    if (!idle)
    {
        outputMeter.process(out[0], out[1], n);
        blockInputPeak = std::max(blockInputPeak, intervalInputPeak);
        blockOutputPeak = std::max(blockOutputPeak, intervalOutputPeak);
        blockDuckMax = std::max(blockDuckMax, intervalDuckMax);
        intervalCount += n;
        if (intervalCount >= intervalLength)
            writeRecord();
    }
    else
    {
        deesser.resetMeters();
        compressor.clearStagePeaks();
        shimmer.clearMeter();
        resetInterval();
    }
}

} // namespace sv2
