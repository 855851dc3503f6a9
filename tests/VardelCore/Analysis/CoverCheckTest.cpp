#include "CoverCheck.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace vardel;

namespace {

constexpr int kWidth = 96;
constexpr int kSize = 96 * 54;

// Every pixel from `value(column, row)`.
template <typename Fn> std::vector<std::uint8_t> thumbnail(Fn value)
{
    std::vector<std::uint8_t> luma(kSize);
    for (int i = 0; i < kSize; ++i)
        luma[i] = static_cast<std::uint8_t>(value(i % kWidth, i / kWidth));
    return luma;
}

} // namespace

TEST(CoverCheck, DarkOrFlatPicturesLookCoveredATexturedSceneDoesNot)
{
    EXPECT_TRUE(CoverCheck::looksCovered(CoverCheck::stats(thumbnail([](int, int) { return 0; }), kWidth)));
    const auto grey = CoverCheck::stats(thumbnail([](int, int) { return 128; }), kWidth);
    EXPECT_EQ(grey, (CoverCheck::Stats { 128, 0, 0 }));
    EXPECT_TRUE(CoverCheck::looksCovered(grey));

    // Vertical stripes of 60 and 140: mean 100, spread 40, every neighbour differs by 80.
    const auto scene
        = CoverCheck::stats(thumbnail([](int column, int) { return column % 2 ? 140 : 60; }), kWidth);
    EXPECT_EQ(scene, (CoverCheck::Stats { 100, 40, 80 }));
    EXPECT_FALSE(CoverCheck::looksCovered(scene));

    // Flat rows alternating black and white: the jump from one row to the next is not detail.
    const auto rows = CoverCheck::stats(thumbnail([](int, int row) { return row % 2 ? 255 : 0; }), kWidth);
    EXPECT_EQ(rows.detail, 0);
    EXPECT_EQ(CoverCheck::stats({}, kWidth), CoverCheck::Stats {});
    EXPECT_EQ(CoverCheck::stats(thumbnail([](int, int) { return 9; }), 1), CoverCheck::Stats {});
}

TEST(CoverCheckTracker, DebouncesOneSecondToCoveredAndHalfASecondBack)
{
    CoverCheck::Tracker tracker;
    EXPECT_FALSE(tracker.observe(true, 10.0));
    EXPECT_FALSE(tracker.observe(true, 10.9));
    EXPECT_FALSE(tracker.observe(false, 11.0)); // a brief cover never counts and restarts the debounce
    EXPECT_FALSE(tracker.observe(true, 11.5));
    EXPECT_FALSE(tracker.observe(true, 12.4));
    EXPECT_TRUE(tracker.observe(true, 12.5));
    EXPECT_TRUE(tracker.observe(false, 13.0));
    EXPECT_TRUE(tracker.observe(false, 13.4));
    EXPECT_FALSE(tracker.observe(false, 13.5));
}
