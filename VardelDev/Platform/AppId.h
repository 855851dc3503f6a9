#pragma once

namespace vardel {

// The application's reverse-DNS identifier: names the data folder, the user-defaults file, the desktop
// entry and the keyring service of the bot token. Defined once, here.
inline constexpr const char* kApplicationId = "app.brisko.Brisko";

} // namespace vardel
