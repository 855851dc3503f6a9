#include "ModeMachine.h"
#include "AlertSink.h"
#include "CameraControl.h"
#include "L.h"
#include "Lifecycle.h"
#include "PowerControl.h"
#include "QueueControl.h"
#include "RecordingControl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace vardel;
namespace fs = std::filesystem;

namespace {

using Calls = std::vector<std::string>;

// Every control the machine and the quit sequence drive, journaling each call in order; the recorder and
// the queue hold their completion callbacks until the test releases them.
struct Controls final : CameraControl, PowerControl, AlertSink, RecordingControl, QueueControl {
    Calls calls, texts;
    std::vector<std::function<void()>> idle, flushed;
    std::vector<double> timeouts;

    void startCamera() override { calls.push_back("startCamera"); }
    void stopCamera() override { calls.push_back("stopCamera"); }
    void preventSleep() override { calls.push_back("preventSleep"); }
    void allowSleep() override { calls.push_back("allowSleep"); }
    void enqueueText(const std::string& text) override
    {
        calls.push_back("enqueueText"), texts.push_back(text);
    }
    void startRecording() override { calls.push_back("startRecording"); }
    void stopRecording() override { calls.push_back("stopRecording"); }
    void whenIdle(double timeout, std::function<void()> done) override
    {
        calls.push_back("whenIdle"), timeouts.push_back(timeout), idle.push_back(std::move(done));
    }
    void startSending() override { calls.push_back("startSending"); }
    void stopAndFlush(double timeout, std::function<void()> done) override
    {
        calls.push_back("stopAndFlush"), timeouts.push_back(timeout), flushed.push_back(std::move(done));
    }
    static void release(std::vector<std::function<void()>>& held)
    {
        for (auto& callback : std::exchange(held, {}))
            callback();
    }
};

class ModeMachineTest : public ::testing::Test {
protected:
    void SetUp() override { L::setLanguage(AppLanguage::en); }

    ModeMachine machine(bool withRecorder = true)
    {
        return ModeMachine(
            c, c, c, [this] { return ++blockerCalls, blocker; }, withRecorder ? &c : nullptr,
            [this] { return now; });
    }
    void clear() { c.calls.clear(), c.texts.clear(), c.timeouts.clear(); }

    Controls c;
    std::optional<std::string> blocker;
    int blockerCalls = 0;
    double now = 1'700'000'000;
};

} // namespace

TEST_F(ModeMachineTest, ProtectionStartsArmsAndAnnouncesThenStopsWaitingForTheClip)
{
    auto m = machine();
    EXPECT_EQ(m.apply(false, true), Mode::monitor);
    EXPECT_EQ(c.calls, (Calls { "startCamera", "preventSleep", "startRecording", "enqueueText" }));
    EXPECT_EQ(c.texts.at(0).rfind("Brisko: protection on · ", 0), 0u) << c.texts[0];
    EXPECT_EQ(m.monitorSince(), now);

    // Repeating the request changes nothing and does not ask the blocker again.
    clear();
    const int asked = blockerCalls;
    blocker = "would refuse";
    EXPECT_EQ(m.apply(true, true), Mode::monitor);
    EXPECT_TRUE(c.calls.empty());
    EXPECT_EQ(blockerCalls, asked);

    // To preview: the camera stays, the "off" text waits for the recorder to finish its clip.
    EXPECT_EQ(m.apply(true, false), Mode::preview);
    EXPECT_EQ(c.calls, (Calls { "stopRecording", "allowSleep", "whenIdle" }));
    EXPECT_EQ(c.timeouts, (std::vector<double> { 20.0 }));
    EXPECT_TRUE(c.texts.empty());
    EXPECT_FALSE(m.monitorSince());
    Controls::release(c.idle);
    EXPECT_EQ(c.texts.at(0).rfind("Brisko: protection off · ", 0), 0u) << c.texts[0];

    // From preview the camera is not restarted, and all off stops it last.
    blocker.reset();
    clear();
    EXPECT_EQ(m.apply(true, true), Mode::monitor);
    EXPECT_EQ(c.calls, (Calls { "preventSleep", "startRecording", "enqueueText" }));
    clear();
    EXPECT_EQ(m.apply(false, false), Mode::off);
    EXPECT_EQ(c.calls, (Calls { "stopRecording", "allowSleep", "whenIdle", "stopCamera" }));
}

TEST_F(ModeMachineTest, ARefusedStartSendsNothingAndWithoutRecorderTheOffTextGoesAtOnce)
{
    blocker = "no chat";
    auto m = machine();
    EXPECT_EQ(m.apply(true, true), Mode::preview);
    EXPECT_EQ(c.calls, (Calls { "startCamera" }));
    EXPECT_NE(m.lastRefusal().value_or("").find("no chat"), std::string::npos);
    EXPECT_FALSE(m.monitorSince());

    auto fromOff = machine();
    clear();
    EXPECT_EQ(fromOff.apply(false, true), Mode::off);
    EXPECT_TRUE(c.calls.empty());
    EXPECT_TRUE(fromOff.lastRefusal());
    fromOff.apply(false, false);
    EXPECT_FALSE(fromOff.lastRefusal()) << "cleared by the next apply";

    blocker.reset();
    auto noRecorder = machine(false);
    noRecorder.apply(false, true);
    clear();
    EXPECT_EQ(noRecorder.apply(false, false), Mode::off);
    EXPECT_EQ(c.calls, (Calls { "allowSleep", "enqueueText", "stopCamera" }));

    {
        auto gone = machine();
        gone.apply(false, true);
        gone.apply(false, false);
    }
    clear();
    Controls::release(c.idle);
    EXPECT_TRUE(c.texts.empty());
}

TEST_F(ModeMachineTest, QuitStopsThenWaitsForTheClipThenTheFlushThenEmptiesTheTemporaryFolders)
{
    const fs::path root = fs::temp_directory_path() / ("vardel-lifecycle-" + std::to_string(::getpid()));
    fs::create_directories(root / "clips" / "nested");
    std::ofstream(root / "clips" / "nested" / "b.mp4") << "y";
    for (bool withHelpers : { true, false }) {
        std::ofstream(root / "clips" / "a.mp4") << "x";
        auto m = machine(withHelpers);
        m.apply(true, false);
        clear();
        bool done = false;
        Lifecycle::quit(m, withHelpers ? &c : nullptr, withHelpers ? &c : nullptr,
            { root / "clips", root / "missing" }, [&] { done = true; });
        EXPECT_EQ(m.mode(), Mode::off);
        if (withHelpers) {
            EXPECT_EQ(c.calls, (Calls { "stopCamera", "whenIdle" }));
            Controls::release(c.idle);
            EXPECT_EQ(c.calls.back(), "stopAndFlush");
            EXPECT_FALSE(done);
            EXPECT_TRUE(fs::exists(root / "clips" / "a.mp4")) << "not cleaned before the flush ends";
            Controls::release(c.flushed);
        }
        EXPECT_TRUE(done);
        EXPECT_TRUE(fs::is_directory(root / "clips"));
        EXPECT_TRUE(fs::is_empty(root / "clips"));
    }
    fs::remove_all(root);
}
