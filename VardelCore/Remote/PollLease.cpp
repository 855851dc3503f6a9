#include "PollLease.h"

namespace vardel {

PollLease::Claim::Claim(std::shared_ptr<PollLease> lease)
    : m_lease(std::move(lease))
{
    std::lock_guard guard(m_lease->m_mutex);
    ++m_lease->m_claims;
}

PollLease::Claim::~Claim()
{
    {
        std::lock_guard guard(m_lease->m_mutex);
        --m_lease->m_claims;
    }
    m_lease->m_changed.notify_all();
}

PollLease::Turn::Turn(
    PollLease& lease, const std::function<bool()>& abandon, std::chrono::milliseconds patience)
    : m_lease(lease)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    std::unique_lock lock(m_lease.m_mutex);
    // Counted at once, so that the background poller starts nothing new while this round waits.
    ++m_lease.m_turns;
    // Past `patience` the round goes ahead anyway: a stuck poller must not stop pairing for good.
    while (m_lease.m_background && std::chrono::steady_clock::now() < deadline && !(abandon && abandon()))
        m_lease.m_changed.wait_for(lock, std::chrono::milliseconds(100));
}

PollLease::Turn::~Turn()
{
    {
        std::lock_guard guard(m_lease.m_mutex);
        --m_lease.m_turns;
    }
    m_lease.m_changed.notify_all();
}

bool PollLease::beginBackground(const std::atomic<bool>& stop, std::chrono::milliseconds patience)
{
    std::unique_lock lock(m_mutex);
    const bool free
        = m_changed.wait_for(lock, patience, [&] { return stop || (m_claims == 0 && m_turns == 0); });
    if (!free || stop)
        return false;
    m_background = true;
    return true;
}

void PollLease::endBackground()
{
    {
        std::lock_guard guard(m_mutex);
        m_background = false;
    }
    m_changed.notify_all();
}

void PollLease::wake()
{
    {
        std::lock_guard guard(m_mutex);
    }
    m_changed.notify_all();
}

} // namespace vardel
