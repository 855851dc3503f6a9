#include "EventPolicy.h"
#include "Phase.h"
#include "Settings.h"

#include <gtest/gtest.h>

using namespace vardel;

namespace {

constexpr double kArmed = 1000.0;

// Policy with trigger 3, cool-down 60, warm-up 4, normal sensitivity (5 % of the area).
EventPolicy normalPolicy() { return EventPolicy(6, 3, 60, 4); }

} // namespace

TEST(EventPolicy, MinAreaFollowsClampedSensitivity)
{
    struct Row {
        int sensitivity;
        double expected;
    };
    for (Row row : { Row { -3, 0.10 }, Row { 0, 0.10 }, Row { 1, 0.10 }, Row { 4, 0.07 }, Row { 6, 0.05 },
             Row { 8, 0.03 }, Row { 10, 0.01 }, Row { 25, 0.01 } })
        EXPECT_DOUBLE_EQ(EventPolicy::minArea(row.sensitivity), row.expected) << row.sensitivity;
}

TEST(EventPolicy, ThreeQualifyingFramesAfterWarmupGiveOneEventThenCooldownThenImmediateEvent)
{
    auto policy = normalPolicy();
    double t = kArmed + 5;
    EXPECT_FALSE(policy.evaluate(0.2, t, kArmed));
    EXPECT_FALSE(policy.evaluate(0.2, t + 0.1, kArmed));
    EXPECT_TRUE(policy.evaluate(0.2, t + 0.2, kArmed));
    EXPECT_EQ(policy.hits, 0);
    EXPECT_DOUBLE_EQ(policy.lastEvent, t + 0.2);

    EXPECT_FALSE(policy.evaluate(0.2, t + 1.2, kArmed)); // within the cool-down
    // The run keeps growing through the cool-down, so the first frame after it fires at once.
    for (double s = 2; s < 60; s += 1)
        EXPECT_FALSE(policy.evaluate(0.2, t + s, kArmed));
    EXPECT_TRUE(policy.evaluate(0.2, t + 60.2, kArmed));
}

TEST(EventPolicy, RunIsResetByQuietFramesWarmupHoldOffAndDisarming)
{
    auto policy = normalPolicy();
    double t = kArmed + 10;
    policy.evaluate(0.2, t, kArmed);
    policy.evaluate(0.2, t + 0.1, kArmed);
    EXPECT_FALSE(policy.evaluate(0.049, t + 0.2, kArmed)); // just below 5 %
    EXPECT_EQ(policy.hits, 0);

    EXPECT_FALSE(policy.evaluate(1.0, kArmed + 3.9, kArmed)); // warm-up
    EXPECT_EQ(policy.hits, 0);
    EXPECT_FALSE(policy.evaluate(1.0, t, std::nullopt)); // not armed
    EXPECT_EQ(policy.hits, 0);

    policy.evaluate(0.2, t, kArmed);
    policy.holdOff(t + 5);
    EXPECT_EQ(policy.hits, 0);
    EXPECT_FALSE(policy.evaluate(1.0, t + 4.9, kArmed));
    EXPECT_EQ(policy.hits, 0);
    EXPECT_FALSE(policy.evaluate(0.05, t + 5, kArmed)); // exactly at the minimum area counts
    EXPECT_EQ(policy.hits, 1);
}

TEST(EventPolicy, HoldOffNeverShortensAndReleaseClearsIt)
{
    auto policy = normalPolicy();
    policy.holdOff(50);
    policy.holdOff(20);
    EXPECT_DOUBLE_EQ(policy.suppressedUntil, 50);
    policy.releaseHoldOff();
    EXPECT_EQ(policy.suppressedUntil, EventPolicy::kNever);
}

TEST(EventPolicy, CandidateDoesNotCommitUntilTold)
{
    auto policy = normalPolicy();
    double t = kArmed + 10;
    EXPECT_FALSE(policy.isCandidate(0.3, t, kArmed));
    EXPECT_FALSE(policy.isCandidate(0.3, t + 0.1, kArmed));
    EXPECT_TRUE(policy.isCandidate(0.3, t + 0.2, kArmed));
    EXPECT_TRUE(policy.isCandidate(0.3, t + 0.3, kArmed)); // still due: nothing was committed
    EXPECT_EQ(policy.lastEvent, EventPolicy::kNever);
    policy.commit(t + 0.3);
    EXPECT_EQ(policy.hits, 0);
    EXPECT_FALSE(policy.isCandidate(0.3, t + 1, kArmed));
}

TEST(EventPolicy, TriggerFramesBelowOneStillNeedsAChangedFrame)
{
    // A hand-edited trigger of 0 must not turn a still picture into a stream of events.
    EventPolicy policy(6, 0, 0, 4);
    EXPECT_FALSE(policy.evaluate(0.0, kArmed + 10, kArmed));
    EXPECT_TRUE(policy.evaluate(0.5, kArmed + 11, kArmed));
}

TEST(Phase, FailureWinsThenModeFreshnessAndWarmupDecide)
{
    using K = Phase::Kind;
    EXPECT_EQ(
        Phase::compute(Mode::off, "camera gone", true, kArmed, kArmed + 10, 4), Phase::failed("camera gone"));
    EXPECT_EQ(Phase::compute(Mode::off, std::nullopt, true, std::nullopt, 0, 4).kind, K::off);
    EXPECT_EQ(Phase::compute(Mode::preview, std::nullopt, true, std::nullopt, 0, 4).kind, K::preview);
    EXPECT_EQ(Phase::compute(Mode::preview, std::nullopt, false, std::nullopt, 0, 4).kind, K::starting);
    EXPECT_EQ(Phase::compute(Mode::monitor, std::nullopt, true, kArmed, kArmed + 3.9, 4).kind, K::starting);
    EXPECT_EQ(Phase::compute(Mode::monitor, std::nullopt, false, kArmed, kArmed + 10, 4).kind, K::starting);
    EXPECT_EQ(
        Phase::compute(Mode::monitor, std::nullopt, true, std::nullopt, kArmed + 10, 4).kind, K::starting);
    EXPECT_EQ(Phase::compute(Mode::monitor, std::nullopt, true, kArmed, kArmed + 4, 4).kind, K::monitoring);
}

TEST(EventPolicy, BuiltFromSettingsTakesTheirValuesAndAFourSecondWarmup)
{
    Settings settings;
    settings.sensitivity = 8;
    settings.triggerFrames = 5;
    settings.cooldown = 90;
    EventPolicy policy(settings);
    EXPECT_EQ(policy, EventPolicy(8, 5, 90, 4));
    EXPECT_DOUBLE_EQ(policy.minArea(), 0.03);
}
