#include "AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace vardel {

namespace {
    constexpr std::string_view kSuffix = ".tmp";
    constexpr int kRandomLength = 6;
    // More clashes than this in a row means something other than a busy neighbour is at work.
    constexpr int kMaxAttempts = 100'000;

    [[noreturn]] void fail(int error, const std::string& what, const std::filesystem::path& path)
    {
        throw std::system_error(error, std::generic_category(), what + " " + path.string());
    }

    std::filesystem::path folderOf(const std::filesystem::path& path)
    {
        return path.has_parent_path() ? path.parent_path() : ".";
    }

    // A fully written, flushed and closed temporary file, unlinked on destruction unless it was given its
    // final name.
    class Temporary {
    public:
        Temporary(const std::filesystem::path& target, std::string_view bytes, mode_t mode)
        {
            std::string hidden(1, '.');
            // The stem only: a reader that picks files by extension must never see a half-written one.
            hidden.append(target.stem().string()).append(".XXXXXX").append(kSuffix);
            const std::string pattern = (folderOf(target) / hidden).string();
            std::vector<char> name(pattern.begin(), pattern.end());
            name.push_back('\0');
            const int fd = ::mkostemps(name.data(), static_cast<int>(kSuffix.size()), O_CLOEXEC);
            if (fd < 0)
                fail(errno, "cannot create a temporary file for", target);
            m_path = name.data();

            const char* data = bytes.data();
            std::size_t left = bytes.size();
            while (left > 0) {
                const ssize_t written = ::write(fd, data, left);
                if (written < 0 && errno == EINTR)
                    continue;
                if (written < 0)
                    closeAndFail(fd, "cannot write", target);
                data += written;
                left -= static_cast<std::size_t>(written);
            }
            // The mode is set before the final name exists, so that name never shows wider permissions.
            if (::fchmod(fd, mode) != 0)
                closeAndFail(fd, "cannot set permissions of", target);
            if (::fsync(fd) != 0)
                closeAndFail(fd, "cannot flush", target);
            if (::close(fd) != 0)
                fail(errno, "cannot close", target);
        }
        ~Temporary()
        {
            if (!m_path.empty() && !m_placed)
                ::unlink(m_path.c_str());
        }
        Temporary(const Temporary&) = delete;
        Temporary& operator=(const Temporary&) = delete;

        const std::filesystem::path& path() const { return m_path; }
        void placed() { m_placed = true; }

    private:
        [[noreturn]] void closeAndFail(int fd, const std::string& what, const std::filesystem::path& target)
        {
            const int error = errno;
            ::close(fd);
            fail(error, what, target);
        }

        std::filesystem::path m_path;
        bool m_placed = false;
    };

    // Makes the new name itself durable. The data is already in place, so a failure here is reported but
    // leaves the new file as the current one.
    void syncFolder(const std::filesystem::path& path)
    {
        const int folderFd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folderFd < 0)
            fail(errno, "cannot open folder of", path);
        const int synced = ::fsync(folderFd);
        const int syncError = errno;
        ::close(folderFd);
        if (synced != 0 && syncError != EINVAL)
            fail(syncError, "cannot flush folder of", path);
    }

    // Gives `from` the name `to` unless `to` exists. Returns 0 or the errno (EEXIST when taken).
    int renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to)
    {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return 0;
        if (errno != EINVAL && errno != ENOSYS)
            return errno;
        // File systems without the flag: a hard link fails on an existing name just the same.
        if (::link(from.c_str(), to.c_str()) != 0)
            return errno;
        ::unlink(from.c_str());
        return 0;
    }

    bool isAlphanumeric(char c)
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    }
}

void AtomicFile::write(const std::filesystem::path& path, std::string_view bytes, mode_t mode)
{
    Temporary temporary(path, bytes, mode);
    if (::rename(temporary.path().c_str(), path.c_str()) != 0)
        fail(errno, "cannot replace", path);
    temporary.placed();
    syncFolder(path);
}

std::filesystem::path AtomicFile::create(
    std::string_view bytes, mode_t mode, const std::function<std::filesystem::path(int attempt)>& name)
{
    std::filesystem::path target = name(0);
    Temporary temporary(target, bytes, mode);
    for (int attempt = 1;; ++attempt) {
        const int error = renameNoReplace(temporary.path(), target);
        if (error == 0)
            break;
        if (error != EEXIST || attempt >= kMaxAttempts)
            fail(error, "cannot create", target);
        target = name(attempt);
    }
    temporary.placed();
    syncFolder(target);
    return target;
}

bool AtomicFile::isTemporary(const std::filesystem::path& path)
{
    // "." + at least one character of the final name's stem + "." + six random characters + ".tmp"
    const std::string name = path.filename().string();
    const std::size_t minimum = 1 + 1 + 1 + kRandomLength + kSuffix.size();
    if (name.size() < minimum || name.front() != '.' || !name.ends_with(kSuffix))
        return false;
    const std::size_t random = name.size() - kSuffix.size() - kRandomLength;
    if (name[random - 1] != '.')
        return false;
    for (std::size_t i = random; i < random + kRandomLength; ++i)
        if (!isAlphanumeric(name[i]))
            return false;
    return true;
}

int AtomicFile::removeLeftovers(const std::filesystem::path& folder)
{
    std::error_code error;
    int removed = 0;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code entryError;
        if (isTemporary(it->path()) && it->is_regular_file(entryError) && !it->is_symlink(entryError)
            && std::filesystem::remove(it->path(), entryError))
            ++removed;
    }
    return removed;
}

int AtomicFile::removeAllLeftovers(const std::filesystem::path& dataFolder)
{
    int removed = removeLeftovers(dataFolder);
    std::error_code error;
    for (std::filesystem::directory_iterator it(dataFolder, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code entryError;
        if (it->is_symlink(entryError) || !it->is_directory(entryError))
            continue;
        removed += removeLeftovers(it->path());
        std::error_code innerError;
        for (std::filesystem::directory_iterator inner(it->path(), innerError); !innerError && inner != end;
             inner.increment(innerError)) {
            if (!inner->is_symlink(entryError) && inner->is_directory(entryError))
                removed += removeLeftovers(inner->path());
        }
    }
    return removed;
}

} // namespace vardel
