#include "SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <ranges>
#include <stdexcept>
#include <vector>

using namespace vardel;
using namespace std::chrono_literals;

TEST(SerialQueue, RunsTasksOneAtATimeInDueOrderSyncRethrowsAndShutdownDrainsDueWorkOnly)
{
    std::vector<int> order; // touched only on the queue
    std::atomic<int> running { 0 }, early { 0 };
    std::atomic<bool> overlapped { false };
    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration lastAfter {};
    {
        SerialQueue queue("vardel.test");
        for (double huge : { 30.0, 1e300, std::numeric_limits<double>::infinity(), 9.3e9, 4e9 })
            queue.asyncAfter(huge, [&] { ++early; });
        std::promise<void> done;
        queue.asyncAfter(0.06, [&] {
            lastAfter = std::chrono::steady_clock::now() - start;
            order.push_back(4);
            done.set_value();
        });
        queue.asyncAfter(0.02, [&] { order.push_back(3); });
        // NaN and negative delays mean "now".
        queue.asyncAfter(std::nan(""), [&] { order.push_back(0); });
        queue.asyncAfter(-1, [&] { order.push_back(1); });
        queue.async([&] { order.push_back(2); });
        EXPECT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
        EXPECT_TRUE(queue.sync([&] { return queue.isCurrent(); }));
        EXPECT_FALSE(queue.isCurrent());
        EXPECT_EQ(queue.sync([&] { return queue.sync([] { return 5; }) + 1; }), 6);
        EXPECT_THROW(queue.sync([]() -> int { throw std::logic_error("boom"); }), std::logic_error);
        queue.async([] { throw std::runtime_error("lost"); });
        EXPECT_EQ(queue.sync([] { return 7; }), 7) << "a throwing task stops nothing";

        std::promise<void> gate;
        queue.async([gate = gate.get_future().share()] { gate.wait(); }); // lets work pile up
        for (int i = 5; i < 200; ++i)
            queue.async([&, i] {
                overlapped = overlapped || running.fetch_add(1) != 0;
                order.push_back(i);
                running.fetch_sub(1);
            });
        gate.set_value();
        queue.shutdown(); // runs the piled-up work, then returns without waiting for the delayed tasks
        queue.async([&] { order.push_back(-1); });
        EXPECT_THROW(queue.sync([] { return 1; }), std::runtime_error);
        queue.shutdown();
    }
    EXPECT_TRUE(std::ranges::equal(order, std::views::iota(0, 200)));
    EXPECT_GE(lastAfter, 60ms);
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(early, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << "shutdown waited for a far-away task";
}
