#include "Analyzer.h"

#include "ManualMainExecutor.h"
#include "Settings.h"
#include "SyntheticThumbnails.h"
#include "YuvFrame.h"

#include <QImage>
#include <gtest/gtest.h>

#include <semaphore>

using namespace vardel;
using namespace vardel::test;

namespace {

constexpr double kStart = 1'000'000.0;

// Returns the boxes it is given; can hold the analysis queue inside a call until the test releases it.
class FakeDetector final : public PersonDetecting {
public:
    std::vector<PersonBox> people(const Frame&, const Focus&) override
    {
        if (holding) {
            entered.release();
            release.acquire();
        }
        return boxes;
    }
    std::vector<PersonBox> boxes;
    std::atomic<bool> holding { false };
    std::binary_semaphore entered { 0 }, release { 0 };
};

Frame greyFrame(int width, int height, double time)
{
    return yuvFrame(
        width, height, PixelFormat::i420, [](int, int) { return 128; },
        [](int, int) { return std::pair(128, 128); }, time);
}

struct Harness {
    Harness()
    {
        auto fake = std::make_unique<FakeDetector>();
        detector = fake.get();
        analyzer = std::make_unique<Analyzer>(executor, std::move(fake));
        analyzer->setOnOutput([this](const Analyzer::Output& output) { outputs.push_back(output); });
        analyzer->setOnPhoto([this](double time, const std::optional<QByteArray>& jpeg) {
            photos.emplace_back(time, jpeg ? QImage::fromData(*jpeg, "JPEG") : QImage());
        });
    }

    // Settings, arming (warm-up long over) and settled still frames from 0 to 3 s.
    void start(
        DetectionMode mode, int sensitivity = Settings {}.sensitivity, int width = 1280, int height = 720)
    {
        Settings settings;
        settings.detectionMode = mode;
        settings.sensitivity = sensitivity;
        analyzer->apply(settings);
        analyzer->setArmedSince(kStart - 100);
        for (int second = 0; second <= 3; ++second)
            feed(flatThumbnail(100), second, width, height);
    }

    // Submits one frame and waits for its output.
    const Analyzer::Output& feed(
        const std::vector<std::uint8_t>& luma, double offset, int width = 1280, int height = 720)
    {
        const std::size_t before = outputs.size();
        EXPECT_TRUE(analyzer->submit(luma, greyFrame(width, height, kStart + offset), kStart + offset));
        EXPECT_TRUE(executor.waitFor([&] { return outputs.size() > before; }));
        return outputs.back();
    }

    ManualMainExecutor executor;
    FakeDetector* detector = nullptr;
    std::unique_ptr<Analyzer> analyzer;
    std::vector<Analyzer::Output> outputs;
    std::vector<std::pair<double, QImage>> photos;
};

class AnalyzerTest : public ::testing::Test, public Harness { };

} // namespace

// A frame submitted while one is in work is dropped without output; motion without a person gives an
// undimmed photo, a person a dimmed one; disarmed, outputs keep coming but nothing is detected.
TEST_F(AnalyzerTest, DropsFramesWhileBusyAndPhotographsEachKindOfEvent)
{
    start(DetectionMode::person);
    feed(bandThumbnail(0), 3.25);
    feed(bandThumbnail(1), 3.5);
    // The third moving frame opens a candidate; the detector holds the analysis queue.
    detector->holding = true;
    const std::size_t before = outputs.size();
    ASSERT_TRUE(analyzer->submit(bandThumbnail(2), greyFrame(1280, 720, kStart + 3.75), kStart + 3.75));
    detector->entered.acquire();
    EXPECT_FALSE(analyzer->submit(bandThumbnail(3), greyFrame(1280, 720, kStart + 3.85), kStart + 3.85));
    detector->holding = false;
    detector->release.release();
    ASSERT_TRUE(executor.waitFor([&] { return outputs.size() > before; }));
    EXPECT_EQ(outputs.back().visionChecks, 1);
    // Movement throughout the two-second window and no person; nothing arrived for the dropped frame.
    std::optional<EventKind> kind;
    for (int i = 1; i <= 8 && !kind; ++i)
        kind = feed(bandThumbnail(i + 2), 3.75 + i * 0.25).kind;
    EXPECT_EQ(outputs[before].now, kStart + 3.75);
    EXPECT_EQ(outputs[before + 1].now, kStart + 4.0);
    ASSERT_EQ(kind, EventKind::unconfirmedMotion);
    ASSERT_TRUE(executor.waitFor([&] { return !photos.empty(); }));
    // Grey 128 stays grey 128 away from the stamp: no box, so no dimming.
    EXPECT_NEAR(qGray(photos[0].second.pixel(20, 20)), 128, 6);

    // After the cool-down, a person on the right side.
    detector->boxes = { { 0.6, 0.2, 0.2, 0.5, 0.9, false } };
    feed(bandThumbnail(0), 70.0);
    feed(bandThumbnail(1), 70.25);
    const auto person = feed(bandThumbnail(2), 70.5);
    ASSERT_EQ(person.kind, EventKind::person);
    EXPECT_EQ(person.people, detector->boxes);
    ASSERT_TRUE(executor.waitFor([&] { return photos.size() >= 2; }));
    EXPECT_LT(qGray(photos[1].second.pixel(20, 20)), 100);
    EXPECT_NEAR(qGray(photos[1].second.pixel(900, 300)), 128, 6);

    // Disarmed, outputs keep coming but nothing is detected.
    analyzer->setArmedSince(std::nullopt);
    for (int i = 0; i < 20; ++i) {
        const auto output = feed(bandThumbnail(i), 140 + i * 0.25);
        EXPECT_TRUE(output.level.has_value());
        EXPECT_FALSE(output.kind.has_value());
        EXPECT_EQ(output.visionChecks, person.visionChecks);
    }
    executor.drain();
    EXPECT_EQ(photos.size(), 2u);
}

// A small block hopping between two places changes 1.2-2.5 % of the picture per frame: an event at
// sensitivity 10 (1 % needed), none at the default 6 (5 %) or at 1 (10 %).
TEST_F(AnalyzerTest, AppliedSensitivityReachesTheEventPolicy)
{
    start(DetectionMode::motion, 1);
    const auto hop = [](int i) { return blockThumbnail(100, 250, i % 2 ? 60 : 10, 20, i % 2 ? 68 : 18, 28); };
    for (int i = 0; i < 8; ++i)
        EXPECT_FALSE(feed(hop(i), 8 + i * 0.25).kind.has_value()) << i;
    Settings settings;
    settings.detectionMode = DetectionMode::motion;
    settings.sensitivity = 10;
    analyzer->apply(settings);
    std::optional<EventKind> kind;
    for (int i = 0; i < 8 && !kind; ++i)
        kind = feed(hop(i), 10 + i * 0.25).kind;
    EXPECT_EQ(kind, EventKind::motion);
}

// Bad frames are refused; the output carries the frame's size, format, area and cover flag; once the
// analyzer is gone nothing more is delivered.
TEST_F(AnalyzerTest, RefusesBadFramesOutputsFrameSizeAreaAndCoverFlagAndNothingOnceGone)
{
    EXPECT_FALSE(analyzer->submit(std::vector<std::uint8_t>(100, 0), greyFrame(64, 36, kStart), kStart));
    EXPECT_FALSE(analyzer->submit(flatThumbnail(0), Frame(), kStart));
    Settings settings;
    settings.roi = { 0.25, 0.25, 0.5, 0.5 };
    analyzer->apply(settings);
    const auto first = feed(flatThumbnail(5), 0, 1280, 720);
    EXPECT_FALSE(first.formatChanged);
    EXPECT_TRUE(first.looksCovered);
    EXPECT_EQ(first.currentROI, settings.roi);

    const auto changed = feed(bandThumbnail(3), 1, 640, 480);
    EXPECT_TRUE(changed.formatChanged);
    EXPECT_EQ(std::pair(changed.width, changed.height), std::pair(640, 480));
    EXPECT_DOUBLE_EQ(changed.aspect, 4.0 / 3.0);
    EXPECT_DOUBLE_EQ(changed.currentROI.y, 0.25 * 0.75 + 0.125);
    EXPECT_FALSE(changed.looksCovered);

    for (int i = 2; i < 7; ++i)
        analyzer->submit(flatThumbnail(100), greyFrame(320, 180, kStart + i), kStart + i);
    analyzer.reset();
    executor.drain();
    EXPECT_EQ(outputs.size(), 2u);
}

// The whole thumbnail changes: at extreme aspects the watched area maps onto a thin strip of it.
TEST(AnalyzerFrameSizes, OddAndExtremeSizesGoThroughToAPhoto)
{
    for (auto [width, height] : { std::pair(1, 1), { 4096, 2160 }, { 641, 359 }, { 3, 720 }, { 1279, 1 } }) {
        Harness run;
        run.start(DetectionMode::motion, 6, width, height);
        run.feed(flatThumbnail(200), 3.25, width, height);
        run.feed(flatThumbnail(30), 3.5, width, height);
        EXPECT_EQ(run.feed(flatThumbnail(200), 3.75, width, height).kind, EventKind::motion) << width;
        EXPECT_FALSE(run.feed(flatThumbnail(30), 4.0, width, height).kind.has_value()); // cool-down
        ASSERT_TRUE(run.executor.waitFor([&] { return !run.photos.empty(); }));
        run.executor.drain();
        ASSERT_EQ(run.photos.size(), 1u);
        EXPECT_EQ(run.photos[0].first, kStart + 3.75);
        EXPECT_EQ(run.photos[0].second.size(), QSize(width, height));
    }
}

TEST(AnalyzerFocus, NarrowsTheSearchOnlyWhereThatHelps)
{
    const std::tuple<const char*, ROI, std::vector<std::uint8_t>, PersonDetecting::Focus> rows[] = {
        // A watched area is grown by a quarter on each side, inside the frame.
        { "watchedArea", { 0.1, 0.2, 0.3, 0.4 }, flatThumbnail(100), { 0.025, 0.1, 0.45, 0.6 } },
        { "areaAtTheCorner", { 0.8, 0.0, 0.2, 0.2 }, flatThumbnail(100), { 0.75, 0.0, 0.25, 0.25 } },
        // Grown to 0.9 x 0.9, more than half the frame: searching it all costs little more.
        { "largeWatchedArea", { 0.2, 0.2, 0.6, 0.6 }, flatThumbnail(100), { 0, 0, 1, 1 } },
        { "nothingChangedBeyondTheThreshold", ROI::full(), blockThumbnail(100, 125, 24, 18, 48, 36),
            { 0, 0, 1, 1 } },
        // Columns 24-47 and rows 18-35 changed: 0.25 x 1/3 of the frame, grown likewise.
        { "changedBlock", ROI::full(), blockThumbnail(100, 200, 24, 18, 48, 36),
            { 0.25 - 0.0625, 1.0 / 3 - 1.0 / 12, 0.375, 0.5 } },
        { "cornerBlock", ROI::full(), blockThumbnail(100, 0, 0, 0, 24, 27), { 0, 0, 0.3125, 0.625 } },
        { "mostlyChanged", ROI::full(), blockThumbnail(100, 200, 0, 0, 80, 50), { 0, 0, 1, 1 } },
    };
    for (const auto& [name, area, luma, expected] : rows) {
        const auto focus = Analyzer::focus(area, luma, flatThumbnail(100), 25);
        for (auto [got, wanted] : { std::pair { focus.x, expected.x }, { focus.y, expected.y },
                 { focus.w, expected.w }, { focus.h, expected.h } })
            EXPECT_NEAR(got, wanted, 1e-9) << name;
    }
}
