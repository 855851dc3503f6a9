#include "Outbox.h"

#include "AlertQueue.h"
#include "AtomicFile.h"
#include "Error.h"
#include "FakeClock.h"
#include "OutboxFolder.h"

#include <csignal>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace vardel;
using test::OutboxFolder;

namespace {

class OutboxTest : public ::testing::Test {
protected:
    OutboxFolder folder;
    std::shared_ptr<test::FakeClock> clock = std::make_shared<test::FakeClock>(1'700'000'000.25);
    Outbox outbox { folder.outbox(), clock };

    std::vector<std::string> names() const
    {
        std::vector<std::string> out;
        for (const auto& path : outbox.pending())
            out.push_back(path.filename().string());
        return out;
    }
};

TEST_F(OutboxTest, ItemIsNamedByAStrictlyIncreasingStampAndReadsBackBadInputWritesNothing)
{
    const fs::path item = outbox.enqueue("photo", "Pessoa às 10:00", "/data/events/a.jpg");
    const fs::path bare = outbox.enqueue("text", std::nullopt, std::nullopt);
    clock->advance(-3600);
    const auto stepped = outbox.enqueue("text", "3", std::nullopt);

    EXPECT_EQ(item, folder.outbox() / "1700000000250000000-photo.json");
    EXPECT_EQ(stepped.filename(), "1700000000250000002-text.json")
        << "the clock stood still, then stepped back";
    EXPECT_EQ(outbox.pending(), (std::vector<fs::path> { item, bare, stepped }));
    EXPECT_EQ(nlohmann::json::parse(OutboxFolder::read(item)),
        (nlohmann::json { { "created", 1'700'000'000.25 }, { "kind", "photo" },
            { "path", "/data/events/a.jpg" }, { "text", "Pessoa às 10:00" } }));
    EXPECT_EQ(fs::status(item).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(AlertQueue::read(item),
        (QueueJob { QueueJob::Kind::photo, "Pessoa às 10:00", fs::path("/data/events/a.jpg") }));
    const auto json = nlohmann::json::parse(OutboxFolder::read(bare));
    EXPECT_TRUE(json.at("text").is_null() && json.at("path").is_null());
    EXPECT_EQ(AlertQueue::read(bare), (QueueJob { QueueJob::Kind::text, "", std::nullopt }));

    // A kind with a path separator would write outside the folder; invalid UTF-8 cannot be serialized.
    EXPECT_THROW(outbox.enqueue("../escape", "t", std::nullopt), Error);
    EXPECT_THROW(outbox.enqueue("a.json", "t", std::nullopt), Error);
    EXPECT_ANY_THROW(outbox.enqueue("text", std::string("bad \xff\xfe"), std::nullopt));
    EXPECT_THROW(outbox.enqueue(std::string(33, 'k'), "t", std::nullopt), Error);
    EXPECT_NO_THROW(outbox.enqueue(std::string(32, 'k'), "t", std::nullopt));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.outbox()), {}), 5) << "four items and failed/";
    Outbox missing(folder.root() / "nowhere", clock);
    EXPECT_TRUE(missing.pending().empty());
    EXPECT_THROW(missing.enqueue("text", "t", std::nullopt), std::system_error);
    EXPECT_FALSE(fs::exists(folder.root() / "nowhere"));
}

// The listing is served from memory: it must still see what others add, remove or move, at once.
TEST_F(OutboxTest, ListingHoldsOnlyJsonItemsInNameOrderAndFollowsChangesByAnyone)
{
    const auto mine = outbox.enqueue("video", "v", "/c.mp4");
    for (const char* name :
        { "9-text.json", "10-text.json", "note.txt", "5-text.JSON", ".5-text.a1B2c3.tmp" })
        OutboxFolder::write(folder.outbox() / name, "{}");
    OutboxFolder::write(folder.failed() / "1-text.json", "{}");
    // Plain string order, not numeric: "10-" sorts before "17..." and "9-".
    EXPECT_EQ(
        names(), (std::vector<std::string> { "10-text.json", mine.filename().string(), "9-text.json" }));
    EXPECT_EQ(outbox.count(), 3u);
    EXPECT_EQ(outbox.oldest({ "10-text.json" }), mine);

    Outbox other(folder.outbox(), clock);
    const auto theirs = other.enqueue("text", "b", std::nullopt);
    OutboxFolder::write(folder.outbox() / "1-text.json", "{}");
    fs::remove(folder.outbox() / "9-text.json");
    fs::rename(mine, folder.failed() / mine.filename());
    EXPECT_EQ(
        names(), (std::vector<std::string> { "1-text.json", "10-text.json", theirs.filename().string() }));
    fs::remove(theirs);
    fs::remove(folder.outbox() / "1-text.json");
    fs::rename(folder.outbox() / "10-text.json", folder.outbox() / "10-text.old");
    EXPECT_EQ(outbox.oldest(), std::nullopt);

    // The folder replaced by a new one is watched again.
    fs::remove_all(folder.outbox());
    EXPECT_EQ(outbox.count(), 0u);
    fs::create_directories(folder.outbox());
    OutboxFolder::write(folder.outbox() / "2-text.json", "{}");
    EXPECT_EQ(names(), std::vector<std::string> { "2-text.json" });
}

// Two processes on one folder with clocks that agree to the nanosecond: every name clashes, and still
// no item may replace another.
TEST_F(OutboxTest, TwoProcessesEnqueueingIntoOneFolderLoseNothing)
{
    constexpr int kEach = 100;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    for (int i = 0; i < kEach; ++i)
        outbox.enqueue("text", std::to_string(child) + ":" + std::to_string(i), std::nullopt);
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    std::set<std::string> texts;
    for (const auto& item : outbox.pending())
        texts.insert(AlertQueue::read(item).text);
    EXPECT_EQ(texts.size(), 2u * kEach);
}

// Kills a producer with SIGKILL at random moments: every item left must read back whole, no partial file
// may carry the ".json" extension, and the start-up clean-up removes the rest.
TEST_F(OutboxTest, ItemsSurviveAProducerKilledAtRandomMoments)
{
    std::mt19937 random(20261206);
    std::uniform_int_distribution<int> pause(5000, 80000);
    for (int round = 0; round < 30; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Outbox producer(folder.outbox());
            for (std::size_t n = 1;; ++n) {
                // Large texts make each write long enough for a kill to land inside it.
                const std::size_t length = 20'000 + (n * 7919) % 40'000;
                producer.enqueue(
                    "text", std::to_string(length) + ":" + std::string(length, 'x'), std::nullopt);
            }
        }
        ::usleep(static_cast<useconds_t>(pause(random)));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }

    const auto items = outbox.pending();
    EXPECT_GT(items.size(), 5u);
    for (const auto& item : items) {
        const std::string text = AlertQueue::read(item).text;
        const auto colon = text.find(':');
        ASSERT_NE(colon, std::string::npos) << item;
        EXPECT_EQ(std::stoul(text.substr(0, colon)), text.size() - colon - 1) << item;
    }
    AtomicFile::removeAllLeftovers(folder.root());
    EXPECT_EQ(static_cast<std::size_t>(std::distance(fs::directory_iterator(folder.outbox()), {})),
        items.size() + 1);
}

} // namespace
