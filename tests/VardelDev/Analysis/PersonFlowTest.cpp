// Real footage through the real chain: a video file played by FileCameraSource, the capture service's
// thumbnails, the analyzer with the shipped person detector, in person mode with a watched area.
#include "Analyzer.h"

#include "CaptureService.h"
#include "Clock.h"
#include "FileCameraSource.h"
#include "ManualMainExecutor.h"
#include "OutboxFolder.h"
#include "Settings.h"
#include "VisionPersonDetector.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace vardel;

namespace {

namespace fs = std::filesystem;

const fs::path kStreet = "/usr/share/doc/opencv-doc/examples/data/vtest.avi";
// The middle 16:9 band of the street footage, so that the watched area maps onto it unchanged.
const std::string kBand = "crop=768:432:0:72";
// The grass at the bottom middle of the band, where two people walk in from the right.
const ROI kGrass { 150.0 / 768, 258.0 / 432, 350.0 / 768, 174.0 / 432 };

bool run(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()) == 0; }

class PersonFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(kStreet) || !run("ffmpeg -version >/dev/null"))
            GTEST_SKIP() << "needs opencv-doc's vtest.avi and the ffmpeg tool";
    }

    // Plays `clip` with the area watched until the first event (the cool-down allows no second one within
    // a clip) or `seconds` after the first frame; returns the event, its time relative to the first frame.
    std::optional<std::pair<double, EventKind>> watch(const fs::path& clip, double seconds)
    {
        test::ManualMainExecutor main;
        SystemClock clock;
        Analyzer analyzer(main, std::make_unique<VisionPersonDetector>(VisionPersonDetector::findModels({})));
        Settings settings;
        settings.detectionMode = DetectionMode::person;
        settings.roi = kGrass;
        analyzer.apply(settings);
        analyzer.setArmedSince(clock.now() - 100);
        std::optional<double> first;
        std::optional<std::pair<double, EventKind>> event;
        analyzer.setOnOutput([&](const Analyzer::Output& output) {
            first = first.value_or(output.now);
            if (output.kind && !event)
                event.emplace(output.now - *first, *output.kind);
        });
        CaptureService capture(std::make_unique<FileCameraSource>(clip.string()), main, clock, [](const std::string&) {});
        capture.onFrame = [&](const std::vector<std::uint8_t>& luma, const Frame& frame, double time) {
            analyzer.submit(luma, frame, time);
        };
        capture.startCamera();
        main.waitFor([&] { return event || (first && clock.now() - *first >= seconds); }, 30);
        capture.stopCamera();
        capture.waitUntilIdle();
        main.drain();
        return event;
    }

    test::OutboxFolder data;
    fs::path folder = data.root();
};

} // namespace

TEST_F(PersonFlow, PeopleWalkingIntoTheAreaAreConfirmedQuickly)
{
    // Frames 480-540: the grass is empty until two people step in from the right at about frame 522.
    const fs::path clip = folder / "walkers.avi";
    ASSERT_TRUE(run("ffmpeg -nostdin -v error -y -ss 48 -t 6 -i '" + kStreet.string() + "' -vf " + kBand
        + " -c:v mpeg4 -q:v 3 '" + clip.string() + "'"));
    const auto event = watch(clip, 5.9);
    ASSERT_TRUE(event) << "no alert";
    EXPECT_EQ(event->second, EventKind::person);
    std::cout << "first alert " << event->first << " s into the clip\n";
    EXPECT_GT(event->first, 3.5); // nobody before they arrive
    EXPECT_LT(event->first, 4.2 + 1.5);
}

TEST_F(PersonFlow, AThingMovingThroughTheEmptyStreetIsNoPerson)
{
    // The street's median (no walkers) as a still, with a yellow box sliding to and fro on the grass once
    // the picture has settled (3.5 s).
    const fs::path still = folder / "street.png";
    const fs::path clip = folder / "box.avi";
    ASSERT_TRUE(run("ffmpeg -nostdin -v error -y -i '" + kStreet.string() + "' -vf \"" + kBand
        + ",select='not(mod(n\\,20))',tmedian=radius=19\" -fps_mode vfr -frames:v 1 -update 1 '" + still.string()
        + "'"));
    ASSERT_TRUE(run("ffmpeg -nostdin -v error -y -loop 1 -i '" + still.string()
        + "' -f lavfi -i color=c=0xe0d040:s=120x100 -filter_complex \"[0][1]overlay=x='if(lt(t,3.5),-200,160+abs(mod(240*(t-3.5),460)-230))':y=300\" -t 8 -r 10"
          " -c:v mpeg4 -q:v 3 '"
        + clip.string() + "'"));
    // The box is big enough to raise the lasting-motion alert, which the detector must not upgrade.
    const auto event = watch(clip, 7.5);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->second, EventKind::unconfirmedMotion) << "at " << event->first << " s";
}
