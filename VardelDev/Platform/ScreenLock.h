#pragma once

#include <QDBusConnection>
#include <QString>

#include <optional>

namespace vardel {

// Whether the login session's screen is locked, from systemd-logind's session property "LockedHint".
// Any thread that owns the connection; each query waits for logind at most `timeoutMs`.
class ScreenLock {
public:
    // `sessionId` empty: $XDG_SESSION_ID, else logind's "auto" (the caller's or the user's display session).
    explicit ScreenLock(QDBusConnection systemBus = QDBusConnection::systemBus(), QString sessionId = {},
        int timeoutMs = 500);

    // None when there is no logind or no such session; false when the session reports no boolean hint.
    std::optional<bool> screenLocked() const;

private:
    QDBusConnection m_bus;
    QString m_sessionId;
    int m_timeoutMs;
};

} // namespace vardel
