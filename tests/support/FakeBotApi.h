#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace vardel::test {

// An in-process Telegram Bot API on 127.0.0.1 (a free port), served by cpp-httplib on its own threads.
// It speaks the real envelope ({"ok": true, "result": ...} or {"ok": false, "error_code", "description",
// "parameters"}), answers "POST /bot<token>/<method>" with form-encoded or multipart bodies, and records
// every call: method, token, text fields, uploaded files (field name, file name, content type, bytes) and
// the raw body, for exact checks.
//
// Typical use:
//     FakeBotApi api;                                   // token "123456:TEST..." (kToken)
//     TelegramClient client(tokenFn, chatFn, http, api.endpoint());
//     api.failNext(FakeBotApi::Fault::httpError(400, "Bad Request: chat not found"));
//     ... send ...; auto calls = api.calls();
//
// Answers: alert methods get a message result; "getMe" a bot; "getUpdates" long-polls the updates queued
// with `pushUpdate` ("offset" confirms and drops older updates, "timeout" waits up to that many seconds,
// "limit" caps the count; a second getUpdates while one is open ends the open one with 409 Conflict, as
// Telegram does); any method can be given a fixed result with `setResult`. A wrong token gets
// 401 Unauthorized, an unknown method 404 Not Found, like the real service.
//
// Faults are consumed one per call, in the order queued, by the next call of the named method (or of any
// method when none is named). Shutdown (the destructor) releases held and delayed calls at once.
class FakeBotApi {
public:
    static constexpr const char* kToken = "123456:TEST-abcdefghijklmnopqrstuvwxyz012345";

    struct Upload {
        std::string fieldName;
        std::string fileName;
        std::string contentType;
        std::string bytes;

        bool operator==(const Upload&) const = default;
    };

    struct Call {
        std::string token;
        std::string method;
        // The request's Content-Type header, boundary included.
        std::string contentType;
        // Form fields, or the text parts of a multipart body.
        std::map<std::string, std::string> fields;
        std::vector<Upload> files;
        std::string body;
    };

    struct Fault {
        enum class Kind { answer, delay, hold, drop };
        Kind kind = Kind::answer;
        int status = 200;
        std::string body;
        double seconds = 0;

        // A Telegram error answer: {"ok": false, "error_code": status, "description": description}.
        static Fault httpError(int status, const std::string& description);
        // 429 with "parameters": {"retry_after": seconds}.
        static Fault tooManyRequests(double retryAfter);
        // Any status with any body, e.g. an HTML proxy page.
        static Fault answer(int status, std::string body)
        {
            return { Kind::answer, status, std::move(body), 0 };
        }
        static Fault notJson(int status = 502)
        {
            return answer(status, "<html><body>Bad Gateway</body></html>");
        }
        // Answers normally, but only after `seconds` (longer than the client's time-out to provoke one).
        static Fault delay(double seconds) { return { Kind::delay, 200, {}, seconds }; }
        // Blocks the call until `release()` or shutdown, then answers normally.
        static Fault hold() { return { Kind::hold, 200, {}, 0 }; }
        // Sends the response head, then closes the connection without a body.
        static Fault dropConnection() { return { Kind::drop, 200, {}, 0 }; }
    };

    explicit FakeBotApi(std::string token = kToken);
    ~FakeBotApi();

    FakeBotApi(const FakeBotApi&) = delete;
    FakeBotApi& operator=(const FakeBotApi&) = delete;

    // "http://127.0.0.1:<port>", to be passed as the client's endpoint.
    std::string endpoint() const;
    int port() const { return m_port; }
    const std::string& token() const { return m_token; }

    void failNext(Fault fault, const std::string& method = {});
    void setResult(const std::string& method, nlohmann::json result);
    // Queues an update for getUpdates and returns its update_id (1, 2, ...). `update` is the update
    // object without "update_id", e.g. {"message": {...}}.
    std::int64_t pushUpdate(nlohmann::json update);
    // A new text message in chat `chatID` of `chatType`, dated now, for `pushUpdate`.
    static nlohmann::json textMessage(
        std::int64_t chatID, const std::string& text, const std::string& chatType = "private");
    // How many getUpdates calls were ended by a later one (409 Conflict).
    std::size_t conflicts() const;

    std::vector<Call> calls() const;
    std::vector<Call> callsOf(const std::string& method) const;
    // Waits (condition, not sleep) until at least `count` calls arrived; false after `timeoutSeconds`.
    bool waitForCalls(std::size_t count, double timeoutSeconds = 5) const;
    // Waits until `count` calls are held by a `hold` fault.
    bool waitForHeld(std::size_t count, double timeoutSeconds = 5) const;
    void release();

private:
    struct Pending {
        std::string method;
        Fault fault;
    };

    std::string handle(
        const std::string& token, const std::string& method, Call call, int& status, bool& drop);
    std::optional<Fault> takeFault(const std::string& method);
    nlohmann::json resultFor(const Call& call);
    // Sets `conflict` when a later getUpdates call ended this one.
    nlohmann::json updatesFor(const Call& call, std::unique_lock<std::mutex>& lock, bool& conflict);

    std::string m_token;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_stopping = false;
    std::vector<Call> m_calls;
    std::deque<Pending> m_faults;
    std::map<std::string, nlohmann::json> m_results;
    std::deque<nlohmann::json> m_updates;
    std::int64_t m_nextUpdateID = 1;
    std::uint64_t m_polls = 0;
    std::size_t m_conflicts = 0;
    std::int64_t m_nextMessageID = 1;
    std::size_t m_held = 0;
    std::uint64_t m_releases = 0;
};

} // namespace vardel::test
