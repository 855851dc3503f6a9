#include "ClipRecorder.h"

#include "CameraPicture.h"
#include "EventFiles.h"
#include "Log.h"
#include "ManualMainExecutor.h"
#include "Paths.h"
#include "Thumbnail.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <thread>
#include <turbojpeg.h>

using namespace vardel;
namespace fs = std::filesystem;

namespace {

constexpr double kStart = 1'780'000'000.0;

// A grey picture with a bright bar whose position follows `index`, so frames differ like video.
Frame syntheticFrame(int width, int height, int index, double t, PixelFormat format = PixelFormat::i420)
{
    auto buffer = std::make_shared<FrameBuffer>(width, height, format);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = buffer->data(0) + y * buffer->stride(0);
        for (int x = 0; x < width; ++x)
            row[x] = std::abs(x - (width / 3 + index * 37) % width) < width / 20 ? 230 : 110;
    }
    for (int p = 1; p < buffer->planeCount(); ++p)
        for (int y = 0; y < buffer->planeHeight(p); ++y)
            std::fill_n(buffer->data(p) + y * buffer->stride(p), buffer->planeWidth(p), 128);
    return Frame(std::move(buffer), t);
}

// `frame` as a camera's JPEG picture, its planes not decoded yet.
Frame jpegFrame(const Frame& frame, const std::shared_ptr<CaptureCounters>& counters)
{
    const FrameBuffer& planes = frame.buffer();
    const unsigned char* sources[3] = { planes.data(0), planes.data(1), planes.data(2) };
    int strides[3] = { planes.stride(0), planes.stride(1), planes.stride(2) };
    tjhandle compressor = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompressFromYUVPlanes(
        compressor, sources, frame.width(), strides, frame.height(), TJSAMP_420, &jpeg, &size, 90, 0);
    Thumbnail scaler;
    auto picture = CameraPicture::take(
        { CameraPixels::mjpeg, frame.width(), frame.height() }, jpeg, size, scaler, FramePool(), counters);
    tjFree(jpeg);
    tjDestroy(compressor);
    return Frame(picture, frame.time());
}

std::string run(const std::string& command)
{
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char chunk[4096];
    while (std::size_t got = std::fread(chunk, 1, sizeof chunk, pipe))
        out.append(chunk, got);
    ::pclose(pipe);
    return out;
}

nlohmann::json probe(const fs::path& file)
{
    const std::string out
        = run("ffprobe -v error -print_format json -show_format -show_streams -show_packets '" + file.string()
            + "'");
    return nlohmann::json::parse(out, nullptr, false);
}

// One decoded frame (number `index`) as packed RGB.
std::string decodedFrame(const fs::path& file, int index)
{
    return run("ffmpeg -v error -i '" + file.string() + "' -vf 'select=eq(n\\," + std::to_string(index)
        + ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
}

struct Rgb {
    int r, g, b;
};

Rgb pixel(const std::string& rgb, int width, int x, int y)
{
    const auto* p = reinterpret_cast<const unsigned char*>(rgb.data()) + (std::size_t(y) * width + x) * 3;
    return { p[0], p[1], p[2] };
}

// Pixels of the stamp capsule's amber (1.0, 0.702, 0.251) in one quarter of the picture.
int amberPixels(const std::string& rgb, int width, int height, bool bottomRight = true)
{
    int count = 0;
    const int top = bottomRight ? height / 2 : 0;
    const int left = bottomRight ? width / 2 : 0;
    for (int y = top; y < top + height / 2; ++y)
        for (int x = left; x < left + width / 2; ++x) {
            const Rgb c = pixel(rgb, width, x, y);
            count += c.r > 220 && c.g > 150 && c.g < 205 && c.b < 110;
        }
    return count;
}

// Top-level box types of an MPEG-4 file, in file order.
std::vector<std::string> topLevelBoxes(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> boxes;
    unsigned char header[8];
    while (in.read(reinterpret_cast<char*>(header), 8)) {
        const std::uint32_t size = (header[0] << 24) | (header[1] << 16) | (header[2] << 8) | header[3];
        boxes.emplace_back(reinterpret_cast<char*>(header + 4), 4);
        if (size < 8) // 64-bit sizes do not occur in clips of a few megabytes
            break;
        in.seekg(size - 8, std::ios::cur);
    }
    return boxes;
}

struct Clip {
    std::optional<fs::path> url;
    double eventTime;
};

class ClipRecorderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string name = (fs::temp_directory_path() / "cliprecorder.XXXXXX").string();
        ASSERT_NE(::mkdtemp(name.data()), nullptr);
        m_dir = name;
        m_paths = std::make_unique<Paths>(m_dir / "data");
        m_paths->prepare();
        m_log = std::make_unique<Log>(m_paths->logs());
    }

    void TearDown() override
    {
        m_recorder.reset();
        m_log.reset();
        fs::remove_all(m_dir);
    }

    ClipRecorder& recorder(double pre = 1, double post = 1)
    {
        m_recorder = std::make_unique<ClipRecorder>(*m_paths, *m_log, m_main, pre, post, m_stampText);
        m_recorder->setOnClip([this](std::optional<fs::path> url, double at) {
            m_clips.push_back({ std::move(url), at });
            m_events.push_back("clip");
        });
        return *m_recorder;
    }

    // Drains the main executor until `done` holds; the recorder works on its own threads meanwhile.
    bool waitFor(const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            m_main.drain();
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    // Waits until the recorder has no clip open or finishing, after everything asked of it so far.
    void settle()
    {
        bool idle = false;
        m_recorder->whenIdle(1e9, [&] { idle = true; });
        ASSERT_TRUE(waitFor([&] { return idle; }));
    }

    // Frames of `width` × `height` at 10 per second from `from` to `to` seconds after kStart.
    void pushFrames(int width, int height, double from, double to)
    {
        for (int i = static_cast<int>(std::lround(from * 10)); i <= std::lround(to * 10); ++i)
            m_recorder->push(syntheticFrame(width, height, i, kStart + i / 10.0), kStart + i / 10.0);
    }

    bool tmpIsEmpty() const { return fs::is_empty(m_paths->clipsTmp()); }

    std::string logText()
    {
        m_log->flush();
        std::ifstream in(m_paths->logFile());
        return { std::istreambuf_iterator<char>(in), {} };
    }

    fs::path m_dir;
    std::unique_ptr<Paths> m_paths;
    std::unique_ptr<Log> m_log;
    test::ManualMainExecutor m_main;
    ClipRecorder::StampText m_stampText = [](double t) { return "stamp " + std::to_string(std::lround(t)); };
    std::unique_ptr<ClipRecorder> m_recorder;
    std::vector<Clip> m_clips;
    std::vector<std::string> m_events;
};

} // namespace

TEST_F(ClipRecorderTest, ClipOfPrerollAndPostrollIsH264HighWithExactTimingAndIndexFirst)
{
    m_stampText = {}; // the recorder's own: the full date-and-time caption
    auto& clips = recorder(1, 1);
    clips.startRecording();
    pushFrames(1920, 1080, 0, 1.9);
    clips.trigger(kStart + 1.95);
    pushFrames(1920, 1080, 2.0, 3.1); // frames after 2.95 close the clip
    settle();

    ASSERT_EQ(m_clips.size(), 1u);
    ASSERT_TRUE(m_clips[0].url) << logText();
    const fs::path file = *m_clips[0].url;
    EXPECT_EQ(m_clips[0].eventTime, kStart + 1.95);
    EXPECT_EQ(file, EventFiles::clipURL(m_paths->events(), kStart + 1.95));
    EXPECT_TRUE(tmpIsEmpty());
    struct stat info { };
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const auto boxes = topLevelBoxes(file);
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    const auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    ASSERT_NE(moov, boxes.end());
    ASSERT_NE(mdat, boxes.end());
    EXPECT_LT(moov, mdat) << "index must come first for streaming";

    const auto info_ = probe(file);
    ASSERT_FALSE(info_.is_discarded());
    ASSERT_EQ(info_["streams"].size(), 1u);
    const auto& video = info_["streams"][0];
    EXPECT_EQ(video["codec_name"], "h264");
    EXPECT_EQ(video["profile"], "High");
    EXPECT_EQ(video["width"], 1280);
    EXPECT_EQ(video["height"], 720);
    EXPECT_EQ(video["time_base"], "1/600");

    // Pre-roll 0.95 ... 1.9 is 1.0 ... 1.9 (10 frames), then 2.0 ... 2.9 live (10 frames). The first frame
    // is at 0, each 60/600 after the previous, and each lasts until the next, the last as long as the rest.
    std::vector<int> pts, durations;
    for (const auto& packet : info_["packets"]) {
        pts.push_back(packet["pts"].get<int>());
        durations.push_back(packet["duration"].get<int>());
    }
    ASSERT_EQ(pts.size(), 20u);
    for (std::size_t i = 0; i < pts.size(); ++i) {
        EXPECT_EQ(pts[i], int(i) * 60) << i;
        EXPECT_EQ(durations[i], 60) << i;
    }
    EXPECT_NEAR(std::stod(info_["format"]["duration"].get<std::string>()), 2.0, 0.1);
    EXPECT_GT(amberPixels(decodedFrame(file, 0), 1280, 720), 1000);
}

TEST_F(ClipRecorderTest, ClipFromACompressedPrerollMatchesOneFromDecodedFrames)
{
    auto counters = std::make_shared<CaptureCounters>();
    std::vector<fs::path> files;
    for (bool compressed : { true, false }) {
        m_clips.clear();
        auto& clips = recorder(1, 1);
        clips.startRecording();
        for (int i = 0; i <= 28; ++i) {
            const double t = kStart + i / 10.0;
            if (i == 15) {
                settle();
                EXPECT_TRUE(!compressed || counters->fullDecodes == 0) << "the pre-roll is held compressed";
                clips.trigger(t);
            }
            // The first frame, larger than clips are, leaves the pre-roll before the clip opens.
            Frame camera = jpegFrame(syntheticFrame(i ? 1280 : 1920, i ? 720 : 1080, i, t), counters);
            clips.push(compressed ? camera : Frame(camera.encoded()->decode(), t), t);
        }
        settle();
        ASSERT_EQ(m_clips.size(), 1u);
        ASSERT_TRUE(m_clips[0].url);
        files.push_back(m_dir / (compressed ? "compressed.mp4" : "decoded.mp4"));
        fs::rename(*m_clips[0].url, files.back());
    }
    EXPECT_EQ(counters->damaged, 0u);
    const auto first = probe(files[0]);
    const auto second = probe(files[1]);
    EXPECT_GE(first["packets"].size(), 20u);
    EXPECT_EQ(first["packets"].size(), second["packets"].size());
    EXPECT_EQ(first["format"]["duration"], second["format"]["duration"]);
    EXPECT_EQ(decodedFrame(files[0], 12), decodedFrame(files[1], 12));
}

struct SizeCase {
    int cameraWidth, cameraHeight, clipWidth, clipHeight;
};

class ClipRecorderSizes : public ClipRecorderTest, public ::testing::WithParamInterface<SizeCase> { };

TEST_P(ClipRecorderSizes, ClipsAreScaledDownToFitAndCarryTheStampAtBottomRight)
{
    const auto size = GetParam();
    EXPECT_EQ(ClipRecorder::scaledSize(size.cameraWidth, size.cameraHeight),
        ClipRecorder::Size(size.clipWidth, size.clipHeight));

    auto& clips = recorder(1, 0.3);
    clips.startRecording();
    clips.trigger(kStart);
    for (int i = 0; i < 5; ++i)
        clips.push(
            syntheticFrame(size.cameraWidth, size.cameraHeight, i, kStart + i / 10.0, PixelFormat::nv12),
            kStart + i / 10.0);
    settle();

    ASSERT_EQ(m_clips.size(), 1u);
    ASSERT_TRUE(m_clips[0].url);
    const auto info = probe(*m_clips[0].url);
    EXPECT_EQ(info["streams"][0]["width"], size.clipWidth);
    EXPECT_EQ(info["streams"][0]["height"], size.clipHeight);
    const std::string rgb = decodedFrame(*m_clips[0].url, 2);
    ASSERT_EQ(rgb.size(), std::size_t(size.clipWidth) * size.clipHeight * 3);
    EXPECT_GT(amberPixels(rgb, size.clipWidth, size.clipHeight), size.clipWidth * size.clipHeight / 400);
    EXPECT_EQ(amberPixels(rgb, size.clipWidth, size.clipHeight, false), 0);
    // The picture itself is kept in its colours: grey at the top left.
    const Rgb corner = pixel(rgb, size.clipWidth, 4, 4);
    EXPECT_NEAR(corner.r, 110, 12);
    EXPECT_NEAR(corner.g, 110, 12);
    EXPECT_NEAR(corner.b, 110, 12);
}

INSTANTIATE_TEST_SUITE_P(Cameras, ClipRecorderSizes,
    ::testing::Values(SizeCase { 1920, 1080, 1280, 720 }, SizeCase { 1366, 768, 1280, 718 },
        SizeCase { 1280, 960, 960, 720 }, SizeCase { 640, 480, 640, 480 }),
    [](const auto& info) {
        return std::to_string(info.param.cameraWidth) + "x" + std::to_string(info.param.cameraHeight);
    });

TEST_F(ClipRecorderTest, FramesOfAnotherShapeMidClipAreLetterboxedIntoTheClipSize)
{
    m_stampText = [](double) { return std::string(); };
    auto& clips = recorder(1, 1);
    clips.startRecording();
    clips.trigger(kStart);
    pushFrames(1920, 1080, 0, 0.4);
    pushFrames(640, 480, 0.5, 1.1); // 4:3 in a 16:9 clip: 960 × 720 centred
    settle();

    ASSERT_TRUE(m_clips.at(0).url);
    const std::string rgb = decodedFrame(*m_clips[0].url, 7);
    ASSERT_EQ(rgb.size(), 1280u * 720 * 3);
    for (int x : { 20, 150, 1130, 1260 }) {
        const Rgb side = pixel(rgb, 1280, x, 360);
        EXPECT_LT(side.r + side.g + side.b, 30) << "x " << x;
    }
    const Rgb inside = pixel(rgb, 1280, 170, 100);
    EXPECT_NEAR(inside.g, 110, 12);
}

TEST_F(ClipRecorderTest, ASourceThatStopsMidClipEndsWithTheFramesWrittenSoFar)
{
    auto& clips = recorder(1, 10);
    clips.startRecording();
    pushFrames(1280, 720, 0, 0.5);
    clips.trigger(kStart + 0.5);
    pushFrames(1280, 720, 0.6, 1.0); // then the camera goes quiet
    clips.tick(kStart + 13.6);
    settle();
    ASSERT_EQ(m_clips.size(), 1u);
    ASSERT_TRUE(m_clips[0].url);
    EXPECT_EQ(probe(*m_clips[0].url)["packets"].size(), 11u);
    EXPECT_TRUE(tmpIsEmpty());
}

TEST_F(ClipRecorderTest, StopRecordingClosesTheOpenClipAndLaterFramesAreIgnored)
{
    auto& clips = recorder(1, 10);
    clips.startRecording();
    clips.trigger(kStart);
    pushFrames(1280, 720, 0, 0.3);
    clips.stopRecording();
    pushFrames(1280, 720, 0.4, 0.8);
    clips.trigger(kStart + 1);
    clips.tick(kStart + 20);
    settle();

    // The stopped clip with its four frames; the later trigger had no frames and failed.
    ASSERT_EQ(m_clips.size(), 2u);
    ASSERT_TRUE(m_clips[0].url);
    EXPECT_EQ(probe(*m_clips[0].url)["packets"].size(), 4u);
    EXPECT_FALSE(m_clips[1].url);
    EXPECT_EQ(m_clips[1].eventTime, kStart + 1);
    EXPECT_TRUE(tmpIsEmpty());
}

struct BrokenCase {
    const char* name;
    bool tmpFolderGone; // else the events folder is a file
    const char* logged;
};

class ClipRecorderBroken : public ClipRecorderTest, public ::testing::WithParamInterface<BrokenCase> { };

TEST_P(ClipRecorderBroken, AClipThatCannotBeWrittenOrMovedIsLoggedReportedFailedAndLeavesNothing)
{
    if (GetParam().tmpFolderGone) {
        fs::remove_all(m_paths->clipsTmp());
    } else {
        fs::remove_all(m_paths->events());
        std::ofstream(m_paths->events()) << "not a folder";
    }
    auto& clips = recorder(1, 0.5);
    clips.startRecording();
    clips.trigger(kStart);
    pushFrames(1280, 720, 0, 0.7);
    settle();

    ASSERT_EQ(m_clips.size(), 1u);
    EXPECT_FALSE(m_clips[0].url);
    EXPECT_EQ(m_clips[0].eventTime, kStart);
    EXPECT_NE(logText().find(GetParam().logged), std::string::npos);
    EXPECT_TRUE(!fs::exists(m_paths->clipsTmp()) || tmpIsEmpty());
    EXPECT_FALSE(fs::is_directory(m_paths->events() / EventFiles::dayName(kStart)));
}

INSTANTIATE_TEST_SUITE_P(Folders, ClipRecorderBroken,
    ::testing::Values(BrokenCase { "TemporaryFolderGone", true, "clipe não abriu: " },
        BrokenCase { "EventsFolderIsAFile", false, "clipe não foi guardado: " }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ClipRecorderTest, WhenIdleWaitsForEveryFinishingClipAndCallsOnce)
{
    auto& clips = recorder(1, 0.3);
    clips.startRecording();
    int calls = 0;
    clips.whenIdle(5, [&] { ++calls; });
    ASSERT_TRUE(waitFor([&] { return calls == 1; })) << "idle at once";

    // Two clips back to back: the second opens while the first may still be finishing.
    clips.trigger(kStart);
    pushFrames(1280, 720, 0, 0.4);
    clips.trigger(kStart + 0.45);
    pushFrames(1280, 720, 0.5, 0.9);
    clips.whenIdle(1e9, [&] { m_events.push_back("idle"); });
    ASSERT_TRUE(waitFor([&] { return m_events.size() == 3; }));
    EXPECT_EQ(m_events, (std::vector<std::string> { "clip", "clip", "idle" }));
    EXPECT_TRUE(m_clips[0].url && m_clips[1].url);

    // An open clip that never ends: the completion comes from the time-out, once.
    clips.trigger(kStart + 2);
    pushFrames(1280, 720, 2, 2.1);
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
}

TEST_F(ClipRecorderTest, DestroyingTheRecorderCompletesTheOpenClipAndLeavesNoTemporaryFile)
{
    auto& clips = recorder(1, 10);
    clips.startRecording();
    clips.trigger(kStart);
    pushFrames(1280, 720, 0, 0.5);
    m_recorder.reset();
    EXPECT_TRUE(tmpIsEmpty());
    EXPECT_TRUE(fs::exists(EventFiles::clipURL(m_paths->events(), kStart)));
    m_main.drain();
    EXPECT_TRUE(m_clips.empty()) << "no callback after destruction";
}
