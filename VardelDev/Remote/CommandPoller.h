#pragma once

#include "ChatCommands.h"
#include "Clock.h"
#include "MainExecutor.h"
#include "TelegramClient.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vardel {

class CancellablePoster;
class PollLease;

// Long-polls the bot's getUpdates on a thread of its own and hands the paired chat's commands to the main
// thread; every other update is logged (why, never its text) and dropped. Idle while no token is stored or
// no chat is confirmed; yields to the pairing loop through the shared `PollLease` (a short long poll keeps
// the pairing's wait short). Sets the bot's command
// list once per token, in each language and as the default. A 409 (another program polls the same bot) is
// reported once per streak and waited out with a growing pause. Destruction stops the thread within about
// a second; nothing is posted afterwards.
class CommandPoller {
public:
    struct Dependencies {
        TelegramClient::TokenSource token;
        TelegramClient::ChatSource chatID;
        std::string endpoint = TelegramClient::kDefaultEndpoint;
        std::shared_ptr<PollLease> lease;
        std::shared_ptr<MainExecutor> main;
        std::function<void(const std::string&)> log;
        std::shared_ptr<const Clock> clock;
        // Main thread.
        std::function<void(ChatCommand)> onCommand;
        std::function<void()> onConflict;
    };

    // Seconds a getUpdates call stays open when nothing arrives.
    static constexpr int kLongPoll = 10;

    explicit CommandPoller(Dependencies dependencies);
    ~CommandPoller();

    CommandPoller(const CommandPoller&) = delete;
    CommandPoller& operator=(const CommandPoller&) = delete;

private:
    void run();
    void pollOnce(const std::string& token, std::int64_t chatID);
    void handleAnswer(const HTTPPosting::Response& response, std::int64_t chatID);
    void setCommands(const std::string& token);
    // Sleeps `seconds` or until stopped; false when stopped.
    bool pause(double seconds);
    void log(const std::string& line) const;

    Dependencies m_deps;
    TelegramClient m_requests;
    std::shared_ptr<std::atomic<bool>> m_alive = std::make_shared<std::atomic<bool>>(true);
    std::atomic<bool> m_stop { false };
    std::mutex m_mutex;
    std::condition_variable m_wake;
    // The transfer in flight (guarded by m_mutex): the destructor cancels it.
    std::shared_ptr<CancellablePoster> m_current;

    // Poller thread only.
    std::string m_token;
    std::optional<std::int64_t> m_offset;
    bool m_commandsSet = false;
    bool m_conflictReported = false;
    double m_backoff = 0;

    std::thread m_thread;
};

} // namespace vardel
