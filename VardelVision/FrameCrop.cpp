#include "FrameCrop.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace vardel::FrameCrop {

namespace {

// A crop is widened (or heightened) inside the frame to at least this shape, so that a person on the
// edge of a thin area is seen whole.
constexpr double kMinAspect = 1.0;
constexpr double kMaxAspect = 3.0;

// Even pixel bounds of the focus inside the frame (4:2:0 chroma covers 2 x 2 pixels); the whole frame
// for a focus that is not finite or too small to show anyone.
cv::Rect focusPixels(const PersonDetecting::Focus& focus, int width, int height)
{
    const int evenW = width & ~1;
    const int evenH = height & ~1;
    const bool usable = std::isfinite(focus.x) && std::isfinite(focus.y) && std::isfinite(focus.w)
        && std::isfinite(focus.h) && focus.w > 0 && focus.h > 0;
    if (!usable)
        return { 0, 0, evenW, evenH };
    const auto clampTo
        = [](double v, int limit) { return std::clamp(v, 0.0, static_cast<double>(limit)); };
    const int left = static_cast<int>(std::floor(clampTo(focus.x * width, evenW))) & ~1;
    const int top = static_cast<int>(std::floor(clampTo(focus.y * height, evenH))) & ~1;
    const int right = std::min(
        evenW, (static_cast<int>(std::ceil(clampTo((focus.x + focus.w) * width, evenW))) + 1) & ~1);
    const int bottom = std::min(
        evenH, (static_cast<int>(std::ceil(clampTo((focus.y + focus.h) * height, evenH))) + 1) & ~1);
    if (right - left < 16 || bottom - top < 16)
        return { 0, 0, evenW, evenH };
    return { left, top, right - left, bottom - top };
}

// Grows one side of [start, start + length) to `wanted` around its middle, kept inside [0, limit)
// and even.
void growSpan(int& start, int& length, int wanted, int limit)
{
    wanted = std::min((wanted + 1) & ~1, limit);
    if (wanted <= length)
        return;
    start = std::clamp((start + length / 2 - wanted / 2) & ~1, 0, limit - wanted);
    length = wanted;
}

cv::Rect personShaped(cv::Rect area, int width, int height, int minSide)
{
    // The width follows from the height by the shape rule below.
    growSpan(area.y, area.height, minSide, height & ~1);
    growSpan(area.x, area.width, static_cast<int>(std::ceil(area.height * kMinAspect)), width & ~1);
    growSpan(area.y, area.height, static_cast<int>(std::ceil(area.width / kMaxAspect)), height & ~1);
    return area;
}

// Full-range BT.601 is OpenCV's YCrCb; its 4:2:0 conversions would read the planes as limited range.
} // namespace

cv::Mat bgr(const Frame& frame, const cv::Rect& area)
{
    const FrameBuffer& buffer = frame.buffer();
    const auto plane = [&](int index, int x, int y, int rows, int cols, int type) {
        auto* data = const_cast<std::uint8_t*>(buffer.data(index))
            + static_cast<std::ptrdiff_t>(y) * buffer.stride(index) + x;
        return cv::Mat(rows, cols, type, data, buffer.stride(index));
    };
    const int w = area.width;
    const int h = area.height;
    std::vector<cv::Mat> channels(3);
    channels[0] = plane(0, area.x, area.y, h, w, CV_8UC1);
    cv::Mat u, v;
    if (frame.format() == PixelFormat::nv12) {
        std::vector<cv::Mat> uv;
        cv::split(plane(1, area.x, area.y / 2, h / 2, w / 2, CV_8UC2), uv);
        u = uv[0];
        v = uv[1];
    } else {
        u = plane(1, area.x / 2, area.y / 2, h / 2, w / 2, CV_8UC1);
        v = plane(2, area.x / 2, area.y / 2, h / 2, w / 2, CV_8UC1);
    }
    cv::resize(v, channels[1], cv::Size(w, h), 0, 0, cv::INTER_LINEAR);
    cv::resize(u, channels[2], cv::Size(w, h), 0, 0, cv::INTER_LINEAR);
    cv::Mat ycrcb, bgr;
    cv::merge(channels, ycrcb);
    cv::cvtColor(ycrcb, bgr, cv::COLOR_YCrCb2BGR);
    return bgr;
}

cv::Rect area(const PersonDetecting::Focus& focus, int width, int height, int minSide)
{
    return personShaped(focusPixels(focus, width, height), width, height, minSide);
}

std::optional<PersonBox> toFrame(const cv::Rect2d& box, const cv::Rect& area, int width, int height)
{
    const double left = std::clamp(area.x + box.x, 0.0, static_cast<double>(width));
    const double top = std::clamp(area.y + box.y, 0.0, static_cast<double>(height));
    const double right = std::clamp(area.x + box.x + box.width, 0.0, static_cast<double>(width));
    const double bottom = std::clamp(area.y + box.y + box.height, 0.0, static_cast<double>(height));
    if (!(right > left && bottom > top))
        return std::nullopt;
    return PersonBox { left / width, top / height, (right - left) / width, (bottom - top) / height, 0, false };
}

} // namespace vardel::FrameCrop
