#include "sorvel/engine/primitives/FilterDesign.h"

namespace eng::md
{

using detail::fitMatched;
using detail::p1;
using detail::pi;
using detail::sq;

namespace
{

constexpr double sqrtHalf = 0.7071067811865476;
constexpr double minQ = 0.025;
constexpr double maxQ = 200.0;
constexpr double matchLimit = 0.85 * pi;

// Corner w0 and match frequency wm, radians per sample. Below 1 Hz (or not a number) the corner
// is 1 Hz; above 0.499 fs it is pulled down; the match point stops at 0.85 pi.
struct Corner
{
    double w0;
    double wm;
};

Corner cornerOf(double sampleRate, double freqHz) noexcept
{
    const double f = freqHz >= 1.0 ? std::min(freqHz, 0.499 * sampleRate) : 1.0;
    const double w0 = 2.0 * pi * f / sampleRate;
    return {w0, std::min(w0, matchLimit)};
}

double clampQ(double q) noexcept
{
    return q >= minQ ? std::min(q, maxQ) : minQ; // a NaN q takes the lower bound
}

// Impulse-invariant poles of an analog pair with natural frequency wp (radians per sample) and
// quality qp.
void polesOf(double wp, double qp, double& a1, double& a2) noexcept
{
    const double z = 0.5 / qp;
    a2 = std::exp(-2.0 * z * wp);
    if (z <= 1.0)
        a1 = -2.0 * std::exp(-z * wp) * std::cos(std::min(wp * std::sqrt(1.0 - z * z), pi));
    else
        a1 = -2.0 * std::exp(-z * wp) * std::cosh(wp * std::sqrt(z * z - 1.0));
}

bool isZeroGain(double gainDb) noexcept
{
    return !(std::abs(gainDb) >= 1e-6); // also true for NaN
}

// (1 - W^2)^2 + (W / q)^2: the squared magnitude of s^2 + s / q + 1 at s = jW.
double resonance(double W, double q) noexcept
{
    return sq(1.0 - W * W) + sq(W / q);
}

// Bell boost of absGainDb: (s^2 + s A/q + 1) / (s^2 + s/(A q) + 1).
Section bellBoost(const Corner& c, double absGainDb, double q) noexcept
{
    const double A = std::pow(10.0, absGainDb / 40.0);
    const double w0 = c.w0;
    const auto prototype = [w0, A, q](double w)
    {
        const double W = w / w0;
        const double u = sq(1.0 - W * W);
        return (u + sq(A * W / q)) / (u + sq(W / (A * q)));
    };
    double a1 = 0.0, a2 = 0.0;
    polesOf(w0, A * q, a1, a2);
    return fitMatched(a1, a2, c.wm, prototype(c.wm), prototype);
}

Section lowShelfBoost(const Corner& c, double absGainDb, double q) noexcept
{
    const double A = std::pow(10.0, absGainDb / 40.0);
    const double w0 = c.w0;
    const auto prototype = [w0, A, q](double w)
    {
        const double W2 = sq(w / w0);
        const double damping = A * W2 / (q * q);
        return A * A * (sq(A - W2) + damping) / (sq(1.0 - A * W2) + damping);
    };
    double a1 = 0.0, a2 = 0.0;
    polesOf(w0 / std::sqrt(A), q, a1, a2);
    return fitMatched(a1, a2, c.wm, prototype(c.wm), prototype);
}

Section highShelfCut(const Corner& c, double absGainDb, double q) noexcept
{
    const double L = std::pow(10.0, -absGainDb / 40.0);
    const double w0 = c.w0;
    const auto prototype = [w0, L, q](double w)
    {
        const double W2 = sq(w / w0);
        const double damping = L * W2 / (q * q);
        return L * L * (sq(1.0 - L * W2) + damping) / (sq(L - W2) + damping);
    };
    double a1 = 0.0, a2 = 0.0;
    polesOf(w0 * std::sqrt(L), q, a1, a2);
    return fitMatched(a1, a2, c.wm, prototype(c.wm), prototype);
}

Section lowPass2(const Corner& c, double q, const double* shape, const double* weights) noexcept
{
    const double w0 = c.w0;
    const auto prototype = [w0, q](double w) { return 1.0 / resonance(w / w0, q); };
    double a1 = 0.0, a2 = 0.0;
    polesOf(w0, q, a1, a2);
    return fitMatched(a1, a2, c.wm, prototype(c.wm), prototype, shape, weights);
}

// Q of the k-th pair (k from 1) of an order-N Butterworth; the first pair scaled by q / sqrt(1/2).
double butterworthQ(int k, int order, double q) noexcept
{
    const double qk = 0.5 / std::sin((2 * k - 1) * pi / (2.0 * order));
    return k == 1 ? qk * q / sqrtHalf : qk;
}

void append(Design& out, const Section& s) noexcept
{
    if (out.count < Design::maxSections)
        out.sections[static_cast<size_t>(out.count++)] = s;
}

void designHighPass(Design& out, const Corner& c, int order, double q) noexcept
{
    const double Wm = c.wm / c.w0;
    const double p1m = p1(c.wm);
    const double p0m = 1.0 - p1m;
    for (int k = 1; k <= order / 2; ++k)
    {
        const double qk = butterworthQ(k, order, q);
        Section s;
        polesOf(c.w0, qk, s.a1, s.a2);
        // Double zero at DC; the gain makes the section exact at wm (|1 - z^-1|^4 = 16 p1^2).
        const double analog = sq(Wm * Wm) / resonance(Wm, qk);
        const double u =
            std::sqrt(analog * detail::denominatorSquared(s.a1, s.a2, c.wm) / (16.0 * p1m * p1m));
        s.b0 = u;
        s.b1 = -2.0 * u;
        s.b2 = u;
        append(out, s);
    }
    if (order % 2 != 0)
    {
        const double p = std::exp(-c.w0);
        const double analog = Wm * Wm / (1.0 + Wm * Wm);
        const double g = std::sqrt(analog * (sq(1.0 - p) * p0m + sq(1.0 + p) * p1m) / (4.0 * p1m));
        append(out, {g, -g, 0.0, -p, 0.0});
    }
}

// Each pair is fitted to its own prototype times what the pairs before it left over, so the
// cascade as a whole follows the analog curve.
void designLowPass(Design& out, const Corner& c, int order, double q) noexcept
{
    constexpr int n = detail::fitPoints;
    std::array<double, n> shape;
    std::array<double, n> weights;
    std::array<double, n> W;
    shape.fill(1.0);
    for (size_t j = 0; j < n; ++j)
    {
        W[j] = detail::fitFrequency(static_cast<int>(j)) / c.w0;
        double total = order % 2 != 0 ? 1.0 / (1.0 + W[j] * W[j]) : 1.0;
        for (int k = 1; k <= order / 2; ++k)
            total /= resonance(W[j], butterworthQ(k, order, q));
        weights[j] = std::min(1000.0 * total, 1.0);
    }

    for (int k = 1; k <= order / 2; ++k)
    {
        const double qk = butterworthQ(k, order, q);
        const Section s = lowPass2(c, qk, shape.data(), weights.data());
        append(out, s);
        for (size_t j = 0; j < n; ++j)
        {
            const double w = detail::fitFrequency(static_cast<int>(j));
            shape[j] *= (1.0 / resonance(W[j], qk)) / std::max(squaredMagnitude(s, w), 1e-300);
        }
    }

    if (order % 2 != 0)
    {
        const double p = std::exp(-c.w0);
        const double B0 = sq(1.0 - p);
        double sumXY = 0.0, sumXX = 0.0;
        for (size_t j = 0; j < n; ++j)
        {
            const double x1 = detail::fitP1()[j];
            const double x0 = 1.0 - x1;
            const double L = (sq(1.0 + p) * x1 + B0 * x0) * shape[j] / (1.0 + W[j] * W[j]);
            const double x = weights[j] * x1 / L;
            const double y = weights[j] * (B0 * x0 / L - 1.0);
            sumXY += x * y;
            sumXX += x * x;
        }
        const double B1 = sumXX > 0.0 ? std::max(-sumXY / sumXX, 0.0) : 0.0;
        const double r0 = std::sqrt(B0);
        const double r1 = std::sqrt(B1);
        append(out, {0.5 * (r0 + r1), 0.5 * (r0 - r1), 0.0, -p, 0.0});
    }
}

} // namespace

namespace detail
{

bool squaredNumeratorValid(double B0, double B1, double B2) noexcept
{
    // As a function of x = p1: P(x) = B0 + (B1 - B0 + 4 B2) x - 4 B2 x^2.
    if (!(B0 >= 0.0) || !(B1 >= 0.0))
        return false;
    const double curvature = -4.0 * B2;
    if (curvature > 0.0)
    {
        const double slope = B1 - B0 + 4.0 * B2;
        const double vertex = -slope / (2.0 * curvature);
        if (vertex > 0.0 && vertex < 1.0)
        {
            const double lowest = B0 + slope * vertex + curvature * vertex * vertex;
            if (lowest < -1e-15 * (B0 + B1 + std::abs(B2)))
                return false;
        }
    }
    return true;
}

Section numeratorFromSquared(double B0, double B1, double B2, double a1, double a2) noexcept
{
    const double r0 = std::sqrt(B0);
    const double r1 = std::sqrt(B1);
    const double V = 0.5 * (r0 + r1);
    Section s;
    s.b0 = 0.5 * (V + std::sqrt(std::max(V * V + B2, 0.0)));
    s.b1 = 0.5 * (r0 - r1);
    s.b2 = s.b0 > 1e-300 ? -B2 / (4.0 * s.b0) : 0.0;
    s.a1 = a1;
    s.a2 = a2;
    return s;
}

Section fit3(double a1, double a2, double g0, double gNyq, double wm, double gm) noexcept
{
    Section s;
    s.a1 = a1;
    s.a2 = a2;
    const double p1m = p1(wm);
    const double p0m = 1.0 - p1m;
    const double p2m = 4.0 * p0m * p1m;
    const double B0 = g0 * sq(1.0 + a1 + a2);
    const double B1 = gNyq * sq(1.0 - a1 + a2);
    const double F = gm * denominatorSquared(a1, a2, wm) - B0 * p0m;
    const double B2 = (F - B1 * p1m) / p2m;

    if (B0 < 0.0)
        return s;
    if (B1 >= 0.0 && squaredNumeratorValid(B0, B1, B2))
        return numeratorFromSquared(B0, B1, B2, a1, a2);

    // Nyquist left free: a first-order numerator exact at DC and wm.
    const double r0 = std::sqrt(B0);
    const double r1 = std::sqrt(std::max(F / p1m, 0.0));
    s.b0 = 0.5 * (r0 + r1);
    s.b1 = 0.5 * (r0 - r1);
    s.b2 = 0.0;
    return s;
}

} // namespace detail

int slopeDbPerOct(int slopeIndex) noexcept
{
    static constexpr std::array<int, 8> slopes{6, 12, 18, 24, 36, 48, 72, 96};
    return slopes[static_cast<size_t>(std::clamp(slopeIndex, 0, 7))];
}

Section inverse(const Section& s) noexcept
{
    const double g = 1.0 / s.b0;
    return {g, s.a1 * g, s.a2 * g, s.b1 * g, s.b2 * g};
}

Section designHighShelf(double sampleRate, double freqHz, double gainDb, double q) noexcept
{
    if (isZeroGain(gainDb))
        return {};
    // Designed as a cut, so a boost and a cut of the same size are exact inverses.
    const Section cut = highShelfCut(cornerOf(sampleRate, freqHz), std::abs(gainDb), clampQ(q));
    return gainDb > 0.0 ? inverse(cut) : cut;
}

Section designBandPass(double sampleRate, double freqHz, double q) noexcept
{
    const Corner c = cornerOf(sampleRate, freqHz);
    const double w0 = c.w0;
    const double qc = clampQ(q);
    const auto prototype = [w0, qc](double w)
    {
        const double W = w / w0;
        const double peak = sq(W / qc);
        return peak / (sq(1.0 - W * W) + peak);
    };
    double a1 = 0.0, a2 = 0.0;
    polesOf(w0, qc, a1, a2);
    return fitMatched(a1, a2, c.wm, prototype(c.wm), prototype);
}

Section designLowPass2(double sampleRate, double freqHz, double q, const double* shape,
                       const double* weights) noexcept
{
    return lowPass2(cornerOf(sampleRate, freqHz), clampQ(q), shape, weights);
}

void design(Design& out, int kind, int slopeIndex, double sampleRate, double freqHz, double gainDb,
            double q) noexcept
{
    out.sections.fill(Section{});
    out.count = 0;
    q = clampQ(q);
    const Corner c = cornerOf(sampleRate, freqHz);
    const int order = slopeDbPerOct(slopeIndex) / 6;

    switch (kind)
    {
    case bell:
        if (!isZeroGain(gainDb))
        {
            const Section boost = bellBoost(c, std::abs(gainDb), q);
            append(out, gainDb > 0.0 ? boost : inverse(boost));
        }
        break;
    case lowShelf:
        if (!isZeroGain(gainDb))
        {
            const Section boost = lowShelfBoost(c, std::abs(gainDb), q);
            append(out, gainDb > 0.0 ? boost : inverse(boost));
        }
        break;
    case highShelf:
        if (!isZeroGain(gainDb))
            append(out, designHighShelf(sampleRate, freqHz, gainDb, q));
        break;
    case highPass:
        designHighPass(out, c, order, q);
        break;
    case lowPass:
        designLowPass(out, c, order, q);
        break;
    default:
        break; // unknown kinds are a unity filter
    }
}

const std::array<double, detail::fitPoints>& detail::fitP1() noexcept
{
    // Filled by the first design (a module's prepare); a table local to this function cannot be
    // read before it is filled, whatever the order of static initialisation.
    static const std::array<double, fitPoints> table = []
    {
        std::array<double, fitPoints> values{};
        for (int j = 0; j < fitPoints; ++j)
            values[static_cast<size_t>(j)] = p1(fitFrequency(j));
        return values;
    }();
    return table;
}

double squaredMagnitude(const Section& s, double w) noexcept
{
    const double x1 = p1(w);
    const double x0 = 1.0 - x1;
    const double numerator =
        sq(s.b0 + s.b1 + s.b2) * x0 + sq(s.b0 - s.b1 + s.b2) * x1 - 16.0 * s.b0 * s.b2 * x0 * x1;
    return std::max(numerator, 0.0) / std::max(detail::denominatorSquared(s.a1, s.a2, w), 1e-300);
}

double magnitudeDb(const Design& d, double sampleRate, double hz) noexcept
{
    const double w = 2.0 * pi * hz / sampleRate;
    double power = 1.0;
    for (int k = 0; k < d.count; ++k)
        power *= squaredMagnitude(d.sections[static_cast<size_t>(k)], w);
    return 10.0 * std::log10(std::max(power, 1e-40));
}

} // namespace eng::md
