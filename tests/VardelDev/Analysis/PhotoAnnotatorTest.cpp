#include "PhotoAnnotator.h"

#include "YuvFrame.h"

#include <QBuffer>
#include <QImageReader>
#include <gtest/gtest.h>

#include <random>
#include <thread>

using namespace vardel;

namespace {

const QRgb kAmber = qRgb(255, 179, 64);
const QRgb kGrey = qRgb(200, 200, 200);

QImage solid(int width, int height, QRgb colour, QImage::Format format = QImage::Format_RGB32)
{
    QImage picture(width, height, format);
    picture.fill(colour);
    return picture;
}

// Bounding rectangle of the pixels that differ from `base`.
QRect changedArea(const QImage& picture, const QImage& base)
{
    QRect area;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (picture.pixel(x, y) != base.pixel(x, y))
                area |= QRect(x, y, 1, 1);
    return area;
}

} // namespace

TEST(PhotoAnnotator, OverlappingBoxesMergeAndEachSpotlightIsPaddedDimmedAroundAndFramedInAmber)
{
    const PersonBox a { 0.125, 0.125, 0.25, 0.25, 0.6, true };
    const PersonBox b { 0.25, 0.25, 0.25, 0.25, 0.9, false };
    const PersonBox touching { 0.5, 0.25, 0.125, 0.125, 0.7, false }; // shares b's right edge only
    const PersonBox alone { 0.75, 0.75, 0.125, 0.125, 0.5, true };
    const auto merged = PhotoAnnotator::regions({ a, alone, b, touching });
    ASSERT_EQ(merged.size(), 3u);
    EXPECT_EQ(merged[0], alone);
    // The union of a and b in b's place, with the higher confidence and no face flag.
    EXPECT_EQ(merged[1], (PersonBox { 0.125, 0.125, 0.375, 0.375, 0.9, false }));
    EXPECT_EQ(merged[2], touching);
    // A box bridging two earlier ones swallows both.
    EXPECT_EQ(PhotoAnnotator::regions(
                  { { 0.0, 0.0, 0.2, 0.2, 0.5 }, { 0.5, 0.0, 0.2, 0.2, 0.5 }, { 0.1, 0.1, 0.5, 0.05, 0.8 } })
                  .size(),
        1u);

    EXPECT_EQ(
        PhotoAnnotator::spotlightRect({ 0.25, 0.25, 0.5, 0.5, 1 }, 1000, 400), QRectF(210, 90, 580, 220));
    EXPECT_EQ(PhotoAnnotator::spotlightRect({ 0.0, 0.6, 0.3, 0.4, 1 }, 1000, 400), QRectF(0, 232, 324, 168));

    // Outside the spotlight the picture is dimmed; the spotlight's corners are rounded and it is framed in
    // amber 5·s wide (s: the picture's long side over 1920), at least 3 px.
    const PersonBox box { 440 / 1920.0, 250 / 1080.0, 520 / 1920.0, 500 / 1080.0, 0.9 };
    const QRectF rect = PhotoAnnotator::spotlightRect(box, 1920, 1080);
    const auto result = PhotoAnnotator::annotate(solid(1920, 1080, kGrey), { box }, "");
    const QRgb dimmed = result->pixel(100, 100);
    EXPECT_NEAR(qRed(dimmed), 200 * 0.58, 1.5);
    EXPECT_EQ(qRed(dimmed), qBlue(dimmed));
    EXPECT_EQ(result->pixel(rect.center().toPoint()), kGrey);
    const int left = static_cast<int>(rect.left()), middle = static_cast<int>(rect.center().y());
    // Inside the corner but outside its rounding: dimmed; the left edge: amber; just inside it: bright.
    EXPECT_EQ(result->pixel(left + 2, static_cast<int>(rect.top()) + 2), dimmed);
    EXPECT_EQ(result->pixel(left, middle), kAmber);
    EXPECT_EQ(result->pixel(left + 6, middle), kGrey);

    for (auto [width, height, lineWidth] :
        { std::tuple(1920, 1080, 5.0), { 1280, 720, 5.0 * 1280 / 1920 }, { 640, 360, 3.0 } }) {
        const PersonBox middleBox { 0.3, 0.3, 0.4, 0.4, 0.9 };
        const auto framed = PhotoAnnotator::annotate(solid(width, height, qRgb(0, 0, 0)), { middleBox }, "");
        const QRectF spot = PhotoAnnotator::spotlightRect(middleBox, width, height);
        // Amber coverage across the left edge of the frame: the stroke width on black.
        double stroke = 0;
        for (int x = static_cast<int>(spot.left()) - 8; x <= static_cast<int>(spot.left()) + 8; ++x)
            stroke += qRed(framed->pixel(x, static_cast<int>(spot.center().y()))) / 255.0;
        EXPECT_NEAR(stroke, lineWidth, 0.15) << width;
    }
}

// The stamp is an amber capsule with dark text 22·s from the bottom right corner; nothing else changes,
// also when drawn on a worker thread, as the analyzer does.
TEST(PhotoAnnotator, WithoutPeopleOnlyTheStampChangesAndFramesConvertAsFullRangeToJpeg)
{
    std::mt19937 random(7);
    QImage picture(1280, 720, QImage::Format_RGB32); // noise: any drawn pixel shows
    for (int y = 0; y < 720; ++y)
        for (int x = 0; x < 1280; ++x)
            picture.setPixel(x, y, random() | 0xff000000u);
    EXPECT_EQ(*PhotoAnnotator::annotate(picture, {}, ""), picture);
    const auto stamped = PhotoAnnotator::annotate(picture, {}, "06/12/2026 21:04:05");
    const QRect changed = changedArea(*stamped, picture);
    EXPECT_GT(changed.left(), 640);
    EXPECT_GT(changed.top(), 600);
    EXPECT_EQ(stamped->pixel(changed.left() + 4, changed.center().y()), kAmber);
    std::optional<QImage> onWorker;
    std::thread([&] { onWorker = PhotoAnnotator::annotate(picture, {}, "06/12/2026 21:04:05"); }).join();
    EXPECT_EQ(*onWorker, *stamped);

    for (auto [width, height] : { std::pair(1920, 1080), { 1280, 720 }, { 640, 360 } }) {
        const auto overlay = PhotoAnnotator::stampOverlay("Sun 6 Dec 21:04:05", width, height);
        ASSERT_EQ(overlay->size(), QSize(width, height));
        const QRect capsule
            = changedArea(*overlay, solid(width, height, 0, QImage::Format_ARGB32_Premultiplied));
        const double margin = 22.0 * width / 1920;
        EXPECT_NEAR(capsule.right() + 1, width - margin, 1.0) << width;
        EXPECT_NEAR(capsule.bottom() + 1, height - margin, 1.0) << width;
        EXPECT_EQ(qAlpha(overlay->pixel(10, 10)), 0);
        EXPECT_EQ(qAlpha(overlay->pixel(width - 1, height - 1)), 0);
        bool text = false;
        for (int x = capsule.left(); x <= capsule.right() && !text; ++x)
            text = overlay->pixel(x, capsule.center().y()) == qRgb(28, 28, 31);
        EXPECT_TRUE(text) << width;
    }
    EXPECT_EQ(qAlpha(PhotoAnnotator::stampOverlay("", 64, 32)->pixel(50, 20)), 0);
    EXPECT_FALSE(PhotoAnnotator::stampOverlay("x", 0, 10));

    // Full-range BT.601 in both frame layouts: Y 76, U 85, V 255 is pure red; Y 0 black; Y 255 white.
    // The JPEG decodes to the same size and honours the quality.
    for (PixelFormat format : { PixelFormat::i420, PixelFormat::nv12 }) {
        const QImage converted = PhotoAnnotator::image(test::yuvFrame(
            64, 48, format, [](int, int y) { return y < 16 ? 76 : (y < 32 ? 0 : 255); },
            [](int, int y) { return y < 8 ? std::pair(85, 255) : std::pair(128, 128); }));
        ASSERT_EQ(converted.size(), QSize(64, 48));
        const QRgb red = converted.pixel(10, 4);
        EXPECT_GT(qRed(red), 245);
        EXPECT_LT(qGreen(red) + qBlue(red), 20);
        EXPECT_LE(qGray(converted.pixel(10, 24)), 2);
        EXPECT_GE(qGray(converted.pixel(10, 44)), 253);
    }
    EXPECT_TRUE(PhotoAnnotator::image(Frame()).isNull());

    const auto low = PhotoAnnotator::jpeg(picture, 0.3);
    auto high = PhotoAnnotator::jpeg(picture, 0.95);
    EXPECT_LT(low->size(), high->size());
    QBuffer buffer(&*high);
    EXPECT_EQ(QImageReader(&buffer, "jpeg").read().size(), QSize(1280, 720));
    EXPECT_FALSE(PhotoAnnotator::jpeg(QImage(), 0.8));
    EXPECT_FALSE(PhotoAnnotator::annotate(QImage(), {}, "x"));
}
