#pragma once

#include <QDBusConnection>
#include <QObject>

#include <functional>

namespace vardel {

// Listens for logind's PrepareForSleep on the given (system) bus: `onSleep(true)` just before the system
// suspends or hibernates, `onSleep(false)` when it has resumed. Signals arrive on the main thread through
// the Qt event loop; nothing is ever waited for. Without logind nothing arrives.
class SleepWatch final : public QObject {
    Q_OBJECT

public:
    explicit SleepWatch(QDBusConnection bus, std::function<void(bool goingToSleep)> onSleep);

private slots:
    void prepareForSleep(bool goingToSleep);

private:
    std::function<void(bool)> m_onSleep;
};

} // namespace vardel
