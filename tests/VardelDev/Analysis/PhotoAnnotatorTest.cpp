#include "PhotoAnnotator.h"

#include <QBuffer>
#include <QImageReader>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>

using namespace vardel;

namespace {

const QRgb kAmber = qRgb(255, 179, 64);

QImage solid(int width, int height, QRgb colour)
{
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(colour);
    return picture;
}

QImage transparent(int width, int height)
{
    QImage picture(width, height, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    return picture;
}

// A picture whose every pixel differs from its neighbours, so a pixel that is dimmed or moved shows.
QImage pattern(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, qRgb((x * 7) % 200 + 40, (y * 5) % 200 + 40, ((x + y) * 3) % 200 + 40));
    return picture;
}

// Bounding rectangle of the pixels that differ from `base` (or, for an overlay, are not transparent).
QRect changedArea(const QImage& picture, const QImage& base)
{
    int left = picture.width(), top = picture.height(), right = -1, bottom = -1;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (picture.pixel(x, y) != base.pixel(x, y)) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

// Amber coverage summed across a row: the stroke width in pixels on a black picture.
double strokeWidthAlongRow(const QImage& picture, int y, int fromX, int toX)
{
    double sum = 0;
    for (int x = fromX; x <= toX; ++x)
        sum += qRed(picture.pixel(x, y)) / 255.0;
    return sum;
}

} // namespace

TEST(PhotoAnnotatorRegions, OverlappingBoxesMergeTouchingOnesStayApart)
{
    const PersonBox a { 0.1, 0.1, 0.2, 0.2, 0.6, true };
    const PersonBox b { 0.25, 0.25, 0.2, 0.2, 0.9, false };
    const PersonBox touching { 0.45, 0.25, 0.1, 0.1, 0.7, false }; // shares b's right edge only
    const PersonBox alone { 0.8, 0.8, 0.1, 0.1, 0.5, true };

    const auto merged = PhotoAnnotator::regions({ a, alone, b, touching });
    ASSERT_EQ(merged.size(), 3u);
    EXPECT_EQ(merged[0], alone);
    // The union of a and b moved to b's place, with the higher confidence and no face flag.
    EXPECT_NEAR(merged[1].x, 0.1, 1e-12);
    EXPECT_NEAR(merged[1].y, 0.1, 1e-12);
    EXPECT_NEAR(merged[1].w, 0.35, 1e-12);
    EXPECT_NEAR(merged[1].h, 0.35, 1e-12);
    EXPECT_EQ(merged[1].confidence, 0.9);
    EXPECT_FALSE(merged[1].isFace);
    EXPECT_EQ(merged[2], touching);

    // A box bridging two earlier ones swallows both.
    const auto bridged = PhotoAnnotator::regions(
        { { 0.0, 0.0, 0.2, 0.2, 0.5 }, { 0.5, 0.0, 0.2, 0.2, 0.5 }, { 0.1, 0.1, 0.5, 0.05, 0.8 } });
    ASSERT_EQ(bridged.size(), 1u);
    EXPECT_NEAR(bridged[0].w, 0.7, 1e-12);
}

TEST(PhotoAnnotatorRegions, SpotlightIsPaddedAndClampedToThePicture)
{
    const QRectF inner = PhotoAnnotator::spotlightRect({ 0.25, 0.25, 0.5, 0.5, 1 }, 1000, 400);
    EXPECT_DOUBLE_EQ(inner.left(), 250 - 40);
    EXPECT_DOUBLE_EQ(inner.right(), 750 + 40);
    EXPECT_DOUBLE_EQ(inner.top(), 100 - 10);
    EXPECT_DOUBLE_EQ(inner.bottom(), 300 + 10);

    const QRectF edge = PhotoAnnotator::spotlightRect({ 0.0, 0.6, 0.3, 0.4, 1 }, 1000, 400);
    EXPECT_DOUBLE_EQ(edge.left(), 0);
    EXPECT_DOUBLE_EQ(edge.right(), 324);
    EXPECT_DOUBLE_EQ(edge.top(), 240 - 8);
    EXPECT_DOUBLE_EQ(edge.bottom(), 400);
}

TEST(PhotoAnnotator, WithoutPeopleOnlyTheCapsuleChanges)
{
    const QImage picture = pattern(1280, 720);
    const auto plain = PhotoAnnotator::annotate(picture, {}, "");
    ASSERT_TRUE(plain);
    EXPECT_EQ(*plain, picture);

    const auto stamped = PhotoAnnotator::annotate(picture, {}, "06/12/2026 21:04:05");
    ASSERT_TRUE(stamped);
    const QRect changed = changedArea(*stamped, picture);
    ASSERT_FALSE(changed.isNull());
    // Only the bottom-right corner is touched; right and bottom edges 22·s (14.7 px) from the border.
    const double margin = 22 * 1280 / 1920.0;
    EXPECT_NEAR(changed.right() + 1, 1280 - margin, 1.0);
    EXPECT_NEAR(changed.bottom() + 1, 720 - margin, 1.0);
    EXPECT_GT(changed.left(), 640);
    EXPECT_GT(changed.top(), 600);
    // The capsule is amber just inside its rounded left end.
    EXPECT_EQ(stamped->pixel(changed.left() + 4, changed.center().y()), kAmber);
}

TEST(PhotoAnnotator, OnePersonDimsOutsideARoundedSpotlightFramedInAmber)
{
    const QImage picture = solid(1920, 1080, qRgb(200, 200, 200));
    // Spotlight rectangle: x 400...1000 (pad 40), y 200...800 (pad 25·... exactly below).
    const PersonBox box { 440 / 1920.0, 250 / 1080.0, 520 / 1920.0, 500 / 1080.0, 0.9 };
    const QRectF rect = PhotoAnnotator::spotlightRect(box, 1920, 1080);
    const auto result = PhotoAnnotator::annotate(picture, { box }, "");
    ASSERT_TRUE(result);

    const QRgb dimmed = result->pixel(100, 100);
    EXPECT_NEAR(qRed(dimmed), 200 * 0.58, 1.5);
    EXPECT_EQ(qRed(dimmed), qBlue(dimmed));
    EXPECT_EQ(result->pixel(rect.center().toPoint()), qRgb(200, 200, 200));
    // Just inside the rectangle's corner but outside the 18 px rounding: still dimmed.
    EXPECT_EQ(result->pixel(static_cast<int>(rect.left()) + 2, static_cast<int>(rect.top()) + 2), dimmed);
    // On the left edge halfway down: the amber frame.
    EXPECT_EQ(result->pixel(static_cast<int>(rect.left()), static_cast<int>(rect.center().y())), kAmber);
    // Just inside the stroke: bright again.
    EXPECT_EQ(result->pixel(static_cast<int>(rect.left()) + 6, static_cast<int>(rect.center().y())),
        qRgb(200, 200, 200));
}

struct ScaleCase {
    int width;
    int height;
    double lineWidth;
    double margin;
};

class PhotoAnnotatorScale : public testing::TestWithParam<ScaleCase> { };

TEST_P(PhotoAnnotatorScale, LineWidthAndStampMarginFollowThePictureSize)
{
    const ScaleCase c = GetParam();
    const PersonBox box { 0.3, 0.3, 0.4, 0.4, 0.9 };
    const auto result = PhotoAnnotator::annotate(solid(c.width, c.height, qRgb(0, 0, 0)), { box }, "");
    ASSERT_TRUE(result);
    const QRectF rect = PhotoAnnotator::spotlightRect(box, c.width, c.height);
    const int y = static_cast<int>(rect.center().y());
    const int x = static_cast<int>(rect.left());
    EXPECT_NEAR(strokeWidthAlongRow(*result, y, x - 8, x + 8), c.lineWidth, 0.15);

    const auto overlay = PhotoAnnotator::stampOverlay("12:34:56", c.width, c.height);
    ASSERT_TRUE(overlay);
    const QRect capsule = changedArea(*overlay, transparent(c.width, c.height));
    ASSERT_FALSE(capsule.isNull());
    EXPECT_NEAR(capsule.right() + 1, c.width - c.margin, 1.0);
    EXPECT_NEAR(capsule.bottom() + 1, c.height - c.margin, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PhotoAnnotatorScale,
    testing::Values(ScaleCase { 1920, 1080, 5.0, 22.0 },
        ScaleCase { 1280, 720, 5.0 * 1280 / 1920, 22.0 * 1280 / 1920 },
        // 5·s would be 1.67 px here: the frame keeps its 3 px minimum.
        ScaleCase { 640, 360, 3.0, 22.0 / 3 }),
    [](const testing::TestParamInfo<ScaleCase>& param) {
        return std::to_string(param.param.width) + "x" + std::to_string(param.param.height);
    });

TEST(PhotoAnnotator, StampOverlayIsTransparentButForTheCapsule)
{
    const auto overlay = PhotoAnnotator::stampOverlay("Sun 6 Dec 21:04:05", 1280, 720);
    ASSERT_TRUE(overlay);
    EXPECT_EQ(overlay->size(), QSize(1280, 720));
    EXPECT_TRUE(overlay->hasAlphaChannel());
    EXPECT_EQ(qAlpha(overlay->pixel(10, 10)), 0);
    EXPECT_EQ(qAlpha(overlay->pixel(1279, 719)), 0);
    // Dark text pixels sit inside the amber capsule.
    const QRect capsule = changedArea(*overlay, transparent(1280, 720));
    bool text = false;
    for (int x = capsule.left(); x <= capsule.right() && !text; ++x)
        text = overlay->pixel(x, capsule.center().y()) == qRgb(28, 28, 31);
    EXPECT_TRUE(text);

    const auto empty = PhotoAnnotator::stampOverlay("", 64, 32);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(changedArea(*empty, transparent(64, 32)).isNull());
    EXPECT_FALSE(PhotoAnnotator::stampOverlay("x", 0, 10));
}

TEST(PhotoAnnotator, JpegDecodesToTheSameSizeAndHonoursQuality)
{
    std::mt19937 random(7);
    QImage noisy(1280, 720, QImage::Format_RGB32);
    for (int y = 0; y < 720; ++y)
        for (int x = 0; x < 1280; ++x)
            noisy.setPixel(x, y, random() | 0xff000000u);
    const auto low = PhotoAnnotator::jpeg(noisy, 0.3);
    const auto high = PhotoAnnotator::jpeg(noisy, 0.95);
    ASSERT_TRUE(low && high);
    EXPECT_LT(low->size(), high->size());

    QBuffer buffer(const_cast<QByteArray*>(&*high));
    QImageReader reader(&buffer, "jpeg");
    const QImage decoded = reader.read();
    EXPECT_EQ(decoded.size(), QSize(1280, 720));
    EXPECT_FALSE(PhotoAnnotator::jpeg(QImage(), 0.8));
    EXPECT_FALSE(PhotoAnnotator::annotate(QImage(), {}, "x"));
}

TEST(PhotoAnnotator, FramesOfBothLayoutsConvertToTheSameColours)
{
    // Full-range BT.601: Y 76, U 85, V 255 is pure red; Y 128 with neutral chroma is mid grey.
    auto make = [](PixelFormat format) {
        auto buffer = std::make_shared<FrameBuffer>(64, 32, format);
        for (int y = 0; y < 32; ++y)
            std::fill_n(buffer->data(0) + y * buffer->stride(0), 64, y < 16 ? 76 : 128);
        for (int y = 0; y < 16; ++y) {
            const std::uint8_t u = y < 8 ? 85 : 128, v = y < 8 ? 255 : 128;
            if (format == PixelFormat::i420) {
                std::fill_n(buffer->data(1) + y * buffer->stride(1), 32, u);
                std::fill_n(buffer->data(2) + y * buffer->stride(2), 32, v);
            } else {
                for (int x = 0; x < 32; ++x) {
                    buffer->data(1)[y * buffer->stride(1) + 2 * x] = u;
                    buffer->data(1)[y * buffer->stride(1) + 2 * x + 1] = v;
                }
            }
        }
        return Frame(buffer, 0);
    };
    const QImage planar = PhotoAnnotator::image(make(PixelFormat::i420));
    const QImage semiPlanar = PhotoAnnotator::image(make(PixelFormat::nv12));
    ASSERT_EQ(planar.size(), QSize(64, 32));
    ASSERT_EQ(semiPlanar.size(), planar.size());
    // Rows near the red/grey border are left out: chroma interpolation there differs between layouts.
    int worst = 0;
    for (int y : { 0, 1, 2, 3, 4, 5, 6, 7, 8, 24, 25, 26, 27, 28, 29, 30, 31 })
        for (int x = 0; x < 64; ++x) {
            const QRgb a = planar.pixel(x, y), b = semiPlanar.pixel(x, y);
            worst = std::max({ worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                std::abs(qBlue(a) - qBlue(b)) });
        }
    EXPECT_LE(worst, 2);
    const QRgb red = planar.pixel(10, 4);
    EXPECT_GT(qRed(red), 245);
    EXPECT_LT(qGreen(red), 10);
    EXPECT_LT(qBlue(red), 10);
    const QRgb grey = planar.pixel(10, 28);
    EXPECT_NEAR(qRed(grey), 128, 2);
    EXPECT_NEAR(qGreen(grey), 128, 2);
    EXPECT_NEAR(qBlue(grey), 128, 2);
    EXPECT_TRUE(PhotoAnnotator::image(Frame()).isNull());
}

TEST(PhotoAnnotator, DrawsTheSameOnAWorkerThread)
{
    // The analyzer renders photos on its own queue, not on the Qt main thread.
    const QImage picture = pattern(640, 360);
    const std::vector<PersonBox> people { { 0.2, 0.2, 0.3, 0.5, 0.9 } };
    const auto onMain = PhotoAnnotator::annotate(picture, people, "21:04:05");
    std::optional<QImage> onWorker;
    std::optional<QImage> overlay;
    std::thread worker([&] {
        onWorker = PhotoAnnotator::annotate(picture, people, "21:04:05");
        overlay = PhotoAnnotator::stampOverlay("21:04:05", 640, 360);
    });
    worker.join();
    ASSERT_TRUE(onMain && onWorker && overlay);
    EXPECT_EQ(*onWorker, *onMain);
    EXPECT_NE(*onWorker, picture);
}
