#pragma once

#include "MainExecutor.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

namespace vardel::test {

// A main-thread executor that runs nothing until the test drains it. Posts may come from any thread.
// Delayed work runs once `advance` has moved the executor's own time past its due time, in due order.
class ManualMainExecutor final : public MainExecutor {
public:
    void post(std::function<void()> work) override { postAfter(0, std::move(work)); }
    void postAfter(double seconds, std::function<void()> work) override
    {
        std::lock_guard lock(m_mutex);
        m_tasks.emplace(std::make_pair(m_now + std::max(0.0, seconds), m_sequence++), std::move(work));
    }

    // Runs every task that is due now, including tasks those tasks post. Returns how many ran.
    int drain() { return runUntil(now()); }
    // Moves time forward by `seconds`, running delayed tasks as their time comes. Returns how many ran.
    int advance(double seconds)
    {
        const double until = now() + seconds;
        const int count = runUntil(until);
        std::lock_guard lock(m_mutex);
        m_now = until;
        return count;
    }

    double now() const
    {
        std::lock_guard lock(m_mutex);
        return m_now;
    }
    std::size_t pending() const
    {
        std::lock_guard lock(m_mutex);
        return m_tasks.size();
    }

private:
    int runUntil(double until)
    {
        for (int count = 0;; ++count) {
            std::function<void()> work;
            {
                std::lock_guard lock(m_mutex);
                if (m_tasks.empty() || m_tasks.begin()->first.first > until)
                    return count;
                m_now = std::max(m_now, m_tasks.begin()->first.first);
                work = std::move(m_tasks.begin()->second);
                m_tasks.erase(m_tasks.begin());
            }
            work();
        }
    }

    mutable std::mutex m_mutex;
    double m_now = 0;
    std::uint64_t m_sequence = 0;
    std::map<std::pair<double, std::uint64_t>, std::function<void()>> m_tasks;
};

} // namespace vardel::test
