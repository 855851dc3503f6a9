#include "ScreenLock.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace vardel {

ScreenLock::ScreenLock(QDBusConnection systemBus, QString sessionId, int timeoutMs)
    : m_bus(std::move(systemBus))
    , m_sessionId(std::move(sessionId))
    , m_timeoutMs(timeoutMs)
{
    if (m_sessionId.isEmpty())
        m_sessionId = qEnvironmentVariable("XDG_SESSION_ID", QStringLiteral("auto"));
}

std::optional<bool> ScreenLock::screenLocked() const
{
    if (!m_bus.isConnected())
        return std::nullopt;
    const QString service = QStringLiteral("org.freedesktop.login1");
    auto getSession = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("GetSession"));
    getSession << m_sessionId;
    const QDBusMessage session = m_bus.call(getSession, QDBus::Block, m_timeoutMs);
    if (session.type() != QDBusMessage::ReplyMessage || session.arguments().isEmpty())
        return std::nullopt;
    const auto path = qvariant_cast<QDBusObjectPath>(session.arguments().first()).path();
    if (path.isEmpty())
        return std::nullopt;

    auto get = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.freedesktop.login1.Session") << QStringLiteral("LockedHint");
    const QDBusMessage reply = m_bus.call(get, QDBus::Block, m_timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QVariant hint = qvariant_cast<QDBusVariant>(reply.arguments().first()).variant();
    return hint.typeId() == QMetaType::Bool && hint.toBool();
}

} // namespace vardel
