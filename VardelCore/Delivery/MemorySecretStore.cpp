#include "MemorySecretStore.h"

namespace vardel {

MemorySecretStore::MemorySecretStore(std::optional<std::string> value)
    : m_value(std::move(value))
{
}

std::optional<std::string> MemorySecretStore::read()
{
    std::lock_guard lock(m_mutex);
    return m_value;
}

void MemorySecretStore::write(const std::string& value)
{
    std::lock_guard lock(m_mutex);
    m_value = value;
}

} // namespace vardel
