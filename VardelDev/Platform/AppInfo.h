#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QSettings;

namespace vardel {

// The application's identity: name, version, identifier, keyring service and update feed.
// Stateless; callable from any thread (the feed reads the user defaults each time).
struct AppInfo {
    static std::string name();
    // The build's version, "0" when the build carries none.
    static std::string version();
    static std::string id();
    // The keyring service under which the bot token is kept.
    static std::string keychainService();

    // The user defaults of the application (QSettings in ~/.config/<id>/defaults.conf).
    static std::unique_ptr<QSettings> userDefaults();

    // The update feed: the user default "UpdateFeedURL" when it is a file location or an https location
    // with a host; otherwise the built-in feed (none when the brand has none).
    static std::optional<std::string> updateFeed();
    static std::optional<std::string> updateFeed(const QSettings& defaults);

    // "0" for an empty version string, else the string.
    static std::string versionOr0(std::string_view version);
};

} // namespace vardel
