#include "PowerGuard.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

namespace vardel {

PowerGuard::PowerGuard(QDBusConnection systemBus, int timeoutMs)
    : m_bus(std::move(systemBus))
    , m_timeoutMs(timeoutMs)
{
}

PowerGuard::~PowerGuard() { allowSleep(); }

void PowerGuard::preventSleep()
{
    if (m_state->wanted || !m_bus.isConnected())
        return;
    m_state->wanted = true;
    ++m_state->request;
    // Idle and sleep stand for the two sleep assertions; the lid switch would otherwise suspend a laptop
    // that watches through an external camera with its lid closed.
    for (const char* what : { "idle", "sleep", "handle-lid-switch" })
        ask(what);
}

void PowerGuard::ask(const char* what)
{
    auto call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
        QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
        QStringLiteral("Inhibit"));
    call << QString::fromLatin1(what) << QStringLiteral("Brisko") << QStringLiteral("Vardel monitorando")
         << QStringLiteral("block");
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, m_timeoutMs));
    std::weak_ptr<State> state = m_state;
    const unsigned request = m_state->request;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
        [state, request](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            const auto alive = state.lock();
            if (!alive || !alive->wanted || alive->request != request)
                return; // released meanwhile: the reply's descriptor closes with it
            const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
            if (reply.isError() || !reply.value().isValid())
                return;
            // Our own copy: the lock lasts exactly as long as this descriptor stays open.
            const int fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 3);
            if (fd >= 0)
                alive->locks.push_back(fd);
        });
}

void PowerGuard::allowSleep()
{
    m_state->wanted = false;
    for (int fd : m_state->locks)
        ::close(fd);
    m_state->locks.clear();
}

} // namespace vardel
