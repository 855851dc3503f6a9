#include "ClipRecorder.h"

#include "CameraPicture.h"
#include "CaptureService.h"
#include "EventFiles.h"
#include "Log.h"
#include "ManualMainExecutor.h"
#include "OutboxFolder.h"
#include "Paths.h"
#include "Thumbnail.h"
#include "YuvFrame.h"

#include <QImage>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace vardel;
namespace fs = std::filesystem;

namespace {

constexpr double kStart = 1'780'000'000.0;

// A grey picture with a bright bar whose position follows `index`, so frames differ like video.
Frame syntheticFrame(int width, int height, int index, double t, PixelFormat format = PixelFormat::i420)
{
    return test::yuvFrame(
        width, height, format,
        [&](int x, int) { return std::abs(x - (width / 3 + index * 37) % width) < width / 20 ? 230 : 110; },
        [](int, int) { return std::pair(128, 128); }, t);
}

// Pixels of the stamp capsule's amber (1.0, 0.702, 0.251) in the bottom right or top left quarter.
int amberPixels(const QImage& image, bool bottomRight = true)
{
    int count = 0;
    const int width = image.width() / 2, height = image.height() / 2;
    for (int y = bottomRight ? height : 0, top = y; y < top + height; ++y)
        for (int x = bottomRight ? width : 0, left = x; x < left + width; ++x) {
            const QRgb c = image.pixel(x, y);
            count += qRed(c) > 220 && qGreen(c) > 150 && qGreen(c) < 205 && qBlue(c) < 110;
        }
    return count;
}

struct Clip {
    std::optional<fs::path> url;
    double eventTime;
};

class ClipRecorderTest : public ::testing::Test {
protected:
    ClipRecorderTest() { m_paths.prepare(); }

    ClipRecorder& recorder(double pre = 1, double post = 1)
    {
        m_clips.clear();
        m_recorder = std::make_unique<ClipRecorder>(m_paths, m_log, m_main, pre, post, m_stampText);
        m_recorder->setOnClip([this](std::optional<fs::path> url, double at) {
            m_clips.push_back({ std::move(url), at });
            m_events.push_back("clip");
        });
        m_recorder->startRecording();
        return *m_recorder;
    }

    // Waits until the recorder has no clip open or finishing, after everything asked of it so far.
    void settle()
    {
        bool idle = false;
        m_recorder->whenIdle(1e9, [&] { idle = true; });
        ASSERT_TRUE(m_main.waitFor([&] { return idle; }, 60));
    }

    // 1280 × 720 frames at 10 per second from `from` to `to` seconds after kStart.
    void pushFrames(double from, double to)
    {
        for (int i = static_cast<int>(std::lround(from * 10)); i <= std::lround(to * 10); ++i)
            m_recorder->push(syntheticFrame(1280, 720, i, kStart + i / 10.0), kStart + i / 10.0);
    }

    std::string run(const std::string& command) const
    {
        std::system((command + " > '" + (m_dir.root() / "printed").string() + "'").c_str());
        return test::OutboxFolder::read(m_dir.root() / "printed");
    }

    nlohmann::json probe(const fs::path& file) const
    {
        return nlohmann::json::parse(
            run("ffprobe -v error -print_format json -show_format -show_streams -show_packets '"
                + file.string() + "'"),
            nullptr, false);
    }

    // Frame number `index` of a clip of `width` × `height` decoded by ffmpeg; a null image at any other size.
    QImage decodedFrame(const fs::path& file, int index, int width = 1280, int height = 720) const
    {
        const std::string rgb = run("ffmpeg -v error -i '" + file.string() + "' -vf 'select=eq(n\\,"
            + std::to_string(index) + ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
        if (rgb.size() != std::size_t(width) * height * 3)
            return {};
        return QImage(
            reinterpret_cast<const uchar*>(rgb.data()), width, height, width * 3, QImage::Format_RGB888)
            .copy();
    }

    bool tmpIsEmpty() const { return !fs::exists(m_paths.clipsTmp()) || fs::is_empty(m_paths.clipsTmp()); }

    test::OutboxFolder m_dir;
    Paths m_paths { m_dir.root() / "data" };
    Log m_log { m_paths.logs() };
    test::ManualMainExecutor m_main;
    ClipRecorder::StampText m_stampText = [](double t) { return "stamp " + std::to_string(std::lround(t)); };
    std::unique_ptr<ClipRecorder> m_recorder;
    std::vector<Clip> m_clips;
    std::vector<std::string> m_events;
};

} // namespace

// Camera pictures wait in the pre-roll compressed, even a larger first one; the clip decodes them.
TEST_F(ClipRecorderTest, ClipOfPrerollAndPostrollIsH264HighWithExactTimingAndIndexFirst)
{
    m_stampText = {}; // the recorder's own: the full date-and-time caption
    auto counters = std::make_shared<CaptureCounters>();
    auto& clips = recorder(0.5, 0.5);
    Thumbnail scaler;
    const auto push = [&](int from, int to) {
        for (int i = from; i <= to; ++i) {
            const int width = i ? 1280 : 1920, height = width * 9 / 16;
            const double t = kStart + i / 10.0;
            const auto jpeg = CaptureService::jpeg(syntheticFrame(width, height, i, t));
            clips.push(Frame(CameraPicture::take({ CameraPixels::mjpeg, width, height }, jpeg->data(),
                                 jpeg->size(), scaler, FramePool(), counters),
                           t),
                t);
        }
    };
    push(0, 9);
    settle();
    EXPECT_EQ(counters->fullDecodes, 0u) << "the pre-roll is held compressed";
    clips.trigger(kStart + 0.95);
    push(10, 15); // frames after 1.45 close the clip
    settle();

    ASSERT_EQ(m_clips.size(), 1u);
    const fs::path file = m_clips[0].url.value();
    EXPECT_EQ(m_clips[0].eventTime, kStart + 0.95);
    EXPECT_EQ(file, EventFiles::clipURL(m_paths.events(), kStart + 0.95));
    EXPECT_TRUE(tmpIsEmpty());
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    const std::string bytes = test::OutboxFolder::read(file);
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat")) << "index must come first for streaming";

    const auto info = probe(file);
    ASSERT_EQ(info["streams"].size(), 1u);
    const nlohmann::json expected = { { "codec_name", "h264" }, { "profile", "High" }, { "width", 1280 },
        { "height", 720 }, { "time_base", "1/600" } };
    for (const auto& [key, value] : expected.items())
        EXPECT_EQ(info["streams"][0][key], value) << key;

    // Pre-roll 0.45 ... 0.9 is 0.5 ... 0.9 (5 frames), then 1.0 ... 1.4 live (5 frames). The first frame
    // is at 0, each 60/600 after the previous, and each lasts until the next, the last as long as the rest.
    ASSERT_EQ(info["packets"].size(), 10u);
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(info["packets"][i]["pts"], int(i) * 60) << i;
        EXPECT_EQ(info["packets"][i]["duration"], 60) << i;
    }
    EXPECT_GT(amberPixels(decodedFrame(file, 0)), 1000);
    EXPECT_EQ(counters->damaged, 0u);
    // Clip frame 7 is camera picture 12: its bar is centred at 870.
    const QImage frame = decodedFrame(file, 7);
    EXPECT_NEAR(qGreen(frame.pixel(4, 4)), 110, 12);
    EXPECT_NEAR(qGreen(frame.pixel(870, 100)), 230, 12);
}

TEST_F(ClipRecorderTest, ClipsAreScaledDownToFitAndLetterboxedAndCarryTheStampAtBottomRight)
{
    for (auto [cameraWidth, cameraHeight, clipWidth, clipHeight] : { std::array { 1920, 1080, 1280, 720 },
             { 1366, 768, 1280, 718 }, { 1280, 960, 960, 720 }, { 640, 480, 640, 480 } }) {
        SCOPED_TRACE(cameraWidth);
        EXPECT_EQ(
            ClipRecorder::scaledSize(cameraWidth, cameraHeight), ClipRecorder::Size(clipWidth, clipHeight));
        auto& clips = recorder(1, 0.2);
        clips.trigger(kStart);
        for (int i = 0; i < 4; ++i) { // the fourth, past the end, closes the clip
            const bool other = i > 1 && cameraWidth == 1920; // 4:3 in a 16:9 clip: 960 × 720 centred
            clips.push(syntheticFrame(other ? 640 : cameraWidth, other ? 480 : cameraHeight, i,
                           kStart + i / 10.0, PixelFormat::nv12),
                kStart + i / 10.0);
        }
        settle();

        ASSERT_TRUE(m_clips.at(0).url);
        const QImage frame = decodedFrame(*m_clips[0].url, 1, clipWidth, clipHeight);
        ASSERT_FALSE(frame.isNull());
        EXPECT_GT(amberPixels(frame), clipWidth * clipHeight / 400);
        EXPECT_EQ(amberPixels(frame, false), 0);
        // The picture itself is kept in its colours: grey at the top left.
        for (int channel : { qRed(frame.pixel(4, 4)), qGreen(frame.pixel(4, 4)), qBlue(frame.pixel(4, 4)) })
            EXPECT_NEAR(channel, 110, 12);
        if (cameraWidth != 1920)
            continue;
        const QImage boxed = decodedFrame(*m_clips[0].url, 2);
        for (int x : { 20, 150, 1130, 1260 })
            EXPECT_LT(qGray(boxed.pixel(x, 360)), 10) << "x " << x;
        EXPECT_NEAR(qGreen(boxed.pixel(170, 100)), 110, 12);
    }
}

// A quiet camera ends the clip with the frames so far, a stop also ignores later frames; a clip that cannot
// be written or moved is logged, reported failed and leaves nothing behind.
TEST_F(ClipRecorderTest, AQuietCameraAStopOrABrokenFolderEndsTheClip)
{
    auto& clips = recorder(1, 10);
    pushFrames(0, 0.5);
    clips.trigger(kStart + 0.5);
    pushFrames(0.6, 1.0);
    clips.tick(kStart + 13.6);
    settle();
    clips.trigger(kStart + 14);
    pushFrames(14, 14.3);
    clips.stopRecording();
    pushFrames(14.4, 14.8);
    clips.trigger(kStart + 15); // no frames: fails
    clips.tick(kStart + 40);
    settle();

    ASSERT_EQ(m_clips.size(), 3u);
    EXPECT_EQ(probe(m_clips[0].url.value())["packets"].size(), 11u);
    EXPECT_EQ(probe(m_clips[1].url.value())["packets"].size(), 4u);
    EXPECT_FALSE(m_clips[2].url);
    EXPECT_EQ(m_clips[2].eventTime, kStart + 15);

    const double later = 2 * 86'400; // a day without a folder yet
    fs::remove_all(m_paths.clipsTmp());
    clips.startRecording();
    clips.trigger(kStart + later);
    pushFrames(later, later + 0.3);
    clips.tick(kStart + later + 15);
    settle();
    EXPECT_FALSE(fs::exists(m_paths.events() / EventFiles::dayName(kStart + later)));
    fs::create_directories(m_paths.clipsTmp());
    fs::remove_all(m_paths.events());
    std::ofstream(m_paths.events()) << "not a folder";
    clips.trigger(kStart + later + 20);
    pushFrames(later + 20, later + 20.3);
    clips.tick(kStart + later + 40);
    settle();

    ASSERT_EQ(m_clips.size(), 5u);
    EXPECT_FALSE(m_clips[3].url || m_clips[4].url);
    EXPECT_EQ(m_clips[4].eventTime, kStart + later + 20);
    m_log.flush();
    const std::string log = test::OutboxFolder::read(m_paths.logFile());
    EXPECT_NE(log.find("clipe não abriu: "), std::string::npos);
    EXPECT_NE(log.find("clipe não foi guardado: "), std::string::npos);
    EXPECT_TRUE(tmpIsEmpty());
}

TEST_F(ClipRecorderTest, WhenIdleWaitsForEveryFinishingClipAndCallsOnce)
{
    auto& clips = recorder(1, 0.3);
    int calls = 0;
    clips.whenIdle(5, [&] { ++calls; });
    ASSERT_TRUE(m_main.waitFor([&] { return calls == 1; })) << "idle at once";

    // Two clips back to back: the second opens while the first may still be finishing.
    clips.trigger(kStart);
    pushFrames(0, 0.4);
    clips.trigger(kStart + 0.45);
    pushFrames(0.5, 0.9);
    clips.whenIdle(1e9, [&] { m_events.push_back("idle"); });
    ASSERT_TRUE(m_main.waitFor([&] { return m_events.size() == 3; }));
    EXPECT_EQ(m_events, (std::vector<std::string> { "clip", "clip", "idle" }));
    EXPECT_TRUE(m_clips[0].url && m_clips[1].url);

    // An open clip that never ends: the completion comes from the time-out, once.
    clips.trigger(kStart + 2);
    pushFrames(2, 2.1);
    int timedOut = 0;
    clips.whenIdle(5, [&] { ++timedOut; });
    m_main.advance(4.9);
    EXPECT_EQ(timedOut, 0);
    m_main.advance(0.2);
    EXPECT_EQ(timedOut, 1);
    clips.stopRecording();
    settle();
    EXPECT_EQ(timedOut, 1);
    EXPECT_EQ(calls, 1);

    // Destruction completes the open clip without a callback.
    clips.startRecording();
    clips.trigger(kStart + 3);
    pushFrames(3, 3.2); // the clip is still open
    m_recorder.reset();
    EXPECT_TRUE(tmpIsEmpty());
    EXPECT_TRUE(fs::exists(EventFiles::clipURL(m_paths.events(), kStart + 3)));
    m_main.drain();
    EXPECT_EQ(m_clips.size(), 3u) << "no callback after destruction";
}
