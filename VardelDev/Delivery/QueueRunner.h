#pragma once

#include "AlertQueue.h"
#include "Clock.h"
#include "HTTPPosting.h"
#include "MainExecutor.h"
#include "Outbox.h"
#include "QueueControl.h"
#include "SerialQueue.h"
#include "TelegramClient.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace vardel {

// Drains the outbox in the background while protection is on: every queue step and every blocking upload
// runs on the serial "vardel.send" queue, paced as the step asks (back-off, rate limit, 1 s when idle).
// An item written through the outbox while the loop idles is taken at once (the runner listens to the
// outbox's enqueue); back-off and rate-limit waits are never cut short. Stopping flushes what it can
// within a time-out and then cancels the upload in flight; completions always arrive through the main
// executor. The test message runs on its own queue so it never waits behind an upload. Destruction
// cancels the requests in flight, drops scheduled steps and returns within about a second.
class QueueRunner final : public QueueControl {
public:
    struct Snapshot {
        bool running = false;
        std::optional<bool> online;
        int pending = 0;
        // Telegram refuses the paired chat (400 "chat not found", or 403 such as a bot blocked by the
        // user): alerts wait in the outbox with back-off until the user pairs again. Cleared by the next
        // successful send.
        bool chatUnreachable = false;
        // Set while the outbox folder cannot be changed (e.g. mounted read-only): items that went out stay
        // in it and are not sent again in this run. Cleared when a removal works again.
        std::optional<std::string> storageFault;

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
        // Arranges for `next` to be called once after `seconds` (0 < seconds <= kMaxDelay), from any
        // thread; `next` posts the following step onto the send queue and does nothing once the runner is
        // gone. Default: the send queue's own timer.
        std::function<void(double seconds, std::function<void()> next)> schedule;
    };

    // Longest pause between two steps, whatever the service asks for.
    static constexpr double kMaxDelay = 3600;

    explicit QueueRunner(Dependencies dependencies);
    ~QueueRunner() override;

    QueueRunner(const QueueRunner&) = delete;
    QueueRunner& operator=(const QueueRunner&) = delete;

    // Returns at once; sending starts on the send queue (a second start while running does nothing).
    void startSending() override;
    // Returns at once. Stops the loop, sends what it can until `timeout` seconds from now (a request
    // still in flight then is cancelled, unless sending was started again), and calls `done` once on the
    // main thread: when the flush ends or `timeout` + 2 s after the call, whichever comes first.
    void stopAndFlush(double timeout, std::function<void()> done) override;
    // Sends the test message now, outside the outbox and without retry; `completion(ok, text for the user)`
    // arrives on the main thread.
    void sendTest(std::string chatLabel, std::function<void(bool, std::string)> completion);

    // Takes the next step now when the loop only waits because the outbox was empty. Does nothing while
    // stopped or during a back-off or rate-limit wait. Any thread; returns at once. Called by the outbox
    // after each enqueue (the runner installs itself as the outbox's enqueue listener).
    void wake();

    Snapshot state() const;

private:
    struct Life;

    void loop(long ticket);
    void scheduleNext(double delay);
    void publish();
    void log(const std::string& line) const;

    std::shared_ptr<Outbox> m_outbox;
    std::shared_ptr<MainExecutor> m_main;
    std::function<void(const std::string&)> m_log;
    std::shared_ptr<const Clock> m_clock;
    std::shared_ptr<HTTPPosting> m_http;
    std::shared_ptr<TelegramClient> m_client;
    AlertQueue m_queue;
    std::function<void(double, std::function<void()>)> m_schedule;
    std::shared_ptr<Life> m_life;
    // Counts start requests, so a stop's late cancel can tell that sending was started again.
    std::shared_ptr<std::atomic<long>> m_starts = std::make_shared<std::atomic<long>>(0);
    std::atomic<bool> m_closing = false;

    mutable std::mutex m_lock;
    Snapshot m_state;

    // Touched only on m_work.
    bool m_running = false;
    // Numbers the next step, renewed at every start, stop, wake and scheduled step: only the newest may
    // run, so no two loops ever run side by side and a wake can replace an idle wait.
    long m_ticket = 0;
    bool m_idleWait = false;
    bool m_chatLogged = false;
    bool m_storageLogged = false;

    // Last members: destroyed first, so their remaining tasks still find everything above alive.
    SerialQueue m_testQueue { "vardel.send.test" };
    SerialQueue m_work { "vardel.send" };
};

} // namespace vardel
