#include "QtMainExecutor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace vardel;

namespace {

bool processUntil(const std::function<bool()>& done, int timeoutMs = 2000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

} // namespace

TEST(QtMainExecutor, WorkPostedFromAWorkerRunsOnTheMainThread)
{
    QObject context;
    QtMainExecutor executor(&context);
    std::atomic<bool> ranOnMain { false };
    std::atomic<bool> ran { false };
    std::thread worker([&] {
        executor.post([&] {
            ranOnMain = QThread::currentThread() == QCoreApplication::instance()->thread();
            ran = true;
        });
        executor.postAfter(0.02, [&] {});
    });
    worker.join();
    ASSERT_TRUE(processUntil([&] { return ran.load(); }));
    EXPECT_TRUE(ranOnMain.load());
}

TEST(QtMainExecutor, DelayedWorkWaitsAndNothingRunsAfterTheContextIsGone)
{
    auto context = std::make_unique<QObject>();
    QtMainExecutor executor(context.get());
    QElapsedTimer timer;
    timer.start();
    qint64 ranAfter = -1;
    executor.postAfter(0.05, [&] { ranAfter = timer.elapsed(); });
    ASSERT_TRUE(processUntil([&] { return ranAfter >= 0; }));
    EXPECT_GE(ranAfter, 45);

    bool ranLate = false;
    executor.post([&] { ranLate = true; });
    executor.postAfter(0.01, [&] { ranLate = true; });
    context.reset();
    processUntil([] { return false; }, 100);
    EXPECT_FALSE(ranLate);
}
