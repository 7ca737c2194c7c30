#include "Mirrel.h"

#include "common/dsp/ClampSetting.h"

#include <algorithm>
#include <cmath>

namespace mr
{

float Mirrel::draw(Random& random) noexcept
{
    const float w = sv::clampSetting(settings.width, 0.0f, 100.0f) / 100.0f;
    const float h = sv::clampSetting(settings.hole, 0.0f, 100.0f) / 100.0f;
    const float c = sv::clampSetting(settings.bias, 0.0f, 100.0f) / 100.0f;
    const float j = sv::clampSetting(settings.minJump, 0.0f, 100.0f) / 100.0f;
    const float exponent = 1.0f / (1.0f + 5.0f * c);

    float position = 0.0f;
    for (int attempt = 1; attempt <= 8; ++attempt)
    {
        // Three steps per attempt, always, so the sequence does not depend on the outcome.
        const auto s1 = random.next();
        const auto s2 = random.next();
        const auto s3 = random.next();

        int side = Random::toUniform(s2) < 0.5f ? -1 : 1;
        if (lastSide != 0)
        {
            if (settings.alternate == 2)
                side = -lastSide;
            else if (settings.alternate == 1 && Random::toUniform(s1) < 0.6f)
                side = -lastSide;
        }
        const float magnitude = std::pow(Random::toUniform(s3), exponent);
        position = w * (h + (1.0f - h) * magnitude) * static_cast<float>(side);

        if (std::abs(position - lastPosition) >= j || firstHit)
            break;
    }

    lastSide = position > 0.0f ? 1 : (position < 0.0f ? -1 : 0);
    lastPosition = position;
    firstHit = false;
    return position;
}

void Mirrel::resetLast() noexcept
{
    lastPosition = 0.0f;
    lastSide = 0;
    firstHit = true;
}

void Mirrel::setLast(float position, int side) noexcept
{
    lastPosition = position;
    lastSide = side;
    firstHit = false;
}

} // namespace mr
