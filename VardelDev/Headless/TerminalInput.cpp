#include "TerminalInput.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <utility>

#include <termios.h>
#include <unistd.h>

namespace vardel {

namespace {

    // The code a nested loop ends with when its own condition was met; the application's quit ends
    // every loop with its own code (0).
    constexpr int kDone = 1;

    // Echo off for the life of this object, when `fd` is a terminal.
    class NoEcho {
    public:
        NoEcho(int fd, bool on)
            : m_fd(fd)
        {
            if (!on || ::tcgetattr(fd, &m_saved) != 0)
                return;
            termios quiet = m_saved;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            m_active = ::tcsetattr(fd, TCSANOW, &quiet) == 0;
        }
        ~NoEcho()
        {
            if (!m_active)
                return;
            ::tcsetattr(m_fd, TCSANOW, &m_saved);
            // The user's Enter was not echoed either.
            [[maybe_unused]] auto written = ::write(STDOUT_FILENO, "\n", 1);
        }
        NoEcho(const NoEcho&) = delete;
        NoEcho& operator=(const NoEcho&) = delete;

    private:
        int m_fd;
        termios m_saved {};
        bool m_active = false;
    };

} // namespace

TerminalInput::TerminalInput(int fd, QObject* parent)
    : QObject(parent)
    , m_fd(fd)
{
}

TerminalInput::~TerminalInput() = default;

std::optional<std::string> TerminalInput::takeLine()
{
    const auto end = m_buffer.find('\n');
    if (end == std::string::npos)
        return std::nullopt;
    std::string line = m_buffer.substr(0, end);
    m_buffer.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

bool TerminalInput::fill(const std::function<bool()>& enough, int quietMs)
{
    if (enough())
        return true;
    if (m_ended || m_stopped)
        return false;
    QEventLoop loop;
    QSocketNotifier notifier(m_fd, QSocketNotifier::Read);
    QTimer quiet;
    quiet.setSingleShot(true);
    connect(&quiet, &QTimer::timeout, &loop, [&] { loop.exit(kDone); });
    connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
        char bytes[512];
        const auto count = ::read(m_fd, bytes, sizeof bytes);
        if (count <= 0) {
            m_ended = true;
            loop.exit(kDone);
            return;
        }
        m_buffer.append(bytes, static_cast<std::size_t>(count));
        if (enough())
            loop.exit(kDone);
        else if (quietMs >= 0)
            quiet.start(quietMs);
    });
    if (quietMs >= 0)
        quiet.start(quietMs);
    return run(loop);
}

bool TerminalInput::run(QEventLoop& loop)
{
    QEventLoop* outer = std::exchange(m_loop, &loop);
    const bool done = loop.exec() == kDone && !m_stopped;
    m_loop = outer;
    return done;
}

void TerminalInput::stop()
{
    m_stopped = true;
    if (m_loop)
        m_loop->exit(0);
}

std::optional<std::string> TerminalInput::readLine(bool hidden)
{
    NoEcho noEcho(m_fd, hidden);
    if (!fill([this] { return m_buffer.find('\n') != std::string::npos; }, -1))
        return std::nullopt;
    return takeLine();
}

std::optional<std::string> TerminalInput::readPasted(bool hidden, int quietMs)
{
    NoEcho noEcho(m_fd, hidden);
    if (!fill([this] { return m_buffer.find('\n') != std::string::npos; }, -1))
        return std::nullopt;
    auto text = takeLine();
    // The rest of a paste arrives at once; a person answering the next question takes longer.
    fill([] { return false; }, quietMs); // a quit here shows at the next question
    while (auto more = takeLine())
        *text += "\n" + *more;
    return text;
}

bool TerminalInput::waitUntil(const std::function<bool()>& done)
{
    if (m_stopped)
        return false;
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.exit(kDone);
    });
    poll.start(50);
    return run(loop);
}

} // namespace vardel
