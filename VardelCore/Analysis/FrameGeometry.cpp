#include "FrameGeometry.h"

#include <cmath>

namespace vardel {

namespace {
    bool usableAspect(double aspect) { return std::isfinite(aspect) && aspect > 0; }

    // Clamps one mapped edge into [0, 1]; the order (low first) keeps NaN out of the result.
    double clampEdge(double value)
    {
        if (!(value > 0))
            return 0;
        return value > 1 ? 1 : value;
    }

    // Maps the span [start, start + length] of the frame back into the reference crop that covers the
    // middle fraction `k` of that axis.
    void unmapSpan(double& start, double& length, double k)
    {
        const double offset = (1 - k) / 2;
        const double low = clampEdge((start - offset) / k);
        const double high = clampEdge((start + length - offset) / k);
        start = low;
        length = high - low > 0 ? high - low : 0;
    }
}

bool FrameGeometry::Rect::contains(Point point) const
{
    return point.x >= x && point.x < x + width && point.y >= y && point.y < y + height;
}

ROI FrameGeometry::roi(const ROI& reference, double aspect, double referenceAspect)
{
    if (!usableAspect(aspect) || !usableAspect(referenceAspect))
        return reference;
    ROI mapped = reference;
    if (aspect < referenceAspect) {
        const double k = aspect / referenceAspect;
        mapped.y = reference.y * k + (1 - k) / 2;
        mapped.h = reference.h * k;
    } else if (aspect > referenceAspect) {
        const double k = referenceAspect / aspect;
        mapped.x = reference.x * k + (1 - k) / 2;
        mapped.w = reference.w * k;
    }
    return mapped;
}

ROI FrameGeometry::referenceROI(const ROI& current, double aspect, double referenceAspect)
{
    if (!usableAspect(aspect) || !usableAspect(referenceAspect))
        return current;
    ROI mapped = current;
    if (aspect < referenceAspect)
        unmapSpan(mapped.y, mapped.h, aspect / referenceAspect);
    else if (aspect > referenceAspect)
        unmapSpan(mapped.x, mapped.w, referenceAspect / aspect);
    return mapped;
}

FrameGeometry::Rect FrameGeometry::videoRect(Size container, double aspect)
{
    const double w = container.width;
    const double h = container.height;
    if (!(w > 0) || !(h > 0) || !(aspect > 0) || !std::isfinite(aspect))
        return {};
    if (w / h < aspect)
        return { 0, (h - w / aspect) / 2, w, w / aspect };
    return { (w - h * aspect) / 2, 0, h * aspect, h };
}

} // namespace vardel
