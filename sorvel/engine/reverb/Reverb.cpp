#include "sorvel/engine/reverb/Reverb.h"

#include "common/dsp/ClampSetting.h"
#include "common/dsp/OnePole.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace eng::vocal
{

namespace
{

constexpr double butterworthQ = 0.70710678;
constexpr double returnHighPassHz = 250.0;
constexpr double returnLowPassHz = 9000.0;

// A tail below this mean power (-120 dB) is over: a module whose send is down stops there.
constexpr float tailOver = 1e-12f;

// Return filter states are checked this often (counted in samples, not pieces) and set to zero
// once they are too small to matter, before they can decay into denormals.
constexpr int filterFlushInterval = 256;

constexpr float tiny = 1e-20f;

inline float flushTiny(float v) noexcept
{
    return std::abs(v) < tiny ? 0.0f : v;
}

inline void flushState(md::SectionPair& s) noexcept
{
    for (int k = 0; k < 2; ++k)
    {
        if (std::abs(s.s1[k]) < 1e-20)
            s.s1[k] = 0.0;
        if (std::abs(s.s2[k]) < 1e-20)
            s.s2[k] = 0.0;
    }
}

} // namespace

void Reverb::prepare(double rate, int maxPieceSamples)
{
    sampleRate = rate;
    maxPiece = std::max(1, maxPieceSamples);

    for (auto& core : cores)
        core.prepare(sampleRate);
    const int fadeLength = std::max(1, static_cast<int>(std::lround(0.020 * sampleRate)));
    for (auto& fade : fades)
        fade.setLength(fadeLength);
    fades[0].jumpTo(1.0f);
    fades[1].jumpTo(0.0f);
    characters.reset(cores[0].getCharacter());
    latestDecay = cores[0].getDecay();

    sendRamp.setLength(std::max(1, static_cast<int>(std::lround(0.030 * sampleRate))));
    sendRamp.jumpTo(0.0f);
    // 210 ms of pre-delay and reflections, plus a piece: the cores read the line after the whole
    // piece went in.
    preDelayLine.prepare(static_cast<int>(std::lround(0.21 * sampleRate)) + 10 + maxPiece);
    preDelayTarget = 1.0f;
    preDelayOffset = 0.0f;
    glideCoeff = static_cast<float>(sv::onePoleCoefficient(0.120, sampleRate));

    md::Design highPassDesign;
    md::design(highPassDesign, md::highPass, 1, sampleRate, returnHighPassHz, 0.0, butterworthQ);
    const md::Section lowPassSection = md::designLowPass2(sampleRate, returnLowPassHz, butterworthQ);
    highPass = {};
    highPass.setCoefficients(highPassDesign.sections[0]);
    lowPass = {};
    lowPass.setCoefficients(lowPassSection);
    sinceFilterFlush = 0;

    initialised = false;
    running = false;
    silentFor = 0;

    for (auto* buffer : {&delayedSend, &preDelays, &gains, &coreIn, &coreL, &coreR})
        buffer->assign(static_cast<size_t>(maxPiece), 0.0f);
    ones.assign(static_cast<size_t>(maxPiece), 1.0f);
}

void Reverb::set(const Settings& settings) noexcept
{
    const float x = sv::clampSetting(settings.amount, 0.0f, 10.0f) * 0.1f;
    const float sendTarget = x > 0.0f ? 0.62f * std::pow(x, 1.2f) : 0.0f;
    const float newPreDelay =
        static_cast<float>(double(sv::clampSetting(settings.preDelayMs, 0.0f, 120.0f)) * 0.001 * sampleRate);
    if (newPreDelay != preDelayTarget)
    {
        preDelayOffset = preDelayTarget + preDelayOffset - newPreDelay;
        preDelayTarget = newPreDelay;
    }
    const int newCharacter = sv::clampChoice(settings.character, 3);
    const float newDecay = sv::clampSetting(settings.decaySeconds, 0.1f, 20.0f);
    latestDecay = newDecay;
    FdnCore& current = activeCore();

    if (!initialised)
    {
        sendRamp.jumpTo(sendTarget);
        preDelayOffset = 0.0f;
        current.configure(newCharacter, newDecay);
        characters.setCurrent(newCharacter);
        initialised = true;
        return;
    }

    sendRamp.setTarget(sendTarget);

    if (!running)
    {
        // Nothing runs, so there is nothing to crossfade: the active core takes the setting.
        if (newCharacter != current.getCharacter())
        {
            current.configure(newCharacter, newDecay);
            characters.setCurrent(newCharacter);
        }
        else if (decayMoved(newDecay))
            current.setDecay(newDecay);
        return;
    }

    // While the other core still fades out the character waits; a request for the current one
    // cancels it.
    if (characters.request(newCharacter))
        startCrossfade();

    if (decayMoved(newDecay))
        activeCore().setDecay(newDecay);
}

bool Reverb::decayMoved(float decaySeconds) const noexcept
{
    return std::abs(decaySeconds / activeCore().getDecay() - 1.0f) >= 0.003f;
}

// The switch has made the other core current: it takes the new character and fades in while
// the previous one fades out.
void Reverb::startCrossfade() noexcept
{
    activeCore().configure(characters.currentValue(), latestDecay);
    fades[static_cast<size_t>(characters.current())].restart(0.0f, 1.0f);
    fades[static_cast<size_t>(characters.previous())].setTarget(0.0f);
}

void Reverb::takeUpPending() noexcept
{
    if (!characters.isFading() && characters.takeUpWaiting())
        startCrossfade();
}

void Reverb::start() noexcept
{
    for (auto& core : cores)
        core.clear();
    preDelayLine.clear();
    highPass.clearState();
    lowPass.clearState();
    sinceFilterFlush = 0;
    // A pre-delay moved while nothing ran starts where it was set, not with a glide.
    preDelayOffset = 0.0f;
    silentFor = 0;
    running = true;
}

void Reverb::stop() noexcept
{
    running = false;
    fades[static_cast<size_t>(characters.current())].jumpTo(1.0f);
    fades[static_cast<size_t>(characters.previous())].jumpTo(0.0f);
    characters.finish();
    // Nothing runs any more: a waiting character is taken without a crossfade.
    const int waiting = characters.takeWaiting();
    if (waiting >= 0 && waiting != activeCore().getCharacter())
    {
        activeCore().configure(waiting, latestDecay);
        characters.setCurrent(waiting);
    }
}

void Reverb::process(const float* send, float* outL, float* outR, int n) noexcept
{
    while (n > 0)
    {
        const int piece = std::min(n, maxPiece);
        processPiece(send, outL, outR, piece);
        send += piece;
        outL += piece;
        outR += piece;
        n -= piece;
    }
}

void Reverb::processPiece(const float* send, float* outL, float* outR, int n) noexcept
{
    const auto count = static_cast<size_t>(n);
    takeUpPending();
    if (!running)
    {
        if (!isActive())
        {
            std::memset(outL, 0, count * sizeof(float));
            std::memset(outR, 0, count * sizeof(float));
            return;
        }
        start();
    }

    // The send goes into the pre-delay line; the gliding pre-delay reads it back. The whole
    // piece goes in first: every read reaches back at least a sample, and the line is a piece
    // longer than the longest read, so this reads what sample-by-sample writing would.
    float* const sendGain = gains.data();
    sendRamp.fill(sendGain, n);
    for (size_t t = 0; t < count; ++t)
        coreIn[t] = flushTiny(send[t] * sendGain[t]);
    preDelayLine.write(coreIn.data(), n);
    const float maxDelay = static_cast<float>(preDelayLine.getLength() - 2);
    if (preDelayOffset == 0.0f)
    {
        const float pd = std::min(std::max(preDelayTarget, 1.0f), maxDelay);
        std::fill(preDelays.begin(), preDelays.begin() + n, pd);
        std::fill(delayedSend.begin(), delayedSend.begin() + n, 0.0f);
        preDelayLine.addRun(pd, n - 1, 1.0f, delayedSend.data(), n);
    }
    else
    {
        float offset = preDelayOffset;
        for (int t = 0; t < n; ++t)
        {
            offset *= glideCoeff;
            // Land on the target instead of creeping towards it for ever.
            offset = std::abs(offset) < 1e-4f ? 0.0f : offset;
            const float pd = std::min(std::max(preDelayTarget + offset, 1.0f), maxDelay);
            preDelays[static_cast<size_t>(t)] = pd;
            delayedSend[static_cast<size_t>(t)] = preDelayLine.readLinear(pd, n - 1 - t);
        }
        preDelayOffset = offset;
    }

    // The first core writes the return, a second one (only while crossfading) adds to it.
    bool first = true;
    for (int k = 0; k < 2; ++k)
    {
        if (k != characters.current() && !characters.isFading())
            continue;
        FdnCore& core = cores[static_cast<size_t>(k)];
        Ramp& fade = fades[static_cast<size_t>(k)];
        if (!fade.isMoving() && fade.getValue() == 1.0f)
        {
            if (first)
                core.process(delayedSend.data(), ones.data(), preDelayLine, preDelays.data(), outL, outR, n);
            else
            {
                core.process(delayedSend.data(), ones.data(), preDelayLine, preDelays.data(), coreL.data(),
                             coreR.data(), n);
                for (size_t t = 0; t < count; ++t)
                {
                    outL[t] += coreL[t];
                    outR[t] += coreR[t];
                }
            }
            first = false;
            continue;
        }
        float* const g = gains.data();
        fade.fill(g, n);
        for (size_t t = 0; t < count; ++t)
            coreIn[t] = delayedSend[t] * g[t];
        core.process(coreIn.data(), g, preDelayLine, preDelays.data(), coreL.data(), coreR.data(), n);
        if (first)
            for (size_t t = 0; t < count; ++t)
            {
                outL[t] = g[t] * coreL[t];
                outR[t] = g[t] * coreR[t];
            }
        else
            for (size_t t = 0; t < count; ++t)
            {
                outL[t] += g[t] * coreL[t];
                outR[t] += g[t] * coreR[t];
            }
        first = false;
    }
    if (characters.isFading())
    {
        const Ramp& outgoing = fades[static_cast<size_t>(characters.previous())];
        if (!outgoing.isMoving() && outgoing.getValue() <= 0.0f)
            characters.finish();
    }

    filterReturn(outL, outR, n);

    // Off once the send has been down long enough to empty the pre-delay line and the tail is over.
    if (sendRamp.getTarget() <= 0.0f && !sendRamp.isMoving())
        silentFor += n;
    else
        silentFor = 0;
    if (silentFor >= preDelayLine.getLength())
    {
        bool over = activeCore().getTailEnergy() < tailOver;
        if (characters.isFading())
            over = over && cores[static_cast<size_t>(characters.previous())].getTailEnergy() < tailOver;
        if (over)
            stop();
    }
}

void Reverb::filterReturn(float* outL, float* outR, int n) noexcept
{
    int done = 0;
    while (done < n)
    {
        const int chunk = std::min(n - done, filterFlushInterval - sinceFilterFlush);
        // Left and right share each section's instructions; samples are single precision between
        // sections.
        md::SectionPair hp = highPass, lp = lowPass;
        for (int t = done; t < done + chunk; ++t)
        {
            const auto y = lp.run(hp.run(md::FloatPair{outL[t], outR[t]}));
            outL[t] = flushTiny(y[0]);
            outR[t] = flushTiny(y[1]);
        }
        highPass = hp;
        lowPass = lp;
        done += chunk;
        sinceFilterFlush += chunk;
        if (sinceFilterFlush == filterFlushInterval)
        {
            flushState(highPass);
            flushState(lowPass);
            sinceFilterFlush = 0;
        }
    }
}

} // namespace eng::vocal
