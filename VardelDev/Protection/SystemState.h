#pragma once

#include "MainExecutor.h"
#include "SerialQueue.h"

#include <QDBusConnection>

#include <functional>
#include <memory>
#include <optional>

namespace vardel {

class PowerSource;
class ScreenLock;

// Asks the system, over D-Bus, whether it runs on mains power and whether the screen is locked, on its own
// "vardel.platform" queue so that a slow or absent service never holds up the main thread. Answers arrive
// on the main executor; none once this object is gone.
class SystemState {
public:
    using Answer = std::function<void(std::optional<bool>)>;

    explicit SystemState(MainExecutor& main, QDBusConnection systemBus = QDBusConnection::systemBus());
    ~SystemState();

    SystemState(const SystemState&) = delete;
    SystemState& operator=(const SystemState&) = delete;

    void onAC(Answer answer);
    void screenLocked(Answer answer);

private:
    void ask(std::function<std::optional<bool>()> query, Answer answer);

    MainExecutor& m_main;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    std::unique_ptr<PowerSource> m_power;
    std::unique_ptr<ScreenLock> m_lock;
    SerialQueue m_queue { "vardel.platform" };
};

} // namespace vardel
