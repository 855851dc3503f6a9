#include "SleepWatch.h"

namespace vardel {

SleepWatch::SleepWatch(QDBusConnection bus, std::function<void(bool)> onSleep)
    : m_onSleep(std::move(onSleep))
{
    bus.connect("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
        "PrepareForSleep", this, SLOT(prepareForSleep(bool)));
}

void SleepWatch::prepareForSleep(bool goingToSleep)
{
    if (m_onSleep)
        m_onSleep(goingToSleep);
}

} // namespace vardel
