#include "FileCameraSource.h"

#include "CaptureService.h"
#include "Clock.h"
#include "ManualMainExecutor.h"
#include "PhotoAnnotator.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <thread>

namespace vardel {
namespace {

    namespace fs = std::filesystem;

    // Short clips made by the ffmpeg command-line tool once for the whole suite.
    class Clips {
    public:
        static Clips& shared()
        {
            static Clips clips;
            return clips;
        }
        bool ready() const { return m_ready; }
        fs::path path(const std::string& name) const { return m_folder / name; }

    private:
        Clips()
        {
            m_folder = fs::temp_directory_path() / ("capture-test-" + std::to_string(::getpid()));
            fs::create_directories(m_folder);
            m_ready = make("testsrc=size=640x360:rate=30:duration=3", "thirty.mp4")
                && make("testsrc2=size=320x180:rate=30:duration=1", "short.mp4")
                && make("testsrc=size=320x180:rate=30:duration=2", "stream.ts")
                && make("testsrc=size=320x180:rate=1/1000:duration=3000", "slow.mp4")
                // Black left half, white right half, limited range as most video files are.
                && make("color=black:size=320x180:rate=10:duration=1,drawbox=x=160:w=160:color=white:t=fill",
                    "levels.mp4");
        }
        ~Clips() { fs::remove_all(m_folder); }

        bool make(const std::string& input, const std::string& name)
        {
            const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i " + input
                + " -pix_fmt yuv420p -c:v mpeg4 -q:v 5 '" + path(name).string() + "' 2>/dev/null";
            return std::system(command.c_str()) == 0 && fs::file_size(path(name)) > 0;
        }

        fs::path m_folder;
        bool m_ready = false;
    };

    struct Delivered {
        std::vector<std::uint8_t> luma;
        Frame frame;
        double time = 0;
    };

    class FileCaptureTest : public ::testing::Test {
    protected:
        void SetUp() override
        {
            if (!Clips::shared().ready())
                GTEST_SKIP() << "the ffmpeg command-line tool is needed to make test clips";
        }

        void open(const fs::path& file, const std::string& name = {})
        {
            m_service = std::make_unique<CaptureService>(std::make_unique<FileCameraSource>(file.string(), name),
                m_main, m_clock, [](const std::string&) {});
            m_service->onStarted = [this] { ++m_starts; };
            m_service->onError = [this](const std::string& message) { m_errors.push_back(message); };
            m_service->onClipFrame = [this](const Frame&, double) { ++m_clipFrames; };
            m_service->onFrame = [this](const std::vector<std::uint8_t>& luma, const Frame& frame, double time) {
                std::lock_guard lock(m_mutex);
                m_frames.push_back({ luma, frame, time });
                m_arrived.notify_all();
            };
        }

        // Waits for `count` frames in all, or for `done` on the main thread; false after 10 s.
        bool waitForFrames(std::size_t count)
        {
            std::unique_lock lock(m_mutex);
            return m_arrived.wait_for(lock, std::chrono::seconds(10), [&] { return m_frames.size() >= count; });
        }
        template <typename Condition> bool waitOnMain(Condition done)
        {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!done() && std::chrono::steady_clock::now() < deadline) {
                m_main.drain();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            return done();
        }

        std::vector<Delivered> frames()
        {
            std::lock_guard lock(m_mutex);
            return m_frames;
        }

        test::ManualMainExecutor m_main;
        SystemClock m_clock;
        std::unique_ptr<CaptureService> m_service;
        int m_starts = 0;
        std::vector<std::string> m_errors;
        std::atomic<int> m_clipFrames { 0 };
        std::mutex m_mutex;
        std::condition_variable m_arrived;
        std::vector<Delivered> m_frames;
    };

    TEST_F(FileCaptureTest, ThirtyFramesPerSecondFilePlaysAtTenWithAreaThumbnails)
    {
        open(Clips::shared().path("thirty.mp4"), "Test Pattern");
        EXPECT_EQ(m_service->devices(),
            (std::vector<CameraDevice> { { "Test Pattern", Clips::shared().path("thirty.mp4").string(), false } }));
        m_service->startCamera();
        ASSERT_TRUE(waitForFrames(11));
        m_service->stopCamera();
        const auto got = frames();
        // Ten intervals of 0.1 s of the file's time, played at its own pace.
        EXPECT_GT(got[10].time - got[0].time, 0.85);
        EXPECT_LT(got[10].time - got[0].time, 1.6);
        EXPECT_GE(m_clipFrames, 11);
        for (const auto& delivered : got) {
            const Frame& frame = delivered.frame;
            ASSERT_EQ(frame.width(), 640);
            ASSERT_EQ(frame.height(), 360);
            ASSERT_EQ(delivered.luma.size(), 5184u);
            double sum = 0;
            for (int row = 0; row < 360; ++row)
                sum += std::accumulate(frame.luma() + row * frame.lumaStride(),
                    frame.luma() + row * frame.lumaStride() + 640, 0.0);
            EXPECT_NEAR(std::accumulate(delivered.luma.begin(), delivered.luma.end(), 0.0) / 5184,
                sum / (640 * 360), 1.0);
        }
        ASSERT_TRUE(waitOnMain([&] { return m_starts == 1; }));
        EXPECT_TRUE(m_errors.empty());
    }

    // A limited-range file arrives as full-range frames, and its photo keeps true black and white.
    TEST_F(FileCaptureTest, LimitedRangeFileIsDeliveredFullRange)
    {
        open(Clips::shared().path("levels.mp4"));
        m_service->startCamera();
        ASSERT_TRUE(waitForFrames(1));
        m_service->stopCamera();
        const Frame frame = frames()[0].frame;
        const std::uint8_t* row = frame.luma() + 90 * frame.lumaStride();
        EXPECT_LE(row[40], 3);
        EXPECT_GE(row[280], 252);
        const QImage photo = PhotoAnnotator::image(frame);
        EXPECT_LE(qGray(photo.pixel(40, 90)), 3);
        EXPECT_GE(qGray(photo.pixel(280, 90)), 252);
    }

    TEST_F(FileCaptureTest, StopEmptiesLatestRestartDeliversAgainAndAnUnknownNameIsReported)
    {
        open(Clips::shared().path("stream.ts"));
        m_service->startCamera();
        ASSERT_TRUE(waitForFrames(2));
        EXPECT_FALSE(m_service->latest().empty());
        m_service->stopCamera();
        m_service->waitUntilIdle(); // the stop has run: no frame is delivered any more
        const std::size_t afterStop = frames().size();
        EXPECT_TRUE(m_service->latest().empty());
        EXPECT_FALSE(m_service->currentDevice());

        m_service->restart();
        ASSERT_TRUE(waitForFrames(afterStop + 3));
        ASSERT_TRUE(waitOnMain([&] { return m_starts == 2; }));
        EXPECT_EQ(m_service->currentDevice()->name, "stream");
        EXPECT_TRUE(m_errors.empty());

        m_service->stopCamera();
        m_service->setCameraName("Front door");
        m_service->startCamera();
        ASSERT_TRUE(waitOnMain([&] { return !m_errors.empty(); }));
        EXPECT_EQ(m_errors[0], "Câmera \"Front door\" não encontrada");
        EXPECT_EQ(m_starts, 2);
    }

    std::string bytesOf(const fs::path& file)
    {
        std::ifstream in(file, std::ios::binary);
        return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
    }

    // Random bytes over [from, to) of `bytes`, keeping every 4-byte transport packet header when asked.
    std::string scrambled(std::string bytes, std::size_t from, std::size_t to, bool keepHeaders)
    {
        std::mt19937 random(3);
        for (std::size_t i = from; i < to; ++i)
            if (!keepHeaders || i % 188 >= 4)
                bytes[i] = char(random());
        return bytes;
    }

    // Files that end, are cut short or are damaged in the middle play again and again, at their pace; one
    // claiming a frame every 1000 s plays one a second.
    TEST_F(FileCaptureTest, DamagedOrShortFilesPlayOnWithoutABurst)
    {
        const std::string stream = bytesOf(Clips::shared().path("stream.ts"));
        std::ofstream(Clips::shared().path("cut.ts"), std::ios::binary) << stream.substr(0, stream.size() * 2 / 5);
        std::ofstream(Clips::shared().path("middle.ts"), std::ios::binary)
            << scrambled(stream, stream.size() * 2 / 5, stream.size() * 3 / 5, true);
        for (const auto& [name, count] : { std::pair { "short.mp4", 16u }, { "cut.ts", 14u }, { "middle.ts", 22u }, { "slow.mp4", 4u } }) {
            open(Clips::shared().path(name));
            m_service->startCamera();
            ASSERT_TRUE(waitForFrames(count)) << name;
            m_service->stopCamera();
            m_main.drain();
            EXPECT_TRUE(m_errors.empty()) << name;
            const auto got = frames();
            for (std::size_t i = 1; i < got.size(); ++i)
                EXPECT_GT(got[i].time - got[i - 1].time, 0.05) << name << " frame " << i;
            std::lock_guard lock(m_mutex);
            m_frames.clear();
        }
    }

    // Files that cannot be played at all are reported through onError, without a crash.
    TEST_F(FileCaptureTest, UnplayableFilesAreReported)
    {
        const std::string mp4 = bytesOf(Clips::shared().path("thirty.mp4"));
        const std::string ts = bytesOf(Clips::shared().path("stream.ts"));
        const std::pair<const char*, std::string> files[] { { "empty", "" },
            { "garbage", scrambled(mp4, 0, mp4.size(), false) },
            { "truncatedMp4", mp4.substr(0, mp4.size() / 2) }, // the index sits at the end
            { "headerThenGarbage", scrambled(ts, 188 * 4, ts.size(), false) } };
        for (const auto& [name, bytes] : files) {
            const fs::path file = Clips::shared().path(std::string(name) + ".bin");
            std::ofstream(file, std::ios::binary) << bytes;
            m_errors.clear();
            open(file);
            m_service->startCamera();
            ASSERT_TRUE(waitOnMain([&] { return !m_errors.empty(); })) << name;
            EXPECT_FALSE(m_errors[0].empty()) << name;
            m_service->stopCamera();
            m_service->waitUntilIdle();
            EXPECT_TRUE(m_service->latest().empty()) << name;
        }
    }

} // namespace
} // namespace vardel
