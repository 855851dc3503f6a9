#pragma once

#include "PixelFormat.h"

#include <array>
#include <cstdint>
#include <vector>

namespace vardel {

// The pixel storage of one 4:2:0 picture: one allocation, planes at 32-byte aligned strides.
// Mutable while its producer fills it; shared read-only once wrapped in a Frame.
// Width and height are at least 1; odd sizes round the chroma planes up.
class FrameBuffer {
public:
    FrameBuffer(int width, int height, PixelFormat format);

    int width() const { return m_width; }
    int height() const { return m_height; }
    PixelFormat format() const { return m_format; }
    int planeCount() const { return m_format == PixelFormat::i420 ? 3 : 2; }

    std::uint8_t* data(int plane) { return m_bytes.data() + m_offsets[plane]; }
    const std::uint8_t* data(int plane) const { return m_bytes.data() + m_offsets[plane]; }
    int stride(int plane) const { return m_strides[plane]; }
    // Bytes of picture in one row of `plane` (without padding) and rows in it.
    int planeWidth(int plane) const;
    int planeHeight(int plane) const;

    bool matches(int width, int height, PixelFormat format) const
    {
        return width == m_width && height == m_height && format == m_format;
    }

private:
    int m_width;
    int m_height;
    PixelFormat m_format;
    std::array<int, 3> m_strides {};
    std::array<std::size_t, 3> m_offsets {};
    std::vector<std::uint8_t> m_bytes;
};

} // namespace vardel
