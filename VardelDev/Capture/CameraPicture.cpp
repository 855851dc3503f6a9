#include "CameraPicture.h"

#include "Thumbnail.h"

#include <turbojpeg.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace vardel {

namespace {
    // One decompressor and one scaler per thread: pictures decode on whichever thread asks.
    tjhandle decompressor()
    {
        struct Handle {
            tjhandle handle = tjInitDecompress();
            ~Handle()
            {
                if (handle)
                    tjDestroy(handle);
            }
        };
        thread_local Handle own;
        return own.handle;
    }

    struct Scaler {
        SwsContext* context = nullptr;
        ~Scaler() { sws_freeContext(context); }
    };

    // Converts the whole picture's layout to planar 4:2:0 with values passed through as they are.
    bool toPlanar420(AVPixelFormat format, const std::uint8_t* const planes[4], const int strides[4],
        int width, int height, FrameBuffer& out)
    {
        thread_local Scaler scaler;
        scaler.context = sws_getCachedContext(scaler.context, width, height, format, width, height,
            AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!scaler.context)
            return false;
        const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(scaler.context, coefficients, 1, coefficients, 1, 0, 1 << 16, 1 << 16);
        std::uint8_t* targets[4] = { out.data(0), out.data(1), out.data(2), nullptr };
        const int targetStrides[4] = { out.stride(0), out.stride(1), out.stride(2), 0 };
        return sws_scale(scaler.context, planes, strides, 0, height, targets, targetStrides) == height;
    }

    // Limited range (luma 16-235, chroma 16-240 around 128) to full range 0-255.
    struct RangeTables {
        std::array<std::uint8_t, 256> luma {};
        std::array<std::uint8_t, 256> chroma {};
        RangeTables()
        {
            for (int value = 0; value < 256; ++value) {
                luma[value] = std::uint8_t(std::clamp(std::lround((value - 16) * 255.0 / 219), 0L, 255L));
                chroma[value]
                    = std::uint8_t(std::clamp(std::lround((value - 128) * 127.0 / 112 + 128), 0L, 255L));
            }
        }
    };

    const RangeTables& rangeTables()
    {
        static const RangeTables tables;
        return tables;
    }

    constexpr std::size_t kReadPadding = 64;

    // Bytes from one chroma row to the next in the camera's buffer: the luma line for NV12, half of it for
    // I420, rounded up as the kernel does, so that a row of an odd-width picture (one chroma sample more
    // than half its width) never reads into the next row or past the end of the buffer.
    std::size_t chromaLine(const CameraPicture::Layout& layout)
    {
        const std::size_t line = std::size_t(layout.bytesPerLine);
        return layout.pixels == CameraPixels::nv12 ? line + (line & 1) : (line + 1) / 2;
    }

    AVPixelFormat planarFormat(int subsampling)
    {
        switch (subsampling) {
        case TJSAMP_444:
            return AV_PIX_FMT_YUV444P;
        case TJSAMP_422:
            return AV_PIX_FMT_YUV422P;
        case TJSAMP_440:
            return AV_PIX_FMT_YUV440P;
        case TJSAMP_411:
            return AV_PIX_FMT_YUV411P;
        case TJSAMP_GRAY:
            return AV_PIX_FMT_GRAY8;
        default:
            return AV_PIX_FMT_NONE;
        }
    }
}

void expandRange(const std::uint8_t* source, int sourceStride, std::uint8_t* target, int targetStride,
    int width, int height, bool chroma)
{
    const auto& map = chroma ? rangeTables().chroma : rangeTables().luma;
    for (int row = 0; row < height; ++row) {
        const std::uint8_t* from = source + std::ptrdiff_t(row) * sourceStride;
        std::uint8_t* to = target + std::ptrdiff_t(row) * targetStride;
        for (int x = 0; x < width; ++x)
            to[x] = map[from[x]];
    }
}

std::size_t CameraPicture::bytesNeeded(const Layout& layout)
{
    const std::size_t rows = std::size_t(layout.height);
    const std::size_t line = std::size_t(layout.bytesPerLine);
    const std::size_t chromaRows = (rows + 1) / 2;
    switch (layout.pixels) {
    case CameraPixels::yuyv:
        return line * rows;
    case CameraPixels::nv12:
        return line * rows + chromaLine(layout) * chromaRows;
    case CameraPixels::i420:
        return line * rows + 2 * chromaLine(layout) * chromaRows;
    case CameraPixels::mjpeg:
        break;
    }
    return 0;
}

CameraPicture::CameraPicture(
    const Layout& layout, std::size_t size, FramePool pool, std::shared_ptr<CaptureCounters> counters)
    : m_layout(layout)
    // Zeroed padding past the picture: libswscale reads whole macropixels and vector blocks, a few bytes
    // past the last row of an odd-width or narrow picture.
    , m_bytes(std::make_unique<std::uint8_t[]>(size + kReadPadding))
    , m_size(size)
    , m_pool(std::move(pool))
    , m_counters(std::move(counters))
{
}

std::shared_ptr<const CameraPicture> CameraPicture::take(const Layout& layout, const std::uint8_t* bytes,
    std::size_t size, Thumbnail& scaler, FramePool pool, std::shared_ptr<CaptureCounters> counters)
{
    const std::size_t needed = bytesNeeded(layout);
    if (needed > 0 && size > needed)
        size = needed; // drivers may report the whole buffer; the rest is padding
    auto picture = std::make_shared<CameraPicture>(layout, size, std::move(pool), counters);
    std::memcpy(picture->m_bytes.get(), bytes, size);
    if (size < needed || size == 0 || !picture->makeThumbnail(scaler)) {
        ++counters->damaged;
        return nullptr;
    }
    return picture;
}

bool CameraPicture::makeThumbnail(Thumbnail& scaler)
{
    const auto& [pixels, width, height, bytesPerLine, limited] = m_layout;
    if (pixels == CameraPixels::mjpeg) {
        // The smallest DCT-scaled decode that still covers the thumbnail: each of its pixels is the mean
        // of a block, so little is lost before the final area averaging.
        tjhandle jpeg = decompressor();
        int jpegWidth = 0, jpegHeight = 0, subsampling = 0, colorspace = 0;
        if (!jpeg
            || tjDecompressHeader3(
                   jpeg, m_bytes.get(), m_size, &jpegWidth, &jpegHeight, &subsampling, &colorspace)
                != 0
            || jpegWidth != width || jpegHeight != height)
            return false;
        int count = 0;
        const tjscalingfactor* factors = tjGetScalingFactors(&count);
        int smallWidth = width, smallHeight = height;
        for (int index = 0; index < count; ++index) {
            const int w = TJSCALED(width, factors[index]);
            const int h = TJSCALED(height, factors[index]);
            if (w >= Thumbnail::kWidth && h >= Thumbnail::kHeight && w < smallWidth)
                smallWidth = w, smallHeight = h;
        }
        thread_local std::vector<std::uint8_t> small;
        small.resize(std::size_t(smallWidth) * smallHeight);
        // A warning (a damaged or truncated entropy stream) counts as a failure: such a picture is
        // dropped whole rather than passed on half grey.
        if (tjDecompress2(jpeg, m_bytes.get(), m_size, small.data(), smallWidth, smallWidth, smallHeight,
                TJPF_GRAY, TJFLAG_STOPONWARNING)
            != 0)
            return false;
        return scaler.scale(
            small.data(), smallWidth, smallWidth, smallHeight, Thumbnail::Source::luma, m_thumbnail);
    }
    const auto source = pixels == CameraPixels::yuyv ? Thumbnail::Source::yuyv : Thumbnail::Source::luma;
    if (!scaler.scale(m_bytes.get(), bytesPerLine, width, height, source, m_thumbnail))
        return false;
    if (limited)
        expandRange(m_thumbnail.data(), Thumbnail::kWidth, m_thumbnail.data(), Thumbnail::kWidth,
            Thumbnail::kWidth, Thumbnail::kHeight, false);
    return true;
}

std::shared_ptr<const FrameBuffer> CameraPicture::decode() const
{
    ++m_counters->fullDecodes;
    auto out = m_pool.acquire(m_layout.width, m_layout.height, format());
    bool decoded = true;
    switch (m_layout.pixels) {
    case CameraPixels::mjpeg:
        decoded = decodeJpeg(*out);
        break;
    case CameraPixels::yuyv:
        decoded = decodeYuyv(*out);
        break;
    case CameraPixels::nv12:
    case CameraPixels::i420:
        copyPlanes(*out);
        break;
    }
    if (!decoded) {
        ++m_counters->damaged;
        return nullptr;
    }
    if (m_layout.limitedRange) {
        for (int plane = 0; plane < out->planeCount(); ++plane)
            expandRange(out->data(plane), out->stride(plane), out->data(plane), out->stride(plane),
                out->planeWidth(plane), out->planeHeight(plane), plane > 0);
    }
    return out;
}

bool CameraPicture::decodeJpeg(FrameBuffer& out) const
{
    tjhandle jpeg = decompressor();
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (!jpeg
        || tjDecompressHeader3(jpeg, m_bytes.get(), m_size, &width, &height, &subsampling, &colorspace) != 0
        || width != m_layout.width || height != m_layout.height)
        return false;
    if (subsampling == TJSAMP_420) {
        unsigned char* planes[3] = { out.data(0), out.data(1), out.data(2) };
        int strides[3] = { out.stride(0), out.stride(1), out.stride(2) };
        return tjDecompressToYUVPlanes(
                   jpeg, m_bytes.get(), m_size, planes, width, strides, height, TJFLAG_STOPONWARNING)
            == 0;
    }
    // Other subsamplings decode to their own planes, whose chroma is then resampled to 4:2:0.
    const AVPixelFormat format = planarFormat(subsampling);
    if (format == AV_PIX_FMT_NONE)
        return false;
    const int planeCount = subsampling == TJSAMP_GRAY ? 1 : 3;
    thread_local std::array<std::vector<std::uint8_t>, 3> storage;
    unsigned char* planes[4] = {};
    int strides[4] = {};
    for (int plane = 0; plane < planeCount; ++plane) {
        strides[plane] = tjPlaneWidth(plane, width, subsampling);
        storage[plane].resize(
            std::size_t(tjPlaneSizeYUV(plane, width, strides[plane], height, subsampling)) + 64);
        planes[plane] = storage[plane].data();
    }
    if (tjDecompressToYUVPlanes(
            jpeg, m_bytes.get(), m_size, planes, width, strides, height, TJFLAG_STOPONWARNING)
        != 0)
        return false;
    return toPlanar420(format, planes, strides, width, height, out);
}

bool CameraPicture::decodeYuyv(FrameBuffer& out) const
{
    const std::uint8_t* planes[4] = { m_bytes.get(), nullptr, nullptr, nullptr };
    const int strides[4] = { m_layout.bytesPerLine, 0, 0, 0 };
    return toPlanar420(AV_PIX_FMT_YUYV422, planes, strides, m_layout.width, m_layout.height, out);
}

void CameraPicture::copyPlanes(FrameBuffer& out) const
{
    const std::uint8_t* source = m_bytes.get();
    const int lumaStride = m_layout.bytesPerLine;
    const int chromaStride = static_cast<int>(chromaLine(m_layout));
    for (int plane = 0; plane < out.planeCount(); ++plane) {
        const int stride = plane == 0 ? lumaStride : chromaStride;
        for (int row = 0; row < out.planeHeight(plane); ++row)
            std::memcpy(out.data(plane) + std::ptrdiff_t(row) * out.stride(plane),
                source + std::ptrdiff_t(row) * stride, out.planeWidth(plane));
        source += std::ptrdiff_t(stride) * out.planeHeight(plane);
    }
}

} // namespace vardel
