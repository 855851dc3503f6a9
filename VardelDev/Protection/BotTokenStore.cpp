#include "BotTokenStore.h"

#include "LibsecretSecretStore.h"

namespace vardel {

BotTokenStore::BotTokenStore(Paths paths, Log& log)
    : m_paths(std::move(paths))
    , m_log(log)
{
}

SecretStore& BotTokenStore::store()
{
    std::lock_guard lock(m_mutex);
    if (!m_store)
        m_store = LibsecretSecretStore::forBotToken(m_paths, m_log);
    return *m_store;
}

std::optional<std::string> BotTokenStore::read() { return store().read(); }

void BotTokenStore::write(const std::string& value) { store().write(value); }

} // namespace vardel
