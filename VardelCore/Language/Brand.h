#pragma once

#include <optional>
#include <string_view>

namespace vardel {

// Constants of the maker, the same in every language.
namespace Brand {

    // Shown in alert texts, the bot's profile and the tray tooltip.
    inline constexpr std::string_view name = "Brisko";

    // Built-in update feed (HTTPS, path "/latest.json"); the user default "UpdateFeedURL" can replace it.
    // The host is a placeholder of the reserved ".example" domain until the maker publishes a feed.
    inline constexpr std::optional<std::string_view> updateFeedURL
        = "https://updates.brisko.example/latest.json";

    // No support page yet: controls that would open it stay hidden while this has no value.
    inline constexpr std::optional<std::string_view> supportURL = std::nullopt;

} // namespace Brand

} // namespace vardel
