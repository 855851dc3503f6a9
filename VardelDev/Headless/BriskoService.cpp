#include "BriskoService.h"

#include "EventKind.h"
#include "Model.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDateTime>

namespace vardel {

namespace {

    QString text(const std::string& value) { return QString::fromStdString(value); }

    const char* phaseName(Phase::Kind kind)
    {
        switch (kind) {
        case Phase::Kind::failed:
            return "failed";
        case Phase::Kind::off:
            return "off";
        case Phase::Kind::preview:
            return "preview";
        case Phase::Kind::starting:
            return "starting";
        case Phase::Kind::monitoring:
            return "monitoring";
        }
        return "off";
    }

} // namespace

BriskoService::BriskoService(QObject* host, Model& model)
    : QDBusAbstractAdaptor(host)
    , m_model(model)
{
    m_gather.setSingleShot(true);
    m_gather.setInterval(0);
    connect(&m_gather, &QTimer::timeout, this, &BriskoService::emitChanges);
    const auto changed = [this] { m_gather.start(); };
    for (auto signal : { &Model::phaseChanged, &Model::monitoringWantedChanged, &Model::queueChanged,
             &Model::lastEventChanged, &Model::lastEventKindChanged, &Model::cameraFreshChanged,
             &Model::camerasChanged, &Model::permissionDeniedChanged, &Model::cameraCoveredChanged,
             &Model::telegramOKChanged, &Model::chatLabelChanged, &Model::presentationChanged })
        connect(&model, signal, this, changed);
    m_sent = properties();
}

bool BriskoService::publish()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        m_problem = "no session bus";
        return false;
    }
    if (!bus.registerObject(kPath, parent())) {
        m_problem = "cannot register " + QString(kPath) + ": " + bus.lastError().message();
        return false;
    }
    const auto reply = bus.interface()->registerService(
        kName, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        bus.unregisterObject(kPath);
        m_problem = QString(kName) + " is taken (another data folder's Brisko runs on this bus)";
        return false;
    }
    return true;
}

QString BriskoService::phase() const { return phaseName(m_model.phase().kind); }

QString BriskoService::mode() const { return text(std::string(rawValue(m_model.mode()))); }

int BriskoService::queue() const { return m_model.queue(); }

QString BriskoService::lastEvent() const
{
    if (!m_model.lastEvent())
        return {};
    const QString when = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(*m_model.lastEvent() * 1000))
                             .toString(Qt::ISODate);
    if (!m_model.lastEventKind())
        return when;
    return when + " "
        + text(std::string(*m_model.lastEventKind() == EventKind::person ? "person" : "motion"));
}

// The camera in use (or that would be) and a word for its state.
QString BriskoService::camera() const
{
    std::string state = "off";
    if (m_model.permissionDenied())
        state = "denied";
    else if (m_model.cameraCovered())
        state = "covered";
    else if (m_model.mode() != Mode::off)
        state = m_model.cameraFresh() ? "live" : "no picture";
    const std::string name = m_model.selectedCamera();
    return text((name.empty() ? std::string("none") : name) + ": " + state);
}

QString BriskoService::telegram() const
{
    const Settings& settings = m_model.settings();
    if (!settings.chatConfirmed || !settings.chatID)
        return "not set up";
    const std::string chat = settings.chatLabel.value_or("-");
    if (!m_model.telegramOK())
        return text("unknown: " + chat);
    return text((*m_model.telegramOK() ? "connected: " : "unreachable: ") + chat);
}

QString BriskoService::summary() const
{
    const auto& presentation = m_model.presentation();
    return text(presentation.subtitle.empty() ? presentation.title
                                              : presentation.title + " " + presentation.subtitle);
}

QString BriskoService::dataFolder() const { return text(m_model.paths().data().string()); }

bool BriskoService::Arm()
{
    if (!m_model.monitoringWanted() && m_model.mode() != Mode::monitor)
        m_model.toggleMonitoring();
    return m_model.monitoringWanted();
}

bool BriskoService::Disarm()
{
    if (m_model.monitoringWanted() || m_model.mode() == Mode::monitor)
        m_model.toggleMonitoring();
    return !m_model.monitoringWanted() && m_model.mode() != Mode::monitor;
}

void BriskoService::ShowWindow()
{
    if (showWindow)
        showWindow();
}

QVariantMap BriskoService::properties() const
{
    return { { "Phase", phase() }, { "Mode", mode() }, { "Queue", queue() }, { "LastEvent", lastEvent() },
        { "Camera", camera() }, { "Telegram", telegram() }, { "Summary", summary() } };
}

void BriskoService::emitChanges()
{
    const QVariantMap now = properties();
    QVariantMap changed;
    for (auto it = now.begin(); it != now.end(); ++it)
        if (m_sent.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    m_sent = now;
    if (changed.isEmpty())
        return;
    QDBusMessage signal
        = QDBusMessage::createSignal(kPath, "org.freedesktop.DBus.Properties", "PropertiesChanged");
    signal << QString(kName) << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

} // namespace vardel
