#include "AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace vardel {

namespace {
    constexpr std::string_view kSuffix = ".tmp";

    [[noreturn]] void fail(int error, const std::string& what, const std::filesystem::path& path)
    {
        throw std::system_error(error, std::generic_category(), what + " " + path.string());
    }

    // Closes the descriptor and unlinks the temporary file unless released.
    class Temporary {
    public:
        Temporary(int fd, std::filesystem::path path)
            : m_fd(fd)
            , m_path(std::move(path))
        {
        }
        ~Temporary()
        {
            if (m_fd >= 0)
                ::close(m_fd);
            if (!m_renamed)
                ::unlink(m_path.c_str());
        }
        Temporary(const Temporary&) = delete;
        Temporary& operator=(const Temporary&) = delete;

        int fd() const { return m_fd; }
        const std::filesystem::path& path() const { return m_path; }
        int close()
        {
            const int result = ::close(m_fd);
            m_fd = -1;
            return result;
        }
        void renamed() { m_renamed = true; }

    private:
        int m_fd;
        std::filesystem::path m_path;
        bool m_renamed = false;
    };
}

void AtomicFile::write(const std::filesystem::path& path, std::string_view bytes, mode_t mode)
{
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    std::string hidden(1, '.');
    // The stem only: a reader that picks files by extension must never see a half-written one.
    hidden.append(path.stem().string()).append(".XXXXXX").append(kSuffix);
    const std::string pattern = (folder / hidden).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemps(name.data(), static_cast<int>(kSuffix.size()), O_CLOEXEC);
    if (fd < 0)
        fail(errno, "cannot create a temporary file for", path);
    Temporary temporary(fd, name.data());

    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(temporary.fd(), data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail(errno, "cannot write", path);
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    // The mode is set before the rename so that the final name never shows wider permissions.
    if (::fchmod(temporary.fd(), mode) != 0)
        fail(errno, "cannot set permissions of", path);
    if (::fsync(temporary.fd()) != 0)
        fail(errno, "cannot flush", path);
    if (temporary.close() != 0)
        fail(errno, "cannot close", path);
    if (::rename(temporary.path().c_str(), path.c_str()) != 0)
        fail(errno, "cannot replace", path);
    temporary.renamed();

    // Makes the rename itself durable. The data is already in place, so a failure here is reported but
    // leaves the new file as the current one.
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        fail(errno, "cannot open folder of", path);
    const int synced = ::fsync(folderFd);
    const int syncError = errno;
    ::close(folderFd);
    if (synced != 0 && syncError != EINVAL)
        fail(syncError, "cannot flush folder of", path);
}

bool AtomicFile::isTemporary(const std::filesystem::path& path)
{
    const std::string name = path.filename().string();
    // "." + at least one character of the final name + "." + six random characters + ".tmp"
    return name.size() > 1 + 1 + 7 + kSuffix.size() && name.front() == '.' && name.ends_with(kSuffix);
}

int AtomicFile::removeLeftovers(const std::filesystem::path& folder)
{
    std::error_code error;
    int removed = 0;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code entryError;
        if (isTemporary(it->path()) && it->is_regular_file(entryError)
            && std::filesystem::remove(it->path(), entryError))
            ++removed;
    }
    return removed;
}

} // namespace vardel
