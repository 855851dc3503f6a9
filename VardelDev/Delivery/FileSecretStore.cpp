#include "FileSecretStore.h"

#include "AtomicFile.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
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
    AtomicFile::removeLeftovers(m_folder);
    AtomicFile::write(m_file, value, 0600);
}

} // namespace vardel
