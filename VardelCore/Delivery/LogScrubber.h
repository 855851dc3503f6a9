#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vardel {

// Removes the bot token from text before it reaches the log or the user: every known form of the given
// secret (plain, with ":" percent-encoded in either case, fully percent-encoded) and any token-shaped text
// (five or more digits, ":" or "%3A"/"%3a", thirty or more of [A-Za-z0-9_-]) become "<token>".
// Stateless; any thread. Runs in time linear in the text, so long lines are safe to pass.
struct LogScrubber {
    static constexpr std::string_view mask = "<token>";

    static std::string scrub(std::string_view text, std::optional<std::string_view> secret = std::nullopt);
};

} // namespace vardel
