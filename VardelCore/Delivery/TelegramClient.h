#pragma once

#include "AlertTransport.h"
#include "HTTPPosting.h"
#include "QueueJob.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace vardel {

// Sends one alert job as one Bot API call ("/bot<token>/<method>") and classifies the answer into
// success or a SendError. Token and chat id are asked for at every call, so a token saved or a chat
// confirmed while alerts wait takes effect at the next attempt. Holds no mutable state; `send` blocks
// on the HTTP transport and runs on the send queue, `sendMessage` on any background thread.
class TelegramClient final : public AlertTransport {
public:
    static constexpr const char* kDefaultEndpoint = "https://api.telegram.org";

    // Throws when no token is stored.
    using TokenSource = std::function<std::string()>;
    // None while no chat is confirmed.
    using ChatSource = std::function<std::optional<std::int64_t>()>;

    struct ClipInfo {
        double seconds = 0;
        int width = 0;
        int height = 0;

        bool operator==(const ClipInfo&) const = default;
    };
    // Reads a finished clip's duration and size; none when unreadable (the clip is sent without them).
    using ClipInfoSource = std::function<std::optional<ClipInfo>(const std::filesystem::path&)>;

    struct File {
        std::string fieldName;
        std::filesystem::path path;
        std::string contentType;

        bool operator==(const File&) const = default;
    };

    // `endpoint` must pass `isAllowedEndpoint` (vardel::Error otherwise); a trailing slash is dropped.
    TelegramClient(TokenSource token, ChatSource chatID, std::shared_ptr<HTTPPosting> http,
        std::string endpoint = kDefaultEndpoint, ClipInfoSource clipInfo = {});

    void send(const QueueJob& job) override;
    // The test message: plain text to the confirmed chat with a 20 s time-out; fails like `send`.
    void sendMessage(const std::string& text);

    // The common path of every alert call: chat, token, request, post, check. Returns the accepted
    // answer so that callers may read its "result".
    HTTPPosting::Response call(const std::string& method, std::map<std::string, std::string> fields,
        const std::optional<File>& file, double timeout);

    // Builds the request; throws std::system_error only when the file cannot be read.
    HTTPPosting::Request request(const std::string& token, const std::string& method,
        const std::map<std::string, std::string>& fields, const std::optional<File>& file,
        double timeout) const;

    // Returns on HTTP 200 with "ok": true, else throws the SendError the answer calls for.
    static void check(int status, const std::string& body);

    // https anywhere, or plain http to a loopback address (local test servers); nothing else.
    static bool isAllowedEndpoint(const std::string& endpoint);
    // The user's replacement endpoint when it is allowed, else the default.
    static std::string endpointFrom(const std::optional<std::string>& userDefault);

    const std::string& endpoint() const { return m_endpoint; }

private:
    TokenSource m_token;
    ChatSource m_chatID;
    std::shared_ptr<HTTPPosting> m_http;
    std::string m_endpoint;
    ClipInfoSource m_clipInfo;
};

} // namespace vardel
