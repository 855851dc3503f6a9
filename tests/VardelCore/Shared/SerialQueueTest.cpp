#include "SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <vector>

using namespace vardel;
using namespace std::chrono_literals;

namespace {

TEST(SerialQueue, DelayedTasksRunInDueOrderAfterTheirDelayAndHugeDelaysNeverWrapAround)
{
    std::vector<int> order; // touched only on the queue
    std::atomic<int> early { 0 };
    std::promise<void> done;
    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration lastAfter {};
    {
        SerialQueue queue("vardel.test");
        for (double huge : { 1e300, std::numeric_limits<double>::infinity(), 9.3e9, 4e9 })
            queue.asyncAfter(huge, [&] { ++early; });
        queue.asyncAfter(0.06, [&] {
            lastAfter = std::chrono::steady_clock::now() - start;
            order.push_back(5);
            done.set_value();
        });
        queue.asyncAfter(0.02, [&] { order.push_back(4); });
        // NaN and negative delays mean "now".
        queue.asyncAfter(std::nan(""), [&] { order.push_back(1); });
        queue.asyncAfter(-1, [&] { order.push_back(2); });
        queue.async([&] { order.push_back(3); });
        EXPECT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
    }
    EXPECT_EQ(order, (std::vector<int> { 1, 2, 3, 4, 5 }));
    EXPECT_GE(lastAfter, 60ms);
    EXPECT_EQ(early, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << "destruction waited for a far-away task";
}

TEST(SerialQueue, SyncReturnsRethrowsRunsInlineFromItsOwnThreadAndThrowsAfterShutdown)
{
    SerialQueue queue("vardel.test");
    EXPECT_TRUE(queue.sync([&] { return queue.isCurrent(); }));
    EXPECT_FALSE(queue.isCurrent());
    EXPECT_EQ(queue.sync([&] { return queue.sync([] { return 5; }) + 1; }), 6);
    EXPECT_THROW(queue.sync([]() -> int { throw std::logic_error("boom"); }), std::logic_error);
    queue.async([] { throw std::runtime_error("lost"); });
    EXPECT_EQ(queue.sync([] { return 7; }), 7) << "a throwing task stops nothing";

    queue.shutdown();
    std::atomic<bool> ran { false };
    queue.async([&] { ran = true; });
    EXPECT_THROW(queue.sync([] { return 1; }), std::runtime_error);
    queue.shutdown();
    EXPECT_FALSE(ran);
}

TEST(SerialQueue, RunsTasksOneAtATimeInOrderAndDestructionDrainsDueWorkAndDropsDelayedWork)
{
    std::vector<int> order; // touched only on the queue
    std::atomic<int> running { 0 };
    std::atomic<bool> overlapped { false };
    std::atomic<bool> delayedRan { false };
    {
        SerialQueue queue("vardel.test");
        std::promise<void> gate;
        queue.async([gate = gate.get_future().share()] { gate.wait(); }); // lets work pile up
        for (int i = 0; i < 200; ++i)
            queue.async([&, i] {
                overlapped = overlapped || running.fetch_add(1) != 0;
                order.push_back(i);
                running.fetch_sub(1);
            });
        queue.asyncAfter(30, [&] { delayedRan = true; });
        gate.set_value();
    } // must return promptly, not after 30 s
    std::vector<int> expected(200);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(delayedRan);
}

} // namespace
