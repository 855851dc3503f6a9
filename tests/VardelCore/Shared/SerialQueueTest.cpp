#include "SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <stdexcept>
#include <vector>

using namespace vardel;
using namespace std::chrono_literals;

namespace {

TEST(SerialQueue, RunsTasksOneAtATimeInSubmissionOrder)
{
    std::vector<int> order; // touched only on the queue
    std::atomic<int> running { 0 };
    std::atomic<bool> overlapped { false };
    SerialQueue queue("vardel.test");
    for (int i = 0; i < 200; ++i)
        queue.async([&, i] {
            overlapped = overlapped || running.fetch_add(1) != 0;
            order.push_back(i);
            running.fetch_sub(1);
        });
    const auto seen = queue.sync([&] { return order; });
    ASSERT_EQ(seen.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(seen[i], i);
    EXPECT_FALSE(overlapped);
}

TEST(SerialQueue, DelayedTasksRunInDueOrderAfterTheirDelay)
{
    std::vector<int> order;
    std::promise<void> done;
    SerialQueue queue("vardel.test");
    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration lastAfter {};
    queue.asyncAfter(0.06, [&] {
        lastAfter = std::chrono::steady_clock::now() - start;
        order.push_back(3);
        done.set_value();
    });
    queue.asyncAfter(0.02, [&] { order.push_back(2); });
    queue.async([&] { order.push_back(1); });
    done.get_future().wait();
    EXPECT_EQ(order, (std::vector<int> { 1, 2, 3 }));
    EXPECT_GE(lastAfter, 60ms);
}

TEST(SerialQueue, HugeOrInvalidDelaysNeitherFireEarlyNorWrapAround)
{
    std::atomic<int> early { 0 };
    std::promise<void> nanRan;
    const auto start = std::chrono::steady_clock::now();
    {
        SerialQueue queue("vardel.test");
        for (double huge : { 1e300, std::numeric_limits<double>::infinity(), 9.3e9, 4e9 })
            queue.asyncAfter(huge, [&] { ++early; });
        // NaN and negative delays mean "now".
        queue.asyncAfter(-1, [] { });
        queue.asyncAfter(std::nan(""), [&] { nanRan.set_value(); });
        EXPECT_EQ(nanRan.get_future().wait_for(5s), std::future_status::ready);
        EXPECT_EQ(queue.sync([] { return 7; }), 7);
    }
    EXPECT_EQ(early, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << "destruction waited for a far-away task";
}

TEST(SerialQueue, SyncReturnsRethrowsAndRunsInlineFromItsOwnThread)
{
    SerialQueue queue("vardel.test");
    EXPECT_TRUE(queue.sync([&] { return queue.isCurrent(); }));
    EXPECT_FALSE(queue.isCurrent());
    EXPECT_EQ(queue.sync([&] { return queue.sync([] { return 5; }) + 1; }), 6);
    EXPECT_THROW(queue.sync([]() -> int { throw std::logic_error("boom"); }), std::logic_error);
    queue.async([] { throw std::runtime_error("lost"); });
    EXPECT_EQ(queue.sync([] { return 7; }), 7) << "a throwing task stops nothing";
}

TEST(SerialQueue, DestructionDrainsDueWorkAndDropsDelayedWork)
{
    std::atomic<int> due { 0 };
    std::atomic<bool> delayedRan { false };
    {
        SerialQueue queue("vardel.test");
        std::promise<void> gate;
        queue.async([gate = gate.get_future().share()] { gate.wait(); }); // lets work pile up
        for (int i = 0; i < 20; ++i)
            queue.async([&] { ++due; });
        queue.asyncAfter(30, [&] { delayedRan = true; });
        gate.set_value();
    } // must return promptly, not after 30 s
    EXPECT_EQ(due, 20);
    EXPECT_FALSE(delayedRan);
}

TEST(SerialQueue, WorkAfterShutdownIsIgnoredAndSyncThrows)
{
    SerialQueue queue("vardel.test");
    queue.shutdown();
    std::atomic<bool> ran { false };
    queue.async([&] { ran = true; });
    EXPECT_THROW(queue.sync([] { return 1; }), std::runtime_error);
    queue.shutdown();
    EXPECT_FALSE(ran);
}

} // namespace
