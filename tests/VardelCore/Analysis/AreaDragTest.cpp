#include "AreaDrag.h"

#include <gtest/gtest.h>

using namespace vardel;
using Point = FrameGeometry::Point;

namespace {

// A 400 × 225 video placed 37.5 points down in a 400 × 300 view.
const FrameGeometry::Rect kVideo { 0, 37.5, 400, 225 };

TEST(AreaDrag, RecognisesDragAfterThreePoints)
{
    EXPECT_FALSE(AreaDrag::isDrag({ 10, 10 }, { 12, 12 }));
    EXPECT_TRUE(AreaDrag::isDrag({ 10, 10 }, { 13, 10 }));
}

TEST(AreaDrag, DrawsWithOrderedCornersClampedToTheVideo)
{
    AreaDrag drag;
    // Ends left of and above its start, and runs out of the video at the top.
    drag.change({ 300, 150 }, { 100, 0 }, ROI::full(), kVideo);
    ASSERT_TRUE(drag.draft());
    const ROI draft = *drag.draft();
    EXPECT_DOUBLE_EQ(draft.x, 0.25);
    EXPECT_DOUBLE_EQ(draft.y, 0);
    EXPECT_DOUBLE_EQ(draft.w, 0.5);
    EXPECT_DOUBLE_EQ(draft.h, 0.5);
    EXPECT_EQ(drag.moveFrom(), ROI::full());
}

TEST(AreaDrag, DragOutsidePartialAreaDrawsANewOne)
{
    AreaDrag drag;
    const ROI current { 0.5, 0.5, 0.25, 0.25 };
    drag.change({ 40, 60 }, { 80, 100 }, current, kVideo);
    EXPECT_EQ(drag.moveFrom(), ROI::full());
    EXPECT_DOUBLE_EQ(drag.draft()->x, 0.1);
    EXPECT_DOUBLE_EQ(drag.draft()->w, 0.1);
}

TEST(AreaDrag, MovesPartialAreaAndStopsAtEveryBorderKeepingItsSize)
{
    const ROI current { 0.5, 0.5, 0.25, 0.2 };
    const Point inside { 250, 37.5 + 0.6 * 225 };

    AreaDrag drag;
    drag.change(inside, { inside.x + 40, inside.y + 22.5 }, current, kVideo);
    EXPECT_EQ(drag.moveFrom(), current);
    EXPECT_DOUBLE_EQ(drag.draft()->x, 0.6);
    EXPECT_DOUBLE_EQ(drag.draft()->y, 0.6);

    struct Case {
        Point to;
        double x, y;
    };
    for (const Case& c : { Case { { inside.x + 1000, inside.y + 1000 }, 0.75, 0.8 },
             Case { { inside.x - 1000, inside.y - 1000 }, 0, 0 } }) {
        // Later changes of the same drag still measure from the area the drag started on.
        drag.change(inside, c.to, current, kVideo);
        EXPECT_DOUBLE_EQ(drag.draft()->x, c.x);
        EXPECT_DOUBLE_EQ(drag.draft()->y, c.y);
        EXPECT_EQ(drag.draft()->w, current.w);
        EXPECT_EQ(drag.draft()->h, current.h);
    }

    drag.end();
    EXPECT_FALSE(drag.moveFrom());
    EXPECT_TRUE(drag.draft()); // stays until saved or cancelled
}

TEST(AreaDrag, NextDragMovesTheDraftNotTheSavedArea)
{
    AreaDrag drag;
    drag.setDraft(ROI { 0, 0, 0.5, 0.5 });
    drag.change({ 10, 47.5 }, { 50, 47.5 }, ROI { 0.5, 0.5, 0.5, 0.5 }, kVideo);
    EXPECT_EQ(drag.moveFrom(), (ROI { 0, 0, 0.5, 0.5 }));
    EXPECT_DOUBLE_EQ(drag.draft()->x, 0.1);
}

TEST(AreaDrag, IgnoresDragsWhileVideoIsEmpty)
{
    AreaDrag drag;
    drag.change({ 0, 0 }, { 100, 100 }, ROI::full(), FrameGeometry::Rect { 0, 0, 0, 225 });
    EXPECT_FALSE(drag.draft());
    EXPECT_FALSE(drag.moveFrom());
}

} // namespace
