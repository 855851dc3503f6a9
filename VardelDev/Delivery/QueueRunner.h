#pragma once

#include "AlertQueue.h"
#include "Clock.h"
#include "HTTPPosting.h"
#include "MainExecutor.h"
#include "Outbox.h"
#include "QueueControl.h"
#include "SerialQueue.h"
#include "TelegramClient.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace vardel {

// Drains the outbox in the background while protection is on: every queue step and every blocking upload
// runs on the serial "vardel.send" queue, paced as the step asks (back-off, rate limit, 1 s when idle).
// Stopping flushes what it can within a time-out; completions always arrive through the main executor.
// The test message runs on its own queue so it never waits behind an upload. Destruction waits for the
// request in flight (at most its time-out) and drops scheduled steps.
class QueueRunner final : public QueueControl {
public:
    struct Snapshot {
        bool running = false;
        std::optional<bool> online;
        int pending = 0;

        bool operator==(const Snapshot&) const = default;
    };

    struct Dependencies {
        std::shared_ptr<Outbox> outbox;
        // The bot token (throws when none is stored) and the confirmed chat, asked at every request.
        TelegramClient::TokenSource token;
        TelegramClient::ChatSource chatID;
        std::shared_ptr<MainExecutor> main;
        // Application log lines (the log prefixes and scrubs them).
        std::function<void(const std::string&)> log;
        // Defaults: libcurl, the public Bot API, the system clock, clip information from the file.
        std::shared_ptr<HTTPPosting> http;
        std::string endpoint = TelegramClient::kDefaultEndpoint;
        std::shared_ptr<const Clock> clock;
        TelegramClient::ClipInfoSource clipInfo;
    };

    // Longest pause between two steps, whatever the service asks for.
    static constexpr double kMaxDelay = 3600;

    explicit QueueRunner(Dependencies dependencies);
    ~QueueRunner() override;

    QueueRunner(const QueueRunner&) = delete;
    QueueRunner& operator=(const QueueRunner&) = delete;

    // Returns at once; sending starts on the send queue (a second start while running does nothing).
    void startSending() override;
    // Returns at once. Stops the loop, sends what it can until `timeout` seconds from now, and calls
    // `done` once on the main thread: when the flush ends or `timeout` + 2 s after the call, whichever
    // comes first, even if a request hangs.
    void stopAndFlush(double timeout, std::function<void()> done) override;
    // Sends the test message now, outside the outbox and without retry; `completion(ok, text for the user)`
    // arrives on the main thread.
    void sendTest(std::string chatLabel, std::function<void(bool, std::string)> completion);

    Snapshot state() const;

private:
    void loop(long generation);
    void publish();
    void log(const std::string& line) const;

    std::shared_ptr<Outbox> m_outbox;
    std::shared_ptr<MainExecutor> m_main;
    std::function<void(const std::string&)> m_log;
    std::shared_ptr<const Clock> m_clock;
    std::shared_ptr<TelegramClient> m_client;
    AlertQueue m_queue;

    mutable std::mutex m_lock;
    Snapshot m_state;

    // Touched only on m_work.
    bool m_running = false;
    long m_generation = 0;

    // Last members: destroyed first, so their remaining tasks still find everything above alive.
    SerialQueue m_testQueue { "vardel.send.test" };
    SerialQueue m_work { "vardel.send" };
};

} // namespace vardel
