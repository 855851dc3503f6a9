#include "Outbox.h"

#include "Error.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vardel {

namespace {

    [[noreturn]] void throwErrno(const std::string& what)
    {
        throw std::system_error(errno, std::generic_category(), what);
    }

    // Closes the descriptor on every path out of the write.
    struct FileDescriptor {
        int fd = -1;
        ~FileDescriptor()
        {
            if (fd >= 0)
                ::close(fd);
        }
    };

    void writeAll(int fd, const std::string& bytes, const std::string& name)
    {
        const char* data = bytes.data();
        std::size_t left = bytes.size();
        while (left > 0) {
            ssize_t written = ::write(fd, data, left);
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                throwErrno("write " + name);
            }
            data += written;
            left -= static_cast<std::size_t>(written);
        }
    }

    // Temporary file in the same folder (so the rename is atomic), contents and mode fixed and fsynced
    // before the rename, then the folder fsynced so the new name itself survives a power cut.
    void writeAtomically(const fs::path& target, const fs::path& temporary, const std::string& bytes)
    {
        const std::string name = temporary.string();
        {
            FileDescriptor file;
            file.fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (file.fd < 0)
                throwErrno("open " + name);
            try {
                writeAll(file.fd, bytes, name);
                // The umask can only take bits away; fchmod makes the mode exact before the item is visible.
                if (::fchmod(file.fd, 0600) != 0)
                    throwErrno("chmod " + name);
                if (::fsync(file.fd) != 0)
                    throwErrno("fsync " + name);
            } catch (...) {
                ::unlink(name.c_str());
                throw;
            }
        }
        if (::rename(name.c_str(), target.c_str()) != 0) {
            int saved = errno;
            ::unlink(name.c_str());
            errno = saved;
            throwErrno("rename " + name);
        }
        FileDescriptor folder;
        folder.fd = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        // The item is in place; a folder that cannot be synced only weakens durability across a power cut.
        if (folder.fd >= 0)
            ::fsync(folder.fd);
    }

    bool isPlainWord(const std::string& kind)
    {
        return !kind.empty() && kind.size() <= 32 && std::all_of(kind.begin(), kind.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        });
    }

} // namespace

Outbox::Outbox(fs::path directory, std::shared_ptr<const Clock> clock)
    : m_directory(std::move(directory))
    , m_clock(clock ? std::move(clock) : std::make_shared<SystemClock>())
{
}

fs::path Outbox::enqueue(
    const std::string& kind, const std::optional<std::string>& text, const std::optional<std::string>& path)
{
    std::lock_guard guard(m_lock);

    // The kind is part of the file name: a slash or a dot in it could write outside the folder or
    // produce a name the reader would never pick up.
    if (!isPlainWord(kind))
        throw Error(1, "tipo de item inválido: " + kind);

    const double t = m_clock->now();
    // Whole seconds and fraction apart: a double near 1.7e18 cannot hold every nanosecond, but the whole
    // seconds and the fraction each convert exactly.
    std::uint64_t ns = 0;
    if (t >= 18'446'744'073.0) {
        ns = UINT64_MAX;
    } else if (t > 0) {
        const double seconds = std::floor(t);
        ns = static_cast<std::uint64_t>(seconds) * 1'000'000'000u
            + static_cast<std::uint64_t>((t - seconds) * 1'000'000'000.0);
    }
    const std::uint64_t stamp = std::max(m_lastStamp + 1, ns);
    m_lastStamp = stamp;

    const std::string base = std::to_string(stamp) + "-" + kind;
    const fs::path url = m_directory / (base + ".json");

    nlohmann::json item = nlohmann::json::object();
    item["kind"] = kind;
    item["created"] = t;
    item["text"] = text ? nlohmann::json(*text) : nlohmann::json(nullptr);
    item["path"] = path ? nlohmann::json(*path) : nlohmann::json(nullptr);
    // nlohmann's object keeps keys sorted; dump throws on invalid UTF-8 before anything touches the disk.
    const std::string bytes = item.dump(2) + "\n";

    writeAtomically(url, m_directory / (kTemporaryPrefix + base), bytes);
    return url;
}

std::vector<fs::path> Outbox::pending() const
{
    std::vector<fs::path> items;
    std::error_code error;
    fs::directory_iterator it(m_directory, error);
    if (error)
        return items;
    for (fs::directory_iterator end; it != end; it.increment(error)) {
        if (error)
            break;
        const fs::path& entry = it->path();
        if (entry.extension() == ".json")
            items.push_back(entry);
    }
    std::stable_sort(items.begin(), items.end(),
        [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
    return items;
}

int Outbox::removeTemporaries() const
{
    int removed = 0;
    std::error_code error;
    fs::directory_iterator it(m_directory, error);
    if (error)
        return 0;
    for (fs::directory_iterator end; it != end; it.increment(error)) {
        if (error)
            break;
        if (it->path().filename().string().starts_with(kTemporaryPrefix)) {
            std::error_code ignored;
            if (fs::remove(it->path(), ignored))
                ++removed;
        }
    }
    return removed;
}

} // namespace vardel
