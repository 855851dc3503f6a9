#include "QtMainExecutor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
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

TEST(QtMainExecutor, WorkFromAWorkerRunsOnTheMainThreadDelayedWorkWaits)
{
    QObject context;
    QtMainExecutor executor(&context);
    std::atomic<bool> ranOnMain { false }, ran { false };
    QElapsedTimer timer;
    timer.start();
    qint64 delayedAfter = -1;
    std::thread([&] {
        executor.post([&] {
            ranOnMain = QThread::currentThread() == QCoreApplication::instance()->thread(), ran = true;
        });
        executor.postAfter(0.05, [&] { delayedAfter = timer.elapsed(); });
    }).join();
    ASSERT_TRUE(processUntil([&] { return ran && delayedAfter >= 0; }));
    EXPECT_TRUE(ranOnMain);
    EXPECT_GE(delayedAfter, 45);
}

TEST(QtMainExecutor, NothingRunsAfterTheContextIsGone)
{
    auto context = std::make_unique<QObject>();
    QtMainExecutor executor(context.get());
    bool ranLate = false;
    executor.post([&] { ranLate = true; });
    executor.postAfter(0.01, [&] { ranLate = true; });
    context.reset();
    processUntil([] { return false; }, 100);
    EXPECT_FALSE(ranLate);
}
