#pragma once

#include "Clock.h"
#include "Error.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace vardel {

class SecretStore;

// Holds the Telegram bot token: read lazily from its secret store, then cached for the life of the
// process and published as the log's secret so no log line carries it. A read that finds nothing (also a
// locked keyring, which may prompt the user to unlock) is not repeated for a minute. Called from the send
// queue (every request) and the main thread (saving during setup); a mutex guards the cache.
class KeychainToken {
public:
    // Thrown by `get` when no token is stored (or the stored one is empty).
    class Missing : public Error {
    public:
        Missing();
    };

    static constexpr double kRetryAfterMissing = 60;

    explicit KeychainToken(std::shared_ptr<SecretStore> store,
        std::shared_ptr<const Clock> clock = std::make_shared<SystemClock>());

    // The token, from the cache or else from the store. Throws Missing, without asking the store again
    // within `kRetryAfterMissing` seconds of a read that found none.
    std::string get();

    // Stores the token; the store's failure is thrown and leaves the cache untouched.
    void save(const std::string& token);

private:
    std::shared_ptr<SecretStore> m_store;
    std::shared_ptr<const Clock> m_clock;
    std::mutex m_mutex;
    std::optional<std::string> m_cached;
    std::optional<double> m_missingSince;
};

} // namespace vardel
