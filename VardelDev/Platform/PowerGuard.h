#pragma once

#include "PowerControl.h"

#include <QDBusConnection>

#include <memory>
#include <vector>

namespace vardel {

// Keeps the computer awake while protecting: systemd-logind inhibitor locks "idle", "sleep" and
// "handle-lid-switch" (mode "block"), each held as the file descriptor logind hands out, and released
// together by closing them. A lock logind refuses is skipped. Main thread only; the requests go out
// asynchronously, so a slow or hung logind never holds up the caller: the locks are held once logind
// answers (within `timeoutMs`), and an answer that arrives after `allowSleep` is dropped. The bus is
// injected so tests can use a private one.
class PowerGuard final : public PowerControl {
public:
    explicit PowerGuard(QDBusConnection systemBus = QDBusConnection::systemBus(), int timeoutMs = 1000);
    ~PowerGuard() override;

    PowerGuard(const PowerGuard&) = delete;
    PowerGuard& operator=(const PowerGuard&) = delete;

    // Asks for the locks unless they are already held or asked for.
    void preventSleep() override;
    // Releases every held lock and forgets the requests still out.
    void allowSleep() override;

    // At least one lock is held.
    bool held() const { return !m_state->locks.empty(); }
    const std::vector<int>& locks() const { return m_state->locks; }

private:
    // Shared with the reply handlers, which outlive neither the guard's wish nor the guard.
    struct State {
        std::vector<int> locks;
        bool wanted = false;
        unsigned request = 0; // which preventSleep a reply answers
    };

    void ask(const char* what);

    QDBusConnection m_bus;
    int m_timeoutMs;
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace vardel
