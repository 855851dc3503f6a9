#include "SerialQueue.h"

#include <algorithm>
#include <exception>
#include <future>
#include <pthread.h>

namespace vardel {

SerialQueue::SerialQueue(std::string label)
    : m_label(std::move(label))
{
    m_thread = std::thread([this] { run(); });
    // Thread names are limited to 15 characters; the tail ("analysis", "send", ...) tells them apart.
    std::string name = m_label.size() > 15 ? m_label.substr(m_label.size() - 15) : m_label;
    pthread_setname_np(m_thread.native_handle(), name.c_str());
}

SerialQueue::~SerialQueue()
{
    shutdown();
}

void SerialQueue::async(std::function<void()> task)
{
    enqueue(Clock::now(), std::move(task));
}

void SerialQueue::asyncAfter(double seconds, std::function<void()> task)
{
    const auto now = Clock::now();
    // A delay beyond what the clock can hold means "not in this run": it saturates instead of wrapping
    // around into the past. A negative or NaN delay means "now".
    const double room = std::chrono::duration<double>(Clock::time_point::max() - now).count();
    Clock::time_point due = now;
    if (seconds >= room / 2) // half: clear of rounding at the edge; still centuries
        due = Clock::time_point::max();
    else if (seconds > 0)
        due = now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    enqueue(due, std::move(task));
}

bool SerialQueue::enqueue(Clock::time_point due, std::function<void()> task)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return false;
        m_tasks.emplace(Key { due, m_nextSequence++ }, std::move(task));
    }
    m_wake.notify_one();
    return true;
}

void SerialQueue::shutdown()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    std::lock_guard joinLock(m_joinMutex);
    if (m_thread.joinable()) {
        if (isCurrent())
            m_thread.detach(); // called from one of its own tasks: the loop ends after this task
        else
            m_thread.join();
    }
}

void SerialQueue::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_tasks.empty()) {
            if (m_stopping)
                return;
            m_wake.wait(lock);
            continue;
        }
        auto first = m_tasks.begin();
        auto now = Clock::now();
        if (first->first.due > now) {
            if (m_stopping)
                return; // only delayed work is left: drop it
            // Bounded, so a far-away due time never reaches the condition variable's arithmetic.
            m_wake.wait_until(lock, std::min(first->first.due, now + std::chrono::hours(24)));
            continue;
        }
        auto task = std::move(first->second);
        m_tasks.erase(first);
        lock.unlock();
        try {
            task();
        } catch (...) {
            // Exceptions never cross a queue; a task that needs to report a failure does so itself.
        }
        task = nullptr; // release captures outside the lock
        lock.lock();
    }
}

} // namespace vardel
