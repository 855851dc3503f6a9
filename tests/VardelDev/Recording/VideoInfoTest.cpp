#include "VideoInfo.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace vardel;
namespace fs = std::filesystem;

namespace {

// Clips made once per suite by the ffmpeg command-line tool, so the reader is checked against an
// encoder other than our own recorder.
class VideoInfoTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        fs::create_directories(folder());
        const std::string ffmpeg = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i ";
        s_made = std::system("command -v ffmpeg >/dev/null") == 0
            && std::system((ffmpeg
                   + "testsrc=size=320x180:rate=10 -t 2.4 -c:v libx264 -preset ultrafast -pix_fmt yuv420p '"
                   + (folder() / "clip.mp4").string() + "'")
                               .c_str())
                == 0
            && std::system(
                   (ffmpeg + "sine=duration=1 -c:a aac '" + (folder() / "audio.mp4").string() + "'").c_str())
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

TEST_F(VideoInfoTest, AFinishedClipGivesDurationAndSizeAnythingElseNothing)
{
    const auto info = VideoInfo::read(folder() / "clip.mp4");
    ASSERT_TRUE(info);
    EXPECT_NEAR(info->seconds, 2.4, 0.05);
    EXPECT_EQ(std::pair(info->width, info->height), std::pair(320, 180));
    EXPECT_FALSE(VideoInfo::read(folder() / "clip.mp4", 0)) << "reading stops at the time-out";

    std::stringstream clip;
    clip << std::ifstream(folder() / "clip.mp4", std::ios::binary).rdbuf();
    EXPECT_FALSE(VideoInfo::read(folder() / "audio.mp4")) << "audio only";
    EXPECT_FALSE(VideoInfo::read(write("empty.mp4", ""))) << "zero length";
    EXPECT_FALSE(VideoInfo::read(write("text.mp4", "not a video, just text\n"))) << "text named mp4";
    // The index is written last, so a clip cut in half is one still being written.
    EXPECT_FALSE(VideoInfo::read(write("half.mp4", clip.str().substr(0, clip.str().size() / 2))))
        << "unfinished";
    EXPECT_FALSE(VideoInfo::read(folder() / "absent.mp4")) << "missing";
}
