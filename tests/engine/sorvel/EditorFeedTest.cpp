// The record ring the editor reads: what a copy of the newest records gets, and which of its
// copies it reports as overtaken by the writer (a copy that reaches back to the slot the next
// push overwrites, or beyond).
#include "sorvel/engine/EditorFeed.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace
{
sv2::MeteringRecord numbered(std::uint32_t k)
{
    auto r = sv2::MeteringRecord::silent();
    r[sv2::MeteringRecord::inputPeak] = static_cast<float>(k);
    return r;
}
} // namespace

TEST(RecordRing, aCopyWithinTheRingIsIntactAndOneReachingTheNextSlotIsReportedSpoilt)
{
    auto ring = std::make_unique<sv2::RecordRing>();
    constexpr std::uint32_t pushed = 1300;
    for (std::uint32_t k = 0; k < pushed; ++k)
        ring->push(numbered(k));
    ASSERT_EQ(ring->count(), pushed);

    const struct
    {
        std::uint32_t back; // how far before the counter the copy starts
        std::uint32_t spoilt;
    } cases[] = {{1, 0}, {504, 0}, {511, 0}, {512, 1}, {520, 9}};
    std::vector<sv2::MeteringRecord> out(sv2::RecordRing::size + 16);
    for (const auto& c : cases)
    {
        const auto first = pushed - c.back;
        EXPECT_EQ(ring->readNewest(first, pushed, out.data()), c.spoilt) << c.back << " back";
        // Whatever is reported intact is the record it claims to be.
        for (std::uint32_t i = c.spoilt; i < c.back; ++i)
            ASSERT_EQ(out[i][sv2::MeteringRecord::inputPeak], static_cast<float>(first + i)) << c.back;
    }

    // Early on nothing can be spoilt, and a record reads back as it was pushed.
    auto young = std::make_unique<sv2::RecordRing>();
    for (std::uint32_t k = 0; k < 10; ++k)
        young->push(numbered(k));
    EXPECT_EQ(young->readNewest(0, 10, out.data()), 0u);
    EXPECT_EQ(young->at(7)[sv2::MeteringRecord::inputPeak], 7.0f);
    EXPECT_EQ(young->at(7)[sv2::MeteringRecord::shimmerSparkleDb], -120.0f);
}
