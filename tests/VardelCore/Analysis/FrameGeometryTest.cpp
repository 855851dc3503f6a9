#include "FrameGeometry.h"
#include "AreaDraft.h"
#include "ROI.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

using namespace vardel;

namespace {

constexpr double kFourThree = 4.0 / 3.0;
constexpr double kUltraWide = 21.0 / 9.0;

void expectNear(const ROI& actual, const ROI& expected)
{
    EXPECT_NEAR(actual.x, expected.x, 1e-12);
    EXPECT_NEAR(actual.y, expected.y, 1e-12);
    EXPECT_NEAR(actual.w, expected.w, 1e-12);
    EXPECT_NEAR(actual.h, expected.h, 1e-12);
}

struct ValidityCase {
    ROI roi;
    bool valid;
    bool full;
    bool usable;
};

class ROIValidity : public testing::TestWithParam<ValidityCase> { };

TEST_P(ROIValidity, ClassifiesArea)
{
    const auto& c = GetParam();
    EXPECT_EQ(c.roi.isValid(), c.valid);
    EXPECT_EQ(c.roi.isFull(), c.full);
    EXPECT_EQ(AreaDraft::isUsable(c.roi), c.usable);
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(Areas, ROIValidity,
    testing::Values(ValidityCase { ROI::full(), true, true, false },
        ValidityCase { { 0.5, 0.5, 0.5, 0.50005 }, true, false, true }, // inside the edge slack
        ValidityCase { { 0.5, 0.5, 0.6, 0.5 }, false, false, false },
        ValidityCase { { 0.1, 0.1, 0.029, 0.5 }, true, false, false }, // too narrow to use
        ValidityCase { { 0.1, 0.1, 0.5, 0.029 }, true, false, false },
        ValidityCase { { 0.1, 0.1, 0.03, 0.03 }, true, false, true },
        ValidityCase { { 0, 0, 0, 0.5 }, false, false, false },
        ValidityCase { { -0.1, 0, 0.5, 0.5 }, false, false, false },
        ValidityCase { { 0.3, 0.3, 0.9995, 0.9995 }, false, true, false }, // full by size, but outside
        ValidityCase { { kNaN, 0, 0.5, 0.5 }, false, false, false }));

TEST(AreaDraft, RefusesMissingDraftAndProposesCentredArea)
{
    EXPECT_FALSE(AreaDraft::isUsable(std::nullopt));
    EXPECT_EQ(AreaDraft::initial(), (ROI { 0.2, 0.2, 0.6, 0.6 }));
    EXPECT_TRUE(AreaDraft::isUsable(AreaDraft::initial()));
    EXPECT_TRUE(AreaDraft::isSavable(ROI::full()));
    EXPECT_FALSE(AreaDraft::isSavable({ 0.1, 0.1, 0.029, 0.5 }));
}

TEST(ROIJson, RoundTripsAsArrayOfFourNumbers)
{
    const ROI roi { 0.125, 0.25, 0.3333333333333333, 0.5 };
    const nlohmann::json json = roi;
    EXPECT_EQ(json.dump(), "[0.125,0.25,0.3333333333333333,0.5]");
    EXPECT_EQ(json.get<ROI>(), roi);
    EXPECT_EQ(nlohmann::json::parse("[0, 0, 1, 1]").get<ROI>(), ROI::full());
}

TEST(ROIJson, RejectsEveryOtherShape)
{
    for (const char* text : { "[0, 0, 1]", "[0, 0, 1, 1, 0]", "[0, \"0\", 1, 1]", "[0, null, 1, 1]",
             "{\"x\": 0, \"y\": 0, \"w\": 1, \"h\": 1}", "0.5", "[]", "[[0], 0, 1, 1]" }) {
        SCOPED_TRACE(text);
        EXPECT_THROW(nlohmann::json::parse(text).get<ROI>(), nlohmann::json::type_error);
    }
}

TEST(FrameGeometry, MapsWholeImageOntoNarrowerFrameAndBack)
{
    const ROI mapped = FrameGeometry::roi(ROI::full(), kFourThree);
    expectNear(mapped, { 0, 0.125, 1, 0.75 });
    expectNear(FrameGeometry::referenceROI(mapped, kFourThree), ROI::full());
}

TEST(FrameGeometry, MapsOntoWiderFrameInWidth)
{
    const double k = FrameGeometry::referenceAspect / kUltraWide;
    const ROI area { 0.2, 0.3, 0.5, 0.4 };
    const ROI mapped = FrameGeometry::roi(area, kUltraWide);
    expectNear(mapped, { 0.2 * k + (1 - k) / 2, 0.3, 0.5 * k, 0.4 });
    expectNear(FrameGeometry::referenceROI(mapped, kUltraWide), area);
}

TEST(FrameGeometry, EqualOrUnknownAspectIsIdentity)
{
    const ROI area { 0.9, 0.1, 0.3, 0.2 }; // not even valid: the conversions must not touch it
    for (double aspect : { FrameGeometry::referenceAspect, 0.0, -1.0, kNaN }) {
        EXPECT_EQ(FrameGeometry::roi(area, aspect), area);
        EXPECT_EQ(FrameGeometry::referenceROI(area, aspect), area);
    }
}

TEST(FrameGeometry, CutsOffWhatLiesOutsideTheReferenceCrop)
{
    // Drawn in the top band of a 4:3 frame, above the 16:9 crop: nothing is left, and it cannot be saved.
    const ROI above = FrameGeometry::referenceROI({ 0, 0, 1, 0.1 }, kFourThree);
    EXPECT_EQ(above.y, 0);
    EXPECT_EQ(above.h, 0);
    EXPECT_FALSE(AreaDraft::isSavable(above));

    // Straddling the lower edge of the crop: only the part inside is kept.
    const ROI straddling = FrameGeometry::referenceROI({ 0.1, 0.5, 0.3, 0.5 }, kFourThree);
    expectNear(straddling, { 0.1, (0.5 - 0.125) / 0.75, 0.3, 1 - (0.5 - 0.125) / 0.75 });

    const ROI below = FrameGeometry::referenceROI({ 0, 0.95, 1, 0.05 }, kFourThree);
    EXPECT_EQ(below.y, 1);
    EXPECT_EQ(below.h, 0);
}

TEST(FrameGeometry, FitsVideoIntoContainer)
{
    EXPECT_EQ(
        FrameGeometry::videoRect({ 400, 300 }, 16.0 / 9.0), (FrameGeometry::Rect { 0, 37.5, 400, 225 }));
    EXPECT_EQ(FrameGeometry::videoRect({ 800, 300 }, 4.0 / 3.0), (FrameGeometry::Rect { 200, 0, 400, 300 }));
    EXPECT_EQ(FrameGeometry::videoRect({ 0, 300 }, 16.0 / 9.0), FrameGeometry::Rect {});
    EXPECT_EQ(FrameGeometry::videoRect({ 400, 300 }, 0), FrameGeometry::Rect {});
    EXPECT_EQ(FrameGeometry::videoRect({ 400, 300 }, kNaN), FrameGeometry::Rect {});
}

} // namespace
