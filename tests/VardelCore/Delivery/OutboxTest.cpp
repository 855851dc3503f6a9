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
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace vardel;

namespace {

class OutboxTest : public ::testing::Test {
protected:
    test::OutboxFolder folder;
    std::shared_ptr<test::FakeClock> clock = std::make_shared<test::FakeClock>(1'700'000'000.25);
    Outbox outbox { folder.outbox(), clock };

    static std::vector<std::string> names(const std::vector<fs::path>& paths)
    {
        std::vector<std::string> out;
        for (const auto& path : paths)
            out.push_back(path.filename().string());
        return out;
    }
};

TEST_F(OutboxTest, ItemIsNamedByStampAndKindAndHoldsExactlyFourKeys)
{
    const fs::path item = outbox.enqueue("photo", "Pessoa às 10:00", "/data/events/a.jpg");

    EXPECT_EQ(item, folder.outbox() / "1700000000250000000-photo.json");
    const auto json = nlohmann::json::parse(test::OutboxFolder::read(item));
    EXPECT_EQ(json,
        (nlohmann::json { { "created", 1'700'000'000.25 }, { "kind", "photo" },
            { "path", "/data/events/a.jpg" }, { "text", "Pessoa às 10:00" } }));
    struct stat info { };
    ASSERT_EQ(::stat(item.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const QueueJob job = AlertQueue::read(item);
    EXPECT_EQ(job, (QueueJob { QueueJob::Kind::photo, "Pessoa às 10:00", fs::path("/data/events/a.jpg") }));
}

TEST_F(OutboxTest, AbsentTextAndPathAreWrittenAsNullAndReadAsEmpty)
{
    const fs::path item = outbox.enqueue("text", std::nullopt, std::nullopt);

    const auto json = nlohmann::json::parse(test::OutboxFolder::read(item));
    EXPECT_TRUE(json.at("text").is_null());
    EXPECT_TRUE(json.at("path").is_null());
    EXPECT_EQ(AlertQueue::read(item), (QueueJob { QueueJob::Kind::text, "", std::nullopt }));
}

TEST_F(OutboxTest, StampsStayStrictlyIncreasingWhenTheClockStandsStillOrStepsBack)
{
    const auto first = outbox.enqueue("text", "1", std::nullopt);
    const auto second = outbox.enqueue("text", "2", std::nullopt);
    clock->advance(-3600);
    const auto third = outbox.enqueue("text", "3", std::nullopt);

    EXPECT_EQ(first.filename(), "1700000000250000000-text.json");
    EXPECT_EQ(second.filename(), "1700000000250000001-text.json");
    EXPECT_EQ(third.filename(), "1700000000250000002-text.json");
    EXPECT_EQ(outbox.pending(), (std::vector<fs::path> { first, second, third }));
}

TEST_F(OutboxTest, PendingListsOnlyJsonItemsInNameOrder)
{
    outbox.enqueue("video", "v", "/c.mp4");
    test::OutboxFolder::write(folder.outbox() / "9-text.json", "{}");
    test::OutboxFolder::write(folder.outbox() / "10-text.json", "{}");
    test::OutboxFolder::write(folder.outbox() / "note.txt", "x");
    test::OutboxFolder::write(folder.outbox() / "5-text.JSON", "{}");
    test::OutboxFolder::write(folder.outbox() / ".tmp-5-text", "{");
    test::OutboxFolder::write(folder.failed() / "1-text.json", "{}");
    fs::create_directory(folder.outbox() / "sub");

    // Plain string order, not numeric: "10-" sorts before "17..." and "9-".
    EXPECT_EQ(names(outbox.pending()),
        (std::vector<std::string> { "10-text.json", "1700000000250000000-video.json", "9-text.json" }));
}

TEST_F(OutboxTest, MissingFolderListsNothingAndRefusesToEnqueue)
{
    Outbox missing(folder.root() / "nowhere", clock);

    EXPECT_TRUE(missing.pending().empty());
    EXPECT_THROW(missing.enqueue("text", "t", std::nullopt), std::system_error);
    EXPECT_FALSE(fs::exists(folder.root() / "nowhere"));
}

TEST_F(OutboxTest, RejectedInputLeavesNoFileBehind)
{
    // A kind with a path separator would write outside the folder; invalid UTF-8 cannot be serialized.
    EXPECT_THROW(outbox.enqueue("../escape", "t", std::nullopt), Error);
    EXPECT_THROW(outbox.enqueue("a.json", "t", std::nullopt), Error);
    EXPECT_ANY_THROW(outbox.enqueue("text", std::string("bad \xff\xfe"), std::nullopt));

    EXPECT_TRUE(fs::is_empty(folder.outbox() / "failed"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.outbox()), fs::directory_iterator()), 1);
    EXPECT_FALSE(fs::exists(folder.root() / "escape.json"));
}

TEST_F(OutboxTest, ConcurrentProducersNeverShareAStamp)
{
    std::vector<std::thread> producers;
    for (int p = 0; p < 4; ++p)
        producers.emplace_back([&] {
            for (int i = 0; i < 25; ++i)
                outbox.enqueue("text", "x", std::nullopt);
        });
    for (auto& producer : producers)
        producer.join();

    const auto items = outbox.pending();
    EXPECT_EQ(items.size(), 100u);
    EXPECT_EQ(std::set<fs::path>(items.begin(), items.end()).size(), 100u);
}

TEST_F(OutboxTest, RemoveTemporariesDeletesOnlyLeftoversOfInterruptedWrites)
{
    const auto item = outbox.enqueue("text", "keep", std::nullopt);
    test::OutboxFolder::write(folder.outbox() / ".1-text.a1B2c3.tmp", "{\"kind\":");

    EXPECT_EQ(AtomicFile::removeLeftovers(folder.outbox()), 1);
    EXPECT_TRUE(fs::exists(item));
    EXPECT_FALSE(fs::exists(folder.outbox() / ".1-text.a1B2c3.tmp"));
}

// Kills a producer with SIGKILL at random moments, many times: every item left in the folder must read
// back whole, and no partial file may ever carry the ".json" extension.
TEST_F(OutboxTest, ItemsSurviveAProducerKilledAtRandomMoments)
{
    std::mt19937 random(20261206);
    std::uniform_int_distribution<int> pause(5000, 80000);
    int killed = 0;
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
        int status = 0;
        ::waitpid(child, &status, 0);
        killed += WIFSIGNALED(status) ? 1 : 0;
    }
    EXPECT_EQ(killed, 30);

    const auto items = outbox.pending();
    EXPECT_GT(items.size(), 5u);
    for (const auto& item : items) {
        QueueJob job;
        ASSERT_NO_THROW(job = AlertQueue::read(item)) << item;
        const auto colon = job.text.find(':');
        ASSERT_NE(colon, std::string::npos) << item;
        EXPECT_EQ(std::stoul(job.text.substr(0, colon)), job.text.size() - colon - 1) << item;
    }
    for (const auto& entry : fs::directory_iterator(folder.outbox())) {
        const auto name = entry.path().filename().string();
        if (AtomicFile::isTemporary(entry.path())) {
            EXPECT_EQ(name.find(".json"), std::string::npos) << name;
        }
    }
    AtomicFile::removeLeftovers(folder.outbox());
    EXPECT_EQ(static_cast<std::size_t>(std::distance(fs::directory_iterator(folder.outbox()), {})),
        items.size() + 1);
}

} // namespace
