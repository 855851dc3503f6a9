#pragma once

#include "FrameGeometry.h"
#include "ROI.h"

#include <optional>

namespace vardel {

// The drag state of the area editor view and its rules: a drag that starts on a partial area moves it,
// any other drag draws a new one. The view owns one instance on the main thread, feeds it the drag's
// start and current location in its own coordinates and shows `draft` (current-frame coordinates).
class AreaDrag {
public:
    // Movement, in view points, before a press becomes a drag.
    static constexpr double minimumDistance = 3;

    // The on-screen rectangle of `area` drawn over the fitted video rectangle.
    static FrameGeometry::Rect screenRect(const ROI& area, const FrameGeometry::Rect& video);

    // True once the pointer has moved far enough from `start` for the press to count as a drag.
    static bool isDrag(FrameGeometry::Point start, FrameGeometry::Point location);

    // One change of a drag. `current` is the saved area shown when there is no draft, `video` the
    // rectangle of the fitted image. Does nothing while `video` is empty.
    void change(FrameGeometry::Point start, FrameGeometry::Point location, const ROI& current,
        const FrameGeometry::Rect& video);

    // The drag ended: the move is over, the draft stays until it is saved or cancelled.
    void end() { m_moveFrom.reset(); }

    // Drops the draft (after saving or cancelling).
    void clearDraft() { m_draft.reset(); }
    void setDraft(std::optional<ROI> draft) { m_draft = draft; }

    const std::optional<ROI>& draft() const { return m_draft; }
    const std::optional<ROI>& moveFrom() const { return m_moveFrom; }

    // The area on show: the draft when there is one, otherwise `current`.
    ROI shown(const ROI& current) const { return m_draft.value_or(current); }

private:
    std::optional<ROI> m_draft;
    // Set for the whole of a drag: the area being moved, or the whole image for a drawing drag.
    std::optional<ROI> m_moveFrom;
};

} // namespace vardel
