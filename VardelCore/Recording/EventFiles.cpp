#include "EventFiles.h"

#include "AtomicFile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vardel {

namespace fs = std::filesystem;

namespace {

    [[noreturn]] void fail(const std::string& what, const fs::path& path, int error = errno)
    {
        throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
    }

    // Fields are printed by hand rather than through strftime or a locale-aware formatter, so no locale
    // can change the digits or the calendar.
    std::tm localTime(double at)
    {
        const auto seconds = static_cast<std::time_t>(std::floor(at));
        std::tm local {};
        if (!localtime_r(&seconds, &local))
            throw std::system_error(EOVERFLOW, std::generic_category(), "event time out of range");
        return local;
    }

    class Descriptor {
    public:
        explicit Descriptor(int fd)
            : m_fd(fd)
        {
        }
        ~Descriptor()
        {
            if (m_fd >= 0)
                ::close(m_fd);
        }
        Descriptor(const Descriptor&) = delete;
        Descriptor& operator=(const Descriptor&) = delete;
        int get() const { return m_fd; }

    private:
        int m_fd;
    };

    void syncFolder(const fs::path& folder)
    {
        Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.get() < 0 || ::fsync(fd.get()) != 0)
            fail("cannot sync folder", folder);
    }

    void syncFile(const fs::path& file)
    {
        Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0 || ::fsync(fd.get()) != 0)
            fail("cannot sync file", file);
    }

    // Copies `from` onto `target` for a move across file systems; `from` is left in place. Clips are a few
    // megabytes, so reading one whole is fine for this rare case.
    void copyDurably(const fs::path& from, const fs::path& target)
    {
        std::ifstream in(from, std::ios::binary);
        if (!in)
            fail("cannot open", from);
        std::string bytes { std::istreambuf_iterator<char>(in), {} };
        if (in.bad())
            fail("cannot read", from, EIO);
        AtomicFile::write(target, bytes, 0600);
    }

    void setOwnerOnly(const fs::path& file)
    {
        if (::chmod(file.c_str(), 0600) != 0)
            fail("cannot set permissions", file);
    }

} // namespace

std::string EventFiles::dayName(double at)
{
    const std::tm local = localTime(at);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    return text;
}

std::string EventFiles::stamp(double at)
{
    const std::tm local = localTime(at);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d_%02d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
        local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

fs::path EventFiles::url(const fs::path& root, double at, const std::string& ext)
{
    return root / dayName(at) / (stamp(at) + "." + ext);
}

fs::path EventFiles::photoURL(const fs::path& root, double at) { return url(root, at, "jpg"); }

fs::path EventFiles::clipURL(const fs::path& root, double at) { return url(root, at, "mp4"); }

void EventFiles::makeDay(const fs::path& url)
{
    const fs::path folder = url.parent_path();
    fs::path partial;
    for (const auto& part : folder) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) == 0) {
            // mkdir applies the umask; a created folder must still end with exactly 0700.
            if (::chmod(partial.c_str(), 0700) != 0)
                fail("cannot set permissions", partial);
        } else if (errno != EEXIST) {
            fail("cannot create folder", partial);
        }
    }
    if (!fs::is_directory(folder))
        fail("not a folder", folder, ENOTDIR);
}

fs::path EventFiles::writePhoto(std::span<const std::uint8_t> bytes, const fs::path& root, double at)
{
    const fs::path target = photoURL(root, at);
    makeDay(target);
    AtomicFile::write(target, { reinterpret_cast<const char*>(bytes.data()), bytes.size() }, 0600);
    setOwnerOnly(target);
    return target;
}

fs::path EventFiles::moveClip(const fs::path& from, const fs::path& root, double at)
{
    const fs::path target = clipURL(root, at);
    makeDay(target);
    // The encoder closes its file without syncing; sync before the rename makes the new name durable.
    syncFile(from);
    // rename replaces an existing clip of the same name in one step, so there is never a moment with
    // neither the old nor the new clip.
    if (::rename(from.c_str(), target.c_str()) != 0) {
        if (errno != EXDEV)
            fail("cannot move clip", from);
        copyDurably(from, target);
        ::unlink(from.c_str());
    }
    setOwnerOnly(target);
    syncFolder(target.parent_path());
    return target;
}

} // namespace vardel
