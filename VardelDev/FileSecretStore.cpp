#include "FileSecretStore.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace vardel {

namespace {

    // Service and account name the file; anything outside a safe alphabet becomes "_" so that neither can
    // point outside the folder.
    std::string fileName(const std::string& service, const std::string& account)
    {
        std::string name = service + "." + account;
        for (char& c : name) {
            bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.'
                || c == '-' || c == '_';
            if (!safe)
                c = '_';
        }
        if (name.front() == '.')
            name.front() = '_';
        return name;
    }

    [[noreturn]] void fail(const std::string& what)
    {
        throw std::system_error(errno, std::generic_category(), what);
    }

    class Fd {
    public:
        explicit Fd(int fd)
            : m_fd(fd)
        {
        }
        ~Fd()
        {
            if (m_fd >= 0)
                ::close(m_fd);
        }
        Fd(const Fd&) = delete;
        Fd& operator=(const Fd&) = delete;
        int get() const { return m_fd; }
        int release() { return std::exchange(m_fd, -1); }

    private:
        int m_fd;
    };

    bool validUtf8(const std::string& text)
    {
        std::size_t i = 0;
        while (i < text.size()) {
            auto byte = static_cast<unsigned char>(text[i]);
            std::size_t length = byte < 0x80 ? 1
                : (byte >> 5) == 0x6         ? 2
                : (byte >> 4) == 0xE         ? 3
                : (byte >> 3) == 0x1E        ? 4
                                             : 0;
            if (length == 0 || i + length > text.size())
                return false;
            std::uint32_t code = length == 1 ? byte : byte & (0x7F >> length);
            for (std::size_t k = 1; k < length; ++k) {
                auto next = static_cast<unsigned char>(text[i + k]);
                if ((next & 0xC0) != 0x80)
                    return false;
                code = (code << 6) | (next & 0x3F);
            }
            static constexpr std::uint32_t kSmallest[] = { 0, 0, 0x80, 0x800, 0x10000 };
            if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                return false;
            i += length;
        }
        return true;
    }

} // namespace

FileSecretStore::FileSecretStore(
    std::filesystem::path folder, const std::string& service, const std::string& account)
    : m_folder(std::move(folder))
    , m_file(m_folder / fileName(service, account))
{
}

std::optional<std::string> FileSecretStore::read()
{
    std::lock_guard lock(m_mutex);
    Fd fd(::open(m_file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() < 0)
        return std::nullopt;
    std::string value;
    char buffer[4096];
    for (;;) {
        ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        value.append(buffer, static_cast<std::size_t>(got));
        if (value.size() > 64 * 1024)
            return std::nullopt; // not a secret this program wrote
    }
    if (!validUtf8(value))
        return std::nullopt;
    return value;
}

void FileSecretStore::write(const std::string& value)
{
    std::lock_guard lock(m_mutex);
    if (::mkdir(m_folder.c_str(), 0700) == 0)
        ::chmod(m_folder.c_str(), 0700);
    else if (errno != EEXIST)
        fail("cannot create " + m_folder.string());

    // A crash between create and rename leaves a temporary file behind; clear those first.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder, ignored))
        if (entry.path().filename().string().starts_with(".tmp-"))
            std::filesystem::remove(entry.path(), ignored);

    // The temporary name never ends like the final one, so a crash leaves nothing that reads as a secret.
    std::random_device random;
    const auto temporary = m_folder / (".tmp-" + std::to_string(random()) + "-" + std::to_string(::getpid()));
    Fd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (fd.get() < 0)
        fail("cannot create " + temporary.string());
    auto cleanUp = [&] { ::unlink(temporary.c_str()); };
    std::size_t done = 0;
    while (done < value.size()) {
        ssize_t written = ::write(fd.get(), value.data() + done, value.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0) {
            int saved = errno;
            cleanUp();
            errno = saved;
            fail("cannot write " + temporary.string());
        }
        done += static_cast<std::size_t>(written);
    }
    if (::fchmod(fd.get(), 0600) != 0 || ::fsync(fd.get()) != 0 || ::close(fd.release()) != 0) {
        int saved = errno;
        cleanUp();
        errno = saved;
        fail("cannot write " + temporary.string());
    }
    if (::rename(temporary.c_str(), m_file.c_str()) != 0) {
        int saved = errno;
        cleanUp();
        errno = saved;
        fail("cannot replace " + m_file.string());
    }
    Fd folder(::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0)
        ::fsync(folder.get());
}

} // namespace vardel
