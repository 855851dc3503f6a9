#include "LivePicture.h"

#include <QMetaObject>

extern "C" {
#include <libswscale/swscale.h>
}

namespace vardel {

FrameToImage::~FrameToImage() { sws_freeContext(m_context); }

QImage FrameToImage::convert(const Frame& frame, QSize size)
{
    if (frame.empty() || size.isEmpty())
        return {};
    const FrameBuffer* planes = frame.pixels();
    if (!planes)
        return {};
    const AVPixelFormat format = planes->format() == PixelFormat::nv12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
    // Bilinear is fast and, at the usual downscale to a window, as sharp as the eye needs.
    m_context = sws_getCachedContext(m_context, planes->width(), planes->height(), format, size.width(),
        size.height(), AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_context)
        return {};
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(m_context, coefficients, 1, coefficients, 1, 0, 1 << 16, 1 << 16);

    // BGRA in memory is QImage's native 32-bit layout on little-endian machines.
    QImage image(size, QImage::Format_RGB32);
    const std::uint8_t* source[4] = {};
    int sourceStride[4] = {};
    for (int plane = 0; plane < planes->planeCount(); ++plane) {
        source[plane] = planes->data(plane);
        sourceStride[plane] = planes->stride(plane);
    }
    std::uint8_t* target[4] = { image.bits(), nullptr, nullptr, nullptr };
    const int targetStride[4] = { static_cast<int>(image.bytesPerLine()), 0, 0, 0 };
    if (sws_scale(m_context, source, sourceStride, 0, planes->height(), target, targetStride) != size.height())
        return {};
    return image;
}

// Lives on the preview queue; the main thread never touches it.
struct LivePicture::Shared {
    FrameToImage converter;
};

LivePicture::LivePicture(QObject* parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
}

LivePicture::~LivePicture() = default;

void LivePicture::offer(const Frame& frame, QSize size)
{
    if (m_busy || frame.empty() || size.isEmpty() || (frame.time() == m_time && size == m_size))
        return;
    m_busy = true;
    // The queue is joined before the QObject part of this object goes, and a result posted to a deleted
    // receiver is dropped, so `self` is safe to post to from the worker.
    LivePicture* self = this;
    m_queue.async([self, shared = m_shared, frame, size] {
        QImage image = shared->converter.convert(frame, size);
        QMetaObject::invokeMethod(
            self,
            [self, image = std::move(image), time = frame.time(), size] {
                self->m_busy = false;
                if (image.isNull())
                    return;
                self->m_image = image;
                self->m_time = time;
                self->m_size = size;
                emit self->changed();
            },
            Qt::QueuedConnection);
    });
}

void LivePicture::clear()
{
    m_image = QImage();
    m_time = -1;
    emit changed();
}

} // namespace vardel
