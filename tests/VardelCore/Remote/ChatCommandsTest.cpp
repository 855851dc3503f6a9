#include "ChatCommands.h"
#include "L.h"
#include "ResumeState.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace vardel {
namespace {

    constexpr std::int64_t kChat = 4242;
    constexpr double kNow = 1'750'000'000;

    nlohmann::json message(const std::string& text, double age = 0)
    {
        return { { "update_id", 7 },
            { "message",
                { { "message_id", 1 }, { "date", static_cast<std::int64_t>(kNow - age) },
                    { "chat", { { "id", kChat }, { "type", "private" } } }, { "text", text } } } };
    }

    nlohmann::json with(nlohmann::json update, const std::string& pointer, nlohmann::json value)
    {
        update[nlohmann::json::json_pointer(pointer)] = std::move(value);
        return update;
    }

    TEST(Judge, ObeysOnlyFreshCommandsOfThePairedPrivateChat)
    {
        const std::tuple<const char*, nlohmann::json, std::optional<ChatCommand>> rows[] = {
            { "status", message("/status"), ChatCommand::status },
            { "addressed to the bot in other case", message("/Disarm@brisko_ana_bot now"),
                ChatCommand::disarm },
            { "unknown command asks for help", message("/foo"), ChatCommand::help },
            { "pairing start is not a command", message("/start 123456"), std::nullopt },
            { "plain text", message("arm"), std::nullopt },
            { "almost stale", message("/arm", ChatCommands::kMaxAge - 1), ChatCommand::arm },
            { "stale", message("/arm", ChatCommands::kMaxAge + 1), std::nullopt },
            { "another chat", with(message("/arm"), "/message/chat/id", kChat + 1), std::nullopt },
            { "group", with(message("/arm"), "/message/chat/type", "group"), std::nullopt },
            { "forwarded", with(message("/arm"), "/message/forward_origin", { { "type", "user" } }),
                std::nullopt },
            { "edited", { { "update_id", 8 }, { "edited_message", message("/arm")["message"] } },
                std::nullopt },
            { "text not a string", with(message("/arm"), "/message/text", 5), std::nullopt },
        };
        for (const auto& [name, update, command] : rows) {
            const auto verdict = ChatCommands::judge(update, kChat, kNow);
            EXPECT_EQ(verdict.command, command) << name;
            EXPECT_EQ(verdict.ignored.empty(), verdict.command.has_value()) << name;
        }
    }

    TEST(SpanTimes, NameTheDayOnlyWhenItChanges)
    {
        L::setLanguage(AppLanguage::en);
        const auto [from, to] = ChatCommands::spanTimes(kNow, kNow + 3600, "UTC");
        EXPECT_EQ(from + " " + to, "3:06\u202fPM 4:06\u202fPM");
        const auto [day, nextDay] = ChatCommands::spanTimes(kNow, kNow + 86400, "UTC");
        EXPECT_NE(day.find("Jun 15"), std::string::npos) << day;
        EXPECT_NE(nextDay.find("Jun 16"), std::string::npos) << nextDay;
    }

    TEST(ResumeStateFile, UnreadableContentNeverSwitchesProtectionOn)
    {
        const ResumeState on { true, kNow };
        EXPECT_EQ(ResumeState::decode(on.encode()), on);
        for (const char* text : { "", "{", "[true]", R"({"protecting":"yes"})", R"({"protecting":1})" })
            EXPECT_FALSE(ResumeState::decode(text).protecting) << text;
    }

} // namespace
} // namespace vardel
