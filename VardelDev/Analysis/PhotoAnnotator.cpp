#include "PhotoAnnotator.h"

#include <QBuffer>
#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

namespace vardel::PhotoAnnotator {

namespace {

    const QColor kAmber = QColor::fromRgbF(1.0f, 0.702f, 0.251f);
    const QColor kTextColor = QColor::fromRgbF(0.11f, 0.11f, 0.12f);
    constexpr double kDim = 0.42;
    constexpr double kCornerRadius = 18;
    constexpr double kLineWidth = 5;
    constexpr double kMinLineWidth = 3;
    constexpr double kFontSize = 30;
    constexpr double kStampPadX = 16;
    constexpr double kStampPadY = 9;
    constexpr double kStampMargin = 22;

    double scaleFor(int width, int height) { return std::max(width, height) / 1920.0; }

    bool strictlyOverlap(const PersonBox& a, const PersonBox& b)
    {
        return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
    }

    PersonBox unite(const PersonBox& a, const PersonBox& b)
    {
        const double left = std::min(a.x, b.x);
        const double top = std::min(a.y, b.y);
        const double right = std::max(a.x + a.w, b.x + b.w);
        const double bottom = std::max(a.y + a.h, b.y + b.h);
        return { left, top, right - left, bottom - top, std::max(a.confidence, b.confidence), false };
    }

    // The emphasized system font; DejaVu Sans Bold (shipped with every Debian desktop) when the system
    // font has no bold face, so the stamp never falls back to a regular weight.
    QFont stampFont(double s)
    {
        QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        font.setWeight(QFont::Bold);
        if (!QFontInfo(font).bold()) {
            font = QFont(QStringLiteral("DejaVu Sans"));
            font.setWeight(QFont::Bold);
        }
        font.setPixelSize(std::max(1, static_cast<int>(std::lround(kFontSize * s))));
        return font;
    }

    void drawStamp(QPainter& painter, const QString& text, int width, int height)
    {
        const double s = scaleFor(width, height);
        const QFont font = stampFont(s);
        // Optical bounds relative to the text origin on the baseline (y grows downward).
        const QRectF bounds = QFontMetricsF(font).tightBoundingRect(text);
        const double capsuleW = bounds.width() + 2 * kStampPadX * s;
        const double capsuleH = bounds.height() + 2 * kStampPadY * s;
        const QRectF capsule(
            width - kStampMargin * s - capsuleW, height - kStampMargin * s - capsuleH, capsuleW, capsuleH);

        painter.setPen(Qt::NoPen);
        painter.setBrush(kAmber);
        painter.drawRoundedRect(capsule, capsuleH / 2, capsuleH / 2);

        painter.setFont(font);
        painter.setPen(kTextColor);
        const QPointF origin(capsule.left() + kStampPadX * s - bounds.left(),
            capsule.bottom() - kStampPadY * s - bounds.bottom());
        painter.drawText(origin, text);
    }

    struct SwsDeleter {
        void operator()(SwsContext* context) const { sws_freeContext(context); }
    };

} // namespace

std::vector<PersonBox> regions(const std::vector<PersonBox>& people)
{
    std::vector<PersonBox> result;
    for (PersonBox current : people) {
        while (true) {
            const auto it = std::find_if(result.begin(), result.end(),
                [&](const PersonBox& box) { return strictlyOverlap(box, current); });
            if (it == result.end())
                break;
            current = unite(*it, current);
            result.erase(it);
        }
        result.push_back(current);
    }
    return result;
}

QRectF spotlightRect(const PersonBox& box, double width, double height)
{
    const double padX = box.w * width * 0.08;
    const double padY = box.h * height * 0.05;
    const double left = std::max(box.x * width - padX, 0.0);
    const double right = std::min((box.x + box.w) * width + padX, width);
    const double top = std::max(box.y * height - padY, 0.0);
    const double bottom = std::min((box.y + box.h) * height + padY, height);
    return { left, top, right - left, bottom - top };
}

QImage image(const Frame& frame)
{
    if (frame.empty())
        return {};
    const int width = frame.width();
    const int height = frame.height();
    const FrameBuffer& buffer = frame.buffer();
    const AVPixelFormat source = frame.format() == PixelFormat::nv12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
    std::unique_ptr<SwsContext, SwsDeleter> context(sws_getContext(
        width, height, source, width, height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!context)
        return {};
    // libswscale's vector code writes past the end of a tightly packed row for narrow or odd widths,
    // so the picture lives in a buffer with rows padded to 16 pixels and a spare row; the image views
    // it without a copy and frees it when the last copy of the image is gone.
    const qsizetype bytesPerLine = static_cast<qsizetype>((width + 15) & ~15) * 4;
    auto* pixels = new (std::nothrow) uchar[bytesPerLine * (height + 1)];
    if (!pixels)
        return {};
    QImage picture(
        pixels, width, height, bytesPerLine, QImage::Format_RGB32,
        [](void* data) { delete[] static_cast<uchar*>(data); }, pixels);
    // Camera luma is full range (0-255); chroma uses BT.601 coefficients as webcams do.
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(context.get(), coefficients, 1, coefficients, 1, 0, 1 << 16, 1 << 16);

    const uint8_t* planes[4] = {};
    int strides[4] = {};
    for (int p = 0; p < buffer.planeCount(); ++p) {
        planes[p] = buffer.data(p);
        strides[p] = buffer.stride(p);
    }
    uint8_t* destination[4] = { pixels, nullptr, nullptr, nullptr };
    const int destinationStrides[4] = { static_cast<int>(bytesPerLine), 0, 0, 0 };
    if (sws_scale(context.get(), planes, strides, 0, height, destination, destinationStrides) != height)
        return {};
    return picture;
}

std::optional<QImage> annotate(
    const QImage& picture, const std::vector<PersonBox>& people, const std::string& stamp)
{
    if (picture.isNull())
        return std::nullopt;
    const QImage source
        = picture.format() == QImage::Format_RGB32 ? picture : picture.convertToFormat(QImage::Format_RGB32);
    QImage result = source.copy();
    if (result.isNull())
        return std::nullopt;
    const int width = result.width();
    const int height = result.height();
    const double s = scaleFor(width, height);
    const double radius = kCornerRadius * s;

    QPainter painter(&result);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!people.empty()) {
        std::vector<QRectF> rects;
        for (const PersonBox& region : regions(people)) {
            const QRectF rect = spotlightRect(region, width, height);
            // A box wholly outside the picture (or with a NaN edge) has nothing to show.
            if (rect.width() > 0 && rect.height() > 0)
                rects.push_back(rect);
        }
        painter.fillRect(result.rect(), QColor(0, 0, 0, static_cast<int>(std::lround(kDim * 255))));
        // The source as a texture brush brings each rounded region back to full brightness with
        // antialiased corners (a clip path would be aliased).
        painter.setPen(Qt::NoPen);
        painter.setBrush(QBrush(source));
        for (const QRectF& rect : rects)
            painter.drawRoundedRect(rect, radius, radius);

        QPainterPath frames;
        for (const QRectF& rect : rects)
            frames.addRoundedRect(rect, radius, radius);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(kAmber, std::max(kLineWidth * s, kMinLineWidth)));
        painter.drawPath(frames);
    }
    if (!stamp.empty())
        drawStamp(painter, QString::fromStdString(stamp), width, height);
    painter.end();
    return result;
}

std::optional<QImage> stampOverlay(const std::string& text, int width, int height)
{
    if (width <= 0 || height <= 0)
        return std::nullopt;
    QImage overlay(width, height, QImage::Format_ARGB32_Premultiplied);
    if (overlay.isNull())
        return std::nullopt;
    overlay.fill(Qt::transparent);
    if (!text.empty()) {
        QPainter painter(&overlay);
        painter.setRenderHint(QPainter::Antialiasing);
        drawStamp(painter, QString::fromStdString(text), width, height);
    }
    return overlay;
}

std::optional<QByteArray> jpeg(const QImage& picture, double quality)
{
    if (picture.isNull())
        return std::nullopt;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly))
        return std::nullopt;
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(static_cast<int>(std::lround(std::clamp(quality, 0.0, 1.0) * 100)));
    if (!writer.write(picture))
        return std::nullopt;
    return bytes;
}

} // namespace vardel::PhotoAnnotator
