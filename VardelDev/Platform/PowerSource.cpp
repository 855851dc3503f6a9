#include "PowerSource.h"

#include <QDBusMessage>
#include <QDBusVariant>

namespace vardel {

PowerSource::PowerSource(QDBusConnection systemBus, int timeoutMs)
    : m_bus(std::move(systemBus))
    , m_timeoutMs(timeoutMs)
{
}

std::optional<bool> PowerSource::onAC() const
{
    if (!m_bus.isConnected())
        return std::nullopt;
    auto get = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.UPower"),
        QStringLiteral("/org/freedesktop/UPower"), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << QStringLiteral("org.freedesktop.UPower") << QStringLiteral("OnBattery");
    const QDBusMessage reply = m_bus.call(get, QDBus::Block, m_timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QVariant onBattery = qvariant_cast<QDBusVariant>(reply.arguments().first()).variant();
    if (onBattery.typeId() != QMetaType::Bool)
        return std::nullopt;
    return !onBattery.toBool();
}

} // namespace vardel
