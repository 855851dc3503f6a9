#include "AppInfo.h"

#include "AppId.h"
#include "Brand.h"

#include <QSettings>

#ifndef BRISKO_VERSION
#define BRISKO_VERSION ""
#endif

namespace vardel {

std::string AppInfo::name() { return std::string(Brand::name); }

std::string AppInfo::version() { return versionOr0(BRISKO_VERSION); }

std::string AppInfo::versionOr0(std::string_view version)
{
    return version.empty() ? "0" : std::string(version);
}

std::string AppInfo::id() { return kApplicationId; }

std::string AppInfo::keychainService() { return id() + ".telegram"; }

std::unique_ptr<QSettings> AppInfo::userDefaults()
{
    return std::make_unique<QSettings>(QString::fromUtf8(kApplicationId), QStringLiteral("defaults"));
}

std::optional<std::string> AppInfo::botAPIURL()
{
    const QVariant value = userDefaults()->value(QStringLiteral("BotAPIURL"));
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString().toStdString();
}

} // namespace vardel
