#include "PersonGate.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vardel;
using Outcome = PersonGate::Outcome;

namespace {

constexpr ROI kRightHalf { 0.5, 0, 0.5, 1 };

struct MatchCase {
    const char* name;
    PersonBox box;
    bool matches;
};

class PersonGateMatch : public ::testing::TestWithParam<MatchCase> { };

} // namespace

TEST_P(PersonGateMatch, AppliesConfidenceCentreAndOverlapRules)
{
    EXPECT_EQ(PersonGate().matches(GetParam().box, kRightHalf), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(Boxes, PersonGateMatch,
    ::testing::Values(MatchCase { "centreInside", { 0.6, 0.3, 0.2, 0.2, 0.6, false }, true },
        MatchCase { "confidenceJustBelow", { 0.6, 0.3, 0.2, 0.2, 0.49, false }, false },
        MatchCase { "confidenceExactlyHalf", { 0.6, 0.3, 0.2, 0.2, 0.5, false }, true },
        MatchCase { "confidenceNaN", { 0.6, 0.3, 0.2, 0.2, std::nan(""), false }, false },
        MatchCase { "centreOnTheBorder", { 0.4, 0.3, 0.2, 0.2, 0.9, false }, true },
        // Centre outside at x 0.4; 0.1 of the 0.4 width lies inside, then 0.06.
        MatchCase { "quarterInside", { 0.2, 0.4, 0.4, 0.2, 0.9, false }, true },
        MatchCase { "fifteenPercentInside", { 0.16, 0.4, 0.4, 0.2, 0.9, false }, false },
        MatchCase { "zeroWidthCentreOutside", { 0.45, 0.4, 0.0, 0.2, 0.9, false }, false },
        MatchCase { "zeroWidthCentreInside", { 0.7, 0.4, 0.0, 0.2, 0.9, false }, true }),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(PersonGate, ConsultsTheDetectorAtOnceAfterOpeningThenAtMostEveryInterval)
{
    PersonGate gate;
    int calls = 0;
    std::vector<PersonBox> boxes;
    const auto step = [&](double now) {
        return gate.step(now, 0, 0.05, kRightHalf, [&] {
            ++calls;
            return boxes;
        });
    };
    EXPECT_EQ(step(1000), Outcome::discarded()); // closed: nothing happens
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(gate, PersonGate {});

    gate.checkInterval = 100; // even a long interval does not delay the first check
    gate.open(1000);
    EXPECT_EQ(step(1000.05), Outcome::pending());
    EXPECT_EQ(step(1000.15), Outcome::pending());
    EXPECT_EQ(calls, 1);

    gate.checkInterval = 0.25;
    gate.open(1001);
    step(1001);
    step(1001.125);
    EXPECT_EQ(calls, 2);
    boxes = { { 0.1, 0.1, 0.05, 0.05, 0.8, true }, { 0.6, 0.3, 0.2, 0.2, 0.9, false } };
    EXPECT_EQ(step(1001.25), Outcome::confirmed(EventKind::person));
    EXPECT_EQ(gate.lastMatch, std::vector<PersonBox> { boxes[1] });
    EXPECT_FALSE(gate.isOpen());
    EXPECT_EQ(gate.checks, 3);
}
