#include "FramePipeline.h"

#include "SyntheticThumbnails.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace vardel;
using namespace vardel::test;

namespace {

// Offsets below are binary fractions, so that every time difference is exact.
constexpr double kStart = 1'000'000.0;

class FramePipelineTest : public ::testing::Test {
protected:
    FramePipeline::Result frame(
        const std::vector<std::uint8_t>& luma, double offset, int width = 1280, int height = 720)
    {
        return pipeline.process(
            luma, width, height, kStart + offset, armedSince, [this] { return ++peopleCalls, boxes; });
    }

    // A fresh pipeline in `mode`, then four still frames one second apart: quiet for 2 s after 3 s, so
    // settling ends on the last one.
    void settle(DetectionMode mode)
    {
        pipeline = FramePipeline(ROI::full(), EventPolicy(), 25);
        pipeline.setMode(mode);
        peopleCalls = 0;
        for (int second = 0; second <= 3; ++second)
            frame(flatThumbnail(100), second);
        ASSERT_FALSE(pipeline.isSettling());
    }

    // In person mode: two moving frames build the streak; the third opens the candidate.
    FramePipeline::Result openCandidate()
    {
        settle(DetectionMode::person);
        frame(bandThumbnail(0), 3.25);
        frame(bandThumbnail(1), 3.5);
        return frame(bandThumbnail(2), kOpen);
    }

    static constexpr double kOpen = 3.75;
    FramePipeline pipeline { ROI::full(), EventPolicy(), 25 };
    std::optional<double> armedSince = kStart - 100; // warm-up long over
    std::vector<PersonBox> boxes;
    int peopleCalls = 0;
};

} // namespace

TEST_F(FramePipelineTest, SettlingEndsAfterThreeSecondsWithAQuietSecondOrAfterTenOrAFormatChange)
{
    // Frames (1/8 s apart) alternating dark and bright before the picture holds; when settling ends.
    const std::tuple<const char*, int, double> rows[] = { { "steady", 0, 3.0 },
        // Still from 3.125, but that frame still differs from the last moving one: quiet from 3.25.
        { "movingForThreeSeconds", 25, 4.25 }, { "movingThroughout", 1000, 10.0 } };
    for (const auto& [name, movingEighths, endsAt] : rows) {
        pipeline = FramePipeline(ROI::full(), EventPolicy(), 25);
        pipeline.setMode(DetectionMode::motion);
        const int lastEighth = static_cast<int>(endsAt * 8);
        for (int eighth = 0; eighth <= lastEighth; ++eighth) {
            const bool moving = eighth < movingEighths;
            const auto result = frame(flatThumbnail(moving ? (eighth % 2 ? 50 : 200) : 100), eighth / 8.0);
            // The first frame seeds; after it each level compares two consecutive frames.
            if (eighth == 0 || moving) {
                ASSERT_EQ(result.level, eighth == 0 ? std::nullopt : std::optional(1.0)) << name << eighth;
            }
            ASSERT_FALSE(result.event() || result.formatChanged) << name << eighth;
            ASSERT_EQ(pipeline.isSettling(), eighth < lastEighth) << name << eighth;
        }
        EXPECT_EQ(pipeline.policy().suppressedUntil, EventPolicy::kNever) << name;
    }

    // A format change restarts settling and maps the area for the new aspect.
    const auto changed = frame(flatThumbnail(100), 11, 640, 480);
    EXPECT_TRUE(changed.formatChanged);
    EXPECT_FALSE(changed.level.has_value());
    EXPECT_TRUE(pipeline.isSettling());
    EXPECT_EQ(pipeline.currentROI(), (ROI { 0, 0.125, 1, 0.75 }));
    EXPECT_EQ(pipeline.detector().roi(), pipeline.currentROI());
    // Movement right after the change raises nothing while the picture settles.
    for (int i = 1; i <= 5; ++i)
        EXPECT_FALSE(frame(bandThumbnail(i), 11 + i * 0.1, 640, 480).event());
    EXPECT_FALSE(frame(flatThumbnail(100), 12, 640, 480).formatChanged);
}

// A thumbnail of the wrong size or a frame without pixels changes nothing; then motion mode raises on
// the third moving frame and never asks for people.
TEST_F(FramePipelineTest, RejectsBadFramesAndMotionModeRaisesOnTheThirdMovingFrame)
{
    boxes = { { 0.4, 0.4, 0.2, 0.2, 0.9, false } };
    settle(DetectionMode::motion);
    frame(flatThumbnail(100), 3.5);
    const auto guard = pipeline.format();
    const auto policy = pipeline.policy();
    EXPECT_THROW(frame(std::vector<std::uint8_t>(5183, 0), 4, 640, 480), std::invalid_argument);
    EXPECT_THROW(frame(flatThumbnail(100), 4, 0, 480), std::invalid_argument);
    EXPECT_EQ(pipeline.format(), guard);
    EXPECT_EQ(pipeline.policy(), policy);
    EXPECT_FALSE(pipeline.isSettling());
    EXPECT_EQ(frame(flatThumbnail(100), 4.1).level, 0.0) << "measured against the same background";

    EXPECT_FALSE(frame(bandThumbnail(0), 4.2).event());
    EXPECT_FALSE(frame(bandThumbnail(1), 4.3).event());
    const auto third = frame(bandThumbnail(2), 4.4);
    EXPECT_EQ(third.kind, EventKind::motion);
    EXPECT_TRUE(third.people.empty());
    EXPECT_EQ(peopleCalls, 0);
}

TEST_F(FramePipelineTest, APersonInTheAreaIsConfirmedOnTheFrameThatOpensTheCandidate)
{
    const PersonBox person { 0.4, 0.3, 0.2, 0.3, 0.6, false };
    boxes = { { 0.4, 0.3, 0.2, 0.3, 0.49, false }, person };
    const auto result = openCandidate();
    EXPECT_EQ(result.kind, EventKind::person);
    EXPECT_EQ(result.people, std::vector<PersonBox> { person });
    EXPECT_EQ(peopleCalls, 1);
    EXPECT_FALSE(pipeline.gate().isOpen());
    EXPECT_EQ(pipeline.policy().lastEvent, kStart + kOpen);
}

TEST_F(FramePipelineTest, WithoutAPersonTheShareOfLastingChangeDecides)
{
    // Gate frames (of 10, the opening one included) with a moving band; whether the others brighten the
    // whole picture instead of holding still (light changes it all alike: no lasting motion).
    const std::tuple<const char*, int, bool, std::optional<EventKind>> rows[]
        = { { "sevenOfTen", 7, false, EventKind::unconfirmedMotion }, { "sixOfTen", 6, false, std::nullopt },
              { "oneOfTenThenLightsComingUp", 1, true, std::nullopt } };
    for (const auto& [name, persistent, lightsComingUp, kind] : rows) {
        ASSERT_FALSE(openCandidate().event()) << name;
        // Gate frames 2 to 10, 7/32 s apart, each consulting the detector; the tenth ends the window.
        FramePipeline::Result last;
        for (int gateFrame = 2; gateFrame <= 10; ++gateFrame) {
            const double offset = kOpen + (gateFrame < 10 ? (gateFrame - 1) * 0.21875 : 2.0);
            const auto luma = gateFrame <= persistent
                ? bandThumbnail(gateFrame + 2)
                : flatThumbnail(lightsComingUp ? std::min(250, 100 + 30 * gateFrame) : 100);
            last = frame(luma, offset);
            ASSERT_TRUE(gateFrame == 10 || !last.event()) << name << gateFrame;
        }
        EXPECT_EQ(last.kind, kind) << name;
        EXPECT_EQ(pipeline.discardedCandidates(), kind ? 0 : 1) << name;
        EXPECT_FALSE(pipeline.gate().isOpen());
        EXPECT_EQ(peopleCalls, 10) << name;
        EXPECT_EQ(pipeline.policy().hits, 0);
    }
}

TEST_F(FramePipelineTest, DisarmingOrChangingModeClosesTheCandidateButTheSameModeDoesNot)
{
    openCandidate();
    pipeline.setMode(DetectionMode::person);
    EXPECT_TRUE(pipeline.gate().isOpen());
    pipeline.setMode(DetectionMode::motion);
    EXPECT_FALSE(pipeline.gate().isOpen());
    EXPECT_EQ(pipeline.policy().hits, 0);

    pipeline.setMode(DetectionMode::person);
    for (int i = 0; i < 3; ++i)
        frame(bandThumbnail(5 + i), 70.0 + i * 0.25);
    ASSERT_TRUE(pipeline.gate().isOpen());
    const int calls = peopleCalls;
    armedSince.reset();
    EXPECT_FALSE(frame(bandThumbnail(8), 70.75).event());
    EXPECT_FALSE(pipeline.gate().isOpen());
    EXPECT_EQ(peopleCalls, calls);
}
