#include "Lifecycle.h"
#include "AlertSink.h"
#include "CameraControl.h"
#include "ModeMachine.h"
#include "PowerControl.h"
#include "QueueControl.h"
#include "RecordingControl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace vardel;
namespace fs = std::filesystem;

namespace {

struct Steps {
    std::vector<std::string> order;
};

struct NullCamera final : CameraControl {
    Steps& steps;
    explicit NullCamera(Steps& s)
        : steps(s)
    {
    }
    void startCamera() override { }
    void stopCamera() override { steps.order.push_back("stopCamera"); }
};
struct NullPower final : PowerControl {
    void preventSleep() override { }
    void allowSleep() override { }
};
struct NullAlerts final : AlertSink {
    void enqueueText(const std::string&) override { }
};

struct HeldRecorder final : RecordingControl {
    Steps& steps;
    std::function<void()> pending;
    double timeout = 0;
    explicit HeldRecorder(Steps& s)
        : steps(s)
    {
    }
    void startRecording() override { }
    void stopRecording() override { }
    void whenIdle(double t, std::function<void()> done) override
    {
        steps.order.push_back("whenIdle");
        timeout = t;
        pending = std::move(done);
    }
};

struct HeldQueue final : QueueControl {
    Steps& steps;
    std::function<void()> pending;
    double timeout = 0;
    explicit HeldQueue(Steps& s)
        : steps(s)
    {
    }
    void startSending() override { }
    void stopAndFlush(double t, std::function<void()> done) override
    {
        steps.order.push_back("stopAndFlush");
        timeout = t;
        pending = std::move(done);
    }
};

class LifecycleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = fs::temp_directory_path() / ("vardel-lifecycle-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "clips" / "nested");
        std::ofstream(root / "clips" / "a.mp4") << "x";
        std::ofstream(root / "clips" / "nested" / "b.mp4") << "y";
    }
    void TearDown() override { fs::remove_all(root); }

    fs::path root;
    Steps steps;
    NullCamera camera { steps };
    NullPower power;
    NullAlerts alerts;
};

} // namespace

TEST_F(LifecycleTest, QuitStopsModeWaitsForClipThenFlushThenCleansAndFinishes)
{
    HeldRecorder recorder(steps);
    HeldQueue queue(steps);
    ModeMachine machine(
        camera, power, alerts, [] { return std::nullopt; }, &recorder, [] { return 0.0; });
    machine.apply(true, false);

    bool done = false;
    Lifecycle::quit(machine, &recorder, &queue, { root / "clips" }, [&] { done = true; });
    EXPECT_EQ(machine.mode(), Mode::off);
    EXPECT_EQ(steps.order, (std::vector<std::string> { "stopCamera", "whenIdle" }));
    EXPECT_DOUBLE_EQ(recorder.timeout, Lifecycle::clipTimeout);

    recorder.pending();
    EXPECT_EQ(steps.order.back(), "stopAndFlush");
    EXPECT_DOUBLE_EQ(queue.timeout, Lifecycle::flushTimeout);
    EXPECT_FALSE(done);
    EXPECT_TRUE(fs::exists(root / "clips" / "a.mp4")); // not cleaned before the flush ends

    queue.pending();
    EXPECT_TRUE(done);
    EXPECT_TRUE(fs::exists(root / "clips"));
    EXPECT_TRUE(fs::is_empty(root / "clips"));
}

TEST_F(LifecycleTest, QuitWithoutRecorderOrQueueCleansAndFinishesSynchronously)
{
    ModeMachine machine(
        camera, power, alerts, [] { return std::nullopt; }, nullptr, [] { return 0.0; });
    bool done = false;
    Lifecycle::quit(machine, nullptr, nullptr, { root / "clips", root / "missing" }, [&] { done = true; });
    EXPECT_TRUE(done);
    EXPECT_TRUE(fs::is_empty(root / "clips"));
}
