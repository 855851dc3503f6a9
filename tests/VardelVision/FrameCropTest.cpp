#include "FrameCrop.h"

#include "YuvFrame.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vardel;

// Full-range 4:2:0 in both layouts: Y 0 is black, Y 255 white, Y 76 with U 85 and V 255 pure red.
TEST(FrameCrop, ReadsFramesAsFullRange)
{
    const int luma[] = { 0, 255, 76 }, u[] = { 128, 128, 85 }, v[] = { 128, 128, 255 };
    for (PixelFormat format : { PixelFormat::i420, PixelFormat::nv12 }) {
        const Frame frame = test::yuvFrame(
            32, 6, format, [&](int, int y) { return luma[y / 2]; },
            [&](int, int y) { return std::pair(u[y], v[y]); });
        const cv::Mat bgr = FrameCrop::bgr(frame, { 4, 0, 16, 6 });
        ASSERT_EQ(bgr.size(), cv::Size(16, 6));
        EXPECT_EQ(bgr.at<cv::Vec3b>(0, 8), cv::Vec3b(0, 0, 0));
        EXPECT_EQ(bgr.at<cv::Vec3b>(2, 8), cv::Vec3b(255, 255, 255));
        const cv::Vec3b red = bgr.at<cv::Vec3b>(5, 8);
        EXPECT_GT(red[2], 250);
        EXPECT_LT(red[0] + red[1], 10);
    }
}

// Boxes are clamped to the frame, never to the crop they were found in.
TEST(FrameCrop, AreaFitsAPersonInsideTheFrameAndBoxesReachPastItButNotPastTheFrame)
{
    const cv::Rect area(100, 50, 200, 100);
    const auto past = FrameCrop::toFrame({ -30, -10, 60, 200 }, area, 1000, 200);
    ASSERT_TRUE(past);
    EXPECT_DOUBLE_EQ(past->x, 0.07);
    EXPECT_DOUBLE_EQ(past->y, 0.2);
    EXPECT_DOUBLE_EQ(past->h, 0.8); // 40 ... 200, cut by the frame's bottom
    EXPECT_DOUBLE_EQ(FrameCrop::toFrame({ -150, 0, 100, 10 }, area, 1000, 200)->x, 0.0);
    EXPECT_FALSE(FrameCrop::toFrame({ -300, 0, 100, 10 }, area, 1000, 200));

    // The area searched fits a person inside the frame.
    const std::tuple<const char*, PersonDetecting::Focus, int, cv::Rect> rows[]
        = { { "plain", { 0.25, 0.25, 0.25, 0.25 }, 0, { 320, 180, 320, 180 } },
              // A strip 20 px wide becomes square around its middle, for HOG's window or a person's width.
              { "thinStrip", { 0.5, 0.25, 20 / 1280.0, 0.25 }, 0, { 560, 180, 180, 180 } },
              { "flatStrip", { 0.0, 0.5, 0.75, 0.02 }, 0, { 0, 208, 960, 320 } },
              { "stripAtTheEdge", { 0.985, 0.25, 0.015, 0.25 }, 0, { 1100, 180, 180, 180 } },
              { "smallForTheNetwork", { 0.5, 0.5, 0.05, 0.05 }, 160, { 592, 298, 160, 160 } },
              { "oddMinimumGrowsToEven", { 0.5, 0.5, 0.05, 0.05 }, 161, { 590, 298, 162, 162 } },
              { "tooSmall", { 0.5, 0.5, 0.001, 0.5 }, 0, { 0, 0, 1280, 720 } },
              { "notFinite", { std::nan(""), 0, 1, 1 }, 0, { 0, 0, 1280, 720 } } };
    for (const auto& [name, focus, minSide, expected] : rows)
        EXPECT_EQ(FrameCrop::area(focus, 1280, 720, minSide), expected) << name;
}
