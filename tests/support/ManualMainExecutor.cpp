#include "ManualMainExecutor.h"

#include <algorithm>

namespace vardel::test {

void ManualMainExecutor::postAfter(double seconds, std::function<void()> work)
{
    std::lock_guard lock(m_mutex);
    m_tasks.emplace(std::make_pair(m_now + std::max(0.0, seconds), m_sequence++), std::move(work));
}

bool ManualMainExecutor::runOne(double until)
{
    std::function<void()> work;
    {
        std::lock_guard lock(m_mutex);
        if (m_tasks.empty() || m_tasks.begin()->first.first > until)
            return false;
        auto first = m_tasks.begin();
        m_now = std::max(m_now, first->first.first);
        work = std::move(first->second);
        m_tasks.erase(first);
    }
    work();
    return true;
}

int ManualMainExecutor::drain()
{
    int count = 0;
    while (runOne(now()))
        ++count;
    return count;
}

int ManualMainExecutor::advance(double seconds)
{
    double until = now() + seconds;
    int count = 0;
    while (runOne(until))
        ++count;
    std::lock_guard lock(m_mutex);
    m_now = until;
    return count;
}

double ManualMainExecutor::now() const
{
    std::lock_guard lock(m_mutex);
    return m_now;
}

std::size_t ManualMainExecutor::pending() const
{
    std::lock_guard lock(m_mutex);
    return m_tasks.size();
}

} // namespace vardel::test
