#include "PowerGuard.h"

#include <QDBusMessage>
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
    if (!m_locks.empty() || !m_bus.isConnected())
        return;
    // Idle and sleep stand for the two sleep assertions; the lid switch would otherwise suspend a laptop
    // that watches through an external camera with its lid closed.
    for (const char* what : { "idle", "sleep", "handle-lid-switch" }) {
        auto call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
            QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
            QStringLiteral("Inhibit"));
        call << QString::fromLatin1(what) << QStringLiteral("Brisko") << QStringLiteral("Vardel monitorando")
             << QStringLiteral("block");
        const QDBusMessage reply = m_bus.call(call, QDBus::Block, m_timeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            continue;
        const auto descriptor = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
        if (!descriptor.isValid())
            continue;
        // Our own copy: the lock lasts exactly as long as this descriptor stays open.
        int fd = ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 3);
        if (fd >= 0)
            m_locks.push_back(fd);
    }
}

void PowerGuard::allowSleep()
{
    for (int fd : m_locks)
        ::close(fd);
    m_locks.clear();
}

} // namespace vardel
