#include "ClipWindow.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace vardel;

namespace {

using Window = ClipWindow<int>;
using Words = std::vector<std::string>;

// Actions as short words, so that a whole sequence compares in one assertion with a readable diff.
Words words(const Window::Actions& actions)
{
    Words out;
    for (const auto& action : actions) {
        std::ostringstream text;
        if (const auto* begin = std::get_if<Window::Begin>(&action))
            text << "begin " << begin->event;
        else if (const auto* write = std::get_if<Window::Write>(&action))
            text << "write " << write->time << " #" << write->sample;
        else
            text << "finish";
        out.push_back(text.str());
    }
    return out;
}

// Feeds samples numbered by their position at `start`, `start + step`, ... up to `last` inclusive.
void feed(Window& window, double start, double step, double last)
{
    int n = 0;
    for (double t = start; t <= last + 1e-9; t = start + step * ++n)
        EXPECT_TRUE(window.append(n, t).empty());
}

} // namespace

TEST(ClipWindow, TriggerWritesThePrerollInOrderFromExactlyPreSecondsBackAndTheRingIsBounded)
{
    Window window(4, 10);
    feed(window, 0, 0.5, 10);
    EXPECT_EQ(words(window.trigger(10)),
        (Words { "begin 10", "write 6 #12", "write 6.5 #13", "write 7 #14", "write 7.5 #15", "write 8 #16",
            "write 8.5 #17", "write 9 #18", "write 9.5 #19", "write 10 #20" }));
    EXPECT_TRUE(window.buffered().empty());
    EXPECT_EQ(window.end(), 20.0);

    Window dense(4, 10);
    feed(dense, 0, 0.01, 1.99);
    ASSERT_EQ(dense.buffered().size(), 150u);
    EXPECT_EQ(std::pair(dense.buffered().front().sample, dense.buffered().back().sample), std::pair(50, 199));
}

TEST(ClipWindow, RecordingWritesEachTimeOnceUpToEndThenFinishesOnTheFirstLateFrame)
{
    Window window(4, 2);
    EXPECT_EQ(words(window.trigger(10)), Words { "begin 10" });
    EXPECT_TRUE(window.trigger(11).empty()) << "another event neither extends nor restarts the clip";
    EXPECT_EQ(words(window.append(1, 10.5)), Words { "write 10.5 #1" });
    EXPECT_TRUE(window.append(2, 10.5).empty()) << "same time as the previous frame";
    EXPECT_TRUE(window.append(3, 10.2).empty()) << "older than the previous frame";
    EXPECT_EQ(words(window.append(4, 12)), Words { "write 12 #4" });
    EXPECT_EQ(words(window.append(5, 12.1)), Words { "finish" });
    // The closing frame is pre-roll for the next clip, and old times are allowed again.
    EXPECT_EQ(words(window.trigger(12.5)), (Words { "begin 12.5", "write 12.1 #5" }));
}

TEST(ClipWindow, TickFinishesOnlyAfterGraceHasPassedBeyondEndAndStopClosesEverything)
{
    Window window(4, 10);
    window.trigger(10);
    EXPECT_TRUE(window.tick(23).empty());
    EXPECT_EQ(words(window.tick(23.001)), Words { "finish" });
    EXPECT_TRUE(window.tick(30).empty()) << "one finish per clip";

    feed(window, 31, 1, 33);
    EXPECT_TRUE(window.stop().empty());
    EXPECT_TRUE(window.buffered().empty());
    window.trigger(40);
    EXPECT_EQ(words(window.stop()), Words { "finish" });
    EXPECT_TRUE(window.stop().empty());
    EXPECT_FALSE(window.isRecording());
}
