#pragma once

#include "Frame.h"

#include <cstdint>
#include <memory>
#include <utility>

namespace vardel::test {

// A 4:2:0 frame of either layout, its luma from `luma(x, y)` and the chroma of each 2 x 2 block from
// `chroma(x, y)` as a (u, v) pair, in half-size coordinates.
template <typename Luma, typename Chroma>
Frame yuvFrame(int width, int height, PixelFormat format, Luma luma, Chroma chroma, double time = 0)
{
    auto buffer = std::make_shared<FrameBuffer>(width, height, format);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            buffer->data(0)[y * buffer->stride(0) + x] = static_cast<std::uint8_t>(luma(x, y));
    const int step = format == PixelFormat::i420 ? 1 : 2; // else u and v take turns in plane 1
    for (int y = 0; y < (height + 1) / 2; ++y) {
        std::uint8_t* const u = buffer->data(1) + y * buffer->stride(1);
        std::uint8_t* const v = step == 1 ? buffer->data(2) + y * buffer->stride(2) : u + 1;
        for (int x = 0; x < (width + 1) / 2; ++x) {
            const auto [cu, cv] = chroma(x, y);
            u[x * step] = static_cast<std::uint8_t>(cu);
            v[x * step] = static_cast<std::uint8_t>(cv);
        }
    }
    return Frame(std::move(buffer), time);
}

} // namespace vardel::test
