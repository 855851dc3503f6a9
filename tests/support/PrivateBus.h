#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace vardel::test {

// A dbus-daemon of the test's own, with no service activation, in a scratch folder (home, runtime dir,
// log). Every process started here runs in the bus's process group, gets SIGKILL when the test process
// dies, and writes to the log file, never to the test's output; destruction kills the group and reaps it.
class PrivateBus {
public:
    struct Run {
        int status = -1; // exit status; -1 when killed or timed out
        std::string output;
    };

    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // False when dbus-daemon is missing or did not come up.
    bool ok() const { return m_daemon > 0; }
    const std::string& address() const { return m_address; }
    const std::filesystem::path& dir() const { return m_dir; }
    pid_t daemonPid() const { return m_daemon; }

    // Starts `argv` in the background with both bus addresses set to this bus, HOME and XDG_RUNTIME_DIR
    // in the scratch folder, plus `env` ("NAME=value"); `input` is written to its standard input.
    pid_t start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
        const std::string& input = {});
    // Runs `argv` as `start` does, to its end or `timeoutSeconds`; returns its exit status and output.
    Run run(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
        double timeoutSeconds = 120);
    bool waitForName(const std::string& name, int timeoutSeconds = 15);

    static bool onPath(const std::string& tool);
    static std::string self(); // this test binary, for running some of its tests on the bus

private:
    pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int inputFd,
        const std::filesystem::path& output);

    std::filesystem::path m_dir;
    std::string m_address;
    pid_t m_daemon = -1;
    pid_t m_group = -1; // the daemon's process group, which every child joins
    std::vector<pid_t> m_children;
    int m_runs = 0;
};

} // namespace vardel::test
