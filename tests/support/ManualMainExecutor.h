#pragma once

#include "MainExecutor.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

namespace vardel::test {

// A main-thread executor that runs nothing until the test drains it, advances its own time or waits for
// work posted from other threads.
class ManualMainExecutor final : public MainExecutor {
public:
    void post(std::function<void()> work) override { postAfter(0, std::move(work)); }
    void postAfter(double seconds, std::function<void()> work) override
    {
        std::lock_guard lock(m_mutex);
        // A multimap keeps tasks due at the same time in the order they were posted.
        m_tasks.emplace(m_now + std::max(0.0, seconds), std::move(work));
        m_posted.notify_all();
    }

    // Runs due work as it arrives until `done` holds; false when it still does not after `seconds`.
    bool waitFor(const std::function<bool()>& done, double seconds = 10)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        for (; !done(); drain()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::unique_lock lock(m_mutex);
            m_posted.wait_for(lock, std::chrono::milliseconds(10),
                [this] { return !m_tasks.empty() && m_tasks.begin()->first <= m_now; });
        }
        return true;
    }

    // Runs every task that is due now, including tasks those tasks post. Returns how many ran.
    int drain() { return advance(0); }
    // Moves time forward by `seconds`, running delayed tasks as their time comes. Returns how many ran.
    int advance(double seconds)
    {
        std::unique_lock lock(m_mutex);
        const double until = m_now + seconds;
        for (int count = 0;; ++count) {
            if (m_tasks.empty() || m_tasks.begin()->first > until) {
                m_now = until;
                return count;
            }
            m_now = std::max(m_now, m_tasks.begin()->first);
            auto work = std::move(m_tasks.begin()->second);
            m_tasks.erase(m_tasks.begin());
            lock.unlock();
            work();
            lock.lock();
        }
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_posted;
    double m_now = 0;
    std::multimap<double, std::function<void()>> m_tasks;
};

} // namespace vardel::test
