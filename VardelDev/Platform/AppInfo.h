#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QSettings;

namespace vardel {

// The application's identity: name, version, identifier, keyring service and user defaults.
// Stateless; callable from any thread.
struct AppInfo {
    static std::string name();
    // The build's version, "0" when the build carries none.
    static std::string version();
    static std::string id();
    // The keyring service under which the bot token is kept.
    static std::string keychainService();

    // The user defaults of the application (QSettings in ~/.config/<id>/defaults.conf).
    static std::unique_ptr<QSettings> userDefaults();
    // The user default "BotAPIURL" when it holds text; whether it may be used is the Telegram client's call.
    static std::optional<std::string> botAPIURL();

    // "0" for an empty version string, else the string.
    static std::string versionOr0(std::string_view version);
};

} // namespace vardel
