#include "SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace vardel;

namespace {

struct Recorder {
    std::mutex mutex;
    std::vector<int> order;
    void add(int value)
    {
        std::lock_guard lock(mutex);
        order.push_back(value);
    }
    std::vector<int> snapshot()
    {
        std::lock_guard lock(mutex);
        return order;
    }
};

} // namespace

TEST(SerialQueue, RunsAsyncTasksOneAtATimeInSubmissionOrder)
{
    Recorder recorder;
    std::atomic<int> running { 0 };
    std::atomic<bool> overlapped { false };
    {
        SerialQueue queue("vardel.test");
        for (int i = 0; i < 200; ++i) {
            queue.async([&, i] {
                if (running.fetch_add(1) != 0)
                    overlapped = true;
                recorder.add(i);
                running.fetch_sub(1);
            });
        }
        queue.sync([] {});
    }
    auto order = recorder.snapshot();
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_FALSE(overlapped);
}

TEST(SerialQueue, DelayedTaskRunsAfterItsDelayAndAfterEarlierDueWork)
{
    Recorder recorder;
    SerialQueue queue("vardel.test");
    std::promise<void> done;
    auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point ranAt;
    queue.asyncAfter(0.05, [&] {
        ranAt = std::chrono::steady_clock::now();
        recorder.add(2);
        done.set_value();
    });
    queue.async([&] { recorder.add(1); });
    done.get_future().wait();
    EXPECT_GE(ranAt - start, std::chrono::milliseconds(50));
    EXPECT_EQ(recorder.snapshot(), (std::vector<int> { 1, 2 }));
}

TEST(SerialQueue, DelayedTasksRunInDueOrderNotSubmissionOrder)
{
    Recorder recorder;
    SerialQueue queue("vardel.test");
    std::promise<void> done;
    queue.asyncAfter(0.06, [&] {
        recorder.add(2);
        done.set_value();
    });
    queue.asyncAfter(0.02, [&] { recorder.add(1); });
    done.get_future().wait();
    EXPECT_EQ(recorder.snapshot(), (std::vector<int> { 1, 2 }));
}

TEST(SerialQueue, SyncReturnsValueRunsOnQueueAndRethrows)
{
    SerialQueue queue("vardel.test");
    auto caller = std::this_thread::get_id();
    auto [value, onOtherThread] = queue.sync(
        [&] { return std::make_pair(42, std::this_thread::get_id() != caller && queue.isCurrent()); });
    EXPECT_EQ(value, 42);
    EXPECT_TRUE(onOtherThread);
    EXPECT_FALSE(queue.isCurrent());
    EXPECT_THROW(queue.sync([]() -> int { throw std::logic_error("boom"); }), std::logic_error);
    // The queue keeps working after a task threw.
    EXPECT_EQ(queue.sync([] { return 7; }), 7);
}

TEST(SerialQueue, SyncFromInsideTheQueueRunsInlineInsteadOfDeadlocking)
{
    SerialQueue queue("vardel.test");
    int inner = queue.sync([&] { return queue.sync([] { return 5; }) + 1; });
    EXPECT_EQ(inner, 6);
}

TEST(SerialQueue, SyncWaitsForEarlierAsyncWork)
{
    SerialQueue queue("vardel.test");
    int counter = 0; // touched only on the queue
    for (int i = 0; i < 50; ++i)
        queue.async([&] { ++counter; });
    EXPECT_EQ(queue.sync([&] { return counter; }), 50);
}

TEST(SerialQueue, ThrowingAsyncTaskDoesNotStopTheQueue)
{
    SerialQueue queue("vardel.test");
    queue.async([] { throw std::runtime_error("lost"); });
    EXPECT_EQ(queue.sync([] { return 1; }), 1);
}

TEST(SerialQueue, DestructionDrainsDueWorkAndDropsDelayedWork)
{
    std::atomic<int> due { 0 };
    std::atomic<bool> delayedRan { false };
    {
        SerialQueue queue("vardel.test");
        std::promise<void> gate;
        auto gateFuture = gate.get_future().share();
        queue.async([gateFuture] { gateFuture.wait(); }); // holds the queue so work piles up
        for (int i = 0; i < 20; ++i)
            queue.async([&] { due.fetch_add(1); });
        queue.asyncAfter(30, [&] { delayedRan = true; });
        gate.set_value();
    } // must return promptly, not after 30 s
    EXPECT_EQ(due.load(), 20);
    EXPECT_FALSE(delayedRan.load());
}

TEST(SerialQueue, WorkAfterShutdownIsIgnoredAndSyncThrows)
{
    SerialQueue queue("vardel.test");
    queue.shutdown();
    std::atomic<bool> ran { false };
    queue.async([&] { ran = true; });
    EXPECT_THROW(queue.sync([] { return 1; }), std::runtime_error);
    queue.shutdown(); // second call is harmless
    EXPECT_FALSE(ran.load());
}

TEST(SerialQueue, ConcurrentProducersLoseNothing)
{
    std::atomic<int> count { 0 };
    SerialQueue queue("vardel.test");
    std::vector<std::thread> producers;
    for (int t = 0; t < 4; ++t)
        producers.emplace_back([&] {
            for (int i = 0; i < 500; ++i)
                queue.async([&] { count.fetch_add(1); });
        });
    for (auto& producer : producers)
        producer.join();
    queue.sync([] {});
    EXPECT_EQ(count.load(), 2000);
}
