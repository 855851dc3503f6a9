#include "PersonBox.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <limits>
#include <string>

using namespace vardel;

namespace {

struct Area {
    double x, y, w, h;
};

void expectBox(const PersonBox& actual, const PersonBox& expected)
{
    EXPECT_NEAR(actual.x, expected.x, 1e-9);
    EXPECT_NEAR(actual.y, expected.y, 1e-9);
    EXPECT_NEAR(actual.w, expected.w, 1e-9);
    EXPECT_NEAR(actual.h, expected.h, 1e-9);
    EXPECT_EQ(actual.confidence, expected.confidence);
    EXPECT_EQ(actual.isFace, expected.isFace);
}

} // namespace

struct OverlapCase {
    const char* name;
    PersonBox box;
    Area area;
    bool matches;
};

std::string overlapCaseName(const testing::TestParamInfo<OverlapCase>& param)
{
    std::string name = param.param.name;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
}

class PersonBoxOverlap : public testing::TestWithParam<OverlapCase> { };

TEST_P(PersonBoxOverlap, FollowsCentreOrSurfaceRule)
{
    const OverlapCase& c = GetParam();
    EXPECT_EQ(c.box.overlaps(c.area, 0.2), c.matches) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, PersonBoxOverlap,
    testing::Values(
        OverlapCase { "centre inside", { 0.4, 0.4, 0.2, 0.2, 0.9 }, { 0.3, 0.3, 0.4, 0.4 }, true },
        // Centre exactly on the right edge of the area counts (borders included).
        OverlapCase { "centre on border", { 0.6, 0.4, 0.2, 0.2, 0.9 }, { 0.2, 0.2, 0.5, 0.5 }, true },
        // Centre outside, exactly 25 % of the surface inside.
        OverlapCase { "quarter inside", { 0.0, 0.0, 0.4, 0.4, 0.9 }, { 0.2, 0.2, 0.6, 0.6 }, true },
        // Centre outside, 10 % of the surface inside.
        OverlapCase { "tenth inside", { 0.0, 0.0, 0.4, 0.25, 0.9 }, { 0.36, 0.0, 0.5, 0.5 }, false },
        OverlapCase { "disjoint", { 0.0, 0.0, 0.1, 0.1, 0.9 }, { 0.5, 0.5, 0.2, 0.2 }, false },
        OverlapCase {
            "zero width, centre outside", { 0.1, 0.3, 0.0, 0.4, 0.9 }, { 0.0, 0.0, 0.05, 1.0 }, false },
        OverlapCase {
            "zero width, centre inside", { 0.1, 0.3, 0.0, 0.4, 0.9 }, { 0.0, 0.0, 0.5, 1.0 }, true },
        OverlapCase { "NaN box", { std::nan(""), 0.3, 0.2, 0.2, 0.9 }, { 0.0, 0.0, 1.0, 1.0 }, false }),
    overlapCaseName);

TEST(PersonBox, OverlapFractionIsAnInclusiveThreshold)
{
    const PersonBox box { 0.0, 0.0, 0.5, 0.5, 0.9 };
    const Area area { 0.375, 0.0, 0.5, 1.0 }; // centre outside, exactly a quarter of the box inside
    EXPECT_TRUE(box.overlaps(area, 0.25));
    EXPECT_FALSE(box.overlaps(area, 0.26));
}

TEST(PersonBox, HeadAndShouldersAroundAFaceAndClampedAtTheTop)
{
    expectBox(PersonBox::headAndShoulders({ 0.45, 0.1, 0.1, 0.1, 0.8, true }),
        { 0.37, 0.05, 0.26, 0.32, 0.8, true });
    expectBox(PersonBox::headAndShoulders({ 0.45, 0.0, 0.1, 0.1, 0.8, true }),
        { 0.37, 0.0, 0.26, 0.27, 0.8, true });
    // Near the bottom-right corner both far edges are clamped to 1.
    expectBox(PersonBox::headAndShoulders({ 0.9, 0.8, 0.1, 0.1, 0.7, true }),
        { 0.82, 0.75, 0.18, 0.25, 0.7, true });
}

TEST(PersonBox, FacesInsideABodyAreNotDrawnTwice)
{
    const PersonBox body { 0.1, 0.1, 0.3, 0.5, 0.9, false };
    const PersonBox faceInBody { 0.2, 0.15, 0.1, 0.1, 0.95, true };
    // Centre (0.4, 0.3) lies on the body's right border: still inside.
    const PersonBox faceOnBorder { 0.35, 0.25, 0.1, 0.1, 0.9, true };
    const PersonBox faceAlone { 0.7, 0.2, 0.1, 0.1, 0.85, true };
    const PersonBox secondBody { 0.5, 0.5, 0.2, 0.4, 0.6, false };

    const auto drawn = PersonBox::forDrawing({ faceInBody, body, faceOnBorder, faceAlone, secondBody });
    ASSERT_EQ(drawn.size(), 3u);
    EXPECT_EQ(drawn[0], body);
    EXPECT_EQ(drawn[1], secondBody);
    EXPECT_EQ(drawn[2], PersonBox::headAndShoulders(faceAlone));
}

TEST(PersonBox, WithoutBodiesEveryFaceBecomesHeadAndShoulders)
{
    const PersonBox a { 0.1, 0.2, 0.1, 0.1, 0.9, true };
    const PersonBox b { 0.6, 0.2, 0.1, 0.1, 0.8, true };
    const auto drawn = PersonBox::merge({}, { a, b });
    ASSERT_EQ(drawn.size(), 2u);
    EXPECT_EQ(drawn[0], PersonBox::headAndShoulders(a));
    EXPECT_EQ(drawn[1], PersonBox::headAndShoulders(b));
    EXPECT_TRUE(PersonBox::forDrawing({}).empty());
}
