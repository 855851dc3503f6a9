#pragma once

#include "ROI.h"

namespace vardel {

// Conversions between the 16:9 reference frame in which the watched area is stored and the frame that
// the camera actually delivers, plus fitting the video into a view. Pure arithmetic; any thread.
// A 16:9 frame is taken to be the centred crop of a narrower frame (full width, fewer rows) and the
// centred crop in width of a wider one.
struct FrameGeometry {
    struct Point {
        double x = 0;
        double y = 0;
        bool operator==(const Point&) const = default;
    };
    struct Size {
        double width = 0;
        double height = 0;
        bool operator==(const Size&) const = default;
    };
    struct Rect {
        double x = 0;
        double y = 0;
        double width = 0;
        double height = 0;
        bool contains(Point point) const;
        bool operator==(const Rect&) const = default;
    };

    static constexpr double referenceAspect = 16.0 / 9.0;

    // A stored (reference) area mapped onto a frame of aspect `aspect` (width / height). An aspect that
    // is not a positive finite number is treated as the reference, which makes the mapping the identity.
    static ROI roi(
        const ROI& reference, double aspect, double referenceAspect = FrameGeometry::referenceAspect);

    // An area drawn on the current frame mapped back to reference coordinates; what lies outside the
    // reference crop is cut off, so an area wholly outside it ends with zero height (or width).
    static ROI referenceROI(
        const ROI& current, double aspect, double referenceAspect = FrameGeometry::referenceAspect);

    // Where a video of aspect `aspect` sits when fitted whole into `container`; zero when any input is not
    // positive.
    static Rect videoRect(Size container, double aspect);
};

} // namespace vardel
