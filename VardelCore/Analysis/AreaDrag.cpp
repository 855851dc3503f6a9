#include "AreaDrag.h"

#include <algorithm>
#include <cmath>

namespace vardel {

namespace {
    double clampUnit(double value) { return std::clamp(value, 0.0, 1.0); }

    // max(value, 0) that also turns NaN into 0, then the upper limit.
    double clampMove(double value, double upper)
    {
        const double low = value > 0 ? value : 0;
        return std::min(low, upper);
    }
}

FrameGeometry::Rect AreaDrag::screenRect(const ROI& area, const FrameGeometry::Rect& video)
{
    return { video.x + video.width * area.x, video.y + video.height * area.y, video.width * area.w,
        video.height * area.h };
}

bool AreaDrag::isDrag(FrameGeometry::Point start, FrameGeometry::Point location)
{
    return std::hypot(location.x - start.x, location.y - start.y) >= minimumDistance;
}

void AreaDrag::change(FrameGeometry::Point start, FrameGeometry::Point location, const ROI& current,
    const FrameGeometry::Rect& video)
{
    if (!(video.width > 0) || !(video.height > 0))
        return;

    const ROI area = shown(current);
    if (!m_moveFrom) {
        const bool onArea = screenRect(area, video).contains(start);
        m_moveFrom = onArea && !area.isFull() ? area : ROI::full();
    }

    if (!m_moveFrom->isFull()) {
        const ROI& from = *m_moveFrom;
        const double dx = location.x - start.x;
        const double dy = location.y - start.y;
        m_draft = ROI { clampMove(from.x + dx / video.width, 1 - from.w),
            clampMove(from.y + dy / video.height, 1 - from.h), from.w, from.h };
        return;
    }

    const double left = clampUnit((std::min(start.x, location.x) - video.x) / video.width);
    const double right = clampUnit((std::max(start.x, location.x) - video.x) / video.width);
    const double top = clampUnit((std::min(start.y, location.y) - video.y) / video.height);
    const double bottom = clampUnit((std::max(start.y, location.y) - video.y) / video.height);
    m_draft = ROI { left, top, right - left, bottom - top };
}

} // namespace vardel
