#include "HitDetector.h"

#include "common/dsp/OnePole.h"

#include <algorithm>
#include <cmath>

namespace mr
{

void HitDetector::prepare(double sampleRate)
{
    // A fourth-order Butterworth high-pass (2Q = 1.082 and 2.614), then a second-order low-pass.
    const double highHz = std::min(150.0, 0.45 * sampleRate);
    const double lowHz = std::min(6000.0, 0.45 * sampleRate);
    sv::setHighPass(highPass1, sampleRate, highHz, 1.082 / 2.0);
    sv::setHighPass(highPass2, sampleRate, highHz, 2.614 / 2.0);
    sv::setLowPass(lowPass, sampleRate, lowHz, 1.414 / 2.0);
    highPass1.clear();
    highPass2.clear();
    lowPass.clear();

    fastCoeff = static_cast<float>(sv::onePoleCoefficient(0.001, sampleRate));
    slowCoeff = static_cast<float>(sv::onePoleCoefficient(0.05, sampleRate));
    hold = static_cast<int>(std::lround(0.04 * sampleRate));
    fast = slow = 0.0f;
    holdCounter = 0;
    above = false;
}

} // namespace mr
