#include "FrameGeometry.h"
#include "AreaDraft.h"
#include "AreaDrag.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace vardel;

namespace {

constexpr double kFourThree = 4.0 / 3.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// A 400 × 225 video placed 37.5 points down in a 400 × 300 view.
const FrameGeometry::Rect kVideo { 0, 37.5, 400, 225 };

void expectNear(const ROI& a, const ROI& e)
{
    for (auto [actual, expected] : { std::pair(a.x, e.x), { a.y, e.y }, { a.w, e.w }, { a.h, e.h } })
        EXPECT_NEAR(actual, expected, 1e-12);
}

TEST(ROI, ClassifiesAreasAndStoresThemAsFourNumbers)
{
    const std::tuple<const char*, ROI, bool, bool, bool> rows[] = {
        { "whole", ROI::full(), true, true, false },
        { "insideEdgeSlack", { 0.5, 0.5, 0.5, 0.50005 }, true, false, true },
        { "pastTheEdge", { 0.5, 0.5, 0.6, 0.5 }, false, false, false },
        { "tooNarrow", { 0.1, 0.1, 0.029, 0.5 }, true, false, false },
        { "tooLow", { 0.1, 0.1, 0.5, 0.029 }, true, false, false },
        { "smallestUsable", { 0.1, 0.1, 0.03, 0.03 }, true, false, true },
        { "zeroWidth", { 0, 0, 0, 0.5 }, false, false, false },
        { "negative", { -0.1, 0, 0.5, 0.5 }, false, false, false },
        { "fullButOutside", { 0.3, 0.3, 0.9995, 0.9995 }, false, true, false },
        { "notANumber", { kNaN, 0, 0.5, 0.5 }, false, false, false },
    };
    for (const auto& [name, roi, valid, full, usable] : rows) {
        EXPECT_EQ(roi.isValid(), valid) << name;
        EXPECT_EQ(roi.isFull(), full) << name;
        EXPECT_EQ(AreaDraft::isUsable(roi), usable) << name;
    }
    EXPECT_FALSE(AreaDraft::isUsable(std::nullopt));
    EXPECT_TRUE(AreaDraft::isSavable(ROI::full()));

    // Stored as an array of exactly four numbers.
    const ROI roi { 0.125, 0.25, 0.3333333333333333, 0.5 };
    EXPECT_EQ(nlohmann::json(roi).dump(), "[0.125,0.25,0.3333333333333333,0.5]");
    EXPECT_EQ(nlohmann::json(roi).get<ROI>(), roi);
    for (const char* text :
        { "[0, 0, 1, 1, 0]", "[0, null, 1, 1]", "{\"x\": 0, \"y\": 0, \"w\": 1, \"h\": 1}" })
        EXPECT_THROW(nlohmann::json::parse(text).get<ROI>(), nlohmann::json::type_error) << text;
}

TEST(FrameGeometry, MapsAreasOntoOtherAspectsAndBackAndFitsTheVideoIntoItsContainer)
{
    expectNear(FrameGeometry::roi(ROI::full(), kFourThree), { 0, 0.125, 1, 0.75 });
    expectNear(FrameGeometry::referenceROI({ 0, 0.125, 1, 0.75 }, kFourThree), ROI::full());
    const double k = FrameGeometry::referenceAspect / (21.0 / 9.0);
    const ROI area { 0.2, 0.3, 0.5, 0.4 };
    expectNear(FrameGeometry::roi(area, 21.0 / 9.0), { 0.2 * k + (1 - k) / 2, 0.3, 0.5 * k, 0.4 });
    expectNear(FrameGeometry::referenceROI(FrameGeometry::roi(area, 21.0 / 9.0), 21.0 / 9.0), area);

    const ROI invalid { 0.9, 0.1, 0.3, 0.2 }; // equal or unknown aspects must not touch even this
    for (double aspect : { FrameGeometry::referenceAspect, 0.0, -1.0, kNaN }) {
        EXPECT_EQ(FrameGeometry::roi(invalid, aspect), invalid);
        EXPECT_EQ(FrameGeometry::referenceROI(invalid, aspect), invalid);
    }

    // Drawn in the top band of a 4:3 frame, above the 16:9 crop: nothing is left, and it cannot be saved.
    const ROI above = FrameGeometry::referenceROI({ 0, 0, 1, 0.1 }, kFourThree);
    EXPECT_EQ(std::pair(above.y, above.h), std::pair(0.0, 0.0));
    EXPECT_FALSE(AreaDraft::isSavable(above));
    const ROI below = FrameGeometry::referenceROI({ 0, 0.95, 1, 0.05 }, kFourThree);
    EXPECT_EQ(std::pair(below.y, below.h), std::pair(1.0, 0.0));
    expectNear(FrameGeometry::referenceROI({ 0.1, 0.5, 0.3, 0.5 }, kFourThree),
        { 0.1, (0.5 - 0.125) / 0.75, 0.3, 1 - (0.5 - 0.125) / 0.75 });

    // The video fits into its container.
    EXPECT_EQ(FrameGeometry::videoRect({ 400, 300 }, 16.0 / 9.0), kVideo);
    EXPECT_EQ(FrameGeometry::videoRect({ 800, 300 }, kFourThree), (FrameGeometry::Rect { 200, 0, 400, 300 }));
    for (double aspect : { 0.0, kNaN })
        EXPECT_EQ(FrameGeometry::videoRect({ 400, 300 }, aspect), FrameGeometry::Rect {});
    EXPECT_EQ(FrameGeometry::videoRect({ 0, 300 }, 16.0 / 9.0), FrameGeometry::Rect {});
    EXPECT_TRUE(kVideo.contains({ 0, 37.5 }) && !kVideo.contains({ 400, 100 }))
        << "half-open, so edges never overlap";
}

TEST(AreaDrag, DrawsANewAreaClampedToTheVideoOrMovesAPartialOneKeepingItsSize)
{
    EXPECT_FALSE(AreaDrag::isDrag({ 10, 10 }, { 12, 12 }));
    EXPECT_TRUE(AreaDrag::isDrag({ 10, 10 }, { 13, 10 }));

    AreaDrag drag;
    // Ends left of and above its start, and runs out of the video at the top.
    drag.change({ 300, 150 }, { 100, 0 }, ROI::full(), kVideo);
    EXPECT_EQ(drag.draft(), (ROI { 0.25, 0, 0.5, 0.5 }));
    EXPECT_EQ(drag.moveFrom(), ROI::full());
    // Starting outside a partial area draws a new one too.
    drag.change({ 40, 60 }, { 80, 100 }, { 0.5, 0.5, 0.25, 0.25 }, kVideo);
    EXPECT_NEAR(drag.draft()->x, 0.1, 1e-12);
    EXPECT_NEAR(drag.draft()->w, 0.1, 1e-12);

    AreaDrag empty;
    empty.change({ 0, 0 }, { 100, 100 }, ROI::full(), FrameGeometry::Rect { 0, 0, 0, 225 });
    EXPECT_FALSE(empty.draft() || empty.moveFrom());

    // Inside a partial area a drag moves it within the borders, keeping its size.
    drag = AreaDrag();
    const ROI current { 0.5, 0.5, 0.25, 0.2 };
    const FrameGeometry::Point inside { 250, 37.5 + 0.6 * 225 };
    const std::pair<FrameGeometry::Point, ROI> moves[]
        = { { { inside.x + 40, inside.y + 22.5 }, { 0.6, 0.6, 0.25, 0.2 } },
              { { inside.x + 1000, inside.y + 1000 }, { 0.75, 0.8, 0.25, 0.2 } },
              { { inside.x - 1000, inside.y - 1000 }, { 0, 0, 0.25, 0.2 } } };
    for (const auto& [to, expected] : moves) {
        // Every change of one drag measures from the area the drag started on.
        drag.change(inside, to, current, kVideo);
        EXPECT_EQ(drag.moveFrom(), current);
        expectNear(*drag.draft(), expected);
    }
    drag.end();
    EXPECT_FALSE(drag.moveFrom());
    // The next drag moves the draft, which stays until saved or cancelled, not the saved area.
    drag.change({ 10, 47.5 }, { 50, 47.5 }, ROI { 0.5, 0.5, 0.5, 0.5 }, kVideo);
    EXPECT_EQ(drag.moveFrom(), (ROI { 0, 0, 0.25, 0.2 }));
    expectNear(*drag.draft(), { 0.1, 0, 0.25, 0.2 });
}

} // namespace
