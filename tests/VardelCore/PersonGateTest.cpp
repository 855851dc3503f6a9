#include "PersonGate.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vardel;
using Outcome = PersonGate::Outcome;

namespace {

struct MatchCase {
    const char* name;
    PersonBox box;
    bool matches;
};

// The right half of the frame.
constexpr ROI kRightHalf { 0.5, 0, 0.5, 1 };

class PersonGateMatch : public ::testing::TestWithParam<MatchCase> { };

} // namespace

TEST_P(PersonGateMatch, AppliesConfidenceCentreAndOverlapRules)
{
    PersonGate gate;
    EXPECT_EQ(gate.matches(GetParam().box, kRightHalf), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(Boxes, PersonGateMatch,
    ::testing::Values(MatchCase { "centreInside", { 0.6, 0.3, 0.2, 0.2, 0.6, false }, true },
        MatchCase { "confidenceJustBelow", { 0.6, 0.3, 0.2, 0.2, 0.49, false }, false },
        MatchCase { "confidenceExactlyHalf", { 0.6, 0.3, 0.2, 0.2, 0.5, false }, true },
        MatchCase { "confidenceNaN", { 0.6, 0.3, 0.2, 0.2, std::nan(""), false }, false },
        MatchCase { "centreOnLeftBorder", { 0.4, 0.3, 0.2, 0.2, 0.9, false }, true },
        // Centre at x 0.4, outside; 0.1 of its 0.4 width lies inside.
        MatchCase { "quarterInside", { 0.2, 0.4, 0.4, 0.2, 0.9, false }, true },
        MatchCase { "fifteenPercentInside", { 0.16, 0.4, 0.4, 0.2, 0.9, false }, false },
        MatchCase { "zeroWidthCentreOutside", { 0.45, 0.4, 0.0, 0.2, 0.9, false }, false },
        MatchCase { "zeroWidthCentreInside", { 0.7, 0.4, 0.0, 0.2, 0.9, false }, true },
        MatchCase { "faceCountsLikeABody", { 0.7, 0.1, 0.1, 0.1, 0.8, true }, true }),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

namespace {

class PersonGateStep : public ::testing::Test {
protected:
    static constexpr double kStart = 1000.0;
    static constexpr double kMinArea = 0.05;

    Outcome step(double now, double compensated)
    {
        return gate.step(now, compensated, kMinArea, kRightHalf, [this] {
            ++calls;
            return boxes;
        });
    }

    PersonGate gate;
    std::vector<PersonBox> boxes;
    int calls = 0;
};

} // namespace

TEST_F(PersonGateStep, FirstStepConsultsTheDetectorAtOnceThenAtMostEveryInterval)
{
    gate.checkInterval = 100; // even a long interval does not delay the first check
    gate.open(kStart);
    EXPECT_EQ(step(kStart + 0.05, 0), Outcome::pending());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(step(kStart + 0.15, 0), Outcome::pending());
    EXPECT_EQ(calls, 1);

    gate.checkInterval = 0.25;
    gate.open(kStart + 1);
    step(kStart + 1, 0);
    step(kStart + 1.125, 0);
    EXPECT_EQ(calls, 2);
    step(kStart + 1.25, 0);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(gate.checks, 3);
}

TEST_F(PersonGateStep, AMatchingBoxConfirmsAPersonAndClosesTheGate)
{
    const PersonBox outside { 0.0, 0.3, 0.2, 0.2, 0.9, false };
    const PersonBox inside { 0.6, 0.3, 0.2, 0.2, 0.6, false };
    boxes = { outside, inside };
    gate.open(kStart);
    EXPECT_EQ(step(kStart, 0), Outcome::confirmed(EventKind::person));
    EXPECT_EQ(gate.lastMatch, std::vector<PersonBox> { inside });
    EXPECT_FALSE(gate.isOpen());
}

TEST_F(PersonGateStep, StepOnAClosedGateIsDiscardedAndChangesNothing)
{
    boxes = { { 0.6, 0.3, 0.2, 0.2, 0.9, false } };
    const PersonGate before = gate;
    EXPECT_EQ(step(kStart, 1), Outcome::discarded());
    EXPECT_EQ(gate, before);
    EXPECT_EQ(calls, 0);
}

TEST_F(PersonGateStep, OpeningKeepsChecksAndLastMatchButRestartsTheCounts)
{
    boxes = { { 0.6, 0.3, 0.2, 0.2, 0.9, false } };
    gate.open(kStart);
    step(kStart, 1);
    gate.open(kStart + 10);
    EXPECT_EQ(gate.checks, 1);
    EXPECT_EQ(gate.lastMatch.size(), 1u);
    EXPECT_EQ(gate.frames, 0);
    EXPECT_EQ(gate.persistentFrames, 0);
    EXPECT_EQ(gate.lastCheck, PersonGate::kNever);
}

namespace {

struct PersistCase {
    int persistent;
    Outcome outcome;
};

class PersonGatePersistence : public PersonGateStep, public ::testing::WithParamInterface<PersistCase> { };

} // namespace

TEST_P(PersonGatePersistence, WindowEndDecidesByTheShareOfPersistentFrames)
{
    gate.open(kStart);
    gate.lastMatch = { PersonBox {} }; // from an earlier confirmation
    // Nine frames inside the two-second window (7/32 s apart, exact in binary), the tenth at its end.
    for (int frame = 0; frame < 10; ++frame) {
        const double now = kStart + (frame < 9 ? frame * 0.21875 : 2.0);
        // Exactly the threshold counts as persistent.
        const double level = frame < GetParam().persistent ? kMinArea : 0.049;
        const Outcome outcome = step(now, level);
        if (frame < 9) {
            ASSERT_EQ(outcome, Outcome::pending()) << "frame " << frame;
        } else {
            EXPECT_EQ(outcome, GetParam().outcome);
        }
    }
    EXPECT_EQ(gate.frames, 10);
    EXPECT_EQ(calls, 10);
    EXPECT_FALSE(gate.isOpen());
    EXPECT_TRUE(gate.lastMatch.empty());
}

INSTANTIATE_TEST_SUITE_P(Shares, PersonGatePersistence,
    ::testing::Values(PersistCase { 7, Outcome::confirmed(EventKind::unconfirmedMotion) },
        PersistCase { 6, Outcome::discarded() },
        PersistCase { 10, Outcome::confirmed(EventKind::unconfirmedMotion) },
        PersistCase { 0, Outcome::discarded() }));
