// The whole road over real HTTP on loopback: outbox items, the alert queue, the Telegram client and
// libcurl against the fake Bot API server.
#include "AlertQueue.h"
#include "CurlPoster.h"
#include "Error.h"
#include "FakeBotApi.h"
#include "FakeClock.h"
#include "OutboxFolder.h"
#include "TelegramClient.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace vardel;
using Fault = test::FakeBotApi::Fault;

namespace {

class TelegramDeliveryTest : public ::testing::Test {
protected:
    test::FakeBotApi api;
    test::OutboxFolder folder;
    std::shared_ptr<test::FakeClock> clock = std::make_shared<test::FakeClock>();
    std::shared_ptr<Outbox> outbox = std::make_shared<Outbox>(folder.outbox(), clock);
    std::shared_ptr<TelegramClient> client = std::make_shared<TelegramClient>([this] { return api.token(); },
        [] { return std::optional<std::int64_t>(777); }, std::make_shared<CurlPoster>(), api.endpoint(),
        [](const fs::path&) { return TelegramClient::ClipInfo { 3.6, 640, 360 }; });
    AlertQueue queue { outbox, client, clock };

    fs::path media(const std::string& name, std::size_t size)
    {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>((i * 131 + 7) % 256);
        test::OutboxFolder::write(folder.root() / name, bytes);
        return folder.root() / name;
    }
};

TEST_F(TelegramDeliveryTest, PhotoAndVideoArriveWithExactFieldsAndBytes)
{
    const auto photo = media("2026-12-06_10-00-00.jpg", 200'000);
    const auto clip = media("2026-12-06_10-00-05.mp4", 1'500'000);
    outbox->enqueue("photo", "Pessoa · 10:00", photo.string());
    outbox->enqueue("video", "Clipe · 10:00", clip.string());
    EXPECT_EQ(queue.flush(clock->now() + 1), 2) << queue.lastError().value_or("");

    const auto calls = api.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].method, "sendPhoto");
    EXPECT_EQ(calls[0].fields,
        (std::map<std::string, std::string> { { "caption", "Pessoa · 10:00" }, { "chat_id", "777" } }));
    EXPECT_EQ(calls[0].files,
        (std::vector { test::FakeBotApi::Upload {
            "photo", photo.filename().string(), "image/jpeg", test::OutboxFolder::read(photo) } }));
    EXPECT_EQ(calls[1].method, "sendVideo");
    EXPECT_EQ(calls[1].fields,
        (std::map<std::string, std::string> { { "caption", "Clipe · 10:00" }, { "chat_id", "777" },
            { "duration", "4" }, { "height", "360" }, { "supports_streaming", "true" }, { "width", "640" } }));
    EXPECT_EQ(calls[1].files,
        (std::vector { test::FakeBotApi::Upload {
            "video", clip.filename().string(), "video/mp4", test::OutboxFolder::read(clip) } }));
    EXPECT_TRUE(fs::exists(photo) && fs::exists(clip));
}

TEST_F(TelegramDeliveryTest, PosterReturnsAnyStatusAndFailsOnlyInTransport)
{
    CurlPoster poster;
    HTTPPosting::Request request;
    request.url = api.endpoint() + "/bot" + api.token() + "/noSuchMethod";
    request.timeout = 5;
    const auto notFound = poster.post(request);
    EXPECT_EQ(notFound.status, 404);
    EXPECT_EQ(nlohmann::json::parse(notFound.body)["description"], "Not Found");

    // A request that outlives its own time-out fails quickly with libcurl's description.
    api.failNext(Fault::delay(30));
    request.url = api.endpoint() + "/bot" + api.token() + "/getMe";
    request.timeout = 0.3;
    const auto started = std::chrono::steady_clock::now();
    try {
        poster.post(request);
        ADD_FAILURE() << "no time-out";
    } catch (const Error& error) {
        EXPECT_EQ(error.domain(), "libcurl");
        EXPECT_NE(error.description().find("imed out"), std::string::npos) << error.description();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));

    request.url = "http://127.0.0.1:1/bot/getMe";
    EXPECT_THROW(poster.post(request), Error);

    // A held request is cancelled on demand, and the next one is not.
    api.failNext(Fault::hold());
    request.url = api.endpoint() + "/bot" + api.token() + "/getMe";
    request.timeout = 60;
    auto held = std::async(std::launch::async, [&] { return poster.post(request); });
    ASSERT_TRUE(api.waitForHeld(1));
    poster.cancelAll();
    ASSERT_EQ(held.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_THROW(held.get(), Error);
    EXPECT_EQ(poster.post(request).status, 200);
    request.url = "file:///etc/passwd";
    EXPECT_THROW(poster.post(request), Error);
}

} // namespace
