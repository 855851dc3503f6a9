#pragma once

#include "AlertTransport.h"
#include "Clock.h"
#include "Outbox.h"
#include "QueueJob.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace vardel {

// Drains the outbox one item at a time through a transport, oldest first: deletes what was sent, moves
// what can never be sent to "failed/", and tells its caller how long to wait after a failure (exponential
// back-off, or the service's own delay). An item that was sent or discarded but cannot be removed (the
// folder cannot be changed) is never taken again by this queue: the step reports it as `stuck`, with a
// back-off wait, and `storageFault` says why until a later removal works. It never sleeps and never
// throws. Not thread-safe: the queue runner uses it only on its send queue; `pendingCount` alone may be
// read from anywhere.
class AlertQueue {
public:
    static constexpr double kMinBackoff = 5.0;
    static constexpr double kMaxBackoff = 60.0;
    // Items are a few hundred bytes; anything far larger is not one of ours and is not read into memory.
    static constexpr std::uintmax_t kMaxItemBytes = 1 << 20;

    struct Step {
        // stuck: `item` went out (or was refused) but stays in the folder; `reason` is the storage failure
        // and `seconds` the wait before the next step.
        enum class Kind { sent, discarded, wait, idle, stuck };
        Kind kind = Kind::idle;
        std::filesystem::path item;
        std::string reason;
        double seconds = 0;

        static Step sent(std::filesystem::path item) { return { Kind::sent, std::move(item), {}, 0 }; }
        static Step discarded(std::filesystem::path item, std::string reason)
        {
            return { Kind::discarded, std::move(item), std::move(reason), 0 };
        }
        static Step wait(double seconds) { return { Kind::wait, {}, {}, seconds }; }
        static Step idle() { return {}; }
        static Step stuck(std::filesystem::path item, std::string reason, double seconds)
        {
            return { Kind::stuck, std::move(item), std::move(reason), seconds };
        }

        bool operator==(const Step&) const = default;
    };

    AlertQueue(std::shared_ptr<Outbox> outbox, std::shared_ptr<AlertTransport> transport,
        std::shared_ptr<const Clock> clock = std::make_shared<SystemClock>());

    Step step();
    // Steps until `deadline` (seconds since 1970) or the first step that asks to wait or finds nothing;
    // returns how many items were sent.
    int flush(double deadline);
    // Items in the outbox folder, including stuck ones (they go out again at the next run).
    int pendingCount() const;

    std::optional<bool> online() const { return m_online; }
    const std::optional<std::string>& lastError() const { return m_lastError; }
    std::optional<double> lastSent() const { return m_lastSent; }
    double backoff() const { return m_backoff; }
    const std::filesystem::path& failedDirectory() const { return m_failedDirectory; }
    // Set by the last chat-unreachable refusal, cleared by the next successful send.
    bool chatUnreachable() const { return m_chatUnreachable; }
    // Why the last item could not be removed from the outbox; cleared when a removal works again.
    const std::optional<std::string>& storageFault() const { return m_storageFault; }

    // Decodes one item file. Throws std::system_error when unreadable or too large, nlohmann::json
    // errors when it is not JSON, SendError::permanent("JSON sem tipo válido") without a valid kind.
    static QueueJob read(const std::filesystem::path& item);

private:
    Step discard(const std::filesystem::path& item, std::string reason);
    Step stuck(const std::filesystem::path& item, const std::string& failure);
    double growBackoff();

    std::shared_ptr<Outbox> m_outbox;
    std::filesystem::path m_failedDirectory;
    std::shared_ptr<AlertTransport> m_transport;
    std::shared_ptr<const Clock> m_clock;
    double m_backoff = kMinBackoff;
    std::optional<bool> m_online;
    std::optional<std::string> m_lastError;
    std::optional<double> m_lastSent;
    bool m_chatUnreachable = false;
    std::optional<std::string> m_storageFault;
    std::set<std::string> m_stuck;
    int m_sends = 0;
};

} // namespace vardel
