#include "sorvel/engine/primitives/BlockDelay.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

TEST(BlockDelay, delaysByExactlyItsLengthAcrossAnyPieceSizesInPlace)
{
    constexpr int delay = 127;
    sv::BlockDelay d;
    d.prepare(1, 64, delay);

    std::vector<float> x(2000);
    std::iota(x.begin(), x.end(), 1.0f);
    std::vector<float> y = x;

    const int pieces[] = {1, 64, 13, 64, 7, 33};
    int pos = 0, k = 0;
    while (pos < static_cast<int>(y.size()))
    {
        const int n = std::min(pieces[k++ % 6], static_cast<int>(y.size()) - pos);
        EXPECT_NO_HEAP(d.process(0, y.data() + pos, y.data() + pos, n));
        pos += n;
    }
    for (int i = 0; i < static_cast<int>(y.size()); ++i)
        ASSERT_EQ(y[static_cast<size_t>(i)], i < delay ? 0.0f : x[static_cast<size_t>(i - delay)])
            << "sample " << i;
}
