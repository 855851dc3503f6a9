#include "VideoInfo.h"

#include "OutboxFolder.h"

#include <gtest/gtest.h>

using namespace vardel;
using test::OutboxFolder;

// Clips made by the ffmpeg command-line tool, so the reader is checked against an encoder other than our
// own recorder.
TEST(VideoInfoTest, AFinishedClipGivesDurationAndSizeAnythingElseNothing)
{
    OutboxFolder data;
    const auto file = [&](const char* name) { return data.root() / name; };
    const auto make = [&](const std::string& source, const char* name) {
        const std::string command
            = "ffmpeg -v error -y -f lavfi -i " + source + " '" + file(name).string() + "'";
        return std::system(command.c_str()) == 0;
    };
    if (std::system("command -v ffmpeg >/dev/null") != 0
        || !make(
            "testsrc=size=320x180:rate=10 -t 2.4 -c:v libx264 -preset ultrafast -pix_fmt yuv420p", "clip.mp4")
        || !make("sine=duration=1 -c:a aac", "audio.mp4"))
        GTEST_SKIP() << "the ffmpeg command-line tool is not installed (Debian package ffmpeg)";

    const auto info = VideoInfo::read(file("clip.mp4")).value();
    EXPECT_NEAR(info.seconds, 2.4, 0.05);
    EXPECT_EQ(std::pair(info.width, info.height), std::pair(320, 180));
    EXPECT_FALSE(VideoInfo::read(file("clip.mp4"), 0)) << "reading stops at the time-out";
    EXPECT_FALSE(VideoInfo::read(file("audio.mp4"))) << "audio only";
    EXPECT_FALSE(VideoInfo::read(file("absent.mp4"))) << "missing";

    // The index is written last, so a clip cut in half is one still being written.
    const std::string clip = OutboxFolder::read(file("clip.mp4"));
    for (const auto& [name, content] :
        { std::pair { "empty.mp4", std::string() }, { "text.mp4", std::string("not a video, just text\n") },
            { "half.mp4", clip.substr(0, clip.size() / 2) } }) {
        OutboxFolder::write(file(name), content);
        EXPECT_FALSE(VideoInfo::read(file(name))) << name;
    }
}
