#include "sorvel/engine/primitives/FixedDelay.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

// Delays longer and shorter than a span, around the end of the ring, in place and not.
TEST(FixedDelay, delaysByExactlyItsLengthAcrossAnyPieceSizes)
{
    for (const int delay : {0, 5, 127})
        for (const bool inPlace : {true, false})
        {
            sv::FixedDelay d;
            d.prepare(2, delay, 64);

            std::vector<float> x(2000);
            std::iota(x.begin(), x.end(), 1.0f);
            std::vector<float> left = x, right(x.size()), outLeft(x.size()), outRight(x.size());
            for (size_t i = 0; i < x.size(); ++i)
                right[i] = -x[i];

            const int pieces[] = {1, 64, 13, 64, 7, 33};
            int pos = 0, k = 0;
            while (pos < static_cast<int>(x.size()))
            {
                const int n = std::min(pieces[k++ % 6], static_cast<int>(x.size()) - pos);
                const float* in[2] = {left.data() + pos, right.data() + pos};
                float* out[2] = {inPlace ? left.data() + pos : outLeft.data() + pos,
                                 inPlace ? right.data() + pos : outRight.data() + pos};
                EXPECT_NO_HEAP(d.process(in, out, n));
                pos += n;
            }
            const auto& l = inPlace ? left : outLeft;
            const auto& r = inPlace ? right : outRight;
            for (int i = 0; i < static_cast<int>(x.size()); ++i)
            {
                const float expected = i < delay ? 0.0f : x[static_cast<size_t>(i - delay)];
                ASSERT_EQ(l[static_cast<size_t>(i)], expected) << "delay " << delay << " sample " << i;
                ASSERT_EQ(r[static_cast<size_t>(i)], -expected) << "delay " << delay << " sample " << i;
            }
        }
}
