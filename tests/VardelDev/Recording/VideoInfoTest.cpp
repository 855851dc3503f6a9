#include "VideoInfo.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

using namespace vardel;
namespace fs = std::filesystem;

namespace {

// Clips made once per suite by the ffmpeg command-line tool, so the reader is checked against an
// encoder other than our own recorder.
class VideoInfoTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0)
            return;
        fs::remove_all(folder());
        fs::create_directories(folder());
        const std::string quiet = "ffmpeg -hide_banner -loglevel error -y ";
        s_made = std::system((quiet
                     + "-f lavfi -i testsrc=size=320x180:rate=10 -t 2.4 -c:v libx264 -preset ultrafast "
                       "-pix_fmt yuv420p '"
                     + (folder() / "clip.mp4").string() + "'")
                                 .c_str())
                == 0
            && std::system((
                   quiet + "-f lavfi -i sine=duration=1 -c:a aac '" + (folder() / "audio.mp4").string() + "'")
                               .c_str())
                == 0;
    }
    static void TearDownTestSuite() { fs::remove_all(folder()); }

    void SetUp() override
    {
        if (!s_made)
            GTEST_SKIP() << "the ffmpeg command-line tool is not installed (Debian package ffmpeg)";
    }

    static fs::path folder()
    {
        return fs::path(::testing::TempDir()) / ("video-info-" + std::to_string(::getpid()));
    }

    static fs::path write(const std::string& name, const std::string& content)
    {
        std::ofstream(folder() / name, std::ios::binary) << content;
        return folder() / name;
    }

    static inline bool s_made = false;
};

} // namespace

TEST_F(VideoInfoTest, FinishedClipGivesDurationAndEncodedSize)
{
    const auto info = VideoInfo::read(folder() / "clip.mp4");
    ASSERT_TRUE(info);
    EXPECT_NEAR(info->seconds, 2.4, 0.05);
    EXPECT_EQ(info->width, 320);
    EXPECT_EQ(info->height, 180);
}

TEST_F(VideoInfoTest, AnythingButAFinishedVideoClipIsNone)
{
    std::ifstream clip(folder() / "clip.mp4", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(clip)), std::istreambuf_iterator<char>());

    EXPECT_FALSE(VideoInfo::read(folder() / "audio.mp4")) << "audio only";
    EXPECT_FALSE(VideoInfo::read(write("empty.mp4", ""))) << "zero length";
    EXPECT_FALSE(VideoInfo::read(write("text.mp4", "not a video, just text\n"))) << "text named mp4";
    // The index is written last, so a clip cut in half is one still being written.
    EXPECT_FALSE(VideoInfo::read(write("half.mp4", bytes.substr(0, bytes.size() / 2)))) << "unfinished";
    EXPECT_FALSE(VideoInfo::read(folder() / "absent.mp4")) << "missing";
}

TEST_F(VideoInfoTest, ReadingStopsAtTheTimeOut) { EXPECT_FALSE(VideoInfo::read(folder() / "clip.mp4", 0)); }
