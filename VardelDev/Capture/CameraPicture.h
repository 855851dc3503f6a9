#pragma once

#include "EncodedPicture.h"
#include "FramePool.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace vardel {

class Thumbnail;

// The picture formats a camera's bytes are kept in.
enum class CameraPixels { mjpeg, yuyv, nv12, i420 };

// What a capture counts across its pictures; shared by the source and every picture it made.
struct CaptureCounters {
    std::atomic<std::uint64_t> damaged { 0 }; // pictures dropped because they do not decode
    std::atomic<std::uint64_t> fullDecodes { 0 }; // full-size decodes asked for
};

// Copies a limited-range plane (luma 16-235, or chroma 16-240 around 128 when `chroma`) to full range
// 0-255. `source` may be `target`.
void expandRange(const std::uint8_t* source, int sourceStride, std::uint8_t* target, int targetStride,
    int width, int height, bool chroma);

// One camera picture in the camera's own bytes, with the 96x54 luma thumbnail made when it was taken
// (for JPEG from a DCT-scaled decode, for the others by averaging the luma plane). The full 4:2:0
// planes are made only on `decode`: JPEG through libjpeg-turbo, packed 4:2:2 through libswscale, NV12
// and planar 4:2:0 by a copy. Luma and chroma come out full range whatever the camera sends.
class CameraPicture final : public EncodedPicture {
public:
    struct Layout {
        CameraPixels pixels = CameraPixels::mjpeg;
        int width = 0;
        int height = 0;
        int bytesPerLine = 0; // of the first plane; ignored for JPEG
        bool limitedRange = false; // luma 16-235, chroma 16-240; JPEG is always full range
    };

    // Copies `size` bytes of a dequeued picture and makes its thumbnail with `scaler`. Null when the
    // picture is damaged (short, or a JPEG that does not decode cleanly); that is counted in `counters`.
    static std::shared_ptr<const CameraPicture> take(const Layout& layout, const std::uint8_t* bytes,
        std::size_t size, Thumbnail& scaler, FramePool pool, std::shared_ptr<CaptureCounters> counters);

    // Bytes a picture of `layout` fills in the camera's buffer; 0 for JPEG, whose size varies.
    static std::size_t bytesNeeded(const Layout& layout);

    int width() const override { return m_layout.width; }
    int height() const override { return m_layout.height; }
    PixelFormat format() const override
    {
        return m_layout.pixels == CameraPixels::nv12 ? PixelFormat::nv12 : PixelFormat::i420;
    }
    std::size_t encodedSize() const override { return m_size; }
    std::shared_ptr<const FrameBuffer> decode() const override;
    const std::vector<std::uint8_t>* thumbnail() const override { return &m_thumbnail; }

    CameraPicture(
        const Layout& layout, std::size_t size, FramePool pool, std::shared_ptr<CaptureCounters> counters);

private:
    bool makeThumbnail(Thumbnail& scaler);
    bool decodeJpeg(FrameBuffer& out) const;
    bool decodeYuyv(FrameBuffer& out) const;
    void copyPlanes(FrameBuffer& out) const;

    Layout m_layout;
    std::unique_ptr<std::uint8_t[]> m_bytes;
    std::size_t m_size;
    mutable FramePool m_pool; // thread-safe
    std::shared_ptr<CaptureCounters> m_counters;
    std::vector<std::uint8_t> m_thumbnail;
};

} // namespace vardel
