#pragma once

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace vardel::test {

// A fresh data folder under the system temporary folder holding "outbox/" and "outbox/failed/" (0700),
// removed with everything in it on destruction. `write` puts raw bytes into a file for bad-item tests.
class OutboxFolder {
public:
    OutboxFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vardel-outbox-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_root = pattern;
        std::filesystem::create_directories(outbox() / "failed");
    }
    ~OutboxFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }
    OutboxFolder(const OutboxFolder&) = delete;
    OutboxFolder& operator=(const OutboxFolder&) = delete;

    const std::filesystem::path& root() const { return m_root; }
    std::filesystem::path outbox() const { return m_root / "outbox"; }
    std::filesystem::path failed() const { return outbox() / "failed"; }

    static void write(const std::filesystem::path& file, const std::string& bytes)
    {
        std::ofstream(file, std::ios::binary) << bytes;
    }
    static std::string read(const std::filesystem::path& file)
    {
        std::ifstream in(file, std::ios::binary);
        return { std::istreambuf_iterator<char>(in), {} };
    }

private:
    std::filesystem::path m_root;
};

} // namespace vardel::test
