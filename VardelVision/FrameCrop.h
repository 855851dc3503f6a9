#pragma once

#include "Frame.h"
#include "PersonBox.h"
#include "PersonDetecting.h"

#include <opencv2/core.hpp>

#include <optional>

namespace vardel::FrameCrop {

// The part of a frame the person detector looks at, and the way back from its pixels to the frame.
// Pure functions; any thread.

// Even pixel bounds (4:2:0 chroma covers 2 x 2 pixels) of `focus` in a width x height frame, widened
// or heightened inside the frame to at least a person's shape (width / height from 1:1 to 3:1) and to
// at least `minSide` pixels a side. The whole frame for a focus that is not finite or under 16 pixels.
cv::Rect area(const PersonDetecting::Focus& focus, int width, int height, int minSide);

// `area` of the frame as a BGR picture. Frames carry full-range luma and chroma (BT.601): black stays 0
// and white 255.
cv::Mat bgr(const Frame& frame, const cv::Rect& area);

// A box in pixels of the crop at `area` as a normalized whole-frame box (confidence 0, not a face),
// clamped to the frame but not to the crop, so that a person standing on the crop's edge keeps the
// whole box the detector saw. Absent when nothing of it is inside the frame.
std::optional<PersonBox> toFrame(const cv::Rect2d& box, const cv::Rect& area, int width, int height);

} // namespace vardel::FrameCrop
