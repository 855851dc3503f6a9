#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

namespace vardel {

// A named worker thread that runs tasks one at a time, in the order they became due.
// `async` tasks run in submission order; `asyncAfter` tasks join that order once their delay has passed.
// `sync` runs a task and waits for it; called from the queue's own thread it runs inline instead of
// deadlocking. Destruction (or `shutdown`) runs every task that is already due, drops delayed tasks that
// are not, and joins the thread. A task that throws is caught at the queue's edge and dropped.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return m_label; }

    void async(std::function<void()> task);
    // A negative or NaN delay means now; a delay too large for the clock (even +inf) means "not before
    // destruction", never an early run.
    void asyncAfter(double seconds, std::function<void()> task);

    // Runs `task` on the queue and returns its result (or rethrows its exception) on the caller's thread.
    template <typename Fn> auto sync(Fn&& task) -> decltype(task());

    // True when called from a task running on this queue.
    bool isCurrent() const { return std::this_thread::get_id() == m_thread.get_id(); }

    // Drains due work, drops delayed work, joins. Later submissions are ignored (`sync` throws).
    // Safe to call twice. The queue must not be destroyed from one of its own tasks.
    void shutdown();

private:
    using Clock = std::chrono::steady_clock;
    struct Key {
        Clock::time_point due;
        std::uint64_t sequence;
        bool operator<(const Key& other) const
        {
            return due != other.due ? due < other.due : sequence < other.sequence;
        }
    };

    bool enqueue(Clock::time_point due, std::function<void()> task);
    void run();

    std::string m_label;
    std::mutex m_mutex;
    std::mutex m_joinMutex;
    std::condition_variable m_wake;
    std::map<Key, std::function<void()>> m_tasks;
    std::uint64_t m_nextSequence = 0;
    bool m_stopping = false;
    std::thread m_thread;
};

template <typename Fn> auto SerialQueue::sync(Fn&& task) -> decltype(task())
{
    using Result = decltype(task());
    if (isCurrent())
        return task();

    std::packaged_task<Result()> packaged(std::forward<Fn>(task));
    auto future = packaged.get_future();
    if (!enqueue(Clock::now(), [&packaged] { packaged(); }))
        throw std::runtime_error("queue " + m_label + " is shut down");
    return future.get();
}

} // namespace vardel
