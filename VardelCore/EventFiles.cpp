#include "EventFiles.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
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
        // Closes now so that a failing close (delayed write errors) is reported.
        int close()
        {
            const int result = ::close(m_fd);
            m_fd = -1;
            return result;
        }

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

    void writeAll(int fd, const std::uint8_t* data, std::size_t size, const fs::path& path)
    {
        while (size > 0) {
            const ssize_t written = ::write(fd, data, size);
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                fail("cannot write", path);
            }
            data += written;
            size -= static_cast<std::size_t>(written);
        }
    }

    // A mode-0600 scratch file next to `target` whose name never ends with the target's extension, so an
    // interrupted write is never mistaken for a finished file. Returns the open descriptor.
    int makeScratch(const fs::path& target, fs::path& scratch)
    {
        std::string leaf = ".";
    leaf += target.filename().string();
    leaf += ".XXXXXX";
    std::string name = (target.parent_path() / leaf).string();
        const int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0)
            fail("cannot create temporary file", target);
        scratch = name;
        return fd;
    }

    // Writes `bytes` to a scratch file, syncs it, renames it onto `target` and syncs the folder.
    void writeDurably(const std::uint8_t* data, std::size_t size, const fs::path& target)
    {
        fs::path scratch;
        Descriptor fd(makeScratch(target, scratch));
        try {
            writeAll(fd.get(), data, size, scratch);
            if (::fsync(fd.get()) != 0 || fd.close() != 0)
                fail("cannot write", scratch);
            if (::rename(scratch.c_str(), target.c_str()) != 0)
                fail("cannot replace", target);
        } catch (...) {
            ::unlink(scratch.c_str());
            throw;
        }
        syncFolder(target.parent_path());
    }

    // Copies `from` durably onto `target` for moves across file systems; `from` is left in place.
    void copyDurably(const fs::path& from, const fs::path& target)
    {
        Descriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
        if (in.get() < 0)
            fail("cannot open", from);
        fs::path scratch;
        Descriptor out(makeScratch(target, scratch));
        try {
            std::uint8_t chunk[1 << 16];
            for (;;) {
                const ssize_t got = ::read(in.get(), chunk, sizeof chunk);
                if (got < 0 && errno == EINTR)
                    continue;
                if (got < 0)
                    fail("cannot read", from);
                if (got == 0)
                    break;
                writeAll(out.get(), chunk, static_cast<std::size_t>(got), scratch);
            }
            if (::fsync(out.get()) != 0 || out.close() != 0)
                fail("cannot write", scratch);
            if (::rename(scratch.c_str(), target.c_str()) != 0)
                fail("cannot replace", target);
        } catch (...) {
            ::unlink(scratch.c_str());
            throw;
        }
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
    writeDurably(bytes.data(), bytes.size(), target);
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
