#pragma once

#include <QDBusConnection>

#include <optional>

namespace vardel {

// Whether the computer runs on mains power, from UPower's "OnBattery". Each query waits for UPower at
// most `timeoutMs`.
class PowerSource {
public:
    explicit PowerSource(QDBusConnection systemBus = QDBusConnection::systemBus(), int timeoutMs = 500);

    // None when UPower is absent or does not answer.
    std::optional<bool> onAC() const;

private:
    QDBusConnection m_bus;
    int m_timeoutMs;
};

} // namespace vardel
