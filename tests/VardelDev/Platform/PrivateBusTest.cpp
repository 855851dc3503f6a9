#include "PrivateBus.h"
#include "OutboxFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using vardel::test::PrivateBus;
namespace fs = std::filesystem;

// Gone, or a zombie nobody has reaped yet: either way no longer running.
static bool ended(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    return !std::getline(stat, line) || line.substr(line.rfind(')') + 2, 1) == "Z";
}

TEST(PrivateBus, ChildrenLeaveTheTestsOutputAloneAndDieWithAKilledTest)
{
    if (!PrivateBus::onPath("dbus-daemon"))
        GTEST_SKIP() << "dbus-daemon is not installed (Debian package dbus)";
    const vardel::test::OutboxFolder scratch; // for the bus folder, which its killed holder cannot remove
    int pipe[2] = { -1, -1 };
    ASSERT_EQ(::pipe(pipe), 0);
    // A forked copy of the test holds a bus and one helper, sends their pids and waits to be killed.
    const pid_t holder = ::fork();
    if (holder == 0) {
        setenv("TMPDIR", scratch.root().c_str(), 1);
        PrivateBus bus;
        const pid_t pids[] = { bus.daemonPid(), bus.start({ "sleep", "60" }) };
        if (bus.ok() && ::write(pipe[1], pids, sizeof pids) == sizeof pids)
            for (;;)
                ::pause();
        ::_exit(1);
    }
    ::close(pipe[1]);
    pid_t pids[2] = { 0, 0 };
    ASSERT_EQ(::read(pipe[0], pids, sizeof pids), static_cast<ssize_t>(sizeof pids));
    ::close(pipe[0]);
    const auto [daemon, helper] = pids;
    EXPECT_NE(
        fs::read_symlink("/proc/" + std::to_string(daemon) + "/fd/1"), fs::read_symlink("/proc/self/fd/1"));

    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    for (int i = 0; i < 500 && !(ended(daemon) && ended(helper)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(ended(daemon));
    EXPECT_TRUE(ended(helper));
}
