#include "sorvel/engine/DeEsser.h"

#include "sorvel/engine/DeEsserSteps.h"
#include "common/dsp/FastMath.h"
#include "common/dsp/Lanes.h"

#include <algorithm>
#include <type_traits>

// The de-esser's kernel: the steps of DeEsserSteps.h over one chunk (up to a control interval),
// every single-precision filter and follower as lanes of vector registers, the level maths in
// short loops that vectorise.
namespace eng::vocal
{

using namespace deess;

namespace
{
using sv::Double2;
using sv::Float4;
using sv::splat4;

// Rows of four lanes, sample by sample, into four arrays, lane by lane: 4 x 4 blocks through the
// vector registers, the rest one by one.
inline void transpose(const float (*rows)[4], float* const* lanes, int n) noexcept
{
    int i = 0;
    for (; i + 4 <= n; i += 4)
    {
        const Float4 r0 = sv::loadLanes<Float4>(rows[i]), r1 = sv::loadLanes<Float4>(rows[i + 1]);
        const Float4 r2 = sv::loadLanes<Float4>(rows[i + 2]), r3 = sv::loadLanes<Float4>(rows[i + 3]);
        const Float4 t0 = __builtin_shufflevector(r0, r1, 0, 4, 1, 5);
        const Float4 t1 = __builtin_shufflevector(r0, r1, 2, 6, 3, 7);
        const Float4 t2 = __builtin_shufflevector(r2, r3, 0, 4, 1, 5);
        const Float4 t3 = __builtin_shufflevector(r2, r3, 2, 6, 3, 7);
        sv::storeLanes(lanes[0] + i, Float4(__builtin_shufflevector(t0, t2, 0, 1, 4, 5)));
        sv::storeLanes(lanes[1] + i, Float4(__builtin_shufflevector(t0, t2, 2, 3, 6, 7)));
        sv::storeLanes(lanes[2] + i, Float4(__builtin_shufflevector(t1, t3, 0, 1, 4, 5)));
        sv::storeLanes(lanes[3] + i, Float4(__builtin_shufflevector(t1, t3, 2, 3, 6, 7)));
    }
    for (; i < n; ++i)
        for (int k = 0; k < 4; ++k)
            lanes[k][i] = rows[i][k];
}

} // namespace

void DeEsser::process(float* const* channels, int n, float* detectionTrace, float* const* listen) noexcept
{
    int done = 0;
    while (done < n)
    {
        if (isOff())
        {
            delayOnly(channels, done, n - done, detectionTrace, listen);
            return;
        }
        if (samplesToControl <= 0)
            controlUpdate();
        int chunk = std::min(n - done, samplesToControl);
        // A ramp on its way out ends a chunk where it reaches 0, so that the rest is delay only
        // wherever the piece boundaries fall.
        if (ramp.isMoving() && ramp.getTarget() <= 0.0f)
            chunk = std::min(chunk, ramp.getRemaining());
        // A whole chunk has a length known when compiling, so its loops need no remainders.
        if (chunk == controlInterval)
            processChunk(channels, done, std::integral_constant<int, controlInterval>{}, detectionTrace,
                         listen);
        else
            processChunk(channels, done, chunk, detectionTrace, listen);
        samplesToControl -= chunk;
        done += chunk;
    }
}

void DeEsser::delayOnly(float* const* channels, int start, int n, float* detectionTrace,
                        float* const* listen) noexcept
{
    for (int done = 0; done < n;)
    {
        const int span = std::min(n - done, controlInterval);
        float* x[2] = {channels[0] + start + done, channels[numChannels - 1] + start + done};
        lookaheadLine.process(x, x, span);
        done += span;
    }
    if (listen != nullptr)
        for (int c = 0; c < numChannels; ++c)
            std::fill(listen[c] + start, listen[c] + start + n, 0.0f);
    if (detectionTrace != nullptr)
        std::fill(detectionTrace + start, detectionTrace + start + n, 0.0f);
}

template <typename Length>
void DeEsser::processChunk(float* const* channels, int start, Length n, float* detectionTrace,
                           float* const* listen) noexcept
{
    // n <= controlInterval: a chunk never crosses a control update.
    float mono[controlInterval];
    float delayed[2][controlInterval];
    float low[2][controlInterval];
    float high[2][controlInterval];
    float followed[followerCount][controlInterval];
    float detection[controlInterval];
    float gain[controlInterval];
    float rampValue[controlInterval];

    if (numChannels == 2)
    {
        const float* left = channels[0] + start;
        const float* right = channels[1] + start;
        for (int i = 0; i < n; ++i)
            mono[i] = 0.5f * (left[i] + right[i]);
    }
    else
    {
        std::copy(channels[0] + start, channels[0] + start + n, mono);
    }

    // The look-ahead. A mono module's right lanes get silence.
    {
        const float* x[2] = {channels[0] + start, channels[numChannels - 1] + start};
        float* y[2] = {delayed[0], delayed[1]};
        lookaheadLine.process(x, y, n);
        if (numChannels == 1)
            std::fill_n(delayed[1], static_cast<int>(n), 0.0f);
    }

    float crossed[controlInterval][4];
    float powered[controlInterval][4];
    // Every single-precision filter and every power follower, one sample through all lanes at a
    // time: the crossover's four lanes in one vector, the four followers in another, and the
    // sidechain and analysis high-passes in a third, their first sections beside their second
    // ones: a second section takes the first section's output one step later, so each step runs
    // both on successive samples. The analysis lanes run in every mode but only keep their states
    // in Auto.
    {
        constexpr size_t sc = FilterLanes::sidechain, an = FilterLanes::analysis;
        FilterLanes& fl = filters;
        const Float4 xb0 = sv::loadLanes<Float4>(&fl.b0[0]), xb1 = sv::loadLanes<Float4>(&fl.b1[0]);
        const Float4 xb2 = sv::loadLanes<Float4>(&fl.b2[0]), xa1 = sv::loadLanes<Float4>(&fl.a1[0]);
        const Float4 xa2 = sv::loadLanes<Float4>(&fl.a2[0]);
        Float4 x1a = sv::loadLanes<Float4>(&fl.s1First[0]), x2a = sv::loadLanes<Float4>(&fl.s2First[0]);
        Float4 x1b = sv::loadLanes<Float4>(&fl.s1Second[0]), x2b = sv::loadLanes<Float4>(&fl.s2Second[0]);
        const auto crossStep = [&](int i)
        {
            const float dl = delayed[0][i], dr = delayed[1][i];
            const Float4 in = {dl, dl, dr, dr};
            const Float4 y = xb0 * in + x1a;
            x1a = xb1 * in - xa1 * y + x2a;
            x2a = xb2 * in - xa2 * y;
            const Float4 out = xb0 * y + x1b;
            x1b = xb1 * y - xa1 * out + x2b;
            x2b = xb2 * y - xa2 * out;
            sv::storeLanes(crossed[i], out);
        };

        // Lanes: sidechain first, analysis first, sidechain second, analysis second.
        const Float4 hb0 = {fl.b0[sc], fl.b0[an], fl.b0[sc], fl.b0[an]};
        const Float4 hb1 = {fl.b1[sc], fl.b1[an], fl.b1[sc], fl.b1[an]};
        const Float4 hb2 = {fl.b2[sc], fl.b2[an], fl.b2[sc], fl.b2[an]};
        const Float4 ha1 = {fl.a1[sc], fl.a1[an], fl.a1[sc], fl.a1[an]};
        const Float4 ha2 = {fl.a2[sc], fl.a2[an], fl.a2[sc], fl.a2[an]};
        Float4 h1 = {fl.s1First[sc], fl.s1First[an], fl.s1Second[sc], fl.s1Second[an]};
        Float4 h2 = {fl.s2First[sc], fl.s2First[an], fl.s2Second[sc], fl.s2Second[an]};
        const auto highStep = [&](Float4 in)
        {
            const Float4 y = hb0 * in + h1;
            h1 = hb1 * in - ha1 * y + h2;
            h2 = hb2 * in - ha2 * y;
            return y;
        };

        Float4 p = sv::loadLanes<Float4>(powers.data());
        const Float4 attack = splat4(followerAttack), rel = splat4(release);
        // h, a: the sidechain's and the analysis' high-passed sample i.
        const auto followStep = [&](int i, float h, float a)
        {
            const float s = mono[i];
            const Float4 level = {h, s, a, s};
            const Float4 square = level * level;
            p = square + (square > p ? attack : rel) * (p - square);
            sv::storeLanes(powered[i], p);
        };

        // The first step: the second sections have nothing to take yet and keep their states.
        crossStep(0);
        Float4 first;
        {
            const Float4 h1Before = h1, h2Before = h2;
            first = highStep(Float4{mono[0], mono[0], 0.0f, 0.0f});
            h1 = __builtin_shufflevector(h1, h1Before, 0, 1, 6, 7);
            h2 = __builtin_shufflevector(h2, h2Before, 0, 1, 6, 7);
        }
        for (int i = 1; i < n; ++i)
        {
            crossStep(i);
            const Float4 y = highStep(Float4{mono[i], mono[i], first[0], first[1]});
            followStep(i - 1, y[2], y[3]);
            first = y;
        }
        // The last step: only the second sections move.
        {
            const Float4 h1Before = h1, h2Before = h2;
            const Float4 y = highStep(Float4{0.0f, 0.0f, first[0], first[1]});
            h1 = __builtin_shufflevector(h1Before, h1, 0, 1, 6, 7);
            h2 = __builtin_shufflevector(h2Before, h2, 0, 1, 6, 7);
            followStep(n - 1, y[2], y[3]);
        }

        // Sample by sample the lanes sit side by side; the loops after want them lane by lane.
        float* crossedLanes[4] = {low[0], high[0], low[1], high[1]};
        float* poweredLanes[4] = {followed[0], followed[1], followed[2], followed[3]};
        transpose(crossed, crossedLanes, n);
        transpose(powered, poweredLanes, n);
        sv::storeLanes(&fl.s1First[0], x1a);
        sv::storeLanes(&fl.s2First[0], x2a);
        sv::storeLanes(&fl.s1Second[0], x1b);
        sv::storeLanes(&fl.s2Second[0], x2b);
        fl.s1First[sc] = h1[0];
        fl.s2First[sc] = h2[0];
        fl.s1Second[sc] = h1[2];
        fl.s2Second[sc] = h2[2];
        powers[upperFollower] = p[static_cast<int>(upperFollower)];
        powers[fullFollower] = p[static_cast<int>(fullFollower)];
        if (autoMode)
        {
            fl.s1First[an] = h1[1];
            fl.s2First[an] = h2[1];
            fl.s1Second[an] = h1[3];
            fl.s2Second[an] = h2[3];
            powers[analysisFollower] = p[static_cast<int>(analysisFollower)];
            powers[analysisFullFollower] = p[static_cast<int>(analysisFullFollower)];
        }
    }

    // Detection: smoothstep of the knee (upper band over full band) times smoothstep of the gate.
    // Short separate loops: fused, the compiler turns the floors and clamps into compare-and-mask
    // sequences that cost twice as much. A sample whose upper band is under the gate floor for
    // certain, or under the knee relative to the full band for certain (powers compared, no
    // logarithm), detects exactly 0; a chunk of such samples (most of them between esses) needs
    // no logarithm, knee or gate at all.
    bool detects = true;
    {
        float* upperDb = followed[upperFollower];
        float* fullDb = followed[fullFollower];
        for (int i = 0; i < n; ++i)
            upperDb[i] = std::max(upperDb[i], levelFloor);
        for (int i = 0; i < n; ++i)
            fullDb[i] = std::max(fullDb[i], levelFloor);
        int detecting = 0; // counted rather than searched, so that the loop vectorises
        for (int i = 0; i < n; ++i)
            detecting += !((upperDb[i] <= shutBelowPower) | (upperDb[i] <= fullDb[i] * kneeShutRatio));
        detects = detecting > 0;
        if (!detects)
            std::fill_n(detection, n, 0.0f);
        else
        {
            float gate[controlInterval], knee[controlInterval];
            for (int i = 0; i < n; ++i)
            {
                upperDb[i] = sv::fastPowerToDb(upperDb[i]);
                fullDb[i] = sv::fastPowerToDb(fullDb[i]);
            }
            for (int i = 0; i < n; ++i)
            {
                gate[i] = deess::gate(upperDb[i]);
                knee[i] = deess::knee(upperDb[i], fullDb[i], kneeLowDb, kneeInvWidth);
            }
            for (int i = 0; i < n; ++i)
            {
                const float g = gate[i], k = knee[i];
                detection[i] = deess::detection(g, k);
            }
        }
    }

    // Reduction: fast attack, the character's release. Its serial chain runs in one loop with the
    // Auto search's band-passes, which always run so that their states stay current: the two
    // overlap. The bank's energies then grow over the samples where the analysis gate was open;
    // when it stays shut for the whole chunk (most of the time) the band outputs are not kept.
    float r = reductionDb, peak = peakReductionDb;
    {
        const float reductionAtt = reductionAttack, rel = release, scale = amountDb;
        const bool releasing = !detects && r >= 0.0f;
        // Without a detection the follower only releases (towards an input of exactly 0, from a
        // reduction that is never below 0): rel r, exactly what the full step gives.
        const auto reduce = [&](int i, auto detecting)
        {
            if constexpr (decltype(detecting)::value)
                r = follow(r, detection[i] * scale, reductionAtt, rel);
            else
                r = rel * r;
            peak = std::max(peak, r);
            gain[i] = r;
        };
        if (autoMode)
        {
            const float* ua = followed[analysisFollower];
            const float* va = followed[analysisFullFollower];
            int gateOpen[controlInterval];
            int opened = 0;
            for (int i = 0; i < n; ++i)
                gateOpen[i] = (ua[i] > analysisFloor) & (ua[i] > analysisRatio * va[i]);
            for (int i = 0; i < n; ++i)
                opened += gateOpen[i];

            constexpr int pairs = static_cast<int>(Bank::lanes / 2);
            Double2 bankOut[controlInterval][pairs];
            const Bank& bk = bank;
            Double2 s1[pairs], s2[pairs];
            for (int j = 0; j < pairs; ++j)
            {
                s1[j] = sv::loadLanes<Double2>(&bk.s1[2 * static_cast<size_t>(j)]);
                s2[j] = sv::loadLanes<Double2>(&bk.s2[2 * static_cast<size_t>(j)]);
            }
            const auto run = [&](auto keepOutputs, auto detecting)
            {
                for (int i = 0; i < n; ++i)
                {
                    reduce(i, detecting);

                    const double xs = mono[i];
                    const Double2 x = {xs, xs};
                    for (int j = 0; j < pairs; ++j)
                    {
                        const auto k = 2 * static_cast<size_t>(j);
                        const Double2 y = sv::loadLanes<Double2>(&bk.b0[k]) * x + s1[j];
                        s1[j] = sv::loadLanes<Double2>(&bk.b1[k]) * x -
                                sv::loadLanes<Double2>(&bk.a1[k]) * y + s2[j];
                        s2[j] = sv::loadLanes<Double2>(&bk.b2[k]) * x - sv::loadLanes<Double2>(&bk.a2[k]) * y;
                        if constexpr (decltype(keepOutputs)::value)
                            bankOut[i][j] = y;
                    }
                }
            };
            const auto runDetecting = [&](auto keepOutputs)
            {
                if (releasing)
                    run(keepOutputs, std::false_type{});
                else
                    run(keepOutputs, std::true_type{});
            };
            if (opened > 0)
                runDetecting(std::true_type{});
            else
                runDetecting(std::false_type{});
            for (int j = 0; j < pairs; ++j)
            {
                sv::storeLanes(&bank.s1[2 * static_cast<size_t>(j)], s1[j]);
                sv::storeLanes(&bank.s2[2 * static_cast<size_t>(j)], s2[j]);
            }

            const Double2 averaging = {bankAveraging, bankAveraging};
            double open = openSeconds;
            Double2 energy[pairs];
            for (int j = 0; j < pairs; ++j)
                energy[j] = sv::loadLanes<Double2>(&bank.energy[2 * static_cast<size_t>(j)]);
            for (int i = 0; i < n && opened > 0; ++i)
            {
                if (gateOpen[i] != 0)
                {
                    for (int j = 0; j < pairs; ++j)
                    {
                        const Double2 y = bankOut[i][j];
                        energy[j] += averaging * (y * y - energy[j]);
                    }
                    open += secondsPerSample;
                }
            }
            for (int j = 0; j < pairs; ++j)
                sv::storeLanes(&bank.energy[2 * static_cast<size_t>(j)], energy[j]);
            openSeconds = open;
        }
        else if (releasing)
            for (int i = 0; i < n; ++i)
                reduce(i, std::false_type{});
        else
            for (int i = 0; i < n; ++i)
                reduce(i, std::true_type{});
        reductionDb = r;
        peakReductionDb = peak;
    }
    {
        int esses = 0;
        for (int i = 0; i < n; ++i)
            esses += detection[i] > essAbove;
        essFlag = essFlag || esses > 0;
    }

    // Upper-band gain 10^(-1.3 r / 20).
    for (int i = 0; i < n; ++i)
        gain[i] = sv::fastExp2(gain[i] * octavesPerReductionDb);

    if (ramp.isMoving())
    {
        for (int i = 0; i < n; ++i)
            rampValue[i] = ramp.next();
    }
    else
    {
        std::fill(rampValue, rampValue + n, ramp.getValue());
    }
    if (detectionTrace != nullptr)
        for (int i = 0; i < n; ++i)
            detectionTrace[start + i] = detection[i] * rampValue[i];

    for (int c = 0; c < numChannels; ++c)
    {
        float* x = channels[c] + start;
        const float* d = delayed[c];
        const float* lo = low[c];
        const float* hi = high[c];
        for (int i = 0; i < n; ++i)
            x[i] = deEssed(d[i], lo[i], hi[i], gain[i], rampValue[i]);
        if (listen != nullptr)
        {
            float* out = listen[c] + start;
            for (int i = 0; i < n; ++i)
                out[i] = takenOut(hi[i], gain[i], rampValue[i]);
        }
    }
}

} // namespace eng::vocal
