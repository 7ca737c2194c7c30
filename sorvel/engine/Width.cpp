#include "sorvel/engine/Width.h"

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
constexpr double pi = 3.14159265358979323846;
constexpr double sqrtHalf = 0.70710678;
constexpr double highPassHz = 200.0;
constexpr double lowPassHz[2] = {7000.0, 9500.0};
constexpr float levelSpreadDb = 0.6f;
// A phrase gap: the power envelope 36 dB below its reference.
const float gapRatio = static_cast<float>(std::pow(10.0, -3.6));
constexpr float quietestReference = 1.0e-10f;
constexpr float levelSettled = 1.0e-7f;

// One step of a glide: the delay on the raised cosine, then the phasor turns by pi / length.
// Both the sample-by-sample and the chunk-wise paths use it, so they agree to the bit.
// Lane masks of a pair of floats (md::FloatPair).
using PairMask = sv::Int2;

struct GlideStepper
{
    double start, distance, rc, rs, c, sn;

    double step() noexcept
    {
        const double delay = start + distance * 0.5 * (1.0 - c);
        const double next = c * rc - sn * rs;
        sn = sn * rc + c * rs;
        c = next;
        return delay;
    }
};

float follower(double seconds, double rate)
{
    return static_cast<float>(sv::onePoleCoefficient(seconds, rate));
}
} // namespace

void Width::prepare(double sampleRate)
{
    rate = sampleRate > 0.0 ? sampleRate : 48000.0;

    // Room for the longest double plus one chunk written ahead of the reads.
    ring.prepare(static_cast<int>(std::lround(0.03 * rate)) + 16 + chunk);
    readLimit = static_cast<double>(ring.getLength()) - 4.0 - chunk;

    md::Design design;
    md::design(design, md::highPass, 3, rate, highPassHz, 0.0, sqrtHalf);
    highPass1.setCoefficients(design.sections[0]);
    highPass2.setCoefficients(design.sections[1]);

    const int rampLength = static_cast<int>(std::lround(0.020 * rate));
    send.setLength(rampLength);
    send.jumpTo(0.0f);
    for (size_t d = 0; d < voices.size(); ++d)
    {
        Voice& v = voices[d];
        v = Voice{};
        v.lowPass.setCoefficients(md::designLowPass2(rate, lowPassHz[d], sqrtHalf));
        v.ownSide.setLength(rampLength);
        v.otherSide.setLength(rampLength);
    }

    attack = follower(0.001, rate);
    release = follower(0.010, rate);
    referenceRise = follower(0.005, rate);
    referenceFall = follower(2.0, rate);
    levelCoeff = follower(0.2, rate);
    gapNeeded = static_cast<int>(std::lround(0.035 * rate));
    jumpLength = std::max(1, static_cast<int>(std::lround(0.010 * rate)));
    // At most one phrase start per chunk: a second needs a whole new gap.
    chunkLength = std::clamp(gapNeeded, 1, chunk);

    random = sv::XorShift32(seed);
    phraseStarts = 0;
    clearState();
    initialised = false;
    wasRunning = false;
}

void Width::clearState() noexcept
{
    ring.clear();
    highPass1.clearState();
    highPass2.clearState();
    for (Voice& v : voices)
        v.lowPass.clearState();
    envelope = reference = 0.0f;
    gapSamples = 0;
    triggered = false;
}

void Width::set(const Settings& settings) noexcept
{
    const int k = sv::clampChoice(settings.character, static_cast<int>(tune::widthChars.size()));
    row = tune::widthChars[static_cast<size_t>(k)];
    shortest = static_cast<double>(row[0]) * 0.001 * rate;
    longest = static_cast<double>(row[1]) * 0.001 * rate;

    const float x = sv::clampSetting(settings.amount, 0.0f, 10.0f) / 10.0f;
    const float sendTarget = x > 0.0f ? 0.63f * std::pow(x, 0.75f) : 0.0f;
    // Separation pulls the other side down, cross-feed adds to it (or inverts it).
    const float otherSide = 1.0f - row[4] + row[5];

    if (!initialised)
    {
        send.jumpTo(sendTarget);
        const double start[2] = {0.3, 0.7};
        for (size_t d = 0; d < voices.size(); ++d)
        {
            Voice& v = voices[d];
            v.ownSide.jumpTo(1.0f);
            v.otherSide.jumpTo(otherSide);
            v.glideStart = v.glideEnd = v.delay = shortest + (longest - shortest) * start[d];
            v.progress = v.length = 0;
            v.hold = 0;
            startGlide(v);
        }
        initialised = true;
        return;
    }

    send.setTarget(sendTarget);
    for (Voice& v : voices)
    {
        v.ownSide.setTarget(1.0f);
        v.otherSide.setTarget(otherSide);
    }
}

int Width::holdSamples() noexcept
{
    return static_cast<int>((0.3 + 0.9 * static_cast<double>(random.uniform())) * rate);
}

void Width::startGlide(Voice& v) noexcept
{
    const double range = longest - shortest;
    // The range only moves with the character; glide from wherever the double is so a new
    // character never makes it jump.
    const double base = std::clamp(v.glideEnd, shortest, longest);
    const double step = range * (0.15 + 0.2 * static_cast<double>(random.uniform()));
    double end = random.uniform() < 0.5f ? base - step : base + step;
    if (end < shortest || end > longest)
        end = end < base ? base + step : base - step;
    end = std::clamp(end, shortest, longest);
    const double cents = static_cast<double>(row[2]) +
                         static_cast<double>(row[3] - row[2]) * static_cast<double>(random.uniform());

    v.glideStart = v.glideEnd;
    v.glideEnd = end;
    // The steepest point of a raised cosine moves by distance pi / (2 length) per sample: make
    // that exactly the drawn pitch deviation.
    const double steepest = 1.0 - std::pow(2.0, -cents / 1200.0);
    const double samples = std::abs(end - v.glideStart) * (pi / 2.0) / steepest;
    v.length = std::max(1, static_cast<int>(std::min(samples, 2.0e9)));
    v.progress = 0;
    v.cosine = 1.0;
    v.sine = 0.0;
    v.rotateCos = std::cos(pi / v.length);
    v.rotateSin = std::sin(pi / v.length);
}

void Width::startPhrase() noexcept
{
    const double range = longest - shortest;
    const double quarter = range / 4.0;
    for (Voice& v : voices)
    {
        const double current = v.delay;
        v.previousRead = current;
        v.jumpCountdown = jumpLength;

        double x = shortest + range * static_cast<double>(random.uniform());
        if (std::abs(x - current) < quarter)
        {
            // Far enough to sound like a new take.
            x = x >= current ? current + quarter : current - quarter;
            if (x > longest)
                x = current - quarter;
            else if (x < shortest)
                x = current + quarter;
        }
        x = std::clamp(x, shortest, longest);

        v.glideStart = v.glideEnd = x;
        v.progress = v.length = 0;
        v.hold = holdSamples();
        const float db = levelSpreadDb * (2.0f * random.uniform() - 1.0f);
        v.levelTarget = std::pow(10.0f, db / 20.0f);
    }
    ++phraseStarts;
}

void Width::process(const float* in, float* outLeft, float* outRight, int n) noexcept
{
    int done = 0;
    while (done < n && isRunning())
    {
        if (!wasRunning)
        {
            clearState();
            wasRunning = true;
        }
        int part = std::min(chunkLength, n - done);
        // A closing send stops the module on the very sample it reaches 0, whatever the pieces.
        if (send.getTarget() == 0.0f && send.isMoving())
            part = std::min(part, send.getRemaining());
        run(in + done, outLeft + done, outRight + done, part);
        done += part;
    }
    if (done < n)
    {
        std::memset(outLeft + done, 0, sizeof(float) * static_cast<size_t>(n - done));
        std::memset(outRight + done, 0, sizeof(float) * static_cast<size_t>(n - done));
        wasRunning = false;
    }
}

namespace
{
// The phrase detector: a gap is the send's power envelope far below its reference, which holds
// while the gap lasts.
struct Detector
{
    float e, r;
    int gap;
    bool fired;
    float attack, release, rise, fall;
    int gapNeeded;

    // One sample; true when a phrase starts on it.
    bool step(float x) noexcept
    {
        // Both followers' next values, then the choice: no branch that follows the waveform.
        const float power = x * x;
        const float fromEnvelope = e - power;
        const float rising = power + attack * fromEnvelope;
        const float falling = power + release * fromEnvelope;
        e = power > e ? rising : falling;
        const float gapLevel = r * gapRatio;
        if (e > r)
            r = e + rise * (r - e);
        else if (e >= gapLevel)
            r = e + fall * (r - e);
        if (e < gapLevel)
        {
            gap = std::min(gap + 1, gapNeeded);
            if (gap >= gapNeeded && r > quietestReference && !fired)
            {
                fired = true;
                return true;
            }
        }
        else
        {
            gap = 0;
            fired = false;
        }
        return false;
    }
};

// The high-pass's two sections in the lanes of one pair, so that they share their instructions:
// lane 0 runs the first section `lag` samples ahead of lane 1, which runs the second on the
// first's output (kept meanwhile where the result goes). The lag keeps the lanes' hand-over off
// the recursions' path.
constexpr int highPassLag = 4;

inline __attribute__((always_inline)) void highPassStep(md::SectionPair& highPass, const float* in,
                                                        float* high, int i, int n) noexcept
{
    if (i + highPassLag < n)
    {
        const auto y = highPass.run(md::FloatPair{in[i + highPassLag], high[i]});
        high[i + highPassLag] = y[0];
        high[i] = y[1];
    }
}

using Two = sv::Double2;

// Samples [from, to) in which neither double draws a random number: the high-pass, the detector
// and each double's delay (a glide's step, or its held value). Stops early on the sample where a
// phrase starts, after its high-pass and detection, before its delays; returns where it stopped.
template <bool Glide0, bool Glide1>
inline __attribute__((always_inline)) int
drawFreeSpan(const float* in, float* high, int n, double* path0, double* path1, int from, int to,
             md::SectionPair& highPass, Detector& detector, std::array<GlideStepper, 2>& glide,
             const std::array<double, 2>& glideEnd) noexcept
{
    // Both gliding is the common case: one vector of two, so the two recursions share their
    // instructions (each lane is exactly GlideStepper::step).
    Two start{}, distance{}, rc{}, rs{}, c{}, sn{};
    if constexpr (Glide0 && Glide1)
    {
        start = Two{glide[0].start, glide[1].start};
        distance = Two{glide[0].distance, glide[1].distance};
        rc = Two{glide[0].rc, glide[1].rc};
        rs = Two{glide[0].rs, glide[1].rs};
        c = Two{glide[0].c, glide[1].c};
        sn = Two{glide[0].sn, glide[1].sn};
    }
    int k = from;
    for (; k < to; ++k)
    {
        highPassStep(highPass, in, high, k, n);
        if (detector.step(in[k]))
            break;
        if constexpr (Glide0 && Glide1)
        {
            const Two delay = start + distance * 0.5 * (1.0 - c);
            const Two next = c * rc - sn * rs;
            sn = sn * rc + c * rs;
            c = next;
            path0[k] = delay[0];
            path1[k] = delay[1];
        }
        else
        {
            path0[k] = Glide0 ? glide[0].step() : glideEnd[0];
            path1[k] = Glide1 ? glide[1].step() : glideEnd[1];
        }
    }
    if constexpr (Glide0 && Glide1)
        for (size_t d = 0; d < 2; ++d)
        {
            glide[d].c = c[d];
            glide[d].sn = sn[d];
        }
    return k;
}
} // namespace

int Width::detectAndAdvance(const float* in, int n) noexcept
{
    Detector detector{envelope, reference,     gapSamples,    triggered, attack,
                      release,  referenceRise, referenceFall, gapNeeded};
    int start = n;

    // Each double's glide, held in locals while nothing is drawn.
    std::array<GlideStepper, 2> glide{};
    std::array<int, 2> hold{}, progress{}, length{};
    std::array<double, 2> glideEnd{};
    const auto load = [&](size_t d) noexcept
    {
        const Voice& v = voices[d];
        glide[d] = {v.glideStart, v.glideEnd - v.glideStart, v.rotateCos, v.rotateSin, v.cosine, v.sine};
        hold[d] = v.hold;
        progress[d] = v.progress;
        length[d] = v.length;
        glideEnd[d] = v.glideEnd;
    };
    const auto keep = [&](size_t d) noexcept
    {
        Voice& v = voices[d];
        v.cosine = glide[d].c;
        v.sine = glide[d].sn;
        v.hold = hold[d];
        v.progress = progress[d];
    };
    // Samples before the next draw: the rest of a hold, or of a glide but its last step.
    const auto drawFree = [&](size_t d) noexcept
    {
        if (hold[d] > 0)
            return hold[d];
        return progress[d] < length[d] ? length[d] - progress[d] - 1 : 0;
    };
    load(0);
    load(1);

    double* const path0 = delays[0].data();
    double* const path1 = delays[1].data();
    // New delays and levels before this sample's delays; the doubles' current delays are those of
    // the sample before.
    const auto phraseStart = [&](int at) noexcept
    {
        keep(0);
        keep(1);
        if (at > 0)
        {
            voices[0].delay = path0[at - 1];
            voices[1].delay = path1[at - 1];
        }
        startPhrase();
        load(0);
        load(1);
    };

    float* const high = filtered.data();
    md::RunningSection h1 = highPass1, h2 = highPass2;
    const int ahead = std::min(highPassLag, n);
    for (int i = 0; i < ahead; ++i)
        high[i] = static_cast<float>(h1.processSample(in[i]));
    md::SectionPair highPass;
    highPass.setLane(0, h1);
    highPass.setLane(1, h2);

    int i = 0;
    bool detected = false; // sample i's high-pass and detection ran already: a phrase starts on it
    while (i < n)
    {
        const int span = detected ? 0 : std::min({drawFree(0), drawFree(1), n - i});
        if (span > 0)
        {
            const int to = i + span;
            int k;
            if (hold[0] <= 0 && hold[1] <= 0)
                k = drawFreeSpan<true, true>(in, high, n, path0, path1, i, to, highPass, detector, glide,
                                             glideEnd);
            else if (hold[0] <= 0)
                k = drawFreeSpan<true, false>(in, high, n, path0, path1, i, to, highPass, detector, glide,
                                              glideEnd);
            else if (hold[1] <= 0)
                k = drawFreeSpan<false, true>(in, high, n, path0, path1, i, to, highPass, detector, glide,
                                              glideEnd);
            else
                k = drawFreeSpan<false, false>(in, high, n, path0, path1, i, to, highPass, detector, glide,
                                               glideEnd);
            for (size_t d = 0; d < 2; ++d)
            {
                if (hold[d] > 0)
                    hold[d] -= k - i;
                else
                    progress[d] += k - i;
            }
            if (k < to)
            {
                start = k;
                phraseStart(k);
                detected = true;
            }
            i = k;
            continue;
        }

        // One sample on its own: a double draws on it (or a phrase started on it).
        if (!detected)
        {
            highPassStep(highPass, in, high, i, n);
            if (detector.step(in[i]))
            {
                start = i;
                phraseStart(i);
            }
        }
        detected = false;
        // Left double first: a hold counts down; a glide steps along its raised cosine, a new one
        // starting (three draws) when the last has ended; a glide's last step draws the next hold.
        for (size_t d = 0; d < 2; ++d)
        {
            double& delay = delays[d][static_cast<size_t>(i)];
            if (hold[d] > 0)
            {
                --hold[d];
                delay = glideEnd[d];
                continue;
            }
            if (progress[d] >= length[d])
            {
                keep(d);
                startGlide(voices[d]);
                load(d);
            }
            delay = glide[d].step();
            if (++progress[d] >= length[d])
                hold[d] = holdSamples();
        }
        ++i;
    }

    keep(0);
    keep(1);
    voices[0].delay = path0[n - 1];
    voices[1].delay = path1[n - 1];
    if (n > highPassLag)
    {
        h1 = highPass.getLane(0);
        h2 = highPass.getLane(1);
    }
    for (int k = n - ahead; k < n; ++k)
        high[k] = static_cast<float>(h2.processSample(high[k]));
    highPass1 = h1;
    highPass2 = h2;
    envelope = detector.e;
    reference = detector.r;
    gapSamples = detector.gap;
    triggered = detector.fired;
    return start;
}

namespace
{
// A ramp's values for the next n samples.

} // namespace

void Width::run(const float* in, float* outLeft, float* outRight, int n) noexcept
{
    // 1. Phrase start (at most one per chunk), delay paths and the high-passed send, in one pass
    //    so that their recursions overlap; the values it replaces at a phrase start are kept first.
    std::array<double, 2> carriedRead{};
    std::array<int, 2> carriedJump{};
    std::array<float, 2> carriedTarget{};
    for (size_t d = 0; d < 2; ++d)
    {
        carriedRead[d] = voices[d].previousRead;
        carriedJump[d] = voices[d].jumpCountdown;
        carriedTarget[d] = voices[d].levelTarget;
    }
    const int phraseAt = detectAndAdvance(in, n);

    // 2. The high-passed send into the ring.
    const std::uint32_t first = ring.getWritePosition();
    ring.write(filtered.data(), n);

    // 3. Per double: read, and hide a phrase jump under a crossfade. Before the phrase start
    //    the carried crossfade runs on, from it the new one.
    const float jumpScale = 1.0f / static_cast<float>(jumpLength);
    const int split = std::min(phraseAt, n);
    for (size_t d = 0; d < 2; ++d)
    {
        Voice& v = voices[d];
        float* const y = reads[d].data();
        ring.readPath(first, delays[d].data(), y, n);
        int countdown = 0;
        for (int part = 0; part < 2; ++part)
        {
            const int from = part == 0 ? 0 : split;
            const int to = part == 0 ? split : n;
            if (from >= to)
                continue;
            const double oldRead = std::clamp(part == 0 ? carriedRead[d] : v.previousRead, 2.0, readLimit);
            countdown = part == 0 ? carriedJump[d] : jumpLength;
            for (int k = from; k < to && countdown > 0; ++k, --countdown)
            {
                const float old = ring.read(first + static_cast<std::uint32_t>(k), oldRead);
                y[k] += static_cast<float>(countdown) * jumpScale * (old - y[k]);
            }
        }
        v.jumpCountdown = countdown;
    }

    // 4. Levels, softened tops, send, and each double onto its sides; ramps that stand still (the
    //    usual case) are read as single values.
    const bool steady = !send.isMoving() && !voices[0].ownSide.isMoving() &&
                        !voices[0].otherSide.isMoving() && !voices[1].ownSide.isMoving() &&
                        !voices[1].otherSide.isMoving();
    if (steady)
        mixDoubles<true>(outLeft, outRight, n, split, carriedTarget);
    else
    {
        send.fill(sendValues.data(), n);
        for (size_t d = 0; d < 2; ++d)
        {
            voices[d].ownSide.fill(ownValues[d].data(), n);
            voices[d].otherSide.fill(otherValues[d].data(), n);
        }
        mixDoubles<false>(outLeft, outRight, n, split, carriedTarget);
    }
}

template <bool Steady>
void Width::mixDoubles(float* outLeft, float* outRight, int n, int split,
                       const std::array<float, 2>& carriedTarget) noexcept
{
    // Both doubles side by side (lane 0 left, lane 1 right), each with its own low-pass.
    using Pair = md::FloatPair;
    md::SectionPair lowPass;
    lowPass.setLane(0, voices[0].lowPass);
    lowPass.setLane(1, voices[1].lowPass);
    const float* const s = sendValues.data();
    const float *const y0 = reads[0].data(), *const y1 = reads[1].data();
    const float *const a0 = ownValues[0].data(), *const b0 = otherValues[0].data();
    const float *const a1 = ownValues[1].data(), *const b1 = otherValues[1].data();
    const float sendLevel = send.getValue();
    const float own0 = voices[0].ownSide.getValue(), other0 = voices[0].otherSide.getValue();
    const float own1 = voices[1].ownSide.getValue(), other1 = voices[1].otherSide.getValue();
    const float k = levelCoeff;
    // The level is kept as its distance to the target, which only shrinks; at a phrase start it
    // is re-expressed against the new target.
    Pair offset = {voices[0].levelOffset, voices[1].levelOffset};
    Pair target = {carriedTarget[0], carriedTarget[1]};
    for (int part = 0; part < 2; ++part)
    {
        const int from = part == 0 ? 0 : split;
        const int to = part == 0 ? split : n;
        if (part == 1 && from < to)
        {
            const Pair newTarget = {voices[0].levelTarget, voices[1].levelTarget};
            offset = (target + offset) - newTarget;
            target = newTarget;
        }
        for (int i = from; i < to; ++i)
        {
            offset *= k;
            // Close enough to stop following (the follower would stall an ulp away).
            const Pair magnitude = (Pair)((PairMask)offset & 0x7fffffff);
            offset = (Pair)((PairMask)offset & ~(magnitude < levelSettled));
            const Pair v = (Steady ? sendLevel : s[i]) * (target + offset) * lowPass.run(Pair{y0[i], y1[i]});
            outLeft[i] = (Steady ? own0 : a0[i]) * v[0] + (Steady ? other1 : b1[i]) * v[1];
            outRight[i] = (Steady ? other0 : b0[i]) * v[0] + (Steady ? own1 : a1[i]) * v[1];
        }
    }
    voices[0].levelOffset = offset[0];
    voices[1].levelOffset = offset[1];
    voices[0].lowPass = lowPass.getLane(0);
    voices[1].lowPass = lowPass.getLane(1);
}

} // namespace eng::vocal
