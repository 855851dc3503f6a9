#pragma once

#include "SecretStore.h"

#include <mutex>

namespace vardel {

// A secret kept in memory only, for running the logic without a keyring. Never fails; thread-safe.
class MemorySecretStore final : public SecretStore {
public:
    explicit MemorySecretStore(std::optional<std::string> value = std::nullopt);

    std::optional<std::string> read() override;
    void write(const std::string& value) override;

private:
    std::mutex m_mutex;
    std::optional<std::string> m_value;
};

} // namespace vardel
