#pragma once

#include "Paths.h"
#include "SecretStore.h"

#include <memory>
#include <mutex>

namespace vardel {

class Log;

// The bot token's store, chosen on first use rather than at start-up: finding out whether the session
// offers a Secret Service is a D-Bus round trip, which must not run on the main thread. The first call
// picks the keyring or the private file (LibsecretSecretStore::forBotToken); every call after that goes to
// the chosen store. Thread-safe; the log must outlive it.
class BotTokenStore final : public SecretStore {
public:
    BotTokenStore(Paths paths, Log& log);

    std::optional<std::string> read() override;
    void write(const std::string& value) override;

private:
    SecretStore& store();

    Paths m_paths;
    Log& m_log;
    std::mutex m_mutex;
    std::unique_ptr<SecretStore> m_store;
};

} // namespace vardel
