#include "Log.h"

#include "Captions.h"
#include "LogScrubber.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace vardel {

namespace {

    struct SecretSlot {
        std::mutex mutex;
        std::optional<std::string> value;
    };

    SecretSlot& secretSlot()
    {
        static SecretSlot slot;
        return slot;
    }

    bool writeAll(int fd, const std::string& data)
    {
        std::size_t done = 0;
        while (done < data.size()) {
            ssize_t written = ::write(fd, data.data() + done, data.size() - done);
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            done += static_cast<std::size_t>(written);
        }
        return true;
    }

} // namespace

Log::Log(std::filesystem::path logsFolder, std::shared_ptr<const Clock> clock)
    : m_folder(std::move(logsFolder))
    , m_clock(clock ? std::move(clock) : std::make_shared<SystemClock>())
{
}

Log::~Log() { m_queue.shutdown(); }

void Log::info(const std::string& message)
{
    std::string text = scrub(message);
    ::syslog(LOG_INFO, "Vardel: %s", text.c_str());
    // The stamp is taken now, not when the queue gets to it, so it tells when the caller logged.
    std::string line = Captions::logStamp(m_clock->now()) + " " + text + "\n";
    m_queue.async([this, line = std::move(line)] { append(line); });
}

void Log::system(const std::string& message) { ::syslog(LOG_INFO, "%s", scrub(message).c_str()); }

void Log::flush()
{
    if (m_queue.isCurrent())
        return;
    try {
        m_queue.sync([] {});
    } catch (...) {
        // Shut down: nothing is pending.
    }
}

void Log::setSecret(std::optional<std::string> secret)
{
    auto& slot = secretSlot();
    std::lock_guard lock(slot.mutex);
    slot.value = std::move(secret);
}

std::optional<std::string> Log::secret()
{
    auto& slot = secretSlot();
    std::lock_guard lock(slot.mutex);
    return slot.value;
}

std::string Log::scrub(const std::string& message)
{
    const auto current = secret();
    return LogScrubber::scrub(message, current ? std::optional<std::string_view>(*current) : std::nullopt);
}

void Log::append(const std::string& line)
{
    const auto file = m_folder / "app.log";
    struct stat info { };
    if (::stat(file.c_str(), &info) == 0 && static_cast<std::uintmax_t>(info.st_size) > kRotateAbove) {
        const auto previous = m_folder / "app.log.1";
        ::unlink(previous.c_str());
        ::rename(file.c_str(), previous.c_str());
    }
    int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    writeAll(fd, line);
    ::close(fd);
}

} // namespace vardel
