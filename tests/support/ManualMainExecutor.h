#pragma once

#include "MainExecutor.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

namespace vardel::test {

// A main-thread executor that runs nothing until the test drains it. Posts may come from any thread.
// Delayed work runs once `advance` has moved the executor's own time past its due time.
class ManualMainExecutor final : public MainExecutor {
public:
    void post(std::function<void()> work) override { postAfter(0, std::move(work)); }
    void postAfter(double seconds, std::function<void()> work) override;

    // Runs every task that is due now, including tasks those tasks post. Returns how many ran.
    int drain();
    // Moves time forward by `seconds`, running delayed tasks in due order as their time comes.
    int advance(double seconds);

    double now() const;
    std::size_t pending() const;

private:
    bool runOne(double until);

    mutable std::mutex m_mutex;
    double m_now = 0;
    std::uint64_t m_sequence = 0;
    std::map<std::pair<double, std::uint64_t>, std::function<void()>> m_tasks;
};

} // namespace vardel::test
