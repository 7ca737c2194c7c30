#include "MirrelEngine.h"

#include "common/dsp/AtomicMax.h"
#include "common/dsp/NonFinite.h"

#include <algorithm>
#include <cmath>

namespace mr
{
namespace
{
constexpr float silenceThreshold = 0.00031622776f; // -70 dBFS
constexpr double halfPi = 1.57079632679489661923;
} // namespace

MirrelEngine::MirrelEngine()
{
    meter.prepare(sampleRate);
}

void MirrelEngine::prepare(double newSampleRate)
{
    sampleRate = newSampleRate;
    lookahead = std::max(1, static_cast<int>(std::lround(0.005 * sampleRate)));
    int length = 1;
    while (length < lookahead + 6)
        length <<= 1;
    delayLeft.assign(static_cast<size_t>(length), 0.0f);
    delayRight.assign(static_cast<size_t>(length), 0.0f);
    mask = length - 1;
    writePos = 0;

    detector.prepare(sampleRate);
    meter.prepare(sampleRate);

    pan = target = step = 0.0f;
    remaining = 0;
    countdown = -1;
    pending = 0.0f;
    updateGains();
    mirrel.resetLast();
    hitCount = 0;
    history.fill(0.0f);
    historyIndex = 0;
    blockInputPeak = blockOutputPeak = 0.0f;

    // The free-running sequence restarts at every preparation.
    freeRunning.state = 0x587DA5A0u;

    store.reserve();
    following = false;
    blockQuarterNotes = 0.0;
    beatsPerSample = 0.0;
    samplesSinceBlock = 0;
    lastDrawnKey = 0;

    mirrel.settings = Mirrel::Settings{};
    detector.setThresholdRatio(2.5118864f);
    slew = std::max(1, static_cast<int>(std::lround(0.002 * sampleRate)));
    countdownMargin = static_cast<int>(std::lround(0.002 * sampleRate));

    silenceLimit = silenceCount = std::max<std::int64_t>(1, std::llround(0.1 * sampleRate));
    idle = true;

    feed.hitCount.store(0);
    for (auto& h : feed.hitPans)
        h.store(0.0f);
    feed.panNow.store(0.0f);
    feed.panLastHit.store(0.0f);
    feed.idle.store(true);
    feed.followingSong.store(false);
}

void MirrelEngine::followTransport(const TransportState& t) noexcept
{
    const bool tempoValid = t.hasTempo && t.bpm > 20.0 && t.bpm < 999.0;
    if (tempoValid)
        tempo = t.bpm;
    const double b = tempoValid ? t.bpm / 60.0 / sampleRate : 0.0;
    const double predicted = blockQuarterNotes + static_cast<double>(samplesSinceBlock) * beatsPerSample;

    if (t.playing && t.hasPosition)
    {
        const bool continuous = following && std::abs(t.quarterNotes - predicted) <= 0.0625;
        if (!continuous)
        {
            // Started or jumped: hits stored for the stretch just played that did not come again
            // are forgotten, and the last placement before the new position is taken up again.
            if (following)
                store.eraseRange(lastDrawnKey, songKey(predicted));
            lastDrawnKey = songKey(t.quarterNotes);
            if (const auto* r = store.lastBefore(lastDrawnKey))
                mirrel.setLast(r->position, r->side);
            else
                mirrel.resetLast();
        }
        following = true;
    }
    else
    {
        if (following)
            store.eraseRange(lastDrawnKey, songKey(predicted));
        following = false;
    }

    blockQuarterNotes = t.hasPosition ? t.quarterNotes : 0.0;
    beatsPerSample = b;
    samplesSinceBlock = 0;
    feed.followingSong.store(t.playing && t.hasPosition);
}

void MirrelEngine::updateIdle(const float* left, const float* right, int n, bool playing,
                              bool inputPresent) noexcept
{
    if (playing)
    {
        silenceCount = silenceLimit;
        idle = false;
    }
    else
    {
        float peak = 0.0f;
        if (inputPresent)
            for (int i = 0; i < n; ++i)
                peak = std::max({peak, std::abs(left[i]), std::abs(right[i])});
        if (inputPresent && peak > silenceThreshold)
            silenceCount = 0;
        else
            silenceCount = std::min(silenceLimit, silenceCount + n);
        idle = silenceCount >= silenceLimit;
    }
    feed.idle.store(idle);
    if (!idle)
        feed.blocksProcessed.fetch_add(1);
}

float MirrelEngine::drawFor(int sampleInBlock) noexcept
{
    if (!following)
        return mirrel.draw(freeRunning);

    // The song position of the hit, 2 ms early, keys both the draw and the record.
    const auto key = songKey(blockQuarterNotes + (sampleInBlock - 0.002 * sampleRate) * beatsPerSample);
    auto keyed = keyedRandom(key, mirrel.settings.seed);
    const float position = mirrel.draw(keyed);
    if (key >= lastDrawnKey)
        store.eraseRange(lastDrawnKey, key + 1);
    store.insert({key, position, mirrel.lastSide});
    lastDrawnKey = key + 1;
    return position;
}

void MirrelEngine::startGlide(float to, int samples) noexcept
{
    target = to;
    remaining = samples;
    step = (target - pan) / static_cast<float>(samples);
}

// Balance law: the centre leaves both sides as they are; an edge doubles one side's power and
// silences the other.
void MirrelEngine::updateGains() noexcept
{
    const double angle = (static_cast<double>(pan) + 1.0) * halfPi * 0.5;
    gainLeft = static_cast<float>(std::cos(angle) * 1.4142135623730951);
    gainRight = static_cast<float>(std::sin(angle) * 1.4142135623730951);
}

void MirrelEngine::process(float* left, float* right, int n, const Mirrel::Settings& settings,
                           const TransportState& transport, bool inputPresent) noexcept
{
    // Before the detector, the delay lines and the meters see it.
    sv::silenceNonFinite(left, n);
    sv::silenceNonFinite(right, n);

    if (feed.resetLoudness.exchange(false))
        meter.reset();

    mirrel.settings = settings;
    detector.setThresholdRatio(static_cast<float>(std::pow(10.0, settings.sensitivity * 0.05)));
    slew = std::max(1, static_cast<int>(std::lround(settings.slewMs * 0.001 * sampleRate)));

    followTransport(transport);
    updateIdle(left, right, n, transport.playing, inputPresent);

    const bool bypass = settings.bypass;
    const int bypassGlide = std::max({slew, static_cast<int>(0.01 * sampleRate), 1});
    const int hitCountdown = std::max(lookahead - slew - countdownMargin, 0);

    for (int i = 0; i < n; ++i)
    {
        const float xl = left[i], xr = right[i];
        if (!idle)
            blockInputPeak = std::max({blockInputPeak, std::abs(xl), std::abs(xr)});

        delayLeft[static_cast<size_t>(writePos)] = xl;
        delayRight[static_cast<size_t>(writePos)] = xr;

        const bool hit = detector.process(0.5f * (xl + xr));

        if (bypass)
        {
            // A pending move is dropped and the signal glides to the centre; hits are not drawn.
            countdown = -1;
            if (std::abs(target) > 1e-6f)
                startGlide(0.0f, bypassGlide);
        }
        else
        {
            if (hit)
            {
                pending = drawFor(i);
                countdown = hitCountdown;
                history[static_cast<size_t>(historyIndex)] = pending;
                historyIndex = (historyIndex + 1) % Feed::historySize;
                ++hitCount;
            }
            // A countdown of 0 set by a hit starts the glide at that very sample.
            if (countdown >= 0 && countdown-- == 0)
                startGlide(pending, std::max(slew, 1));
        }

        if (remaining >= 1)
        {
            pan += step;
            if (--remaining == 0)
                pan = target;
            updateGains();
        }

        const int readPos = (writePos - lookahead) & mask;
        const float yl = gainLeft * delayLeft[static_cast<size_t>(readPos)];
        const float yr = gainRight * delayRight[static_cast<size_t>(readPos)];
        writePos = (writePos + 1) & mask;
        left[i] = yl;
        right[i] = yr;

        if (!idle)
            blockOutputPeak = std::max({blockOutputPeak, std::abs(yl), std::abs(yr)});
    }

    if (!idle)
        meter.process(left, right, n);
    samplesSinceBlock += n;
    publish();
}

void MirrelEngine::publish() noexcept
{
    feed.panNow.store(pan);
    feed.panLastHit.store(mirrel.lastPosition);
    feed.hitCount.store(hitCount);
    for (int k = 0; k < Feed::historySize; ++k)
        feed.hitPans[static_cast<size_t>(k)].store(
            history[static_cast<size_t>((historyIndex - 1 - k + 2 * Feed::historySize) % Feed::historySize)]);
    sv::atomicMax(feed.inputPeak, blockInputPeak);
    sv::atomicMax(feed.outputPeak, blockOutputPeak);
    blockInputPeak = blockOutputPeak = 0.0f;
}

} // namespace mr
