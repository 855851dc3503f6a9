#include "FrameBuffer.h"

#include <algorithm>

namespace vardel {

namespace {
    int aligned(int bytes) { return (bytes + 31) & ~31; }
}

FrameBuffer::FrameBuffer(int width, int height, PixelFormat format)
    : m_width(std::max(1, width))
    , m_height(std::max(1, height))
    , m_format(format)
{
    std::size_t total = 0;
    for (int plane = 0; plane < planeCount(); ++plane) {
        m_strides[plane] = aligned(planeWidth(plane));
        m_offsets[plane] = total;
        total += static_cast<std::size_t>(m_strides[plane]) * planeHeight(plane);
    }
    // Vector code in scalers may read a little past the last row; keep that inside the allocation.
    m_bytes.assign(total + 64, 0);
}

int FrameBuffer::planeWidth(int plane) const
{
    if (plane == 0)
        return m_width;
    int chromaWidth = (m_width + 1) / 2;
    return m_format == PixelFormat::nv12 ? chromaWidth * 2 : chromaWidth;
}

int FrameBuffer::planeHeight(int plane) const { return plane == 0 ? m_height : (m_height + 1) / 2; }

} // namespace vardel
