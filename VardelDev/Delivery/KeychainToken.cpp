#include "KeychainToken.h"

#include "Log.h"
#include "SecretStore.h"

namespace vardel {

KeychainToken::Missing::Missing()
    : Error(1, "token do Telegram ausente")
{
}

KeychainToken::KeychainToken(std::shared_ptr<SecretStore> store, std::shared_ptr<const Clock> clock)
    : m_store(std::move(store))
    , m_clock(clock ? std::move(clock) : std::make_shared<SystemClock>())
{
}

std::string KeychainToken::get()
{
    // The store is read under the lock so concurrent first calls ask the keyring once.
    std::lock_guard lock(m_mutex);
    if (m_cached && !m_cached->empty())
        return *m_cached;
    const double now = m_clock->now();
    // A clock set back counts as time passed.
    if (m_missingSince && now >= *m_missingSince && now - *m_missingSince < kRetryAfterMissing)
        throw Missing();
    auto stored = m_store->read();
    if (!stored || stored->empty()) {
        m_missingSince = now;
        throw Missing();
    }
    m_missingSince.reset();
    m_cached = stored;
    Log::setSecret(*stored);
    return *stored;
}

void KeychainToken::save(const std::string& token)
{
    // Outside the lock: a slow keyring (an unlock prompt) must not stall the senders' cached reads.
    m_store->write(token);
    {
        std::lock_guard lock(m_mutex);
        m_cached = token;
        m_missingSince.reset();
    }
    Log::setSecret(token);
}

} // namespace vardel
