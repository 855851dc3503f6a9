#pragma once

#include "PowerControl.h"

#include <QDBusConnection>

#include <vector>

namespace vardel {

// Keeps the computer awake while protecting: systemd-logind inhibitor locks "idle", "sleep" and
// "handle-lid-switch" (mode "block"), each held as the file descriptor logind hands out, and released
// together by closing them. A lock logind refuses is skipped. Main thread only; each call waits for logind
// at most `timeoutMs`. The bus is injected so tests can use a private one.
class PowerGuard final : public PowerControl {
public:
    explicit PowerGuard(QDBusConnection systemBus = QDBusConnection::systemBus(), int timeoutMs = 1000);
    ~PowerGuard() override;

    PowerGuard(const PowerGuard&) = delete;
    PowerGuard& operator=(const PowerGuard&) = delete;

    // Takes the locks unless some are already held.
    void preventSleep() override;
    // Releases every held lock.
    void allowSleep() override;

    // At least one lock is held.
    bool held() const { return !m_locks.empty(); }
    const std::vector<int>& locks() const { return m_locks; }

private:
    QDBusConnection m_bus;
    int m_timeoutMs;
    std::vector<int> m_locks;
};

} // namespace vardel
