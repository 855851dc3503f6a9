// The whole road over real HTTP on loopback: outbox items, the alert queue, the Telegram client and
// libcurl against the fake Bot API server.
#include "AlertQueue.h"
#include "CurlPoster.h"
#include "Error.h"
#include "FakeBotApi.h"
#include "FakeClock.h"
#include "OutboxFolder.h"
#include "SendError.h"
#include "TelegramClient.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace vardel;
using Step = AlertQueue::Step;
using Fault = test::FakeBotApi::Fault;

namespace {

class TelegramDeliveryTest : public ::testing::Test {
protected:
    test::FakeBotApi api;
    test::OutboxFolder folder;
    std::shared_ptr<test::FakeClock> clock = std::make_shared<test::FakeClock>();
    std::shared_ptr<Outbox> outbox = std::make_shared<Outbox>(folder.outbox(), clock);
    std::optional<std::int64_t> chat = 777;
    std::optional<std::string> token = api.token();
    std::shared_ptr<TelegramClient> client = std::make_shared<TelegramClient>(
        [this] {
            if (!token)
                throw std::runtime_error("missing");
            return *token;
        },
        [this] { return chat; }, std::make_shared<CurlPoster>(), api.endpoint(),
        [](const fs::path&) {
            return TelegramClient::ClipInfo { 3.6, 640, 360 };
        });
    AlertQueue queue { outbox, client, clock };

    fs::path media(const std::string& name, std::size_t size)
    {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>((i * 131 + 7) % 256);
        const fs::path file = folder.root() / name;
        test::OutboxFolder::write(file, bytes);
        return file;
    }
};

TEST_F(TelegramDeliveryTest, TextPhotoAndVideoArriveInOrderWithExactFieldsAndBytes)
{
    const auto photo = media("2026-12-06_10-00-00.jpg", 200'000);
    const auto clip = media("2026-12-06_10-00-05.mp4", 1'500'000);
    outbox->enqueue("text", "Câmera ligada & pronta", std::nullopt);
    outbox->enqueue("photo", "Pessoa · 10:00", photo.string());
    outbox->enqueue("video", "Clipe · 10:00", clip.string());

    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(queue.step().kind, Step::Kind::sent) << queue.lastError().value_or("");
    EXPECT_EQ(queue.step(), Step::idle());
    EXPECT_TRUE(fs::exists(photo) && fs::exists(clip));

    const auto calls = api.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].method, "sendMessage");
    EXPECT_EQ(calls[0].token, api.token());
    EXPECT_EQ(calls[0].fields,
        (std::map<std::string, std::string> { { "chat_id", "777" }, { "text", "Câmera ligada & pronta" } }));

    EXPECT_EQ(calls[1].method, "sendPhoto");
    EXPECT_EQ(calls[1].fields,
        (std::map<std::string, std::string> { { "caption", "Pessoa · 10:00" }, { "chat_id", "777" } }));
    ASSERT_EQ(calls[1].files.size(), 1u);
    EXPECT_EQ(calls[1].files[0],
        (test::FakeBotApi::Upload {
            "photo", photo.filename().string(), "image/jpeg", test::OutboxFolder::read(photo) }));

    EXPECT_EQ(calls[2].method, "sendVideo");
    EXPECT_EQ(calls[2].fields,
        (std::map<std::string, std::string> { { "caption", "Clipe · 10:00" }, { "chat_id", "777" },
            { "duration", "4" }, { "height", "360" }, { "supports_streaming", "true" },
            { "width", "640" } }));
    ASSERT_EQ(calls[2].files.size(), 1u);
    EXPECT_EQ(calls[2].files[0],
        (test::FakeBotApi::Upload {
            "video", clip.filename().string(), "video/mp4", test::OutboxFolder::read(clip) }));
}

TEST_F(TelegramDeliveryTest, ServiceErrorsKeepTheItemAndBackOffByTheClock)
{
    const auto item = outbox->enqueue("text", "oi", std::nullopt);
    api.failNext(Fault::httpError(500, "Internal Server Error"));
    api.failNext(Fault::notJson(502));
    api.failNext(Fault::dropConnection());
    api.failNext(Fault::tooManyRequests(12));

    EXPECT_EQ(queue.step(), Step::wait(5));
    EXPECT_EQ(queue.lastError(), "Telegram 500: Internal Server Error");
    clock->advance(5);
    EXPECT_EQ(queue.step(), Step::wait(10));
    EXPECT_EQ(queue.lastError(), "Telegram 502: HTTP 502");
    clock->advance(10);
    EXPECT_EQ(queue.step(), Step::wait(20));
    EXPECT_FALSE(queue.lastError().value_or("").empty());
    EXPECT_EQ(queue.online(), false);
    EXPECT_TRUE(fs::exists(item));

    EXPECT_EQ(queue.step(), Step::wait(12)) << "the service's own delay";
    EXPECT_EQ(queue.online(), true);

    clock->advance(20);
    EXPECT_EQ(queue.step(), Step::sent(item));
    EXPECT_EQ(queue.lastSent(), clock->now());
    EXPECT_EQ(queue.backoff(), 5);
    EXPECT_EQ(api.calls().size(), 5u);
}

TEST_F(TelegramDeliveryTest, BadRequestMovesTheItemToFailedButAnUnreachableChatKeepsIt)
{
    const auto first = outbox->enqueue("text", "rejeitado", std::nullopt);
    const auto second = outbox->enqueue("text", "aceito", std::nullopt);
    api.failNext(Fault::httpError(400, "Bad Request: message text is empty"));
    api.failNext(Fault::httpError(400, "Bad Request: chat not found"));
    api.failNext(Fault::httpError(403, "Forbidden: bot was blocked by the user"));

    EXPECT_EQ(queue.step(), Step::discarded(first, "Telegram 400: Bad Request: message text is empty"));
    EXPECT_TRUE(fs::exists(folder.failed() / first.filename()));
    EXPECT_EQ(queue.step(), Step::wait(5));
    EXPECT_EQ(queue.step(), Step::wait(10));
    EXPECT_TRUE(queue.chatUnreachable());
    EXPECT_TRUE(fs::exists(second));
    EXPECT_EQ(queue.step(), Step::sent(second));
    EXPECT_FALSE(queue.chatUnreachable());
}

TEST_F(TelegramDeliveryTest, NothingIsSentWithoutConfirmedChatOrToken)
{
    const auto item = outbox->enqueue("text", "oi", std::nullopt);
    chat.reset();
    EXPECT_EQ(queue.step(), Step::wait(5));
    EXPECT_EQ(queue.lastError(), "chat do Telegram não confirmado");
    chat = 777;
    token.reset();
    EXPECT_EQ(queue.step(), Step::wait(10));
    EXPECT_EQ(queue.lastError(), "token do Telegram indisponível");
    EXPECT_TRUE(api.calls().empty());

    // A revoked token is kept and retried, never discarded.
    token = "111111:wrong-token-abcdefghijklmnopqrstuvwxyz";
    EXPECT_EQ(queue.step(), Step::wait(20));
    EXPECT_EQ(queue.lastError(), "Telegram 401: Unauthorized");
    EXPECT_TRUE(fs::exists(item));
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
