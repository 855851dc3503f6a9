#include "HealthMonitor.h"

#include "Captions.h"
#include "L.h"

#include <gtest/gtest.h>

using namespace vardel;

namespace {

constexpr double kStart = 1'700'000'000.0;

class HealthMonitorTest : public ::testing::Test {
protected:
    void SetUp() override { L::setLanguage(AppLanguage::en); }

    static std::string noImageSince(double at)
    {
        return "No camera image since " + Captions::hourMinute(at, AppLanguage::en)
            + " (camera access denied or camera busy?)";
    }

    HealthMonitor monitor { 15.0 };
};

} // namespace

TEST_F(HealthMonitorTest, AStallIsReportedOnceAfterFifteenSecondsAndTheNextFrameClearsIt)
{
    EXPECT_EQ(monitor.check(kStart), HealthMonitor::Report {}); // not started
    monitor.cameraDidStart(kStart);
    EXPECT_EQ(monitor.check(kStart + 15.0), HealthMonitor::Report {});
    EXPECT_EQ(monitor.check(kStart + 15.1), (HealthMonitor::Report { noImageSince(kStart), true, true }));
    EXPECT_EQ(monitor.check(kStart + 16), (HealthMonitor::Report { noImageSince(kStart), true, false }));

    // The model reopens the camera: the failure stays shown, without restart, until a frame arrives.
    monitor.cameraDidStart(kStart + 16);
    EXPECT_EQ(monitor.check(kStart + 17), (HealthMonitor::Report { noImageSince(kStart), false, false }));
    EXPECT_TRUE(monitor.frameArrived(kStart + 18));
    EXPECT_FALSE(monitor.frameArrived(kStart + 18.5));
    EXPECT_EQ(monitor.check(kStart + 19), HealthMonitor::Report {});

    // A later stall dates from the last frame.
    EXPECT_TRUE(monitor.check(kStart + 34).newlyFailed);
    EXPECT_EQ(monitor.currentStallText(), noImageSince(kStart + 18.5));
}

TEST_F(HealthMonitorTest, AnInterruptionFailsAtOnceButAsksForARestartOnlyAfterFifteenSeconds)
{
    monitor.cameraDidStart(kStart);
    monitor.frameArrived(kStart + 1);
    monitor.interruptionBegan(kStart + 2);
    monitor.interruptionBegan(kStart + 5); // a repeated notice keeps the first time
    const std::string interrupted
        = "Camera interrupted by another app since " + Captions::hourMinute(kStart + 2, AppLanguage::en);
    EXPECT_EQ(monitor.check(kStart + 12), (HealthMonitor::Report { interrupted, false, true }));
    EXPECT_EQ(monitor.check(kStart + 18), (HealthMonitor::Report { interrupted, true, false }));

    // When it ends the stall clock restarts there.
    monitor.interruptionEnded(kStart + 20);
    EXPECT_EQ(monitor.check(kStart + 30), (HealthMonitor::Report { noImageSince(kStart + 2), false, false }));
    EXPECT_TRUE(monitor.check(kStart + 35.5).shouldRestart);
    monitor.cameraDidStop();
    EXPECT_EQ(monitor.check(kStart + 100), HealthMonitor::Report {});
}

TEST_F(HealthMonitorTest, FreshNeedsAFrameNewerThanTheStartAndYoungerThanThreeSeconds)
{
    monitor.cameraDidStart(kStart);
    EXPECT_FALSE(monitor.isFresh(kStart + 1));
    monitor.frameArrived(kStart + 1);
    EXPECT_TRUE(monitor.isFresh(kStart + 3.9));
    EXPECT_FALSE(monitor.isFresh(kStart + 4));
    monitor.cameraDidStart(kStart + 2);
    EXPECT_FALSE(monitor.isFresh(kStart + 2.5));
}
