#include "ChatCommands.h"

#include "Brand.h"
#include "Captions.h"
#include "L.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <nlohmann/json.hpp>

namespace vardel::ChatCommands {

namespace {

    struct Entry {
        const char* name;
        ChatCommand command;
        K description;
    };

    constexpr std::array kCommands {
        Entry { "status", ChatCommand::status, K::rcCmdStatus },
        Entry { "photo", ChatCommand::photo, K::rcCmdPhoto },
        Entry { "arm", ChatCommand::arm, K::rcCmdArm },
        Entry { "disarm", ChatCommand::disarm, K::rcCmdDisarm },
        Entry { "help", ChatCommand::help, K::rcCmdHelp },
    };

    Verdict ignore(std::string why) { return { std::nullopt, std::move(why) }; }

    // The integer member `key`, if there is one.
    std::optional<std::int64_t> integer(const nlohmann::json& object, const char* key)
    {
        const auto it = object.find(key);
        if (it == object.end() || !it->is_number_integer())
            return std::nullopt;
        return it->get<std::int64_t>();
    }

} // namespace

Verdict judge(const nlohmann::json& update, std::int64_t chatID, double now)
{
    if (!update.is_object())
        return ignore("not an update");
    const auto message = update.find("message");
    if (message == update.end() || !message->is_object())
        return ignore("not a new message");
    const auto chat = message->find("chat");
    if (chat == message->end() || !chat->is_object() || !chat->contains("type")
        || (*chat)["type"] != "private")
        return ignore("not a private chat");
    if (integer(*chat, "id") != chatID)
        return ignore("another chat");
    for (const char* mark :
        { "forward_origin", "forward_from", "forward_from_chat", "forward_sender_name", "forward_date" })
        if (message->contains(mark))
            return ignore("forwarded");
    const auto date = integer(*message, "date");
    if (!date || static_cast<double>(*date) < now - kMaxAge)
        return ignore("stale");
    const auto text = message->find("text");
    if (text == message->end() || !text->is_string() || !text->get_ref<const std::string&>().starts_with("/"))
        return ignore("not a command");

    // "/Status@my_bot now" -> "status".
    const std::string& line = text->get_ref<const std::string&>();
    std::string word = line.substr(1, line.find_first_of(" @\n", 1) - 1);
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::tolower(c); });
    if (word == "start")
        return ignore("start");
    for (const Entry& entry : kCommands)
        if (word == entry.name)
            return { entry.command, {} };
    return { ChatCommand::help, {} };
}

std::string commandList(AppLanguage language)
{
    nlohmann::json list = nlohmann::json::array();
    for (const Entry& entry : kCommands)
        list.push_back({ { "command", entry.name }, { "description", L::t(entry.description, language) } });
    return list.dump();
}

std::string statusText(const Status& status)
{
    return L::t(K::rcStatus,
        { Brand::name, status.title, status.subtitle, status.camera,
            status.lastEvent ? std::string_view(*status.lastEvent) : L::t(K::rcNoEvent),
            std::to_string(status.queue) });
}

std::pair<std::string, std::string> spanTimes(double from, double to, std::string_view zone)
{
    const AppLanguage language = L::language();
    if (Captions::fmt("yMMMd", from, language, zone) == Captions::fmt("yMMMd", to, language, zone))
        return { Captions::hourMinute(from, language, zone), Captions::hourMinute(to, language, zone) };
    return { Captions::dayTime(from, language, zone), Captions::dayTime(to, language, zone) };
}

} // namespace vardel::ChatCommands
