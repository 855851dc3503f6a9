#include "AlertQueue.h"

#include "FakeClock.h"
#include "OutboxFolder.h"
#include "ScriptedTransport.h"
#include "SendError.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

using namespace vardel;
using test::OutboxFolder;
using Step = AlertQueue::Step;

namespace {

struct Harness {
    OutboxFolder folder;
    std::shared_ptr<test::FakeClock> clock = std::make_shared<test::FakeClock>();
    std::shared_ptr<Outbox> outbox = std::make_shared<Outbox>(folder.outbox(), clock);
    std::shared_ptr<test::ScriptedTransport> transport = std::make_shared<test::ScriptedTransport>();
    AlertQueue queue { outbox, transport, clock };
};

class AlertQueueTest : public ::testing::Test, protected Harness { };

// Every failure that is not a refusal of the item or a rate limit keeps the item and backs off.
TEST(AlertQueueFailureTest, KeepsTheItemAndBacksOffUpToTheCapUntilASuccess)
{
    for (const auto& [error, chatUnreachable] : std::vector<std::pair<std::exception_ptr, bool>> {
             { std::make_exception_ptr(SendError::transient("falhou")), false },
             { std::make_exception_ptr(std::runtime_error("falhou")), false },
             { std::make_exception_ptr(SendError::chatUnreachable("falhou")), true } }) {
        SCOPED_TRACE(chatUnreachable ? "chat unreachable" : "transient");
        Harness harness;
        auto& [folder, clock, outbox, transport, queue] = harness;
        const auto item = outbox->enqueue("text", "oi", std::nullopt);
        std::vector<double> waits;
        for (int i = 0; i < 6; ++i) {
            transport->fail(error);
            const Step step = queue.step();
            ASSERT_EQ(step.kind, Step::Kind::wait);
            waits.push_back(step.seconds);
        }
        EXPECT_EQ(waits, (std::vector<double> { 5, 10, 20, 40, 60, 60 }));
        EXPECT_TRUE(fs::exists(item));
        EXPECT_EQ(queue.online(), chatUnreachable) << "a chat refusal is an answer: Telegram is up";
        EXPECT_EQ(queue.chatUnreachable(), chatUnreachable);
        EXPECT_EQ(queue.lastError(), "falhou");

        clock->set(1'800'000'000);
        EXPECT_EQ(queue.step(), Step::sent(item));
        EXPECT_FALSE(fs::exists(item));
        EXPECT_EQ(queue.online(), true);
        EXPECT_FALSE(queue.chatUnreachable());
        EXPECT_EQ(queue.lastError(), std::nullopt);
        EXPECT_EQ(queue.lastSent(), 1'800'000'000);
        outbox->enqueue("text", "de novo", std::nullopt);
        transport->fail(error);
        EXPECT_EQ(queue.step(), Step::wait(5)) << "a success resets the back-off";
    }
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
    EXPECT_EQ(queue.backoff(), 10);
    EXPECT_TRUE(fs::exists(item));
}

TEST_F(AlertQueueTest, VanishedMediaIsNeverSentAndRefusedItemsGoToFailed)
{
    const auto gone = outbox->enqueue("photo", "legenda", (folder.root() / "gone.jpg").string());
    const auto none = outbox->enqueue("video", "legenda", std::nullopt);
    EXPECT_EQ(queue.step(), Step::discarded(gone, "arquivo sumiu: gone.jpg"));
    EXPECT_EQ(queue.step(), Step::discarded(none, "arquivo sumiu: -"));
    EXPECT_TRUE(transport->jobs().empty());
    EXPECT_EQ(queue.online(), std::nullopt);

    const auto photo = folder.root() / "a.jpg";
    OutboxFolder::write(photo, "media");
    const auto item = outbox->enqueue("photo", "legenda", photo.string());
    transport->fail(SendError::permanent("Telegram 400: Bad Request"));
    EXPECT_EQ(queue.step(), Step::discarded(item, "Telegram 400: Bad Request"));
    EXPECT_TRUE(fs::exists(folder.failed() / item.filename()));
    EXPECT_FALSE(fs::exists(item));
    EXPECT_TRUE(fs::exists(photo));
    EXPECT_EQ(queue.online(), true);
    EXPECT_EQ(queue.backoff(), 5);
}

TEST_F(AlertQueueTest, BadItemsGoToAnOwnerOnlyFailedFolderOrAreDeletedAndNeverBlockTheQueue)
{
    auto bytes = [](std::string content) {
        return [content](const fs::path& item) { OutboxFolder::write(item, content); };
    };
    const std::vector<std::tuple<const char*, std::function<void(const fs::path&)>, std::string>> rows {
        { "directory", [](const fs::path& item) { fs::create_directory(item); }, "not a regular file" },
        { "binary", bytes(std::string("\x89PNG\r\n\x1a\n\0\0\xff", 11)), "parse" },
        { "array", bytes(R"(["text"])"), "JSON sem tipo válido" },
        { "unknown kind", bytes(R"({"kind":"Text"})"), "JSON sem tipo válido" },
        { "deep nesting", bytes(std::string(500'000, '[')), "parse" },
        { "50 MB",
            [&](const fs::path& item) {
                bytes(R"({"kind":"text","text":")")(item);
                fs::resize_file(item, 50u << 20);
            },
            "52428800 bytes" },
    };
    const fs::path item = folder.outbox() / "1-text.json";
    fs::remove_all(folder.failed());
    for (const auto& [name, make, reason] : rows) {
        SCOPED_TRACE(name);
        fs::remove_all(folder.failed() / item.filename());
        make(item);
        const auto good = outbox->enqueue("text", "depois", std::nullopt);
        const Step step = queue.step();
        EXPECT_EQ(step.kind, Step::Kind::discarded);
        EXPECT_EQ(step.item, item);
        EXPECT_TRUE(step.reason.starts_with("item inválido: ")) << step.reason;
        EXPECT_NE(step.reason.find(reason), std::string::npos) << step.reason;
        EXPECT_TRUE(fs::exists(folder.failed() / item.filename()));
        EXPECT_FALSE(fs::exists(item));
        EXPECT_EQ(queue.lastError(), std::nullopt);
        EXPECT_EQ(queue.step(), Step::sent(good)) << "the bad item does not block the one behind it";
    }
    EXPECT_EQ(transport->jobs().size(), rows.size()) << "only the good items were sent";
    EXPECT_EQ(fs::status(folder.failed()).permissions(), fs::perms::owner_all)
        << "failed/ is remade owner-only";
    OutboxFolder::write(item, "still not json");
    EXPECT_EQ(queue.step().kind, Step::Kind::discarded);
    EXPECT_EQ(OutboxFolder::read(folder.failed() / "1-text.json"), "still not json") << "namesake replaced";

    // With no way to make failed/, the bad item is deleted rather than left to block the queue.
    fs::remove_all(folder.failed());
    OutboxFolder::write(folder.failed(), "a file where the folder should be");
    OutboxFolder::write(item, "not json");
    EXPECT_EQ(queue.step().kind, Step::Kind::discarded);
    EXPECT_FALSE(fs::exists(item));
    EXPECT_EQ(queue.storageFault(), std::nullopt);
}

TEST_F(AlertQueueTest, FlushSendsUntilTheDeadlineOrTheFirstWait)
{
    EXPECT_EQ(queue.step(), Step::idle());
    EXPECT_EQ(queue.flush(clock->now() + 5), 0);
    EXPECT_EQ(queue.online(), std::nullopt);
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
}

// Runs `body` in a child process that sees `folder` mounted read-only, as after a remount of the disk.
// Returns the child's exit status; 77 when the system offers no private mount namespace.
int withReadOnlyFolder(const fs::path& folder, const std::function<bool()>& body)
{
    const pid_t child = ::fork();
    if (child != 0) {
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWNS) != 0) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            ::_exit(77);
        OutboxFolder::write("/proc/self/setgroups", "deny");
        OutboxFolder::write("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        OutboxFolder::write("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0
        || ::mount(nullptr, folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
        ::_exit(77);
    ::_exit(body() ? 0 : 1);
}

TEST_F(AlertQueueTest, ReadOnlyOutboxSendsEachItemAtMostOncePerRun)
{
    OutboxFolder::write(folder.outbox() / "1-text.json", "not json");
    outbox->enqueue("text", "a", std::nullopt);
    outbox->enqueue("text", "b", std::nullopt);

    const int status = withReadOnlyFolder(folder.outbox(), [&] {
        AlertQueue readOnly(std::make_shared<Outbox>(folder.outbox(), clock), transport, clock);
        std::vector<double> waits;
        Step step = Step::idle();
        for (int i = 0; i < 20; ++i)
            if ((step = readOnly.step()).kind == Step::Kind::stuck)
                waits.push_back(step.seconds);
        return transport->jobs().size() == 2 && transport->jobs()[0].text == "a"
            && transport->jobs()[1].text == "b" && waits == std::vector<double> { 5, 10, 20 }
        && step.kind == Step::Kind::idle && readOnly.storageFault().has_value();
    });
    if (status == 77)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(outbox->count(), 3u);
}

} // namespace
