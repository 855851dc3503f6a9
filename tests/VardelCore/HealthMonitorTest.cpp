#include "HealthMonitor.h"

#include "Captions.h"
#include "L.h"

#include <gtest/gtest.h>

using namespace vardel;

namespace {

constexpr double kStart = 1'700'000'000.0;

class HealthMonitorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous = L::language();
        L::setLanguage(AppLanguage::en);
    }
    void TearDown() override { L::setLanguage(previous); }

    static std::string noImageSince(double at)
    {
        return "No camera image since " + Captions::hourMinute(at, AppLanguage::en)
            + " (camera access denied or camera busy?)";
    }

    AppLanguage previous = AppLanguage::en;
    HealthMonitor monitor { 15.0 };
};

} // namespace

TEST_F(HealthMonitorTest, NothingIsReportedBeforeTheCameraStarts)
{
    EXPECT_EQ(monitor.check(kStart + 1000), HealthMonitor::Report {});
    EXPECT_FALSE(monitor.isFresh(kStart));
}

TEST_F(HealthMonitorTest, AStallIsReportedOnceAfterFifteenSecondsAndTheNextFrameClearsIt)
{
    monitor.cameraDidStart(kStart);
    EXPECT_EQ(monitor.check(kStart + 15.0), HealthMonitor::Report {});

    const auto stalled = monitor.check(kStart + 15.1);
    EXPECT_EQ(stalled.failure, noImageSince(kStart));
    EXPECT_TRUE(stalled.shouldRestart);
    EXPECT_TRUE(stalled.newlyFailed);

    const auto again = monitor.check(kStart + 16);
    EXPECT_TRUE(again.shouldRestart);
    EXPECT_FALSE(again.newlyFailed);

    // The model restarts the camera: the failure text stays until a frame arrives.
    monitor.cameraDidStart(kStart + 16);
    const auto restarting = monitor.check(kStart + 17);
    EXPECT_EQ(restarting.failure, noImageSince(kStart));
    EXPECT_FALSE(restarting.shouldRestart);

    EXPECT_TRUE(monitor.frameArrived(kStart + 18));
    EXPECT_EQ(monitor.check(kStart + 18.5), HealthMonitor::Report {});
    EXPECT_FALSE(monitor.frameArrived(kStart + 18.6));
}

TEST_F(HealthMonitorTest, AStallDatesFromTheLastFrame)
{
    monitor.cameraDidStart(kStart);
    monitor.frameArrived(kStart + 100);
    EXPECT_FALSE(monitor.check(kStart + 115).failure.has_value());
    const auto stalled = monitor.check(kStart + 120);
    EXPECT_TRUE(stalled.newlyFailed);
    EXPECT_EQ(monitor.failureSince(), kStart + 100);
    EXPECT_EQ(monitor.currentStallText(), noImageSince(kStart + 100));
}

TEST_F(HealthMonitorTest, AnInterruptionFailsAtOnceButAsksForARestartOnlyAfterFifteenSeconds)
{
    monitor.cameraDidStart(kStart);
    monitor.frameArrived(kStart + 1);
    monitor.interruptionBegan(kStart + 2);
    monitor.interruptionBegan(kStart + 5); // a repeated notice keeps the first time

    const auto early = monitor.check(kStart + 12);
    EXPECT_EQ(early.failure,
        "Camera interrupted by another app since " + Captions::hourMinute(kStart + 2, AppLanguage::en));
    EXPECT_TRUE(early.newlyFailed);
    EXPECT_FALSE(early.shouldRestart);

    const auto late = monitor.check(kStart + 18);
    EXPECT_TRUE(late.shouldRestart);
    EXPECT_FALSE(late.newlyFailed);

    // The interruption ends: the stall clock restarts there, the failure stays until a frame comes.
    monitor.interruptionEnded(kStart + 20);
    const auto after = monitor.check(kStart + 30);
    EXPECT_EQ(after.failure, noImageSince(kStart + 2));
    EXPECT_FALSE(after.shouldRestart);
    EXPECT_TRUE(monitor.check(kStart + 35.5).shouldRestart);
}

TEST_F(HealthMonitorTest, FreshOnlyWithARecentFrameAfterTheStartAndStopForgetsEverything)
{
    monitor.cameraDidStart(kStart);
    EXPECT_FALSE(monitor.isFresh(kStart + 1));
    monitor.frameArrived(kStart + 1);
    EXPECT_TRUE(monitor.isFresh(kStart + 3.9));
    EXPECT_FALSE(monitor.isFresh(kStart + 4));
    // A restart makes the old frame stale until a new one arrives.
    monitor.cameraDidStart(kStart + 2);
    EXPECT_FALSE(monitor.isFresh(kStart + 2.5));

    monitor.interruptionBegan(kStart + 3);
    monitor.check(kStart + 3);
    monitor.cameraDidStop();
    EXPECT_EQ(monitor.check(kStart + 100), HealthMonitor::Report {});
    EXPECT_FALSE(monitor.failureSince().has_value());
    EXPECT_FALSE(monitor.interruptedSince().has_value());
}

TEST_F(HealthMonitorTest, FailureTextsFollowTheCurrentLanguage)
{
    monitor.cameraDidStart(kStart);
    monitor.check(kStart + 20);
    L::setLanguage(AppLanguage::ptBR);
    const std::string portuguese = monitor.currentStallText();
    EXPECT_EQ(portuguese,
        L::t(K::failNoImage, AppLanguage::ptBR, { Captions::hourMinute(kStart, AppLanguage::ptBR) }));
    EXPECT_NE(portuguese, noImageSince(kStart));
}
