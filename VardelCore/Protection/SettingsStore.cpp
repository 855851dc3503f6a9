#include "SettingsStore.h"

#include "AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vardel {

namespace {
    // The whole file, or nothing when it cannot be read as a regular file of at most `limit` bytes.
    std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::uintmax_t limit)
    {
        // O_NONBLOCK keeps a FIFO put in the file's place from blocking the open for ever.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return std::nullopt;
        struct stat info { };
        std::optional<std::string> result;
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)
            && static_cast<std::uintmax_t>(info.st_size) <= limit) {
            std::string bytes;
            char buffer[16384];
            bool failed = false;
            for (;;) {
                const ssize_t got = ::read(fd, buffer, sizeof buffer);
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0) {
                    failed = got < 0;
                    break;
                }
                bytes.append(buffer, static_cast<std::size_t>(got));
                // The file may grow after fstat; stop reading once it is past the limit.
                if (bytes.size() > limit) {
                    failed = true;
                    break;
                }
            }
            if (!failed)
                result = std::move(bytes);
        }
        ::close(fd);
        return result;
    }
}

SettingsStore::SettingsStore(std::filesystem::path path)
    : m_path(std::move(path))
    , m_queue("vardel.settings")
{
}

Settings SettingsStore::load() const
{
    const auto bytes = readSmallFile(m_path, maximumFileSize);
    if (!bytes)
        return Settings();
    try {
        return Settings::decode(*bytes);
    } catch (const std::exception&) {
        return Settings();
    }
}

Settings SettingsStore::update(const std::function<void(Settings&)>& change)
{
    return m_queue.sync([&] {
        Settings settings = load();
        change(settings);
        AtomicFile::write(m_path, settings.encode(), 0600);
        return settings;
    });
}

} // namespace vardel
