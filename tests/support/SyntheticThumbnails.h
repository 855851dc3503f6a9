#pragma once

#include <cstdint>
#include <vector>

namespace vardel::test {

// 96 × 54 luma thumbnails drawn by hand for pipeline and analyzer tests.
inline constexpr int kThumbWidth = 96;
inline constexpr int kThumbHeight = 54;

inline std::vector<std::uint8_t> flatThumbnail(std::uint8_t value)
{
    return std::vector<std::uint8_t>(kThumbWidth * kThumbHeight, value);
}

// `background` everywhere except the block of columns [x0, x1) and rows [y0, y1), which is `value`.
inline std::vector<std::uint8_t> blockThumbnail(
    std::uint8_t background, std::uint8_t value, int x0, int y0, int x1, int y1)
{
    auto luma = flatThumbnail(background);
    for (int row = y0; row < y1; ++row)
        for (int column = x0; column < x1; ++column)
            luma[row * kThumbWidth + column] = value;
    return luma;
}

// A bright band of 5 full rows (9 % of the picture) on grey; `band` 0...9 moves it down the picture, so
// that consecutive bands change fresh pixels. Its light-compensated level stays well above 0.05.
inline std::vector<std::uint8_t> bandThumbnail(int band)
{
    const int top = (band % 10) * 5;
    return blockThumbnail(100, 250, 0, top, kThumbWidth, top + 5);
}

} // namespace vardel::test
