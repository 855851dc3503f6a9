#include "PrivateBus.h"
#include "OutboxFolder.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vardel::test {

namespace fs = std::filesystem;

namespace {

    // A session bus on a socket in our folder, with no service folders: nothing is ever activated, so
    // every process on it is one the test started.
    constexpr const char* kConfig
        = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:path=@</listen><auth>EXTERNAL</auth><policy context="default">
<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy></busconfig>)";

    // Waits up to `seconds` for `pid` to end: its exit status, or -1.
    int reap(pid_t pid, double seconds)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

} // namespace

PrivateBus::PrivateBus()
{
    std::string scratch = (fs::temp_directory_path() / "vardel-bus-XXXXXX").string();
    if (!::mkdtemp(scratch.data()))
        return;
    m_dir = scratch;
    fs::create_directories(m_dir / "home");
    fs::create_directory(m_dir / "run");
    fs::permissions(m_dir / "run", fs::perms::owner_all);
    std::string config = kConfig;
    std::ofstream(m_dir / "bus.conf") << config.replace(config.find('@'), 1, (m_dir / "bus").string());
    m_address = "unix:path=" + (m_dir / "bus").string();
    if (!onPath("dbus-daemon"))
        return;
    m_daemon = start({ "dbus-daemon", "--nofork", "--config-file=" + (m_dir / "bus.conf").string() });
    for (int i = 0; i < 1000 && !fs::exists(m_dir / "bus"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!fs::exists(m_dir / "bus"))
        m_daemon = -1;
}

PrivateBus::~PrivateBus()
{
    if (m_group > 0)
        ::kill(-m_group, SIGTERM);
    for (pid_t child : m_children)
        if (reap(child, 2) < 0 && ::kill(child, SIGKILL) == 0)
            reap(child, 2);
    if (m_group > 0)
        ::kill(-m_group, SIGKILL); // anything the children started
    std::error_code ignored;
    fs::remove_all(m_dir, ignored);
}

pid_t PrivateBus::spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
    int inputFd, const fs::path& output)
{
    // Everything the child needs is prepared before fork: after it, only async-signal-safe calls.
    std::vector<std::string> strings { "DBUS_SESSION_BUS_ADDRESS=" + m_address,
        "DBUS_SYSTEM_BUS_ADDRESS=" + m_address, "HOME=" + (m_dir / "home").string(),
        "XDG_RUNTIME_DIR=" + (m_dir / "run").string() };
    strings.insert(strings.end(), env.begin(), env.end());
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view name(*entry, std::string_view(*entry).find('=') + 1);
        if (std::ranges::none_of(strings, [&](const auto& set) { return set.starts_with(name); }))
            strings.emplace_back(*entry);
    }
    std::vector<char*> args, envp;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    for (const auto& entry : strings)
        envp.push_back(const_cast<char*>(entry.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const int in = inputFd >= 0 ? inputFd : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = ::getpid();

    const pid_t pid = ::fork();
    if (pid == 0) {
        // Die with the test process, even when it is killed, and keep out of its output pipe.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::setpgid(0, m_group > 0 ? m_group : 0);
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        ::close_range(3, ~0U, 0);
        ::execvpe(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(out);
    ::close(in);
    if (pid > 0) {
        ::setpgid(pid, m_group > 0 ? m_group : pid); // here too, so the group exists before the next fork
        m_group = m_group > 0 ? m_group : pid;
        m_children.push_back(pid);
    }
    return pid;
}

pid_t PrivateBus::start(
    const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& input)
{
    int pipe[2] = { -1, -1 };
    if (!input.empty() && ::pipe2(pipe, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = spawn(argv, env, pipe[0], m_dir / "log");
    if (pipe[1] >= 0) {
        [[maybe_unused]] const bool written = ::write(pipe[1], input.data(), input.size()) > 0;
        ::close(pipe[1]);
    }
    return pid;
}

PrivateBus::Run PrivateBus::run(
    const std::vector<std::string>& argv, const std::vector<std::string>& env, double timeoutSeconds)
{
    const fs::path output = m_dir / ("output-" + std::to_string(++m_runs)); // each run's own
    const pid_t pid = spawn(argv, env, -1, output);
    const int status = pid > 0 ? reap(pid, timeoutSeconds) : -1;
    if (status < 0 && pid > 0 && ::kill(pid, SIGKILL) == 0)
        reap(pid, 2);
    std::erase(m_children, pid);
    return { status, OutboxFolder::read(output) };
}

bool PrivateBus::waitForName(const std::string& name, int timeoutSeconds)
{
    const auto seconds = std::to_string(timeoutSeconds);
    const Run wait = run(
        { "gdbus", "wait", "--address", m_address, "--timeout", seconds, name }, {}, timeoutSeconds + 5);
    return wait.status == 0;
}

bool PrivateBus::onPath(const std::string& tool)
{
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string PrivateBus::self() { return fs::read_symlink("/proc/self/exe"); }

} // namespace vardel::test
