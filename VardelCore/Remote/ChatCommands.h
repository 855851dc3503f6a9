#pragma once

#include "AppLanguage.h"

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vardel {

enum class ChatCommand { status, photo, arm, disarm, help };

// What the paired chat may ask of the application: which updates count as its commands, the bot's
// command list and the texts of the answers. Pure; any thread.
namespace ChatCommands {

    // How one update was judged. `command` is set only for a command to obey; otherwise `ignored` says
    // why, for the log (never the message's text).
    struct Verdict {
        std::optional<ChatCommand> command;
        std::string ignored;

        bool operator==(const Verdict&) const = default;
    };

    // Commands older than this (seconds, by the message's own date) are stale: a "/disarm" sent while the
    // computer was off must not act hours later.
    inline constexpr double kMaxAge = 120;

    // Obeys only a new message (not edited, not forwarded) in the private chat `chatID`, sent at most
    // kMaxAge before `now`, whose text starts with a command. "/start" (what pairing sends) is ignored;
    // any other unknown command asks for help.
    Verdict judge(const nlohmann::json& update, std::int64_t chatID, double now);

    // The setMyCommands "commands" field in `language`.
    std::string commandList(AppLanguage language);

    struct Status {
        std::string title; // the status header's title and subtitle
        std::string subtitle;
        std::string camera;
        std::optional<std::string> lastEvent; // the event's caption
        int queue = 0;
    };
    // The answer to /status in the current language.
    std::string statusText(const Status& status);

    // The two ends of a time span as the alert texts show them: hours and minutes, with the day as well
    // when the two days differ.
    std::pair<std::string, std::string> spanTimes(double from, double to, std::string_view zone = {});

} // namespace ChatCommands

} // namespace vardel
