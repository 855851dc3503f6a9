#pragma once

#include "SecretStore.h"

#include <filesystem>
#include <mutex>
#include <string>

namespace vardel {

// A secret kept in a private file (0600, in a 0700 folder), one file per (service, account) pair.
// Only for sessions whose bus offers no Secret Service. Writes are atomic (temporary file, fsync,
// rename, folder fsync). Thread-safe.
class FileSecretStore final : public SecretStore {
public:
    FileSecretStore(std::filesystem::path folder, const std::string& service, const std::string& account);

    std::optional<std::string> read() override;
    // Throws std::system_error when the folder or the file cannot be written.
    void write(const std::string& value) override;

    const std::filesystem::path& file() const { return m_file; }

private:
    std::filesystem::path m_folder;
    std::filesystem::path m_file;
    std::mutex m_mutex;
};

} // namespace vardel
