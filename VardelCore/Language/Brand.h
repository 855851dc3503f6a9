#pragma once

#include <optional>
#include <string_view>

namespace vardel {

// Constants of the maker, the same in every language.
namespace Brand {

    // Shown in alert texts, the bot's profile and the tray tooltip.
    inline constexpr std::string_view name = "Brisko";

    // No support page yet: controls that would open it stay hidden while this has no value.
    inline constexpr std::optional<std::string_view> supportURL = std::nullopt;

} // namespace Brand

} // namespace vardel
