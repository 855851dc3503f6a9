#include "FileCameraSource.h"

#include "Error.h"
#include "PhotoAnnotator.h"
#include "RecordingSink.h"
#include "SerialQueue.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace vardel {
namespace {

    namespace fs = std::filesystem;

    // Short clips made by the ffmpeg command-line tool once for the whole suite, limited range as most
    // video files are unless made as JPEG pictures.
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
            const std::string halves = ":size=320x180:rate=10:duration=1,drawbox=x=160:w=160:t=fill:color=";
            m_ready = make("testsrc=size=640x360:rate=30:duration=3", "thirty.mp4")
                && make("testsrc2=size=320x180:rate=30:duration=1", "short.mp4")
                && make("testsrc=size=320x180:rate=30:duration=2", "stream.ts")
                && make("testsrc=size=320x180:rate=1/1000:duration=3000", "slow.mp4")
                && make("color=black" + halves + "white", "levels.mp4")
                && make("color=0x101010" + halves + "0xEBEBEB", "levels.avi", "yuvj420p -c:v mjpeg");
        }
        ~Clips() { fs::remove_all(m_folder); }

        bool make(const std::string& input, const std::string& name,
            const std::string& encoding = "yuv420p -c:v mpeg4")
        {
            const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i " + input + " -pix_fmt "
                + encoding + " -q:v 5 '" + path(name).string() + "' 2>/dev/null";
            return std::system(command.c_str()) == 0 && fs::file_size(path(name)) > 0;
        }

        fs::path m_folder;
        bool m_ready = false;
    };

    class FileCaptureTest : public ::testing::Test {
    protected:
        void SetUp() override
        {
            if (!Clips::shared().ready())
                GTEST_SKIP() << "the ffmpeg command-line tool is needed to make test clips";
        }

        // Plays `name` into `sink` until `count` frames arrived (or it failed, or 10 s passed) and stops.
        void play(const std::string& name, std::size_t count, test::RecordingSink& sink)
        {
            FileCameraSource source(Clips::shared().path(name).string());
            try {
                source.start(source.devices().at(0), m_queue, sink);
                sink.waitFor(count);
            } catch (const Error& error) {
                sink.failed(error.description());
            }
            source.stop();
        }

        SerialQueue m_queue { "test.video" };
        test::RecordingSink m_sink;
    };

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

    struct PaceCase {
        const char* file;
        std::size_t frames;
        double spacing; // seconds between frames, within a factor of 0.8 to 1.6
    };
    void PrintTo(const PaceCase& pace, std::ostream* out) { *out << pace.file; }

    class FilePaceTest : public FileCaptureTest, public ::testing::WithParamInterface<PaceCase> { };

    // A 30 fps file plays at ten frames a second of its own clock; files that end, are cut short or are
    // damaged in the middle play again and again at their pace, without a burst; one claiming a frame
    // every 1000 s plays one a second.
    TEST_P(FilePaceTest, PlaysAtItsOwnPaceAgainAndAgain)
    {
        const std::string stream = bytesOf(Clips::shared().path("stream.ts"));
        std::ofstream(Clips::shared().path("cut.ts"), std::ios::binary) << stream.substr(0, stream.size() * 2 / 5);
        std::ofstream(Clips::shared().path("middle.ts"), std::ios::binary)
            << scrambled(stream, stream.size() * 2 / 5, stream.size() * 3 / 5, true);
        const auto [file, count, spacing] = GetParam();
        play(file, count, m_sink);
        ASSERT_TRUE(m_sink.failures.empty()) << m_sink.failures[0];
        const auto& arrivals = m_sink.arrivals;
        ASSERT_GE(arrivals.size(), count);
        for (std::size_t i = 1; i < arrivals.size(); ++i)
            EXPECT_GT(arrivals[i] - arrivals[i - 1], spacing / 2) << "frame " << i;
        EXPECT_GT(arrivals[count - 1] - arrivals[0], 0.8 * spacing * double(count - 1));
        EXPECT_LT(arrivals[count - 1] - arrivals[0], 1.6 * spacing * double(count - 1));
    }

    INSTANTIATE_TEST_SUITE_P(Files, FilePaceTest,
        ::testing::Values(PaceCase { "thirty.mp4", 11, 0.1 }, PaceCase { "short.mp4", 16, 0.1 },
            PaceCase { "cut.ts", 14, 0.1 }, PaceCase { "middle.ts", 22, 0.1 }, PaceCase { "slow.mp4", 4, 1.0 }),
        [](const auto& files) { return fs::path(files.param.file).stem().string(); });

    // Frames come full range and the photo keeps their levels: limited-range black and white become 0
    // and 255, full-range 16 and 235 stay as they are.
    TEST_F(FileCaptureTest, FramesAndPhotosAreFullRange)
    {
        for (const auto& [file, dark, light] : { std::tuple { "levels.mp4", 0, 255 }, { "levels.avi", 16, 235 } }) {
            SCOPED_TRACE(file);
            test::RecordingSink sink;
            play(file, 1, sink);
            ASSERT_FALSE(sink.frames.empty());
            const Frame frame = sink.frames.back();
            EXPECT_EQ(FileCameraSource(Clips::shared().path(file).string(), "Door").devices().at(0).name, "Door");
            ASSERT_EQ(frame.width(), 320);
            const std::uint8_t* row = frame.luma() + 90 * frame.lumaStride();
            EXPECT_NEAR(row[40], dark, 3);
            EXPECT_NEAR(row[280], light, 3);
            EXPECT_NEAR(frame.pixels()->data(1)[45 * frame.pixels()->stride(1) + 20], 128, 1); // grey stays grey
            const QImage photo = PhotoAnnotator::image(frame);
            EXPECT_NEAR(qGray(photo.pixel(40, 90)), dark, 3);
            EXPECT_NEAR(qGray(photo.pixel(280, 90)), light, 3);
        }
    }

    // Files that cannot be played at all, or stop playing, are reported, without a crash.
    TEST_F(FileCaptureTest, UnplayableFilesAreReported)
    {
        const std::string mp4 = bytesOf(Clips::shared().path("thirty.mp4"));
        const std::string ts = bytesOf(Clips::shared().path("stream.ts"));
        const std::pair<const char*, std::string> files[] { { "empty", "" },
            { "garbage", scrambled(mp4, 0, mp4.size(), false) },
            { "truncatedMp4", mp4.substr(0, mp4.size() / 2) }, // the index sits at the end
            { "headerThenGarbage", scrambled(ts, 188 * 4, ts.size(), false) } };
        for (const auto& [name, bytes] : files) {
            std::ofstream(Clips::shared().path(std::string(name) + ".bin"), std::ios::binary) << bytes;
            test::RecordingSink sink;
            play(std::string(name) + ".bin", 1000, sink);
            ASSERT_FALSE(sink.failures.empty()) << name;
            EXPECT_FALSE(sink.failures[0].empty()) << name;
        }
    }

} // namespace
} // namespace vardel
