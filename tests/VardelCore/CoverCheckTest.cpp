#include "CoverCheck.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace vardel;

namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 54;

std::vector<std::uint8_t> flat(std::uint8_t value)
{
    return std::vector<std::uint8_t>(kWidth * kHeight, value);
}

// Vertical stripes alternating between two values: texture in every row, none down the columns.
std::vector<std::uint8_t> stripes(std::uint8_t a, std::uint8_t b)
{
    std::vector<std::uint8_t> luma(kWidth * kHeight);
    for (int i = 0; i < kWidth * kHeight; ++i)
        luma[i] = (i % kWidth) % 2 ? b : a;
    return luma;
}

} // namespace

TEST(CoverCheck, BlackAndFlatGreyLookCoveredButATexturedSceneDoesNot)
{
    EXPECT_TRUE(CoverCheck::looksCovered(CoverCheck::stats(flat(0), kWidth)));
    const auto grey = CoverCheck::stats(flat(128), kWidth);
    EXPECT_DOUBLE_EQ(grey.mean, 128);
    EXPECT_DOUBLE_EQ(grey.spread, 0);
    EXPECT_DOUBLE_EQ(grey.detail, 0);
    EXPECT_TRUE(CoverCheck::looksCovered(grey));

    // Mean 100, spread 40, strong texture: an ordinary scene.
    const auto scene = CoverCheck::stats(stripes(60, 140), kWidth);
    EXPECT_DOUBLE_EQ(scene.mean, 100);
    EXPECT_DOUBLE_EQ(scene.spread, 40);
    EXPECT_DOUBLE_EQ(scene.detail, 80);
    EXPECT_FALSE(CoverCheck::looksCovered(scene));
}

TEST(CoverCheck, DetailIgnoresTheJumpFromOneRowToTheNext)
{
    // Each row is flat, but rows alternate black and white: no horizontal neighbour differs.
    std::vector<std::uint8_t> luma(kWidth * kHeight);
    for (int i = 0; i < kWidth * kHeight; ++i)
        luma[i] = (i / kWidth) % 2 ? 255 : 0;
    const auto stats = CoverCheck::stats(luma, kWidth);
    EXPECT_DOUBLE_EQ(stats.detail, 0);
    EXPECT_NEAR(stats.spread, 127.5, 1e-9);
}

TEST(CoverCheck, EmptyOrNarrowInputGivesZeros)
{
    EXPECT_EQ(CoverCheck::stats({}, kWidth), CoverCheck::Stats {});
    EXPECT_EQ(CoverCheck::stats(flat(200), 1), CoverCheck::Stats {});
    EXPECT_EQ(CoverCheck::stats(flat(200), 0), CoverCheck::Stats {});
    // A single two-pixel row has one pair.
    const std::vector<std::uint8_t> pair { 10, 30 };
    EXPECT_DOUBLE_EQ(CoverCheck::stats(pair, 2).detail, 20);
}

TEST(CoverCheckTracker, BecomesCoveredAfterOneSecondAndUncoveredAfterHalfASecond)
{
    CoverCheck::Tracker tracker;
    EXPECT_FALSE(tracker.observe(true, 100.0));
    EXPECT_FALSE(tracker.observe(true, 100.9));
    EXPECT_TRUE(tracker.observe(true, 101.0));
    EXPECT_TRUE(tracker.observe(false, 102.0));
    EXPECT_TRUE(tracker.observe(false, 102.4));
    EXPECT_FALSE(tracker.observe(false, 102.5));
}

TEST(CoverCheckTracker, ABriefCoverNeverCountsAndRestartsTheDebounce)
{
    CoverCheck::Tracker tracker;
    EXPECT_FALSE(tracker.observe(true, 10.0));
    EXPECT_FALSE(tracker.observe(true, 10.9));
    EXPECT_FALSE(tracker.observe(false, 11.0));
    EXPECT_FALSE(tracker.since().has_value());
    // The next cover starts its own second.
    EXPECT_FALSE(tracker.observe(true, 11.5));
    EXPECT_FALSE(tracker.observe(true, 12.4));
    EXPECT_TRUE(tracker.observe(true, 12.5));
    tracker.reset();
    EXPECT_FALSE(tracker.covered());
}
