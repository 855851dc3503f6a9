#include "CameraChoice.h"
#include "CameraWatch.h"
#include "FormatReclaimer.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vardel;
using Action = CameraWatch::Action;
using Status = FormatReclaimer::Status;

TEST(CameraWatch, AnUnpluggedCameraPausesOnceAndResumesWhenListedAgain)
{
    CameraWatch watch;
    const std::vector<std::string> both { "Desk Cam", "Integrated" };
    const std::vector<std::string> builtInOnly { "Integrated" };
    EXPECT_EQ(watch.update(both, "Desk Cam", "Desk Cam"), Action::none);
    EXPECT_EQ(watch.update(builtInOnly, "Desk Cam", "Desk Cam"), Action::pause);
    EXPECT_EQ(watch.update(builtInOnly, "Desk Cam", std::nullopt), Action::none);
    EXPECT_EQ(watch.update(both, "Desk Cam", std::nullopt), Action::resume);
    EXPECT_FALSE(watch.missing());
    // Automatic choice watches the camera in use; nothing is watched while none is open.
    EXPECT_EQ(watch.update({}, "", std::nullopt), Action::none);
    EXPECT_EQ(watch.update(builtInOnly, "", "Desk Cam"), Action::pause);
    EXPECT_EQ(watch.missingName(), "Desk Cam");
}

TEST(CameraChoice, PicksTheNamedCameraOrTheBuiltInOneForAutomatic)
{
    const std::vector<CameraChoice::Camera> cameras { { "USB Cam", false }, { "Integrated", true } };
    EXPECT_EQ(CameraChoice::pick(cameras, ""), cameras[1]);
    EXPECT_EQ(CameraChoice::pick(cameras, "USB Cam"), cameras[0]);
    EXPECT_EQ(CameraChoice::pick(cameras, "Gone Cam"), std::nullopt); // no fallback to another camera
    EXPECT_EQ(CameraChoice::pick({ cameras[0] }, ""), cameras[0]);
    EXPECT_EQ(CameraChoice::pick({}, ""), std::nullopt);
    EXPECT_TRUE(CameraChoice::showsPicker(cameras));
    EXPECT_FALSE(CameraChoice::showsPicker({ cameras[0] }));
}

TEST(FormatReclaimer, TriesTwiceTenSecondsApartThenGivesUp)
{
    FormatReclaimer reclaimer;
    EXPECT_FALSE(reclaimer.update(4.0 / 3, 0));
    EXPECT_EQ(reclaimer.status, Status::waiting);
    EXPECT_FALSE(reclaimer.update(4.0 / 3, 4));
    EXPECT_TRUE(reclaimer.update(4.0 / 3, 5));
    EXPECT_FALSE(reclaimer.update(4.0 / 3, 14.9));
    EXPECT_TRUE(reclaimer.update(4.0 / 3, 15));
    EXPECT_FALSE(reclaimer.update(4.0 / 3, 24.9));
    EXPECT_EQ(reclaimer.status, Status::waiting);
    EXPECT_FALSE(reclaimer.update(4.0 / 3, 25));
    EXPECT_EQ(reclaimer.status, Status::gaveUp);
    EXPECT_FALSE(reclaimer.update(4.0 / 3, 100));
    // A frame size without height says nothing: the state is kept.
    EXPECT_FALSE(reclaimer.update(std::nan(""), 101));
    EXPECT_EQ(reclaimer.status, Status::gaveUp);
}

TEST(FormatReclaimer, ASwitchAwaySoonAfterARecoveryGivesUpAtOnce)
{
    FormatReclaimer reclaimer;
    reclaimer.update(4.0 / 3, 0);
    reclaimer.update(4.0 / 3, 5);
    reclaimer.update(4.0 / 3, 15);
    EXPECT_FALSE(reclaimer.update(1366.0 / 768, 16)); // within 0.01 of 16:9
    EXPECT_EQ(reclaimer.status, Status::recovered);
    EXPECT_FALSE(reclaimer.update(4.0 / 3, 40));
    EXPECT_EQ(reclaimer.status, Status::gaveUp);
    reclaimer.reset();
    EXPECT_EQ(reclaimer, FormatReclaimer {});
}
