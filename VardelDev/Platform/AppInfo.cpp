#include "AppInfo.h"

#include "AppId.h"
#include "Brand.h"

#include <QSettings>
#include <QUrl>

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

std::optional<std::string> AppInfo::updateFeed() { return updateFeed(*userDefaults()); }

std::optional<std::string> AppInfo::updateFeed(const QSettings& defaults)
{
    const QVariant value = defaults.value(QStringLiteral("UpdateFeedURL"));
    if (value.typeId() == QMetaType::QString) {
        const QUrl url(value.toString(), QUrl::StrictMode);
        // A feed over plain http could be replaced on the way; only https or a local file is trusted.
        const bool https = url.scheme() == QLatin1String("https") && !url.host().isEmpty();
        if (url.isValid() && (url.isLocalFile() || https))
            return url.toString().toStdString();
    }
    if (Brand::updateFeedURL)
        return std::string(*Brand::updateFeedURL);
    return std::nullopt;
}

} // namespace vardel
