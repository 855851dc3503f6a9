#include "KeychainToken.h"

#include "Log.h"
#include "SecretStore.h"

namespace vardel {

KeychainToken::Missing::Missing()
    : Error(1, "token do Telegram ausente")
{
}

KeychainToken::KeychainToken(std::shared_ptr<SecretStore> store)
    : m_store(std::move(store))
{
}

std::string KeychainToken::get()
{
    // The store is read under the lock so concurrent first calls ask the keyring once.
    std::lock_guard lock(m_mutex);
    if (m_cached && !m_cached->empty())
        return *m_cached;
    auto stored = m_store->read();
    if (!stored || stored->empty())
        throw Missing();
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
    }
    Log::setSecret(token);
}

} // namespace vardel
