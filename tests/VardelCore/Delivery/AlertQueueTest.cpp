#include "AlertQueue.h"

#include "FakeClock.h"
#include "OutboxFolder.h"
#include "ScriptedTransport.h"
#include "SendError.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace vardel;
using Step = AlertQueue::Step;

namespace {

class AlertQueueTest : public ::testing::Test {
protected:
    test::OutboxFolder folder;
    std::shared_ptr<test::FakeClock> clock = std::make_shared<test::FakeClock>();
    std::shared_ptr<Outbox> outbox = std::make_shared<Outbox>(folder.outbox(), clock);
    std::shared_ptr<test::ScriptedTransport> transport = std::make_shared<test::ScriptedTransport>();
    AlertQueue queue { outbox, transport, clock };

    fs::path media(const std::string& name)
    {
        const fs::path file = folder.root() / name;
        test::OutboxFolder::write(file, "media");
        return file;
    }
};

TEST_F(AlertQueueTest, EmptyOutboxIsIdleAndChangesNothing)
{
    EXPECT_EQ(queue.step(), Step::idle());
    EXPECT_EQ(queue.online(), std::nullopt);
    EXPECT_EQ(queue.backoff(), 5);
    EXPECT_TRUE(transport->jobs().empty());
}

TEST_F(AlertQueueTest, TransientFailuresBackOffUpToTheCapAndASuccessResets)
{
    const auto item = outbox->enqueue("text", "oi", std::nullopt);
    std::vector<double> waits;
    for (int i = 0; i < 6; ++i) {
        transport->fail(SendError::transient("sem rede"));
        const Step step = queue.step();
        ASSERT_EQ(step.kind, Step::Kind::wait);
        waits.push_back(step.seconds);
        EXPECT_EQ(queue.online(), false);
        EXPECT_EQ(queue.lastError(), "sem rede");
        EXPECT_TRUE(fs::exists(item));
    }
    EXPECT_EQ(waits, (std::vector<double> { 5, 10, 20, 40, 60, 60 }));
    EXPECT_EQ(queue.backoff(), 60);

    clock->set(1'800'000'000);
    EXPECT_EQ(queue.step(), Step::sent(item));
    EXPECT_FALSE(fs::exists(item));
    EXPECT_EQ(queue.online(), true);
    EXPECT_EQ(queue.lastError(), std::nullopt);
    EXPECT_EQ(queue.lastSent(), 1'800'000'000);
    EXPECT_EQ(queue.backoff(), 5);
    EXPECT_EQ(transport->jobs().back(), (QueueJob { QueueJob::Kind::text, "oi", std::nullopt }));
}

TEST_F(AlertQueueTest, AnyOtherErrorCountsAsTransient)
{
    outbox->enqueue("text", "oi", std::nullopt);
    transport->fail(std::runtime_error("surpresa"));

    EXPECT_EQ(queue.step(), Step::wait(5));
    EXPECT_EQ(queue.lastError(), "surpresa");
    EXPECT_EQ(queue.online(), false);
    EXPECT_EQ(queue.backoff(), 10);
}

TEST_F(AlertQueueTest, RateLimitWaitsAtLeastOneSecondWithoutGrowingTheBackoff)
{
    const auto item = outbox->enqueue("text", "oi", std::nullopt);
    transport->fail(SendError::transient("x"));
    queue.step();
    transport->fail(SendError::retryAfter(0.2, "Telegram 429: calma"));
    transport->fail(SendError::retryAfter(30, "Telegram 429: calma"));

    EXPECT_EQ(queue.step(), Step::wait(1));
    EXPECT_EQ(queue.step(), Step::wait(30));
    EXPECT_EQ(queue.online(), true);
    EXPECT_EQ(queue.lastError(), "Telegram 429: calma");
    EXPECT_EQ(queue.backoff(), 10);
    EXPECT_TRUE(fs::exists(item));
}

TEST_F(AlertQueueTest, PermanentRejectionMovesTheItemToFailedAndKeepsTheMedia)
{
    const auto photo = media("a.jpg");
    const auto item = outbox->enqueue("photo", "legenda", photo.string());
    transport->fail(SendError::permanent("Telegram 400: Bad Request"));

    EXPECT_EQ(queue.step(), Step::discarded(item, "Telegram 400: Bad Request"));
    EXPECT_TRUE(fs::exists(folder.failed() / item.filename()));
    EXPECT_FALSE(fs::exists(item));
    EXPECT_TRUE(fs::exists(photo));
    EXPECT_EQ(queue.online(), true);
    EXPECT_EQ(queue.backoff(), 5);
}

TEST_F(AlertQueueTest, VanishedMediaIsDiscardedWithoutCallingTheTransport)
{
    const auto gone = outbox->enqueue("photo", "legenda", (folder.root() / "gone.jpg").string());
    const auto none = outbox->enqueue("video", "legenda", std::nullopt);

    EXPECT_EQ(queue.step(), Step::discarded(gone, "arquivo sumiu: gone.jpg"));
    EXPECT_EQ(queue.step(), Step::discarded(none, "arquivo sumiu: -"));
    EXPECT_TRUE(transport->jobs().empty());
    EXPECT_EQ(queue.online(), std::nullopt);
}

TEST_F(AlertQueueTest, FailedFolderIsRecreatedOwnerOnlyAndAnOldNamesakeReplaced)
{
    fs::remove_all(folder.failed());
    const auto item = folder.outbox() / "1-text.json";
    test::OutboxFolder::write(item, "not json");
    EXPECT_EQ(queue.step().kind, Step::Kind::discarded);
    struct stat info { };
    ASSERT_EQ(::stat(folder.failed().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    test::OutboxFolder::write(item, "still not json");
    EXPECT_EQ(queue.step().kind, Step::Kind::discarded);
    EXPECT_EQ(test::OutboxFolder::read(folder.failed() / "1-text.json"), "still not json");
}

struct BadItem {
    std::string name;
    std::function<void(const fs::path&)> make;
    std::string reasonContains;
};

class AlertQueueBadItemTest : public AlertQueueTest, public ::testing::WithParamInterface<BadItem> { };

TEST_P(AlertQueueBadItemTest, IsMovedToFailedWithoutASend)
{
    const fs::path item = folder.outbox() / "1-text.json";
    GetParam().make(item);
    const auto good = outbox->enqueue("text", "depois", std::nullopt);

    const Step step = queue.step();
    ASSERT_EQ(step.kind, Step::Kind::discarded);
    EXPECT_EQ(step.item, item);
    EXPECT_TRUE(step.reason.starts_with("item inválido: ")) << step.reason;
    EXPECT_NE(step.reason.find(GetParam().reasonContains), std::string::npos) << step.reason;
    EXPECT_FALSE(fs::exists(item));
    EXPECT_TRUE(transport->jobs().empty());
    EXPECT_EQ(queue.online(), std::nullopt);
    EXPECT_EQ(queue.lastError(), std::nullopt);

    // The bad item does not block the one behind it.
    EXPECT_EQ(queue.step(), Step::sent(good));
}

auto bytes(std::string content)
{
    return [content](const fs::path& item) { test::OutboxFolder::write(item, content); };
}

INSTANTIATE_TEST_SUITE_P(Items, AlertQueueBadItemTest,
    ::testing::Values(BadItem { "Empty", bytes(""), "parse" },
        BadItem { "Binary", bytes(std::string("\x89PNG\r\n\x1a\n\0\0\xff", 11)), "parse" },
        BadItem { "Array", bytes(R"(["text"])"), "JSON sem tipo válido" },
        BadItem { "KindMissing", bytes(R"({"text":"a"})"), "JSON sem tipo válido" },
        BadItem { "KindNotString", bytes(R"({"kind":1})"), "JSON sem tipo válido" },
        BadItem { "KindUnknown", bytes(R"({"kind":"Text"})"), "JSON sem tipo válido" },
        BadItem { "Truncated", bytes(R"({"kind":"text","te)"), "parse" },
        BadItem { "DeepNesting", bytes(std::string(500'000, '[')), "parse" },
        BadItem { "FiftyMegabytes",
            [](const fs::path& item) {
                test::OutboxFolder::write(item, R"({"kind":"text","text":")");
                fs::resize_file(item, 50u << 20);
            },
            "52428800 bytes" },
        BadItem {
            "Directory", [](const fs::path& item) { fs::create_directory(item); }, "not a regular file" }),
    [](const auto& param) { return param.param.name; });

TEST_F(AlertQueueTest, ReadToleratesWrongTypesOutsideTheKind)
{
    const fs::path item = folder.outbox() / "1-photo.json";
    test::OutboxFolder::write(item, R"({"kind":"photo","text":42,"path":["x"],"extra":true})");

    EXPECT_EQ(AlertQueue::read(item), (QueueJob { QueueJob::Kind::photo, "", std::nullopt }));
}

TEST_F(AlertQueueTest, FlushSendsUntilTheDeadlineOrTheFirstWait)
{
    EXPECT_EQ(queue.flush(clock->now() + 5), 0);

    outbox->enqueue("text", "1", std::nullopt);
    outbox->enqueue("photo", "sem arquivo", (folder.root() / "gone.jpg").string());
    outbox->enqueue("text", "2", std::nullopt);
    EXPECT_EQ(queue.flush(clock->now() - 1), 0);
    EXPECT_EQ(queue.pendingCount(), 3);

    EXPECT_EQ(queue.flush(clock->now() + 5), 2);
    EXPECT_EQ(queue.pendingCount(), 0);

    outbox->enqueue("text", "3", std::nullopt);
    outbox->enqueue("text", "4", std::nullopt);
    transport->fail(SendError::transient("sem rede"));
    EXPECT_EQ(queue.flush(clock->now() + 5), 0);
    EXPECT_EQ(queue.pendingCount(), 2);
    EXPECT_EQ(transport->jobs().size(), 3u);
}

} // namespace
