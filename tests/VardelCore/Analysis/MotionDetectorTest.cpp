#include "MotionDetector.h"

#include "SyntheticThumbnails.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

using namespace vardel;

namespace {

using Thumbnail = std::vector<std::uint8_t>;

Thumbnail uniform(std::uint8_t value) { return Thumbnail(MotionDetector::thumbnailSize, value); }

// Mid-grey texture, so that a uniform shift changes every pixel by the same amount.
Thumbnail textured(int shift = 0)
{
    Thumbnail t(MotionDetector::thumbnailSize);
    for (std::size_t i = 0; i < t.size(); ++i)
        t[i] = static_cast<std::uint8_t>(60 + static_cast<int>((i * 37) % 120) + shift);
    return t;
}

TEST(MotionDetector, IndicesStayInsideTheGridAndEachAreaSeedsAnew)
{
    EXPECT_EQ(MotionDetector::indices(ROI::full(), 96, 54).size(), 5184u);
    EXPECT_EQ(MotionDetector::indices({ 0.5, 0.5, 0.001, 0.001 }, 96, 54), std::vector<int> { 2640 });
    const auto quarter = MotionDetector::indices({ 0.25, 0.5, 0.5, 0.5 }, 96, 54);
    ASSERT_EQ(quarter.size(), 48u * 27u);
    EXPECT_EQ(std::pair(quarter.front(), quarter.back()), std::pair(27 * 96 + 24, 53 * 96 + 71));
    // Ties round to even: 1.5 -> 2 cells, 2.5 -> 2.
    EXPECT_EQ(MotionDetector::indices({ 0, 0, 1.5 / 96, 0.001 }, 96, 54).size(), 2u);
    EXPECT_EQ(MotionDetector::indices({ 0, 0, 2.5 / 96, 0.001 }, 96, 54).size(), 2u);

    // A hand-edited settings file can hold any four numbers; none may index outside the thumbnail.
    for (const ROI& roi : { ROI { 5, 5, 1, 1 }, ROI { -3, -3, 0.5, 0.5 }, ROI { 0.9, 0.9, 4, 4 },
             ROI { std::nan(""), 0, 1, 1 }, ROI { 1, 1, 0, 0 } }) {
        const auto list = MotionDetector::indices(roi, 96, 54);
        ASSERT_FALSE(list.empty());
        EXPECT_TRUE(std::all_of(list.begin(), list.end(), [](int i) { return i >= 0 && i < 5184; }));
    }

    // The detector seeds on its first frame after creation, a reset or a new area, and rejects wrong sizes.
    MotionDetector detector(ROI::full(), 25);
    EXPECT_THROW(detector.process(Thumbnail(100)), std::invalid_argument);
    EXPECT_FALSE(detector.process(textured()));
    EXPECT_EQ(detector.process(textured()), 0.0);
    EXPECT_THROW(detector.process(Thumbnail(5185, 255)), std::invalid_argument);
    EXPECT_EQ(detector.process(textured()), 0.0) << "a rejected frame changes nothing";
    detector.reset();
    EXPECT_FALSE(detector.process(textured()));
    detector.setRoi(ROI::full()); // same area: background kept
    EXPECT_TRUE(detector.process(textured()));
    detector.setRoi({ 0.25, 0.25, 0.5, 0.5 });
    EXPECT_FALSE(detector.process(textured()));
}

// Only pixels inside the watched area count; a uniform change of light is compensated, while a small
// local change moves the mean difference little, so compensation keeps it; lasting change fades.
TEST(MotionDetector, ChangeAboveThePixelThresholdInsideTheAreaCountsUntilAbsorbed)
{
    const ROI leftHalf { 0, 0, 0.5, 1 };
    const std::tuple<ROI, Thumbnail, Thumbnail, double, double> rows[] = {
        { ROI::full(), uniform(100), uniform(125), 0.0, 0.0 }, // exactly the threshold is no change
        { ROI::full(), uniform(100), uniform(126), 1.0, 0.0 },
        { ROI::full(), textured(), textured(40), 1.0, 0.0 },
        { leftHalf, uniform(50), test::blockThumbnail(50, 200, 60, 0, 90, 54), 0.0, 0.0 },
        { leftHalf, uniform(50), test::blockThumbnail(50, 200, 0, 0, 12, 27), 0.125, 0.125 },
    };
    for (const auto& [area, before, after, level, compensated] : rows) {
        MotionDetector detector(area, 25);
        detector.process(before);
        EXPECT_DOUBLE_EQ(*detector.process(after), level);
        EXPECT_DOUBLE_EQ(detector.lightCompensatedLevel(), compensated);
    }

    // Lasting change is absorbed into the background.
    MotionDetector detector(ROI::full(), 25);
    detector.process(uniform(50));
    // The remaining difference shrinks by 5 % per frame: 100 · 0.95^n ≤ 25 after about 27 frames.
    int frames = 0;
    while (*detector.process(uniform(150)) > 0.0)
        ASSERT_LT(++frames, 40);
    EXPECT_GE(frames, 25);
}

} // namespace
