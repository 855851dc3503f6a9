#include "QueueRunner.h"

#include "Captions.h"
#include "CurlPoster.h"
#include "FakeBotApi.h"
#include "FakeClock.h"
#include "L.h"
#include "ManualMainExecutor.h"
#include "OutboxFolder.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <thread>

using namespace vardel;
using Fault = test::FakeBotApi::Fault;

namespace {

// Collects log lines from the send queue; tests wait on it instead of sleeping.
class LogLines {
public:
    void add(const std::string& line)
    {
        std::lock_guard guard(m_mutex);
        m_lines.push_back(line);
        m_changed.notify_all();
    }
    // Waits until `count` lines start with `prefix`; returns the last of them (empty on time-out).
    std::string waitFor(const std::string& prefix, std::size_t count = 1, double seconds = 10)
    {
        std::unique_lock lock(m_mutex);
        std::string last;
        m_changed.wait_for(lock, std::chrono::duration<double>(seconds), [&] {
            std::size_t found = 0;
            for (const auto& line : m_lines)
                if (line.starts_with(prefix)) {
                    ++found;
                    last = line;
                }
            return found >= count;
        });
        return last;
    }
    std::size_t count(const std::string& prefix) const
    {
        std::lock_guard guard(m_mutex);
        return std::count_if(m_lines.begin(), m_lines.end(),
            [&](const std::string& line) { return line.starts_with(prefix); });
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
};

class QueueRunnerTest : public ::testing::Test {
protected:
    test::FakeBotApi api;
    test::OutboxFolder folder;
    std::shared_ptr<test::FakeClock> clock = std::make_shared<test::FakeClock>();
    std::shared_ptr<test::ManualMainExecutor> main = std::make_shared<test::ManualMainExecutor>();
    std::shared_ptr<Outbox> outbox = std::make_shared<Outbox>(folder.outbox(), clock);
    LogLines lines;
    std::atomic<bool> chatConfirmed = true;
    std::atomic<bool> tokenStored = true;
    std::unique_ptr<QueueRunner> runner = std::make_unique<QueueRunner>(QueueRunner::Dependencies { outbox,
        [this] {
            if (!tokenStored)
                throw std::runtime_error("no token");
            return api.token();
        },
        [this]() -> std::optional<std::int64_t> {
            if (!chatConfirmed)
                return std::nullopt;
            return 4242;
        },
        main, [this](const std::string& line) { lines.add(line); }, std::make_shared<CurlPoster>(),
        api.endpoint(), clock, [](const std::filesystem::path&) { return std::nullopt; } });

    // Runs main-thread work as it arrives until `done` holds (false after 10 s).
    bool drainUntil(const std::function<bool()>& done)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            if (main->drain() == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    void TearDown() override
    {
        api.release();
        runner.reset();
    }
};

TEST_F(QueueRunnerTest, StartsOneLoopThatDeliversInOrderAndPublishes)
{
    const auto first = outbox->enqueue("text", "um", std::nullopt);
    const auto second = outbox->enqueue("text", "dois", std::nullopt);

    runner->startSending();
    runner->startSending();
    EXPECT_EQ(lines.waitFor("enviado: ", 2), "enviado: " + second.filename().string());
    ASSERT_TRUE(api.waitForCalls(2));

    EXPECT_EQ(lines.count("envio da fila iniciado (2 pendente(s))"), 1u);
    const auto calls = api.calls();
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].fields.at("text"), "um");
    EXPECT_EQ(calls[1].fields.at("text"), "dois");
    EXPECT_EQ(runner->state(), (QueueRunner::Snapshot { true, true, 0 }));
}

TEST_F(QueueRunnerTest, TransientFailureIsPublishedAndStopFlushesAtOnce)
{
    const auto item = outbox->enqueue("text", "oi", std::nullopt);
    api.failNext(Fault::httpError(503, "Service Unavailable"));

    runner->startSending();
    EXPECT_EQ(lines.waitFor("Telegram indisponível"),
        "Telegram indisponível (Telegram 503: Service Unavailable); nova tentativa em 5 s");
    EXPECT_EQ(runner->state(), (QueueRunner::Snapshot { true, false, 1 }));

    // The loop sleeps 5 s; the flush does not wait for it.
    int done = 0;
    runner->stopAndFlush(5, [&] { ++done; });
    EXPECT_EQ(
        lines.waitFor("envio encerrado"), "envio encerrado: 1 enviado(s) na saída, 0 pendente(s) em outbox/");
    EXPECT_TRUE(drainUntil([&] { return done == 1; }));
    main->advance(10);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(runner->state(), (QueueRunner::Snapshot { false, true, 0 }));
}

TEST_F(QueueRunnerTest, AStepScheduledBeforeAStopNeverRuns)
{
    outbox->enqueue("text", "oi", std::nullopt);
    api.failNext(Fault::tooManyRequests(1));
    api.failNext(Fault::dropConnection());

    runner->startSending();
    lines.waitFor("Telegram indisponível");
    int done = 0;
    runner->stopAndFlush(5, [&] { ++done; });
    lines.waitFor("envio encerrado");

    // The 1 s retry of the stopped run comes and goes without a request.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(api.calls().size(), 2u);
    EXPECT_EQ(outbox->pending().size(), 1u);
}

TEST_F(QueueRunnerTest, AHangingRequestCannotHoldUpStopAndFlush)
{
    outbox->enqueue("text", "oi", std::nullopt);
    api.failNext(Fault::hold());
    runner->startSending();
    ASSERT_TRUE(api.waitForHeld(1));

    int done = 0;
    runner->stopAndFlush(5, [&] { ++done; });
    main->advance(6.9);
    EXPECT_EQ(done, 0);
    main->advance(0.2);
    EXPECT_EQ(done, 1);

    // When the request finally returns, the flush ends without a second completion.
    api.release();
    EXPECT_FALSE(lines.waitFor("envio encerrado").empty());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (main->pending() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(main->drain(), 1);
    EXPECT_EQ(done, 1);
}

TEST_F(QueueRunnerTest, FlushWithTheNetworkDownCompletesOnce)
{
    outbox->enqueue("text", "oi", std::nullopt);
    api.failNext(Fault::dropConnection());

    int done = 0;
    runner->stopAndFlush(5, [&] { ++done; });
    EXPECT_EQ(
        lines.waitFor("envio encerrado"), "envio encerrado: 0 enviado(s) na saída, 1 pendente(s) em outbox/");
    EXPECT_TRUE(drainUntil([&] { return done == 1; }));
    main->advance(10);
    EXPECT_EQ(done, 1);
}

TEST_F(QueueRunnerTest, NothingLeavesWithoutAConfirmedChatOrAToken)
{
    outbox->enqueue("text", "oi", std::nullopt);
    chatConfirmed = false;
    runner->startSending();
    EXPECT_EQ(lines.waitFor("Telegram indisponível"),
        "Telegram indisponível (chat do Telegram não confirmado); nova tentativa em 5 s");

    chatConfirmed = true;
    tokenStored = false;
    int done = 0;
    runner->stopAndFlush(1, [&] { ++done; });
    lines.waitFor("envio encerrado");
    EXPECT_TRUE(api.calls().empty());
    EXPECT_EQ(outbox->pending().size(), 1u);
}

TEST_F(QueueRunnerTest, TestMessageReportsSuccessAndScrubbedFailures)
{
    std::vector<std::pair<bool, std::string>> results;
    auto collect = [&](bool ok, std::string text) { results.emplace_back(ok, std::move(text)); };

    runner->sendTest("@meu_chat", collect);
    lines.waitFor("teste do Telegram: ", 1);
    api.failNext(Fault::httpError(400, "Bad Request: bot " + api.token() + " cannot write"));
    runner->sendTest("@meu_chat", collect);
    lines.waitFor("teste do Telegram: ", 2);
    chatConfirmed = false;
    runner->sendTest("@meu_chat", collect);
    lines.waitFor("teste do Telegram: ", 3);
    EXPECT_TRUE(drainUntil([&] { return results.size() == 3; }));

    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0], std::make_pair(true, L::t(K::testOK, { "@meu_chat" })));
    EXPECT_EQ(api.calls().at(0).fields.at("text"), Captions::brandAndTime(K::tgTest, clock->now()));
    EXPECT_FALSE(results[1].first);
    EXPECT_EQ(
        results[1].second, L::t(K::testFail, { "Telegram 400: Bad Request: bot <token> cannot write" }));
    EXPECT_EQ(results[2], std::make_pair(false, L::t(K::testFail, { "chat do Telegram não confirmado" })));
    EXPECT_EQ(lines.count("teste do Telegram: ok"), 1u);
    EXPECT_EQ(api.calls().size(), 2u);
    EXPECT_TRUE(outbox->pending().empty());
}

} // namespace
