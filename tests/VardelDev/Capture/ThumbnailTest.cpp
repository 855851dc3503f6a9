#include "Thumbnail.h"

#include "YuvFrame.h"

#include <gtest/gtest.h>

namespace vardel {
namespace {

    template <typename Value> Frame makeFrame(int width, int height, Value value)
    {
        return test::yuvFrame(
            width, height, PixelFormat::nv12, value, [](int, int) { return std::pair(128, 128); });
    }

    TEST(ThumbnailTest, EachPixelIsTheMeanOfTheAreaItCoversWhateverTheFrameSize)
    {
        // 1920x1080 -> 96x54: 20x20 blocks. Each block alternates 0/200 by column (mean 100) plus a block
        // level; a point sampler would return 0 or 200+level, never the mean.
        auto level = [](int x, int y) { return (x / 20 + y / 20) % 50; };
        Frame frame = makeFrame(1920, 1080, [&](int x, int y) { return (x % 2 ? 200 : 0) + level(x, y); });
        Thumbnail thumbnail;
        const auto luma = thumbnail.make(frame).value();
        ASSERT_EQ(luma.size(), 5184u);
        for (int y = 0; y < 54; ++y)
            for (int x = 0; x < 96; ++x)
                ASSERT_NEAR(luma[y * 96 + x], 100 + level(x * 20, y * 20), 1) << x << "," << y;

        // It follows the frame size and reads only the picture, not the padding: 1281 wide: the stride is
        // padded to 1312; padding bytes stay 0 while the picture is 90.
        Frame odd = makeFrame(1281, 721, [](int, int) { return 90; });
        Frame small = makeFrame(160, 90, [](int x, int) { return x < 80 ? 10 : 250; });
        for (int round = 0; round < 2; ++round) {
            const auto flat = thumbnail.make(odd).value();
            for (auto value : flat)
                ASSERT_NEAR(value, 90, 1);
            const auto halves = thumbnail.make(small).value();
            EXPECT_NEAR(halves[0], 10, 1);
            EXPECT_NEAR(halves[95], 250, 1);
        }
        EXPECT_FALSE(thumbnail.make(Frame()));
    }

} // namespace
} // namespace vardel
