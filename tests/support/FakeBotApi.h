#pragma once

#include <chrono>
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

// An in-process Telegram Bot API on a free 127.0.0.1 port, served by cpp-httplib on its own threads. It
// answers "POST /bot<token>/<method>" (form or multipart) in the real envelope and records every call.
// "getUpdates" long-polls the updates queued with `pushUpdate`, honouring "offset", "timeout" and "limit";
// a second poll ends the open one with 409 Conflict. A wrong token gets 401, an unknown method 404.
// Faults are consumed one per call, in order, by the next call of the named method (any method when none is
// named). The destructor releases held and delayed calls at once.
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
        // Form fields, or the text parts of a multipart body.
        std::map<std::string, std::string> fields;
        std::vector<Upload> files;
    };

    struct Fault {
        enum class Kind { answer, delay, hold, drop };
        Kind kind = Kind::answer;
        int status = 200;
        std::string body;
        double seconds = 0;

        static Fault httpError(int status, const std::string& description);
        // 429 with "parameters": {"retry_after": seconds}.
        static Fault tooManyRequests(double retryAfter);
        // Any status with any body, e.g. an HTML proxy page.
        static Fault answer(int status, std::string body)
        {
            return { Kind::answer, status, std::move(body) };
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

    FakeBotApi();
    ~FakeBotApi();

    FakeBotApi(const FakeBotApi&) = delete;
    FakeBotApi& operator=(const FakeBotApi&) = delete;

    std::string endpoint() const;
    static std::string token() { return kToken; }

    void failNext(Fault fault, const std::string& method = {});
    void setResult(const std::string& method, nlohmann::json result);
    // Queues an update ({"message": ...}, without "update_id") and returns its update_id (1, 2, ...).
    std::int64_t pushUpdate(nlohmann::json update);
    // A text message dated now, for `pushUpdate`.
    static nlohmann::json textMessage(
        std::int64_t chatID, const std::string& text, const std::string& chatType = "private");
    // How many getUpdates calls were ended by a later one (409 Conflict).
    std::size_t conflicts() const;

    std::vector<Call> calls() const;
    std::vector<Call> callsOf(const std::string& method) const;
    // Wait until at least `count` calls arrived, or are held by a `hold` fault; false after the time-out.
    bool waitForCalls(std::size_t count, double timeoutSeconds = 5) const;
    bool waitForHeld(std::size_t count, double timeoutSeconds = 5) const;
    void release();

private:
    struct Pending {
        std::string method;
        Fault fault;
    };

    template <typename Done> bool waitUntil(Done done, double seconds) const
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::duration<double>(seconds), done);
    }
    std::string handle(Call call, int& status, bool& drop);
    std::optional<Fault> takeFault(const std::string& method);
    nlohmann::json resultFor(const Call& call);
    // Sets `conflict` when a later getUpdates call ended this one.
    nlohmann::json updatesFor(const Call& call, std::unique_lock<std::mutex>& lock, bool& conflict);

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
