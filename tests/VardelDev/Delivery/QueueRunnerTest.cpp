#include "QueueRunner.h"

#include "Captions.h"
#include "CurlPoster.h"
#include "FakeBotApi.h"
#include "FakeClock.h"
#include "L.h"
#include "ManualMainExecutor.h"
#include "OutboxFolder.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace vardel;
using Fault = test::FakeBotApi::Fault;
using Snapshot = QueueRunner::Snapshot;

namespace {

// Log lines and scheduled waits of the runner, which tests wait on instead of sleeping. Waits never
// elapse by themselves: the test fires them.
class Recorder {
public:
    void add(const std::string& line)
    {
        std::lock_guard guard(m_mutex);
        m_lines.push_back(line);
    }
    void schedule(double seconds, std::function<void()> next)
    {
        std::lock_guard guard(m_mutex);
        m_timers.emplace_back(seconds, std::move(next));
    }
    // The last line that starts with `prefix`, once there are `count` of them (empty after 10 s).
    std::string waitFor(const std::string& prefix, std::size_t count = 1)
    {
        std::vector<std::string> found;
        until([&] { return (found = matching(prefix)).size() >= count; });
        return found.size() >= count ? found.back() : std::string();
    }
    std::size_t count(const std::string& prefix)
    {
        std::lock_guard guard(m_mutex);
        return matching(prefix).size();
    }
    // The `index`-th scheduled wait: its delay, and what it runs when the test fires it.
    std::pair<double, std::function<void()>> timer(std::size_t index)
    {
        std::pair<double, std::function<void()>> found { -1, [] { ADD_FAILURE() << "no such wait"; } };
        until([&] { return m_timers.size() > index && (found = m_timers[index]).second; });
        return found;
    }

private:
    // Polls `done` under the lock for up to 10 s.
    template <typename Done> void until(Done done)
    {
        for (int i = 0; i < 2000; ++i) {
            {
                std::lock_guard guard(m_mutex);
                if (done())
                    return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    std::vector<std::string> matching(const std::string& prefix) const
    {
        std::vector<std::string> found;
        std::ranges::copy_if(
            m_lines, std::back_inserter(found), [&](auto& line) { return line.starts_with(prefix); });
        return found;
    }

    std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::vector<std::pair<double, std::function<void()>>> m_timers;
};

class QueueRunnerTest : public ::testing::Test {
protected:
    test::FakeBotApi api;
    test::OutboxFolder folder;
    std::shared_ptr<test::FakeClock> clock = std::make_shared<test::FakeClock>();
    std::shared_ptr<test::ManualMainExecutor> main = std::make_shared<test::ManualMainExecutor>();
    std::shared_ptr<Outbox> outbox = std::make_shared<Outbox>(folder.outbox(), clock);
    Recorder record;
    std::atomic<bool> chatConfirmed = true;
    std::unique_ptr<QueueRunner> runner = std::make_unique<QueueRunner>(QueueRunner::Dependencies { outbox,
        [this] { return api.token(); },
        [this] { return chatConfirmed ? std::optional<std::int64_t>(4242) : std::nullopt; }, main,
        [this](const std::string& line) { record.add(line); }, std::make_shared<CurlPoster>(), api.endpoint(),
        clock, [](const std::filesystem::path&) { return std::nullopt; },
        [this](double seconds, std::function<void()> next) { record.schedule(seconds, std::move(next)); } });

    // Stops with a flush and returns its log line: everything posted to the send queue before has run.
    std::string stop()
    {
        runner->stopAndFlush(5, [] {});
        return record.waitFor("envio encerrado", record.count("envio encerrado") + 1);
    }

    void TearDown() override
    {
        api.release();
        runner.reset();
    }
};

TEST_F(QueueRunnerTest, StartsOneLoopThatDeliversInOrderAndWakesForANewItem)
{
    const auto first = outbox->enqueue("text", "um", std::nullopt);
    const auto second = outbox->enqueue("text", "dois", std::nullopt);

    runner->startSending();
    runner->startSending();
    EXPECT_EQ(record.waitFor("enviado: ", 2), "enviado: " + second.filename().string());
    EXPECT_EQ(record.timer(0).first, 1) << "idle";
    EXPECT_EQ(runner->state(), (Snapshot { .running = true, .online = true, .pending = 0 }));

    // Written while the loop idles: sent without waiting for the idle second to pass.
    const auto third = outbox->enqueue("text", "tres", std::nullopt);
    EXPECT_EQ(record.waitFor("enviado: ", 3), "enviado: " + third.filename().string());
    EXPECT_EQ(record.count("envio da fila iniciado (2 pendente(s))"), 1u);
    const auto calls = api.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].fields.at("text"), "um");
    EXPECT_EQ(calls[1].fields.at("text"), "dois");
}

TEST_F(QueueRunnerTest, FailuresArePublishedUntilTheNextSuccess)
{
    outbox->enqueue("text", "oi", std::nullopt);
    api.failNext(Fault::httpError(503, "Service Unavailable"));
    api.failNext(Fault::httpError(403, "Forbidden: bot was blocked by the user"));
    api.failNext(Fault::httpError(400, "Bad Request: chat not found"));

    runner->startSending();
    EXPECT_EQ(record.waitFor("Telegram indisponível"),
        "Telegram indisponível (Telegram 503: Service Unavailable); nova tentativa em 5 s");
    EXPECT_EQ(runner->state(), (Snapshot { .running = true, .online = false, .pending = 1 }));
    record.timer(0).second();
    record.waitFor("Telegram indisponível", 2);
    EXPECT_EQ(runner->state(),
        (Snapshot { .running = true, .online = true, .pending = 1, .chatUnreachable = true }));
    record.timer(1).second();
    record.waitFor("Telegram indisponível", 3);
    EXPECT_EQ(record.timer(2).first, 20);
    EXPECT_EQ(record.count("fila: o Telegram recusa o chat"), 1u) << "logged once";
    record.timer(2).second();
    record.waitFor("enviado: ");
    EXPECT_EQ(runner->state(),
        (Snapshot { .running = true, .online = true, .pending = 0, .chatUnreachable = false }));
}

// Neither a new item, nor a second start, nor a step of a stopped run may take the place of a wait.
TEST_F(QueueRunnerTest, AWaitIsCappedAndNothingCutsItShortOrRunsBesideTheLoop)
{
    outbox->enqueue("text", "um", std::nullopt);
    api.failNext(Fault::tooManyRequests(1e9));
    runner->startSending();
    EXPECT_EQ(record.timer(0).first, QueueRunner::kMaxDelay);
    outbox->enqueue("text", "dois", std::nullopt);
    runner->startSending();
    EXPECT_EQ(stop(), "envio encerrado: 2 enviado(s) na saída, 0 pendente(s) em outbox/");

    outbox->enqueue("text", "tres", std::nullopt);
    api.failNext(Fault::httpError(503, "Service Unavailable"));
    runner->startSending();
    EXPECT_EQ(record.timer(1).first, 5);
    record.timer(0).second(); // the stopped run's wait ends
    EXPECT_EQ(stop(), "envio encerrado: 1 enviado(s) na saída, 0 pendente(s) em outbox/");
    EXPECT_EQ(record.count("enviado: "), 0u);
    EXPECT_EQ(api.calls().size(), 5u);
}

TEST_F(QueueRunnerTest, NeitherAFlushDeadlineNorDestructionWaitsForAnUploadInFlight)
{
    outbox->enqueue("text", "oi", std::nullopt);
    api.failNext(Fault::hold());
    runner->startSending();
    ASSERT_TRUE(api.waitForHeld(1));

    int done = 0;
    runner->stopAndFlush(5, [&] { ++done; });
    main->advance(4.9);
    EXPECT_EQ(record.count("envio encerrado"), 0u);
    clock->advance(5.1);
    main->advance(0.2);
    EXPECT_EQ(record.waitFor("envio encerrado"),
        "envio encerrado: 0 enviado(s) na saída, 1 pendente(s) em outbox/");
    EXPECT_TRUE(main->waitFor([&] { return done == 1; }));
    main->advance(10);
    EXPECT_EQ(done, 1) << "the safety net does not call again";
    EXPECT_EQ(runner->state(), (Snapshot { .running = false, .online = false, .pending = 1 }));

    // Nor does destruction wait for one.
    api.release();
    api.failNext(Fault::hold());
    runner->startSending();
    ASSERT_TRUE(api.waitForCalls(2));
    auto destroyed = std::async(std::launch::async, [&] { runner.reset(); });
    const bool prompt = destroyed.wait_for(std::chrono::seconds(4)) == std::future_status::ready;
    api.release();
    destroyed.get();
    EXPECT_TRUE(prompt);
    EXPECT_EQ(outbox->count(), 1u);
}

TEST_F(QueueRunnerTest, TestMessageReportsSuccessAndScrubbedFailures)
{
    std::vector<std::pair<bool, std::string>> results;
    auto collect = [&](bool ok, std::string text) { results.emplace_back(ok, std::move(text)); };

    runner->sendTest("@meu_chat", collect);
    record.waitFor("teste do Telegram: ", 1);
    api.failNext(Fault::httpError(400, "Bad Request: bot " + api.token() + " cannot write"));
    runner->sendTest("@meu_chat", collect);
    record.waitFor("teste do Telegram: ", 2);
    chatConfirmed = false;
    runner->sendTest("@meu_chat", collect);
    record.waitFor("teste do Telegram: ", 3);
    ASSERT_TRUE(main->waitFor([&] { return results.size() == 3; }));

    EXPECT_EQ(results[0], std::make_pair(true, L::t(K::testOK, { "@meu_chat" })));
    EXPECT_EQ(api.calls().at(0).fields.at("text"), Captions::brandAndTime(K::tgTest, clock->now()));
    EXPECT_EQ(results[1],
        std::make_pair(false, L::t(K::testFail, { "Telegram 400: Bad Request: bot <token> cannot write" })));
    EXPECT_EQ(results[2], std::make_pair(false, L::t(K::testFail, { "chat do Telegram não confirmado" })));
    EXPECT_EQ(record.count("teste do Telegram: ok"), 1u);
    EXPECT_TRUE(outbox->pending().empty());
}

} // namespace
