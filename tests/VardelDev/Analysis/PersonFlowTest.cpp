// Real footage through the analyzer with the shipped person detector, in person mode with a watched
// area: ffmpeg turns the street video into full-range 4:2:0 frames, each handed over with its own time
// (ten a second) once the analyzer is done with the one before.
#include "Analyzer.h"

#include "ManualMainExecutor.h"
#include "OutboxFolder.h"
#include "Settings.h"
#include "Thumbnail.h"
#include "VisionPersonDetector.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace vardel;

namespace {

const std::filesystem::path kStreet = "/usr/share/doc/opencv-doc/examples/data/vtest.avi";
// The middle 16:9 band of the street footage, so that the watched area maps onto it unchanged.
const std::string kBand = "crop=768:432:0:72";
// The grass at the bottom middle of the band, where two people walk in from the right.
const ROI kGrass { 150.0 / 768, 258.0 / 432, 350.0 / 768, 174.0 / 432 };
constexpr double kStart = 1'000'000.0;

bool run(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()) == 0; }

class PersonFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists(kStreet) || !run("ffmpeg -version >/dev/null"))
            GTEST_SKIP() << "needs opencv-doc's vtest.avi and the ffmpeg tool";
    }

    // Plays the 768 x 432 frames ffmpeg makes of `input` until the first event (the cool-down allows
    // no second one within a clip) or the end; returns the event and its time after the first frame.
    static std::optional<std::pair<double, EventKind>> watch(const std::string& input)
    {
        test::ManualMainExecutor main;
        Analyzer analyzer(main, std::make_unique<VisionPersonDetector>(VisionPersonDetector::findModels({})));
        Settings settings;
        settings.detectionMode = DetectionMode::person;
        settings.roi = kGrass;
        analyzer.apply(settings);
        analyzer.setArmedSince(kStart - 100);
        int outputs = 0;
        std::optional<std::pair<double, EventKind>> event;
        analyzer.setOnOutput([&](const Analyzer::Output& output) {
            ++outputs;
            if (output.kind && !event)
                event.emplace(output.now - kStart, *output.kind);
        });
        const std::string command
            = "ffmpeg -nostdin -v error " + input + " -f rawvideo -pix_fmt yuvj420p - 2>/dev/null";
        const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        Thumbnail thumbnail;
        std::vector<std::uint8_t> luma;
        for (int i = 0; pipe && !event; ++i) {
            auto buffer = std::make_shared<FrameBuffer>(768, 432, PixelFormat::i420);
            for (int p = 0; p < 3; ++p)
                for (int row = 0; row < buffer->planeHeight(p); ++row) {
                    const auto width = static_cast<std::size_t>(buffer->planeWidth(p));
                    if (std::fread(buffer->data(p) + row * buffer->stride(p), 1, width, pipe.get()) != width)
                        return event;
                }
            const Frame frame(buffer, kStart + i * 0.1);
            EXPECT_TRUE(thumbnail.make(frame, luma));
            EXPECT_TRUE(analyzer.submit(luma, frame, frame.time()));
            EXPECT_TRUE(main.waitFor([&] { return outputs > i; }));
        }
        return event;
    }

    test::OutboxFolder data;
};

} // namespace

TEST_F(PersonFlow, PeopleWalkingIntoTheAreaAreConfirmedQuickly)
{
    // Frames 480-540: the grass is empty until two people step in from the right at about frame 522.
    const auto event = watch("-ss 48 -t 6 -i '" + kStreet.string() + "' -vf " + kBand);
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
    const std::filesystem::path still = data.root() / "street.png";
    ASSERT_TRUE(run("ffmpeg -nostdin -v error -y -i '" + kStreet.string() + "' -vf \"" + kBand
        + ",select='not(mod(n\\,20))',tmedian=radius=19\" -fps_mode vfr -frames:v 1 -update 1 '"
        + still.string() + "'"));
    // The box is big enough to raise the lasting-motion alert, which the detector must not upgrade.
    const auto event = watch("-loop 1 -framerate 10 -t 8 -i '" + still.string()
        + "' -f lavfi -i color=c=0xe0d040:s=120x100:r=10 -filter_complex "
          "\"[0][1]overlay=x='if(lt(t,3.5),-200,160+abs(mod(240*(t-3.5),460)-230))':y=300:shortest=1\"");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->second, EventKind::unconfirmedMotion) << "at " << event->first << " s";
}
