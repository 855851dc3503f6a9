#include "EventPolicy.h"
#include "Phase.h"
#include "Settings.h"

#include <gtest/gtest.h>

using namespace vardel;

namespace {

constexpr double kArmed = 1000.0;

// Sensitivity 6 (5 % of the area), trigger 3, cool-down 60 s, warm-up 4 s.
EventPolicy normalPolicy() { return EventPolicy(6, 3, 60, 4); }

} // namespace

TEST(EventPolicy, MinAreaFollowsClampedSensitivity)
{
    const std::pair<int, double> rows[]
        = { { -3, 0.10 }, { 0, 0.10 }, { 1, 0.10 }, { 6, 0.05 }, { 10, 0.01 }, { 25, 0.01 } };
    for (auto [sensitivity, expected] : rows)
        EXPECT_DOUBLE_EQ(EventPolicy::minArea(sensitivity), expected) << sensitivity;
    Settings settings;
    settings.sensitivity = 8;
    EXPECT_DOUBLE_EQ(EventPolicy(settings).minArea(), 0.03);
}

TEST(EventPolicy, ThirdQualifyingFrameAfterWarmupRaisesThenTheCooldownHolds)
{
    auto policy = normalPolicy();
    const double t = kArmed + 4; // the warm-up ends exactly here
    EXPECT_FALSE(policy.evaluate(0.2, t, kArmed));
    EXPECT_FALSE(policy.evaluate(0.05, t + 0.1, kArmed)); // exactly the minimum area counts
    EXPECT_TRUE(policy.evaluate(0.2, t + 0.2, kArmed));
    // The run keeps growing through the cool-down, so the first frame after it raises at once.
    for (double s = 1; s < 60; s += 1)
        EXPECT_FALSE(policy.evaluate(0.2, t + s, kArmed));
    EXPECT_TRUE(policy.evaluate(0.2, t + 60.2, kArmed));
}

TEST(EventPolicy, RunIsResetByQuietFramesWarmupHoldOffAndDisarming)
{
    const double t = kArmed + 10;
    const std::function<void(EventPolicy&)> breaks[] = {
        [&](EventPolicy& p) { p.evaluate(0.049, t, kArmed); },
        [&](EventPolicy& p) { p.evaluate(1.0, kArmed + 3.9, kArmed); },
        [&](EventPolicy& p) { p.evaluate(1.0, t, std::nullopt); },
        [&](EventPolicy& p) { p.holdOff(t); },
    };
    for (const auto& breakRun : breaks) {
        auto policy = normalPolicy();
        policy.evaluate(0.2, t, kArmed);
        policy.evaluate(0.2, t, kArmed);
        breakRun(policy);
        EXPECT_EQ(policy.hits, 0);
    }
    auto policy = normalPolicy();
    policy.holdOff(t + 5);
    policy.holdOff(t + 2); // never shortens
    EXPECT_FALSE(policy.evaluate(1.0, t + 4.9, kArmed));
    EXPECT_EQ(policy.hits, 0);
    policy.releaseHoldOff();
    policy.evaluate(1.0, t + 4.95, kArmed);
    EXPECT_EQ(policy.hits, 1);
}

TEST(EventPolicy, CandidateDoesNotCommitUntilToldAndAStillPictureNeverRaises)
{
    auto policy = normalPolicy();
    const double t = kArmed + 10;
    policy.isCandidate(0.3, t, kArmed);
    policy.isCandidate(0.3, t + 0.1, kArmed);
    EXPECT_TRUE(policy.isCandidate(0.3, t + 0.2, kArmed));
    EXPECT_TRUE(policy.isCandidate(0.3, t + 0.3, kArmed)); // still due: nothing was committed
    policy.commit(t + 0.3);
    EXPECT_FALSE(policy.isCandidate(0.3, t + 1, kArmed));
    EXPECT_FALSE(policy.isCandidate(0.3, t + 61, kArmed)) << "the commit starts a new run";

    // A hand-edited trigger of 0 must not turn a still picture into a stream of events.
    EventPolicy eager(6, 0, 0, 4);
    EXPECT_FALSE(eager.evaluate(0.0, kArmed + 10, kArmed));
    EXPECT_TRUE(eager.evaluate(0.5, kArmed + 11, kArmed));
}

TEST(Phase, FailureWinsThenModeFreshnessAndWarmupDecide)
{
    using K = Phase::Kind;
    const auto none = std::nullopt;
    EXPECT_EQ(
        Phase::compute(Mode::off, "camera gone", true, kArmed, kArmed + 10, 4), Phase::failed("camera gone"));
    EXPECT_EQ(Phase::compute(Mode::off, none, true, none, 0, 4).kind, K::off);
    EXPECT_EQ(Phase::compute(Mode::preview, none, true, none, 0, 4).kind, K::preview);
    EXPECT_EQ(Phase::compute(Mode::preview, none, false, none, 0, 4).kind, K::starting);
    EXPECT_EQ(Phase::compute(Mode::monitor, none, true, kArmed, kArmed + 3.9, 4).kind, K::starting);
    EXPECT_EQ(Phase::compute(Mode::monitor, none, false, kArmed, kArmed + 10, 4).kind, K::starting);
    EXPECT_EQ(Phase::compute(Mode::monitor, none, true, none, kArmed + 10, 4).kind, K::starting);
    EXPECT_EQ(Phase::compute(Mode::monitor, none, true, kArmed, kArmed + 4, 4).kind, K::monitoring);
}
