#include "RemoteControl.h"

#include "Brand.h"
#include "BriskoService.h"
#include "Captions.h"
#include "L.h"
#include "SettingsStore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDateTime>
#include <QLocale>

#include <cstdio>

namespace vardel {

namespace {

    void print(const std::string& line) { std::printf("%s\n", line.c_str()); }

    std::string property(QDBusInterface& service, const char* name)
    {
        const QVariant value = service.property(name);
        return value.typeId() == QMetaType::Int ? std::to_string(value.toInt())
                                                : value.toString().toStdString();
    }

    // "2026-12-07T03:10:12+00:00 person" in the user's words; the text as it stands if it does not parse.
    std::string eventText(const std::string& value)
    {
        const auto space = value.find(' ');
        const QDateTime when
            = QDateTime::fromString(QString::fromStdString(value.substr(0, space)), Qt::ISODate);
        if (!when.isValid())
            return value;
        return Captions::dayTime(when.toMSecsSinceEpoch() / 1000.0, L::language())
            + (space == std::string::npos ? std::string() : value.substr(space));
    }

} // namespace

RemoteControl::RemoteControl(CommandLine line)
    : m_line(std::move(line))
{
}

void RemoteControl::useLanguageOf(const Paths& paths)
{
    std::optional<AppLanguage> chosen;
    std::error_code error;
    if (std::filesystem::exists(paths.config(), error))
        chosen = SettingsStore(paths.config()).load().language;
    if (!chosen) {
        std::vector<std::string> preferred;
        for (const QString& name : QLocale::system().uiLanguages())
            preferred.push_back(name.toStdString());
        chosen = AppLanguage::preferred(preferred);
    }
    L::setLanguage(*chosen);
}

int RemoteControl::run()
{
    const Paths paths = m_line.paths();
    useLanguageOf(paths);
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusInterface service(BriskoService::kName, BriskoService::kPath, BriskoService::kName, bus);
    // The name may belong to the instance of another data folder: that one is not the one asked about.
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(BriskoService::kName)
        || (m_line.dataDir && property(service, "DataFolder") != paths.data().string())) {
        print(L::t(K::hlNotRunning, { Brand::name }));
        return 1;
    }

    using Command = CommandLine::Command;
    bool asked = true;
    if (m_line.command == Command::arm || m_line.command == Command::disarm) {
        const QDBusReply<bool> reply = service.call(m_line.command == Command::arm ? "Arm" : "Disarm");
        if (!reply.isValid()) {
            print(
                L::t(K::hlNotRunning, { Brand::name }) + " (" + reply.error().message().toStdString() + ")");
            return 1;
        }
        asked = reply.value();
    }
    print(property(service, "Summary"));
    if (m_line.command == Command::status) {
        print(L::t(K::hlMode, { property(service, "Mode") }));
        print(L::t(K::hlCamera, { property(service, "Camera") }));
        print(L::t(K::ctxTgTo, { property(service, "Telegram") }));
        print(L::t(K::ctxQueued, { property(service, "Queue") }));
        const std::string last = property(service, "LastEvent");
        print(last.empty() ? L::t(K::ctxNoAlerts) : L::t(K::ctxLastAlert, { eventText(last) }));
    }
    return asked ? 0 : 1;
}

} // namespace vardel
