#pragma once

namespace vardel {

// 4:2:0 layouts the capture produces. Plane 0 is always full-range luma (0-255).
// i420: three planes Y, U, V (chroma planes at half width and half height).
// nv12: two planes Y and interleaved UV (half height, full width in bytes).
enum class PixelFormat { i420, nv12 };

} // namespace vardel
