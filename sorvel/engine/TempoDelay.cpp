#include "sorvel/engine/TempoDelay.h"

#include "sorvel/engine/Tune.h"
#include "sorvel/engine/primitives/Tanh7.h"
#include "common/dsp/ClampSetting.h"
#include "common/dsp/Lanes.h"
#include "common/dsp/OnePole.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace eng::vocal
{

namespace
{
constexpr double sqrtHalf = 0.70710678;
constexpr double highPassHz = 300.0;
constexpr double lowPassHz = 5000.0;
constexpr float drive = 1.5f;
// Below this (-100 dBFS) a written sample counts as silence for the idle test.
constexpr float silenceFloor = 1.0e-5f;
// A glide this close to its target (samples) has arrived.
constexpr double glideSettled = 1.0e-5;

// Gentle saturation on every pass of the feedback path.
inline float saturate(float v) noexcept
{
    // min / max rather than a clamp with branches, so the loop over a chunk vectorises.
    return tanh7(std::min(std::max(drive * v, -4.97f), 4.97f)) / drive;
}
} // namespace

double TempoDelay::noteSeconds(int character, double tempoBpm) noexcept
{
    const int k = std::clamp(character, 0, static_cast<int>(tune::delayBeats.size()) - 1);
    if (k == 0)
        return tune::slapSeconds;
    // Written so that NaN also falls back.
    const double tempo = (tempoBpm >= lowestTempo && tempoBpm <= highestTempo) ? tempoBpm : fallbackTempo;
    return static_cast<double>(tune::delayBeats[static_cast<size_t>(k)]) * 60.0 / tempo;
}

void TempoDelay::prepare(double sampleRate)
{
    rate = sampleRate > 0.0 ? sampleRate : 48000.0;
    const int length = static_cast<int>(longestSeconds * rate) + 24;
    lineLeft.prepare(length);
    lineRight.prepare(length);

    shortestDelay = 2.0;
    longestDelay = longestSeconds * rate - 8.0;
    glideCoeff = sv::onePoleCoefficient(0.08, rate);
    tailSamples = static_cast<std::int64_t>(longestDelay) + 4;

    const int rampLength = static_cast<int>(std::lround(0.020 * rate));
    for (Ramp* r : {&crossfade, &send, &feedback, &pingPongAmount})
    {
        r->setLength(rampLength);
        r->jumpTo(0.0f);
    }
    crossfade.jumpTo(1.0f);

    md::Design highPass;
    md::design(highPass, md::highPass, 1, rate, highPassHz, 0.0, sqrtHalf);
    const md::Section lowPass = md::designLowPass2(rate, lowPassHz, sqrtHalf);
    highPassLeft.setCoefficients(highPass.sections[0]);
    highPassRight.setCoefficients(highPass.sections[0]);
    lowPassLeft.setCoefficients(lowPass);
    lowPassRight.setCoefficients(lowPass);

    delayTarget = oldTime = shortestDelay;
    glideOffset = 0.0;
    character = 0;
    energy = 0.0;
    clear();
    initialised = false;
    running = false;
}

void TempoDelay::clear() noexcept
{
    lineLeft.clear();
    lineRight.clear();
    for (auto* s : {&highPassLeft, &highPassRight, &lowPassLeft, &lowPassRight})
        s->clearState();
    if (crossfade.isMoving())
        crossfade.jumpTo(1.0f);
    quietWrites = 0;
}

void TempoDelay::set(const Settings& settings) noexcept
{
    const int k = sv::clampChoice(settings.character, static_cast<int>(tune::delayBeats.size()));
    const double samples = std::clamp(noteSeconds(k, settings.tempoBpm) * rate, shortestDelay, longestDelay);
    const float sendLevel = 0.75f * (sv::clampSetting(settings.amount, 0.0f, 10.0f) / 10.0f);
    const float feedbackGain = sv::clampSetting(settings.feedbackPercent, 0.0f, maxFeedbackPercent) / 100.0f;
    const float pingPongTarget = settings.pingPong ? 1.0f : 0.0f;

    if (!initialised)
    {
        character = k;
        delayTarget = oldTime = samples;
        glideOffset = 0.0;
        crossfade.jumpTo(1.0f);
        send.jumpTo(sendLevel);
        feedback.jumpTo(feedbackGain);
        pingPongAmount.jumpTo(pingPongTarget);
        initialised = true;
        return;
    }

    if (k == character)
    {
        // Same note value: a tempo change glides from where the time is now.
        glideOffset += delayTarget - samples;
        delayTarget = samples;
    }
    else if (!crossfade.isMoving())
    {
        // A new note value is a new position, not a sweep: read both and crossfade.
        oldTime = delayTarget + glideOffset;
        delayTarget = samples;
        glideOffset = 0.0;
        character = k;
        crossfade.restart(0.0f, 1.0f);
    }
    // Otherwise the new character waits for the running crossfade to end.

    send.setTarget(sendLevel);
    feedback.setTarget(feedbackGain);
    pingPongAmount.setTarget(pingPongTarget);
}

void TempoDelay::settleIdle(int n) noexcept
{
    // Nothing sounds and nothing depends on the glide, so everything may arrive at once.
    glideOffset = 0.0;
    crossfade.skip(n);
    feedback.skip(n);
    pingPongAmount.skip(n);
}

void TempoDelay::process(const float* in, float* outLeft, float* outRight, int n) noexcept
{
    if (n <= 0)
        return;
    int done = 0;
    if (running || wantsToRun())
    {
        if (!running)
        {
            clear();
            running = true;
        }
        while (done < n)
        {
            // A chunk may be read in one go only if none of its reads reach a sample written
            // inside it; otherwise (echo times shorter than a chunk) it goes sample by sample.
            const double nearest = std::min(
                {delayTarget, delayTarget + glideOffset, crossfade.isMoving() ? oldTime : longestDelay});
            const int part = std::min({chunk, n - done, std::max(1, static_cast<int>(nearest) - 1)});
            const int stop = processChunk(in + done, outLeft + done, outRight + done, part);
            if (stop < part)
            {
                running = false;
                done += stop + 1;
                break;
            }
            done += part;
        }
    }
    if (done < n)
    {
        std::memset(outLeft + done, 0, sizeof(float) * static_cast<size_t>(n - done));
        std::memset(outRight + done, 0, sizeof(float) * static_cast<size_t>(n - done));
        settleIdle(n - done);
    }
}

namespace
{
// A ramp's values for the next n samples.

} // namespace

int TempoDelay::processChunk(const float* in, float* outLeft, float* outRight, int n) noexcept
{
    // 1. Read both lines at the echo time: sample by sample while it glides, then in one go.
    const std::uint32_t writePos = lineLeft.getWritePosition();
    int i = 0;
    for (; i < n && glideOffset != 0.0; ++i)
    {
        glideOffset *= glideCoeff;
        if (std::abs(glideOffset) < glideSettled)
            glideOffset = 0.0;
        const auto tap = lineLeft.tap(writePos + static_cast<std::uint32_t>(i), delayTarget + glideOffset);
        outLeft[i] = lineLeft.read(tap);
        outRight[i] = lineRight.read(tap);
    }
    if (i < n)
    {
        lineLeft.readFixed(writePos + static_cast<std::uint32_t>(i), delayTarget, outLeft + i, n - i);
        lineRight.readFixed(writePos + static_cast<std::uint32_t>(i), delayTarget, outRight + i, n - i);
    }

    // 2. A character change: blend from the old reading position to the new one.
    if (crossfade.isMoving())
    {
        const int fading = std::min(n, crossfade.getRemaining());
        lineLeft.readFixed(writePos, oldTime, oldLeft.data(), fading);
        lineRight.readFixed(writePos, oldTime, oldRight.data(), fading);
        for (int k = 0; k < fading; ++k)
        {
            const float x = crossfade.next();
            outLeft[k] = oldLeft[static_cast<size_t>(k)] + x * (outLeft[k] - oldLeft[static_cast<size_t>(k)]);
            outRight[k] =
                oldRight[static_cast<size_t>(k)] + x * (outRight[k] - oldRight[static_cast<size_t>(k)]);
        }
    }

    // 3. Line inputs: straight, each line feeds itself; ping-pong, only the left line takes the
    //    send and each line feeds the other.
    send.fill(sendValues.data(), n);
    feedback.fill(feedbackValues.data(), n);
    pingPongAmount.fill(pingPongValues.data(), n);
    float* const wL = writeLeft.data();
    float* const wR = writeRight.data();
    for (int k = 0; k < n; ++k)
    {
        const auto u = static_cast<size_t>(k);
        const float s = sendValues[u];
        const float g = feedbackValues[u];
        const float p = pingPongValues[u];
        const float q = 1.0f - p;
        const float rL = outLeft[k];
        const float rR = outRight[k];
        wL[k] = s * in[k] + g * (q * rL + p * rR);
        wR[k] = q * s * in[k] + g * (q * rR + p * rL);
    }

    // 4. Band-limit (both lines side by side in one pair per section), then saturate.
    md::SectionPair highPass, lowPass;
    highPass.setLane(0, highPassLeft);
    highPass.setLane(1, highPassRight);
    lowPass.setLane(0, lowPassLeft);
    lowPass.setLane(1, lowPassRight);
    for (int k = 0; k < n; ++k)
    {
        const auto y =
            __builtin_convertvector(lowPass.run(highPass.run(md::Lanes{wL[k], wR[k]})), md::FloatPair);
        wL[k] = y[0];
        wR[k] = y[1];
    }
    highPassLeft = highPass.getLane(0);
    highPassRight = highPass.getLane(1);
    lowPassLeft = lowPass.getLane(0);
    lowPassRight = lowPass.getLane(1);
    for (int k = 0; k < n; ++k)
    {
        wL[k] = saturate(wL[k]);
        wR[k] = saturate(wR[k]);
    }
    lineLeft.write(wL, n);
    lineRight.write(wR, n);

    // 5. Metering energy and the silence run at the end of what was written.
    // Four running sums, sample k into sum k mod 4: one vector of four.
    using Four = sv::Float4;
    Four sum = {0.0f, 0.0f, 0.0f, 0.0f};
    int k = 0;
    for (; k + 4 <= n; k += 4)
    {
        Four l, r, w;
        std::memcpy(&l, outLeft + k, sizeof l);
        std::memcpy(&r, outRight + k, sizeof r);
        std::memcpy(&w, wL + k, sizeof w);
        sum += l * l + r * r + w * w;
    }
    for (; k < n; ++k)
        sum[k & 3] += outLeft[k] * outLeft[k] + outRight[k] * outRight[k] + wL[k] * wL[k];
    energy += static_cast<double>((sum[0] + sum[1]) + (sum[2] + sum[3]));
    int loud = n - 1;
    while (loud >= 0 && std::abs(wL[loud]) < silenceFloor && std::abs(wR[loud]) < silenceFloor)
        --loud;
    const std::int64_t quietFrom = loud >= 0 ? loud + 1 : -quietWrites;
    quietWrites = loud >= 0 ? n - 1 - loud : quietWrites + n;

    // 6. The module stops after the first sample at which the send is closed and everything the
    //    lines could still return is silent. Found sample-exactly, so pieces do not move it.
    if (send.getTarget() != 0.0f || send.getValue() != 0.0f)
        return n;
    int closedFrom = n;
    while (closedFrom > 0 && sendValues[static_cast<size_t>(closedFrom - 1)] == 0.0f)
        --closedFrom;
    const std::int64_t stop = std::max<std::int64_t>(closedFrom, quietFrom + tailSamples);
    return stop < n ? static_cast<int>(stop) : n;
}

double TempoDelay::takeEnergy() noexcept
{
    const double e = energy;
    energy = 0.0;
    return e;
}

} // namespace eng::vocal
