#include "ModeMachine.h"
#include "AlertSink.h"
#include "AppLanguage.h"
#include "CameraControl.h"
#include "L.h"
#include "PowerControl.h"
#include "RecordingControl.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace vardel;

namespace {

// Records every control call, in order, into one shared journal.
struct Journal {
    std::vector<std::string> calls;
    std::vector<std::string> texts;
};

struct FakeCamera final : CameraControl {
    Journal& journal;
    explicit FakeCamera(Journal& j)
        : journal(j)
    {
    }
    void startCamera() override { journal.calls.push_back("startCamera"); }
    void stopCamera() override { journal.calls.push_back("stopCamera"); }
};

struct FakePower final : PowerControl {
    Journal& journal;
    explicit FakePower(Journal& j)
        : journal(j)
    {
    }
    void preventSleep() override { journal.calls.push_back("preventSleep"); }
    void allowSleep() override { journal.calls.push_back("allowSleep"); }
};

struct FakeAlerts final : AlertSink {
    Journal& journal;
    explicit FakeAlerts(Journal& j)
        : journal(j)
    {
    }
    void enqueueText(const std::string& text) override
    {
        journal.calls.push_back("enqueueText");
        journal.texts.push_back(text);
    }
};

// Holds `whenIdle` callbacks until the test releases them, like a recorder still writing a clip.
struct FakeRecorder final : RecordingControl {
    Journal& journal;
    std::vector<std::function<void()>> waiting;
    std::vector<double> timeouts;
    explicit FakeRecorder(Journal& j)
        : journal(j)
    {
    }
    void startRecording() override { journal.calls.push_back("startRecording"); }
    void stopRecording() override { journal.calls.push_back("stopRecording"); }
    void whenIdle(double timeout, std::function<void()> done) override
    {
        journal.calls.push_back("whenIdle");
        timeouts.push_back(timeout);
        waiting.push_back(std::move(done));
    }
    void becomeIdle()
    {
        auto callbacks = std::move(waiting);
        waiting.clear();
        for (auto& callback : callbacks)
            callback();
    }
};

class ModeMachineTest : public ::testing::Test {
protected:
    void SetUp() override { L::setLanguage(AppLanguage::en); }

    ModeMachine makeMachine(bool withRecorder = true)
    {
        return ModeMachine(
            camera, power, alerts,
            [this] {
                ++blockerCalls;
                return blocker;
            },
            withRecorder ? &recorder : nullptr, [this] { return now; });
    }

    Journal journal;
    FakeCamera camera { journal };
    FakePower power { journal };
    FakeAlerts alerts { journal };
    FakeRecorder recorder { journal };
    std::optional<std::string> blocker;
    int blockerCalls = 0;
    double now = 1'700'000'000;
};

using Calls = std::vector<std::string>;

} // namespace

TEST_F(ModeMachineTest, OffToProtectionStartsCameraArmsAndAnnouncesInOrder)
{
    auto machine = makeMachine();
    EXPECT_EQ(machine.apply(false, true), Mode::monitor);
    EXPECT_EQ(journal.calls, (Calls { "startCamera", "preventSleep", "startRecording", "enqueueText" }));
    ASSERT_EQ(journal.texts.size(), 1u);
    EXPECT_EQ(journal.texts[0].rfind("Brisko: protection on · ", 0), 0u) << journal.texts[0];
    EXPECT_EQ(machine.monitorSince(), now);
    EXPECT_FALSE(machine.lastRefusal());
}

TEST_F(ModeMachineTest, RefusedStartWithPreviewGivesPreviewAndSendsNothing)
{
    blocker = "no chat";
    auto machine = makeMachine();
    EXPECT_EQ(machine.apply(true, true), Mode::preview);
    EXPECT_EQ(journal.calls, (Calls { "startCamera" }));
    ASSERT_TRUE(machine.lastRefusal());
    EXPECT_NE(machine.lastRefusal()->find("no chat"), std::string::npos);
    EXPECT_FALSE(machine.monitorSince());

    // A refused start from off without preview stays off and touches nothing.
    auto second = makeMachine();
    journal.calls.clear();
    EXPECT_EQ(second.apply(false, true), Mode::off);
    EXPECT_TRUE(journal.calls.empty());
    EXPECT_TRUE(second.lastRefusal());

    // The refusal is cleared by the next apply.
    EXPECT_EQ(second.apply(false, false), Mode::off);
    EXPECT_FALSE(second.lastRefusal());
}

TEST_F(ModeMachineTest, LeavingProtectionForPreviewKeepsCameraAndWaitsForRecorderBeforeOffText)
{
    auto machine = makeMachine();
    machine.apply(false, true);
    journal = {};
    now += 30;
    EXPECT_EQ(machine.apply(true, false), Mode::preview);
    EXPECT_EQ(journal.calls, (Calls { "stopRecording", "allowSleep", "whenIdle" }));
    EXPECT_EQ(recorder.timeouts, (std::vector<double> { 20.0 }));
    EXPECT_TRUE(journal.texts.empty());
    EXPECT_FALSE(machine.monitorSince());

    recorder.becomeIdle();
    ASSERT_EQ(journal.texts.size(), 1u);
    EXPECT_EQ(journal.texts[0].rfind("Brisko: protection off · ", 0), 0u) << journal.texts[0];
}

TEST_F(ModeMachineTest, LeavingProtectionWithoutRecorderAnnouncesAtOnceAndAllOffStopsCameraLast)
{
    auto machine = makeMachine(false);
    machine.apply(false, true);
    journal = {};
    EXPECT_EQ(machine.apply(false, false), Mode::off);
    EXPECT_EQ(journal.calls, (Calls { "allowSleep", "enqueueText", "stopCamera" }));
}

TEST_F(ModeMachineTest, RepeatingTheRequestIsANoOpAndBlockerIsNotAskedWhileProtecting)
{
    auto machine = makeMachine();
    machine.apply(false, true);
    int askedAfterStart = blockerCalls;
    journal = {};
    blocker = "would refuse";
    EXPECT_EQ(machine.apply(false, true), Mode::monitor);
    EXPECT_EQ(machine.apply(true, true), Mode::monitor);
    EXPECT_TRUE(journal.calls.empty());
    EXPECT_EQ(blockerCalls, askedAfterStart);
    EXPECT_FALSE(machine.lastRefusal());
}

TEST_F(ModeMachineTest, PreviewToProtectionDoesNotRestartCamera)
{
    auto machine = makeMachine();
    machine.apply(true, false);
    journal = {};
    EXPECT_EQ(machine.apply(true, true), Mode::monitor);
    EXPECT_EQ(journal.calls, (Calls { "preventSleep", "startRecording", "enqueueText" }));
    journal = {};
    EXPECT_EQ(machine.apply(false, false), Mode::off);
    EXPECT_EQ(journal.calls, (Calls { "stopRecording", "allowSleep", "whenIdle", "stopCamera" }));
}

TEST_F(ModeMachineTest, IdleCallbackAfterTheMachineIsGoneDoesNothing)
{
    {
        auto machine = makeMachine();
        machine.apply(false, true);
        machine.apply(false, false);
    }
    journal.texts.clear();
    recorder.becomeIdle();
    EXPECT_TRUE(journal.texts.empty());
}
