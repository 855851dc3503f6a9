#include "TelegramSetup.h"

#include "CancellablePoster.h"
#include "FakeBotApi.h"
#include "Thrown.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

namespace vardel {
namespace {

    using TelegramSetup::Candidate;
    using TelegramSetup::Failure;
    using test::FakeBotApi;
    using json = nlohmann::json;

    class BotApiTest : public ::testing::Test {
    protected:
        FakeBotApi api;
        std::shared_ptr<CancellablePoster> http = std::make_shared<CancellablePoster>();
        TelegramSetup::Connection connection { http, api.endpoint() };

        static std::string key() { return FakeBotApi::kToken; }
    };

    TEST(ExtractKeyTest, FindsTheTokenInsideBotFathersMessageOnly)
    {
        const std::string token = "7123456789:AAF3k-Zq_9xYvW8uT7sR6qP5oN4mL3kJ2iH";
        EXPECT_EQ(
            TelegramSetup::extractKey("Done! Use this token to access the HTTP API:\n" + token + "\nKeep"),
            token);
        EXPECT_EQ(
            TelegramSetup::extractKey("1234:" + std::string(40, 'a') + " 12345:" + std::string(29, 'b')),
            std::nullopt);
        const std::string shortest = "12345:" + std::string(30, 'c'); // the fewest digits and secret
        EXPECT_EQ(TelegramSetup::extractKey("key " + shortest), shortest);
        EXPECT_EQ(TelegramSetup::extractKey(""), std::nullopt);
    }

    TEST_F(BotApiTest, GetMeGivesTheBotAndRefusalsHaveTheirOwnFailure)
    {
        std::string message;
        auto refusal = [&](const std::string& token, const TelegramSetup::Connection& to) {
            const auto failure = test::thrown<Failure>([&] { TelegramSetup::getMe(token, to); });
            message = failure ? failure->what() : "";
            return failure ? std::optional(failure->kind()) : std::nullopt;
        };
        EXPECT_EQ(
            TelegramSetup::getMe(key(), connection), (TelegramSetup::Bot { "brisko_test_bot", "Brisko" }));
        EXPECT_EQ(refusal("42424:" + std::string(35, 'x'), connection), Failure::Case::rejected);
        EXPECT_EQ(refusal("12345:abc/../../x?y", connection), Failure::Case::notAKey);
        api.failNext(FakeBotApi::Fault::answer(200, R"({"ok":false,"error_code":404})"));
        EXPECT_EQ(refusal(key(), connection), Failure::Case::rejected);

        api.failNext(FakeBotApi::Fault::notJson(502));
        EXPECT_EQ(refusal(key(), connection), Failure::Case::offline);
        EXPECT_EQ(message, "Telegram 502");

        api.setResult("getMe", { { "first_name", "x" } });
        EXPECT_EQ(refusal(key(), connection), Failure::Case::rejected);
        api.setResult("getMe", { { "username", "nameless_bot" } });
        EXPECT_EQ(TelegramSetup::getMe(key(), connection).name, "nameless_bot");

        api.setResult("getMe", { { "username", std::string(5000, 'u') } });
        TelegramSetup::Connection capped { std::make_shared<CancellablePoster>(4096), api.endpoint() };
        EXPECT_EQ(refusal(key(), capped), Failure::Case::offline);
        TelegramSetup::Connection closed { http, "http://127.0.0.1:1" };
        EXPECT_EQ(refusal(key(), closed), Failure::Case::offline);
        EXPECT_EQ(message.find(key()), std::string::npos);
    }

    TEST_F(BotApiTest, AFreshBotGetsItsProfileEvenWhenOneSetterFailsADescribedOneIsLeftAlone)
    {
        api.setResult("getMyDescription", { { "description", "" } });
        api.setResult("getMyShortDescription", json::object());
        api.failNext(FakeBotApi::Fault::httpError(400, "Bad Request"), "setMyName");
        // 70 characters, one of them a flag made of two code points.
        const std::string name = "\U0001F1E7\U0001F1F7" + std::string(69, 'n');
        const std::string photo("\xFF\xD8\xFF\xD9", 4);

        auto result = TelegramSetup::brandIfFresh(key(), { name, "Long text", "Short" }, photo, connection);

        EXPECT_EQ(result, (TelegramSetup::BrandResult { false, { "setMyName" } }));
        EXPECT_EQ(api.callsOf("setMyName").at(0).fields.at("name"), name.substr(0, 8 + 63));
        EXPECT_EQ(api.callsOf("setMyDescription").at(0).fields.at("description"), "Long text");
        EXPECT_EQ(api.callsOf("setMyShortDescription").at(0).fields.at("short_description"), "Short");
        const auto photoCall = api.callsOf("setMyProfilePhoto").at(0);
        EXPECT_EQ(photoCall.fields.at("photo"), R"({"type":"static","photo":"attach://pic"})");
        EXPECT_EQ(photoCall.files,
            (std::vector<FakeBotApi::Upload> { { "pic", "BotPhoto.jpg", "image/jpeg", photo } }));

        api.setResult("getMyShortDescription", { { "short_description", "Mine" } });
        const auto before = api.calls().size();
        EXPECT_TRUE(TelegramSetup::brandIfFresh(key(), { "n", "d", "s" }, std::nullopt, connection).skipped);
        for (std::size_t i = before; i < api.calls().size(); ++i)
            EXPECT_FALSE(api.calls()[i].method.starts_with("set")) << api.calls()[i].method;
    }

    json message(const std::string& text, json chat, json from = nullptr)
    {
        json result = { { "text", text }, { "chat", std::move(chat) } };
        if (!from.is_null())
            result["from"] = std::move(from);
        return { { "message", result } };
    }
    json privateChat(std::int64_t id)
    {
        return { { "id", id }, { "type", "private" }, { "first_name", "Maria" } };
    }

    TEST_F(BotApiTest, PairingMatchesTheCodeInAPrivateChatNotAGroup)
    {
        api.pushUpdate(message("/start 042917", { { "id", -100 }, { "type", "group" } }));
        auto batch = TelegramSetup::updates(key(), std::nullopt, 0, connection);
        EXPECT_EQ(TelegramSetup::match(batch.updates, "042917"), std::nullopt);
        EXPECT_EQ(batch.nextOffset, 2);

        api.pushUpdate(message("/start 042917", privateChat(77)));
        batch = TelegramSetup::updates(key(), batch.nextOffset, 0, connection);
        ASSERT_EQ(batch.updates.size(), 1u);
        EXPECT_EQ(TelegramSetup::match(batch.updates, "042917"), (Candidate { 77, "Maria", std::nullopt }));
        EXPECT_EQ(api.callsOf("getUpdates").back().fields.at("allowed_updates"), R"(["message"])");

        // Then the code and the person decide the candidate.
        const json ana = { { "first_name", "Ana" }, { "last_name", "Lima" } };
        const json maria = { { "first_name", "Maria" }, { "username", "maria" } };
        const std::vector<std::pair<std::vector<json>, std::optional<std::string>>> rows {
            { { message("hello 042 917", privateChat(1)) }, "Maria" },
            { { message("0429170", privateChat(1)) }, std::nullopt },
            { { message("042917", privateChat(1)), message("042917", privateChat(2), ana) }, "Ana Lima" },
            { { message("042917", privateChat(1), maria) }, "Maria (@maria)" },
            { { message("042917", { { "id", 5 }, { "type", "private" } }) }, "Telegram" },
            { { message("042917", { { "type", "private" } }) }, std::nullopt },
        };
        for (const auto& [updates, label] : rows) {
            const auto candidate = TelegramSetup::match(updates, "042917");
            EXPECT_EQ(candidate ? std::optional(candidate->label()) : std::nullopt, label)
                << updates[0].dump();
        }
    }

    TEST(UsernameTest, SuggestionsAndNumbersAndLinks)
    {
        EXPECT_EQ(TelegramSetup::suggestedUsername("José Álvares", "Brisko"), "brisko_jose_bot");
        EXPECT_EQ(TelegramSetup::suggestedUsername("  ", "Brisko"), "brisko_alerts_bot");
        EXPECT_EQ(TelegramSetup::suggestedUsername("Bartholomew-Maximilian X", "!!"), "my_bartholomewm_bot");
        EXPECT_EQ(TelegramSetup::withNumber("brisko_maria_bot", 27), "brisko_maria_27_bot");
        EXPECT_EQ(TelegramSetup::withNumber("maria", 27), "maria27");
        EXPECT_EQ(TelegramSetup::startLink("maria_bot", "042917"), "https://t.me/maria_bot?start=042917");
        EXPECT_EQ(TelegramSetup::startLink("evil.example/x?a", "042917"), std::nullopt);
        EXPECT_EQ(TelegramSetup::makeCode().size(), 6u);
    }

    TEST_F(BotApiTest, CancelEndsALongPollAtOnce)
    {
        auto poll = std::async(std::launch::async, [&] {
            return test::thrown<Failure>(
                [&] { TelegramSetup::updates(key(), std::nullopt, 15, connection); });
        });
        ASSERT_TRUE(api.waitForCalls(1));
        http->cancel();
        ASSERT_EQ(poll.wait_for(std::chrono::seconds(3)), std::future_status::ready);
        EXPECT_EQ(poll.get().value().kind(), Failure::Case::offline);
    }

} // namespace
} // namespace vardel
