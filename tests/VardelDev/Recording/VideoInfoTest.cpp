#include "VideoInfo.h"

#include "OutboxFolder.h"

#include <gtest/gtest.h>


using namespace vardel;
namespace fs = std::filesystem;

// Clips made by the ffmpeg command-line tool, so the reader is checked against an encoder other than our
// own recorder.
TEST(VideoInfoTest, AFinishedClipGivesDurationAndSizeAnythingElseNothing)
{
    test::OutboxFolder data;
    const fs::path folder = data.root();
    const auto make = [&](const std::string& source, const char* name) {
        return std::system(("ffmpeg -hide_banner -loglevel error -y -f lavfi -i " + source + " '"
                   + (folder / name).string() + "'")
                               .c_str())
            == 0;
    };
    if (std::system("command -v ffmpeg >/dev/null") != 0
        || !make(
            "testsrc=size=320x180:rate=10 -t 2.4 -c:v libx264 -preset ultrafast -pix_fmt yuv420p", "clip.mp4")
        || !make("sine=duration=1 -c:a aac", "audio.mp4"))
        GTEST_SKIP() << "the ffmpeg command-line tool is not installed (Debian package ffmpeg)";
    const auto write = [&](const char* name, const std::string& content) {
        test::OutboxFolder::write(folder / name, content);
        return folder / name;
    };

    const auto info = VideoInfo::read(folder / "clip.mp4");
    ASSERT_TRUE(info);
    EXPECT_NEAR(info->seconds, 2.4, 0.05);
    EXPECT_EQ(std::pair(info->width, info->height), std::pair(320, 180));
    EXPECT_FALSE(VideoInfo::read(folder / "clip.mp4", 0)) << "reading stops at the time-out";

    const std::string clip = test::OutboxFolder::read(folder / "clip.mp4");
    EXPECT_FALSE(VideoInfo::read(folder / "audio.mp4")) << "audio only";
    EXPECT_FALSE(VideoInfo::read(write("empty.mp4", ""))) << "zero length";
    EXPECT_FALSE(VideoInfo::read(write("text.mp4", "not a video, just text\n"))) << "text named mp4";
    // The index is written last, so a clip cut in half is one still being written.
    EXPECT_FALSE(VideoInfo::read(write("half.mp4", clip.substr(0, clip.size() / 2))))
        << "unfinished";
    EXPECT_FALSE(VideoInfo::read(folder / "absent.mp4")) << "missing";
}
