#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace vardel {

// Telegram answers 409 to the older of two getUpdates calls open on the same bot, and it still counts a
// call whose client has gone away, so the pairing loop and the chat command poller take turns through this
// lease instead of cutting each other short. Pairing wins: while it holds a claim the background poller
// starts no poll, and a pairing round waits for its `Turn` until the background poll open now has ended
// (it is short). Any thread; shared by the application model and the onboarding flow.
class PollLease {
public:
    // Held by the pairing flow from the start of pairing to its end; the background poller stays idle
    // meanwhile and goes on once the claim is released and no pairing round is open.
    class Claim {
    public:
        explicit Claim(std::shared_ptr<PollLease> lease);
        ~Claim();
        Claim(const Claim&) = delete;
        Claim& operator=(const Claim&) = delete;

    private:
        std::shared_ptr<PollLease> m_lease;
    };

    // One pairing poll: constructed just before the call, destroyed after it. Construction waits until
    // the background poll has ended, `abandon` returns true (asked every 0.1 s) or `patience` is over.
    class Turn {
    public:
        Turn(PollLease& lease, const std::function<bool()>& abandon,
            std::chrono::milliseconds patience = std::chrono::seconds(15));
        ~Turn();
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;

    private:
        PollLease& m_lease;
    };

    // The background poller: waits until no claim and no pairing round is open, then marks its poll as
    // open and returns true; false when `stop` is true (looked at on every `wake`) or after `patience`.
    bool beginBackground(const std::atomic<bool>& stop, std::chrono::milliseconds patience);
    void endBackground();
    // Wakes a waiting `beginBackground`, e.g. to let it see its stop flag.
    void wake();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_claims = 0;
    int m_turns = 0;
    bool m_background = false;
};

} // namespace vardel
