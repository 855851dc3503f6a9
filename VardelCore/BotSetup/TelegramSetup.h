#pragma once

#include "HTTPPosting.h"
#include "TelegramClient.h"

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vardel {

// Everything about the user's bot that holds no state: finding a token in pasted text, checking it,
// giving a fresh bot its profile, pairing codes and links, fetching and matching updates. The network
// calls block their caller (never the main thread) and throw TelegramSetup::Failure; the rest is pure.
// Any thread.
namespace TelegramSetup {

    struct Bot {
        std::string username; // without "@"
        std::string name;

        bool operator==(const Bot&) const = default;
    };

    // A private chat that sent the pairing code.
    struct Candidate {
        std::int64_t chatID = 0;
        std::string name; // never empty
        std::optional<std::string> username;

        // "Maria (@maria)", or the name alone: what the settings keep as the alert destination.
        std::string label() const;

        bool operator==(const Candidate&) const = default;
    };

    struct Profile {
        std::string name;
        std::string description;
        std::string shortDescription;

        bool operator==(const Profile&) const = default;
    };

    // `skipped`: the bot was already described and nothing changed. Otherwise the profile was applied and
    // `failed` lists the Bot API methods whose call failed.
    struct BrandResult {
        bool skipped = false;
        std::vector<std::string> failed;

        bool operator==(const BrandResult&) const = default;
    };

    class Failure : public std::runtime_error {
    public:
        // offline: Telegram not reached or an unexpected answer (the message says which, never the token);
        // notAKey: the token cannot even form a request; rejected: Telegram refused the token.
        enum class Case { offline, notAKey, rejected };

        static Failure offline(const std::string& message) { return { Case::offline, message }; }
        static Failure notAKey() { return { Case::notAKey, "not a bot token" }; }
        static Failure rejected() { return { Case::rejected, "token refused" }; }

        Case kind() const { return m_case; }

    private:
        Failure(Case kind, const std::string& message)
            : std::runtime_error(message)
            , m_case(kind)
        {
        }
        Case m_case;
    };

    // Where calls go: the transport and the Bot API base address (TelegramClient's rules apply to it).
    struct Connection {
        std::shared_ptr<HTTPPosting> http;
        std::string endpoint = TelegramClient::kDefaultEndpoint;
    };

    // One page of getUpdates: the update objects and the offset that confirms them.
    struct Batch {
        std::vector<nlohmann::json> updates;
        std::optional<std::int64_t> nextOffset;
    };

    inline constexpr std::string_view botFatherLink = "https://t.me/BotFather";

    // The first "<5+ digits>:<30+ of A-Za-z0-9_->" in `text` (a whole BotFather message may be pasted).
    std::optional<std::string> extractKey(std::string_view text);

    Bot getMe(const std::string& key, const Connection& api);

    // Reads the bot's descriptions; when both are empty sets name, description, short description and,
    // given JPEG bytes, the profile photo. A failing setter is listed and the next one is tried anyway.
    BrandResult brandIfFresh(const std::string& key, const Profile& profile,
        const std::optional<std::string>& photoJPEG, const Connection& api);

    // "brisko_maria_bot" from the user's full name and the brand.
    std::string suggestedUsername(std::string_view fullName, std::string_view brand);
    // "brisko_maria_27_bot" for ("brisko_maria_bot", 27); the number is appended when there is no "_bot".
    std::string withNumber(const std::string& username, int number);

    // Six random decimal digits.
    std::string makeCode();
    // "https://t.me/<username>?start=<code>"; none unless the username is letters, digits and "_" only
    // (the name comes from the network and must not be able to change the address).
    std::optional<std::string> startLink(std::string_view username, std::string_view code);

    // Long-polls getUpdates for messages, for up to `timeout` seconds.
    Batch updates(
        const std::string& key, std::optional<std::int64_t> offset, int timeout, const Connection& api);

    // The newest update that is a private-chat message whose digits form `code`.
    std::optional<Candidate> match(const std::vector<nlohmann::json>& updates, std::string_view code);

} // namespace TelegramSetup

} // namespace vardel
