#include "CameraChoice.h"
#include "CameraWatch.h"
#include "FormatReclaimer.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vardel;
using Action = CameraWatch::Action;
using Status = FormatReclaimer::Status;

TEST(CameraWatch, ChosenCameraUnpluggedPausesOnceAndResumesWhenListedAgain)
{
    CameraWatch watch;
    const std::vector<std::string> both { "Desk Cam", "Integrated" };
    const std::vector<std::string> builtInOnly { "Integrated" };
    EXPECT_EQ(watch.update(both, "Desk Cam", "Desk Cam"), Action::none);
    EXPECT_EQ(watch.update(builtInOnly, "Desk Cam", "Desk Cam"), Action::pause);
    EXPECT_EQ(watch.missingName(), "Desk Cam");
    // Still gone, and the capture has closed it meanwhile: nothing more to do.
    EXPECT_EQ(watch.update(builtInOnly, "Desk Cam", "Desk Cam"), Action::none);
    EXPECT_EQ(watch.update(builtInOnly, "Desk Cam", std::nullopt), Action::none);
    EXPECT_EQ(watch.update(both, "Desk Cam", std::nullopt), Action::resume);
    EXPECT_FALSE(watch.missing());
    EXPECT_EQ(watch.update(both, "Desk Cam", "Desk Cam"), Action::none);
}

TEST(CameraWatch, AutomaticChoiceWatchesTheCameraInUseAndNothingWhenNoneIsOpen)
{
    CameraWatch watch;
    EXPECT_EQ(watch.update({}, "", std::nullopt), Action::none);
    EXPECT_EQ(watch.update({ "Integrated" }, "", "Desk Cam"), Action::pause);
    watch.reset();
    EXPECT_FALSE(watch.missing());
    EXPECT_EQ(watch.update({ "Desk Cam" }, "", "Desk Cam"), Action::none);
}

TEST(CameraChoice, PicksTheNamedCameraOrTheBuiltInOneForAutomatic)
{
    const std::vector<CameraChoice::Camera> cameras { { "USB Cam", false }, { "Integrated", true },
        { "Integrated", false } };
    EXPECT_EQ(CameraChoice::pick(cameras, ""), (CameraChoice::Camera { "Integrated", true }));
    EXPECT_EQ(CameraChoice::pick(cameras, "USB Cam"), cameras[0]);
    // A chosen camera that is not connected is not replaced by another one.
    EXPECT_EQ(CameraChoice::pick(cameras, "Gone Cam"), std::nullopt);
    EXPECT_EQ(
        CameraChoice::pick({ { "A", false }, { "B", false } }, ""), (CameraChoice::Camera { "A", false }));
    EXPECT_EQ(CameraChoice::pick({}, ""), std::nullopt);
    EXPECT_TRUE(CameraChoice::showsPicker(cameras));
    EXPECT_FALSE(CameraChoice::showsPicker({ { "A", false } }));
}

namespace {
constexpr double kWide = 16.0 / 9.0;
constexpr double kFourThirds = 4.0 / 3.0;
} // namespace

TEST(FormatReclaimer, TriesTwiceTenSecondsApartThenGivesUp)
{
    FormatReclaimer reclaimer;
    EXPECT_FALSE(reclaimer.update(kFourThirds, 0));
    EXPECT_EQ(reclaimer.status, Status::waiting);
    EXPECT_FALSE(reclaimer.update(kFourThirds, 4));
    EXPECT_TRUE(reclaimer.update(kFourThirds, 5));
    EXPECT_FALSE(reclaimer.update(kFourThirds, 14.9));
    EXPECT_TRUE(reclaimer.update(kFourThirds, 15));
    EXPECT_FALSE(reclaimer.update(kFourThirds, 24.9));
    EXPECT_EQ(reclaimer.status, Status::waiting);
    EXPECT_FALSE(reclaimer.update(kFourThirds, 25));
    EXPECT_EQ(reclaimer.status, Status::gaveUp);
    EXPECT_FALSE(reclaimer.update(kFourThirds, 100));
    reclaimer.reset();
    EXPECT_EQ(reclaimer, FormatReclaimer {});
}

TEST(FormatReclaimer, RecoveryThenASwitchAwayWithinThirtySecondsGivesUpAtOnce)
{
    FormatReclaimer reclaimer;
    reclaimer.update(kFourThirds, 0);
    reclaimer.update(kFourThirds, 5);
    reclaimer.update(kFourThirds, 15);
    EXPECT_FALSE(reclaimer.update(kWide, 16));
    EXPECT_EQ(reclaimer.status, Status::recovered);
    EXPECT_EQ(reclaimer.recoveredAt, 16);
    EXPECT_EQ(reclaimer.attempts, 0);
    // Staying at 16:9 keeps the recovered status for the notice.
    reclaimer.update(kWide, 20);
    EXPECT_EQ(reclaimer.status, Status::recovered);
    EXPECT_FALSE(reclaimer.update(kFourThirds, 40));
    EXPECT_EQ(reclaimer.status, Status::gaveUp);
}

TEST(FormatReclaimer, ASwitchAwayLongAfterARecoveryStartsAFreshEpisode)
{
    FormatReclaimer reclaimer;
    reclaimer.update(kFourThirds, 0);
    reclaimer.update(kFourThirds, 5);
    reclaimer.update(kWide, 6);
    EXPECT_FALSE(reclaimer.update(kFourThirds, 100));
    EXPECT_EQ(reclaimer.status, Status::waiting);
    EXPECT_TRUE(reclaimer.update(kFourThirds, 105));
}

TEST(FormatReclaimer, SixteenByNineWithinToleranceIsNormalAndAnUnknownAspectChangesNothing)
{
    FormatReclaimer reclaimer;
    EXPECT_FALSE(reclaimer.update(1366.0 / 768.0, 0)); // 1.7786, within 0.01
    EXPECT_EQ(reclaimer.status, Status::normal);
    EXPECT_FALSE(reclaimer.update(std::nan(""), 10));
    EXPECT_EQ(reclaimer, FormatReclaimer {});
}
