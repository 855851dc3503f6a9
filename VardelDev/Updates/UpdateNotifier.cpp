#include "UpdateNotifier.h"

#include "CancellablePoster.h"

#include <QDateTime>
#include <QSettings>
#include <QUrl>
#include <QVariantMap>

#include <nlohmann/json.hpp>

#ifndef BRISKO_UPDATE_FEED
#define BRISKO_UPDATE_FEED ""
#endif

namespace vardel {

namespace {

    const QString kLastKey = QStringLiteral("LastUpdateCheck");
    const QString kFoundKey = QStringLiteral("AvailableUpdate");
    constexpr int kHourMs = 3600 * 1000;
    constexpr int kFirstCheckMs = 15 * 1000;

    QVariantMap toMap(const Updates::Release& release)
    {
        QVariantMap map { { QStringLiteral("version"), QString::fromStdString(release.version) },
            { QStringLiteral("url"), QString::fromStdString(release.url) } };
        if (release.notes)
            map.insert(QStringLiteral("notes"), QString::fromStdString(*release.notes));
        return map;
    }

    std::optional<Updates::Release> fromMap(const QVariantMap& map)
    {
        nlohmann::json object = nlohmann::json::object();
        for (auto it = map.begin(); it != map.end(); ++it)
            if (it.value().typeId() == QMetaType::QString)
                object[it.key().toStdString()] = it.value().toString().toStdString();
        try {
            return Updates::parse(object.dump());
        } catch (const Updates::Failure&) {
            return std::nullopt;
        }
    }

} // namespace

UpdateNotifier::UpdateNotifier(std::shared_ptr<QSettings> defaults, std::string currentVersion, LogLine log,
    std::shared_ptr<HTTPPosting> http, QObject* parent)
    : QObject(parent)
    , m_defaults(std::move(defaults))
    , m_current(std::move(currentVersion))
    , m_log(std::move(log))
    , m_http(std::move(http))
{
    if (!m_http) {
        auto poster = std::make_shared<CancellablePoster>(Updates::maxFeedBytes);
        m_cancel = [poster] { poster->cancel(); };
        m_http = poster;
    }
    auto stored = fromMap(m_defaults->value(kFoundKey).toMap());
    if (stored && Updates::isNewer(stored->version, m_current))
        m_available = std::move(stored);
    m_timer.setInterval(kHourMs);
    connect(&m_timer, &QTimer::timeout, this, &UpdateNotifier::checkIfDue);
}

UpdateNotifier::~UpdateNotifier()
{
    if (m_cancel)
        m_cancel();
    m_queue.shutdown();
}

std::optional<std::string> UpdateNotifier::feedAddress(const QSettings& defaults, const std::string& builtIn)
{
    const QVariant value = defaults.value(QStringLiteral("UpdateFeedURL"));
    if (value.typeId() == QMetaType::QString) {
        const QUrl url(value.toString(), QUrl::StrictMode);
        // Plain http could be replaced on the way; only https or a local file is trusted.
        if (url.isValid() && url.isLocalFile())
            return "file://" + url.toLocalFile().toStdString();
        if (url.isValid() && Updates::isHttpsAddress(value.toString().toStdString()))
            return value.toString().toStdString();
    }
    if (Updates::isHttpsAddress(builtIn))
        return builtIn;
    return std::nullopt;
}

std::optional<std::string> UpdateNotifier::feed() const
{
    return feedAddress(*m_defaults, BRISKO_UPDATE_FEED);
}

void UpdateNotifier::start()
{
    if (!hasFeed())
        return;
    m_timer.start();
    QTimer::singleShot(kFirstCheckMs, this, &UpdateNotifier::checkIfDue);
}

void UpdateNotifier::checkIfDue()
{
    const QDateTime last = m_defaults->value(kLastKey).toDateTime();
    const auto lastSeconds = last.isValid() ? std::optional(last.toSecsSinceEpoch() * 1.0) : std::nullopt;
    if (Updates::isDue(lastSeconds, static_cast<double>(QDateTime::currentSecsSinceEpoch())))
        check();
}

void UpdateNotifier::check(Completion completion)
{
    const auto address = feed();
    if (!address || m_busy)
        return;
    m_busy = true;
    m_queue.async([this, address = *address, completion = std::move(completion)] {
        Result result;
        try {
            result.release = Updates::check(address, m_current, *m_http);
        } catch (const Updates::Failure& failure) {
            result.failure = failure.kind();
            if (m_log)
                m_log(std::string(failure.kind() == Updates::Failure::Case::offline
                              ? "atualização: sem conexão: "
                              : "atualização: feed inválido: ")
                    + failure.what());
        } catch (const std::exception& error) {
            result.failure = Updates::Failure::Case::badFeed;
            if (m_log)
                m_log(std::string("atualização: feed inválido: ") + error.what());
        }
        // Queued to this object: dropped if it is gone by then.
        QMetaObject::invokeMethod(
            this, [this, result, completion] { finish(result, completion); }, Qt::QueuedConnection);
    });
}

void UpdateNotifier::finish(const Result& result, const Completion& completion)
{
    m_busy = false;
    if (!result.failure) {
        m_defaults->setValue(kLastKey, QDateTime::currentDateTimeUtc());
        if (result.release)
            m_defaults->setValue(kFoundKey, toMap(*result.release));
        else
            m_defaults->remove(kFoundKey);
        if (result.release != m_available) {
            m_available = result.release;
            emit availableChanged();
        }
    }
    if (completion)
        completion(result);
}

} // namespace vardel
