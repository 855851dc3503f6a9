#include "FileCameraSource.h"

#include "Error.h"
#include "OutboxFolder.h"
#include "PhotoAnnotator.h"
#include "RecordingSink.h"
#include "SerialQueue.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace vardel {
namespace {

    namespace fs = std::filesystem;
    using test::OutboxFolder;

    // A file playing as camera "Door" into its own sink on its own video queue; a file that cannot start
    // counts as failed.
    struct Playing {
        explicit Playing(const fs::path& file)
            : source(file.string(), "Door")
        {
            try {
                source.start(source.devices().at(0), queue, sink);
            } catch (const Error& error) {
                sink.failed(error.description());
            }
        }
        SerialQueue queue { "test.video" };
        test::RecordingSink sink;
        FileCameraSource source;
    };

    // Random bytes over [from, to) of `bytes`, keeping every 4-byte transport packet header when asked.
    std::string scrambled(std::string bytes, std::size_t from, std::size_t to, bool keepHeaders)
    {
        std::mt19937 random(3);
        for (std::size_t i = from; i < to; ++i)
            if (!keepHeaders || i % 188 >= 4)
                bytes[i] = char(random());
        return bytes;
    }

    // Side by side: a 30 fps file plays at ten frames a second of its own clock; files that end, are cut
    // short or damaged in the middle play again and again at their pace, without a burst; one claiming a
    // frame every 1000 s plays one a second. Files that cannot be played, or stop playing, are reported.
    // Frames come full range and the photo keeps their levels. The clips, made by the ffmpeg command-line
    // tool, are limited range as most video files are unless made as JPEG pictures.
    TEST(FileCaptureTest, FilesPlayAtTheirOwnPaceAgainAndAgainInFullRangeOrAreReported)
    {
        if (std::system("command -v ffmpeg >/dev/null") != 0)
            GTEST_SKIP() << "the ffmpeg command-line tool is needed to make test clips";
        OutboxFolder dir;
        const auto path = [&](const std::string& name) { return dir.root() / name; };
        const auto make = [&](const std::string& input, const std::string& name,
                              const std::string& encoding = "yuv420p -c:v mpeg4") {
            const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i " + input + " -pix_fmt "
                + encoding + " -q:v 5 '" + path(name).string() + "'";
            EXPECT_EQ(std::system(command.c_str()), 0) << name;
            return path(name);
        };
        const auto write = [&](const std::string& name, const std::string& bytes) {
            OutboxFolder::write(path(name), bytes);
            return path(name);
        };
        const std::string mp4
            = OutboxFolder::read(make("testsrc=size=640x360:rate=30:duration=1", "thirty.mp4"));
        const std::string ts
            = OutboxFolder::read(make("testsrc=size=320x180:rate=30:duration=1", "stream.ts"));
        const std::string halves = ":size=320x180:rate=10:duration=1,drawbox=x=160:w=160:t=fill:color=";
        const struct {
            fs::path file;
            std::size_t frames; // none: reported as failed
            double spacing; // seconds between frames, within a factor of 0.8 to 1.6
            int dark = -1, light = -1; // luma of the left and right halves of the last frame and its photo
        } rows[] = { { path("thirty.mp4"), 13, 0.1 },
            { write("cut.ts", ts.substr(0, ts.size() * 2 / 5)), 12, 0.1 },
            { write("middle.ts", scrambled(ts, ts.size() * 2 / 5, ts.size() * 3 / 5, true)), 13, 0.1 },
            { make("testsrc=size=320x180:rate=1/1000:duration=2000", "slow.mp4"), 2, 1.0 },
            // Limited-range black and white become 0 and 255, full-range 16 and 235 stay as they are.
            { make("color=black" + halves + "white", "levels.mp4"), 3, 0.1, 0, 255 },
            { make("color=0x101010" + halves + "0xEBEBEB", "levels.avi", "yuvj420p -c:v mjpeg"), 3, 0.1, 16,
                235 },
            { write("empty", ""), 0, 0 }, { write("garbage", scrambled(mp4, 0, mp4.size(), false)), 0, 0 },
            { write("truncatedMp4", mp4.substr(0, mp4.size() / 2)), 0, 0 }, // the index sits at the end
            { write("headerThenGarbage", scrambled(ts, 188 * 4, ts.size(), false)), 0, 0 } };
        std::vector<std::unique_ptr<Playing>> playing;
        for (const auto& row : rows)
            playing.push_back(std::make_unique<Playing>(row.file));
        EXPECT_EQ(playing[0]->source.devices().at(0).name, "Door");
        for (std::size_t row = 0; row < std::size(rows); ++row) {
            const auto& [file, count, spacing, dark, light] = rows[row];
            SCOPED_TRACE(file.filename());
            const test::RecordingSink& sink = playing[row]->sink;
            playing[row]->sink.waitFor(count ? count : 1000);
            playing[row]->source.stop();
            if (count == 0) {
                ASSERT_FALSE(sink.failures.empty());
                EXPECT_FALSE(sink.failures[0].empty());
                continue;
            }
            ASSERT_TRUE(sink.failures.empty()) << sink.failures[0];
            const auto& arrivals = sink.arrivals;
            ASSERT_GE(arrivals.size(), count);
            for (std::size_t i = 1; i < count; ++i)
                EXPECT_GT(arrivals[i] - arrivals[i - 1], spacing / 2) << "frame " << i;
            EXPECT_GT(arrivals[count - 1] - arrivals[0], 0.8 * spacing * double(count - 1));
            EXPECT_LT(arrivals[count - 1] - arrivals[0], 1.6 * spacing * double(count - 1));
            if (dark < 0)
                continue;
            const Frame& frame = sink.frames.back();
            ASSERT_EQ(frame.width(), 320);
            const std::uint8_t* line = frame.luma() + 90 * frame.lumaStride();
            EXPECT_NEAR(line[40], dark, 3);
            EXPECT_NEAR(line[280], light, 3);
            EXPECT_NEAR(frame.pixels()->data(1)[45 * frame.pixels()->stride(1) + 20], 128, 1); // grey stays
            const QImage photo = PhotoAnnotator::image(frame);
            EXPECT_NEAR(qGray(photo.pixel(40, 90)), dark, 3);
            EXPECT_NEAR(qGray(photo.pixel(280, 90)), light, 3);
        }
    }

} // namespace
} // namespace vardel
