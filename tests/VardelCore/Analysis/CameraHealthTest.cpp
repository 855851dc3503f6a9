#include "CameraChoice.h"
#include "CameraWatch.h"
#include "Captions.h"
#include "CoverCheck.h"
#include "FormatReclaimer.h"
#include "HealthMonitor.h"
#include "L.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vardel;
using Report = HealthMonitor::Report;

namespace {

constexpr int kWidth = 96;
constexpr double kStart = 1'700'000'000.0;

// A 96 × 54 thumbnail with every pixel from `value(column, row)`.
CoverCheck::Stats stats(int (*value)(int column, int row))
{
    std::vector<std::uint8_t> luma(kWidth * 54);
    for (std::size_t i = 0; i < luma.size(); ++i)
        luma[i]
            = static_cast<std::uint8_t>(value(static_cast<int>(i) % kWidth, static_cast<int>(i) / kWidth));
    return CoverCheck::stats(luma, kWidth);
}

std::string noImageSince(double at)
{
    return "No camera image since " + Captions::hourMinute(at, AppLanguage::en)
        + " (camera access denied or camera busy?)";
}

} // namespace

TEST(CoverCheck, DarkOrFlatWithoutTextureLooksCoveredAndTheTrackerDebouncesOneSecondOnHalfASecondOff)
{
    const std::tuple<const char*, int (*)(int column, int row), CoverCheck::Stats, bool> rows[] = {
        { "black", [](int, int) { return 0; }, { 0, 0, 0 }, true },
        { "flatGrey", [](int, int) { return 128; }, { 128, 0, 0 }, true },
        { "texturedScene", [](int c, int) { return c % 2 ? 140 : 60; }, { 100, 40, 80 }, false },
        // A covered lens still shows sensor noise: dark is enough, whatever the detail.
        { "darkWithNoise", [](int c, int) { return c % 2 ? 15 : 5; }, { 10, 5, 10 }, true },
        { "dimWithNoise", [](int c, int) { return c % 2 ? 23 : 13; }, { 18, 5, 10 }, false },
        // The jump from one row to the next is not detail; a wide spread alone is not a scene.
        { "flatRows", [](int, int r) { return r % 2 ? 255 : 0; }, { 127.5, 127.5, 0 }, false },
        { "faintTexture", [](int c, int) { return c % 2 ? 101 : 99; }, { 100, 1, 2 }, false },
    };
    for (const auto& [name, value, expected, covered] : rows) {
        EXPECT_EQ(stats(value), expected) << name;
        EXPECT_EQ(CoverCheck::looksCovered(expected), covered) << name;
    }
    EXPECT_EQ(CoverCheck::stats({}, kWidth), CoverCheck::Stats {});
    EXPECT_EQ(CoverCheck::stats(std::vector<std::uint8_t>(54, 9), 1), CoverCheck::Stats {});

    CoverCheck::Tracker tracker;
    const std::tuple<bool, double, bool> steps[] = { { true, 10.0, false }, { true, 10.9, false },
        { false, 11.0, false }, // a brief cover never counts and restarts the debounce
        { true, 11.5, false }, { true, 12.4, false }, { true, 12.5, true }, { false, 13.0, true },
        { false, 13.4, true }, { false, 13.5, false } };
    for (auto [covered, at, expected] : steps)
        EXPECT_EQ(tracker.observe(covered, at), expected) << at;
}

// Fresh means a frame newer than the (re)start and younger than three seconds.
TEST(HealthMonitor, StallsAndInterruptionsAreReportedOnceAndClearedByTheNextFrame)
{
    L::setLanguage(AppLanguage::en);
    HealthMonitor monitor(15.0);
    EXPECT_EQ(monitor.check(kStart), Report {}); // not started
    monitor.cameraDidStart(kStart);
    EXPECT_EQ(monitor.check(kStart + 15.0), Report {});
    EXPECT_EQ(monitor.check(kStart + 15.1), (Report { noImageSince(kStart), true, true }));
    EXPECT_EQ(monitor.check(kStart + 16), (Report { noImageSince(kStart), true, false }));
    // Reopened: the failure stays shown, without restart, until a frame arrives.
    monitor.cameraDidStart(kStart + 16);
    EXPECT_EQ(monitor.check(kStart + 17), (Report { noImageSince(kStart), false, false }));
    EXPECT_FALSE(monitor.isFresh(kStart + 17));
    EXPECT_TRUE(monitor.frameArrived(kStart + 18));
    EXPECT_FALSE(monitor.frameArrived(kStart + 18.5));
    EXPECT_EQ(monitor.check(kStart + 19), Report {});
    EXPECT_TRUE(monitor.isFresh(kStart + 21.25));
    EXPECT_FALSE(monitor.isFresh(kStart + 21.5));
    // A later stall dates from the last frame.
    EXPECT_TRUE(monitor.check(kStart + 34).newlyFailed);
    EXPECT_EQ(monitor.currentStallText(), noImageSince(kStart + 18.5));
    monitor.frameArrived(kStart + 35);
    monitor.cameraDidStart(kStart + 35.25);
    EXPECT_FALSE(monitor.isFresh(kStart + 35.5));

    // An interruption fails at once and asks for a restart only after fifteen seconds.
    monitor = HealthMonitor(15.0);
    monitor.cameraDidStart(kStart);
    monitor.frameArrived(kStart + 1);
    monitor.interruptionBegan(kStart + 2);
    monitor.interruptionBegan(kStart + 5); // a repeated notice keeps the first time
    const std::string text
        = "Camera interrupted by another app since " + Captions::hourMinute(kStart + 2, AppLanguage::en);
    EXPECT_EQ(monitor.check(kStart + 12), (Report { text, false, true }));
    EXPECT_EQ(monitor.check(kStart + 17), (Report { text, false, false })); // exactly 15 s
    EXPECT_EQ(monitor.check(kStart + 17.01), (Report { text, true, false }));
    // When it ends the stall clock restarts there.
    monitor.interruptionEnded(kStart + 20);
    EXPECT_EQ(monitor.check(kStart + 30), (Report { noImageSince(kStart + 2), false, false }));
    EXPECT_TRUE(monitor.check(kStart + 35.5).shouldRestart);
    monitor.cameraDidStop();
    EXPECT_EQ(monitor.check(kStart + 100), Report {});
}

TEST(CameraWatch, AnUnpluggedCameraPausesOnceTheBuiltInOneIsPickedAndTheFormatIsReclaimedTwice)
{
    using Action = CameraWatch::Action;
    CameraWatch watch;
    const std::vector<std::string> both { "Desk Cam", "Integrated" }, builtInOnly { "Integrated" };
    EXPECT_EQ(watch.update(both, "Desk Cam", "Desk Cam"), Action::none);
    EXPECT_EQ(watch.update(builtInOnly, "Desk Cam", "Desk Cam"), Action::pause);
    EXPECT_EQ(watch.update(builtInOnly, "Desk Cam", std::nullopt), Action::none);
    EXPECT_EQ(watch.update(both, "Desk Cam", std::nullopt), Action::resume);
    // Automatic choice watches the camera in use; nothing is watched while none is open.
    EXPECT_EQ(watch.update({}, "", std::nullopt), Action::none);
    EXPECT_EQ(watch.update(builtInOnly, "", "Desk Cam"), Action::pause);
    EXPECT_EQ(watch.missingName(), "Desk Cam");

    // The named camera, or the built-in one for the automatic choice.
    const std::vector<CameraChoice::Camera> cameras { { "USB Cam", false }, { "Integrated", true } };
    EXPECT_EQ(CameraChoice::pick(cameras, ""), cameras[1]);
    EXPECT_EQ(CameraChoice::pick(cameras, "USB Cam"), cameras[0]);
    EXPECT_EQ(CameraChoice::pick(cameras, "Gone Cam"), std::nullopt); // no fallback to another camera
    EXPECT_EQ(CameraChoice::pick({ cameras[0] }, ""), cameras[0]);
    EXPECT_EQ(CameraChoice::pick({}, ""), std::nullopt);
    EXPECT_TRUE(CameraChoice::showsPicker(cameras));
    EXPECT_FALSE(CameraChoice::showsPicker({ cameras[0] }));

    // A lost 16:9 format is asked for twice ten seconds apart, then given up, and at once when lost again
    // soon after coming back.
    using Status = FormatReclaimer::Status;
    FormatReclaimer reclaimer;
    const std::tuple<double, double, bool, Status> steps[]
        = { { 4.0 / 3, 0, false, Status::waiting }, { 4.0 / 3, 4, false, Status::waiting },
              { 4.0 / 3, 5, true, Status::waiting }, { 4.0 / 3, 14.9, false, Status::waiting },
              { 4.0 / 3, 15, true, Status::waiting }, { 4.0 / 3, 24.9, false, Status::waiting },
              { 4.0 / 3, 25, false, Status::gaveUp }, { 4.0 / 3, 100, false, Status::gaveUp },
              { std::nan(""), 101, false, Status::gaveUp } }; // a size without height says nothing
    for (auto [aspect, at, attempt, status] : steps) {
        EXPECT_EQ(reclaimer.update(aspect, at), attempt) << at;
        EXPECT_EQ(reclaimer.status, status) << at;
    }
    reclaimer.reset();
    for (double at : { 0, 5, 15 })
        reclaimer.update(4.0 / 3, at);
    EXPECT_FALSE(reclaimer.update(1366.0 / 768, 16)); // within 0.01 of 16:9
    EXPECT_EQ(reclaimer.status, Status::recovered);
    EXPECT_FALSE(reclaimer.update(4.0 / 3, 40));
    EXPECT_EQ(reclaimer.status, Status::gaveUp);
}
