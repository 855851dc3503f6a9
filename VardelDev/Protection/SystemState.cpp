#include "SystemState.h"

#include "PowerSource.h"
#include "ScreenLock.h"

namespace vardel {

SystemState::SystemState(MainExecutor& main, QDBusConnection systemBus)
    : m_main(main)
    , m_power(std::make_unique<PowerSource>(systemBus))
    , m_lock(std::make_unique<ScreenLock>(systemBus))
{
}

SystemState::~SystemState()
{
    m_alive.reset();
    m_queue.shutdown();
}

void SystemState::onAC(Answer answer)
{
    ask([this] { return m_power->onAC(); }, std::move(answer));
}

void SystemState::screenLocked(Answer answer)
{
    ask([this] { return m_lock->screenLocked(); }, std::move(answer));
}

void SystemState::ask(std::function<std::optional<bool>()> query, Answer answer)
{
    std::weak_ptr<bool> alive = m_alive;
    m_queue.async([this, alive, query = std::move(query), answer = std::move(answer)] {
        std::optional<bool> value;
        try {
            value = query();
        } catch (...) {
        }
        m_main.post([alive, answer, value] {
            if (alive.lock())
                answer(value);
        });
    });
}

} // namespace vardel
