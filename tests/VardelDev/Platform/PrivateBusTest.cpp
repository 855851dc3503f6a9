#include "PrivateBus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

using vardel::test::PrivateBus;
namespace fs = std::filesystem;

namespace {

constexpr const char* kHoldVariable = "VARDEL_HOLD_BUS";

// Run inside a child test process: holds a bus and one helper, writes their pids, waits to be killed.
class HoldsABus : public ::testing::Test {
    void TestBody() override
    {
        PrivateBus bus;
        ASSERT_TRUE(bus.ok());
        const pid_t helper = bus.start({ "sleep", "60" });
        const fs::path file = std::getenv(kHoldVariable);
        std::ofstream(file.string() + ".tmp")
            << bus.daemonPid() << ' ' << helper << ' ' << bus.dir().string() << '\n';
        fs::rename(file.string() + ".tmp", file);
        std::this_thread::sleep_for(std::chrono::seconds(60));
    }
};

const bool kHolder = std::getenv(kHoldVariable)
    && (::testing::RegisterTest("PrivateBusHolder", "Holds", nullptr, nullptr, __FILE__, __LINE__,
            []() -> ::testing::Test* { return new HoldsABus; }),
        true);

// Gone, or a zombie nobody has reaped yet: either way no longer running.
bool ended(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    return !std::getline(stat, line) || line.substr(line.rfind(')') + 2, 1) == "Z";
}

} // namespace

TEST(PrivateBus, ChildrenLeaveTheTestsOutputAloneAndDieWithAKilledTest)
{
    PrivateBus outer;
    if (!outer.ok())
        GTEST_SKIP() << "dbus-daemon is not installed (Debian package dbus)";
    const fs::path pids = outer.dir() / "pids";
    const pid_t holder = outer.start({ PrivateBus::self(), "--gtest_filter=PrivateBusHolder.*" },
        { std::string(kHoldVariable) + "=" + pids.string() });
    for (int i = 0; i < 1000 && !fs::exists(pids); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    pid_t daemon = 0, helper = 0;
    std::string scratch;
    std::ifstream(pids) >> daemon >> helper >> scratch;
    ASSERT_GT(daemon, 0);
    ASSERT_GT(helper, 0);
    EXPECT_NE(
        fs::read_symlink("/proc/" + std::to_string(daemon) + "/fd/1"), fs::read_symlink("/proc/self/fd/1"));

    ::kill(holder, SIGKILL);
    for (int i = 0; i < 500 && !(ended(daemon) && ended(helper)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(ended(daemon));
    EXPECT_TRUE(ended(helper));
    fs::remove_all(scratch); // the killed test could not
}
