#pragma once

#include "HTTPPosting.h"
#include "SerialQueue.h"
#include "Updates.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QSettings;

namespace vardel {

// Checks the release feed at most once a day and remembers a newer release across launches (user defaults
// "LastUpdateCheck", "AvailableUpdate"). Lives on the main thread; the fetch runs on "vardel.updates" and
// its result comes back to the main thread. Without a feed address nothing is ever requested. Destruction
// cancels a fetch in flight and returns at once; a pending completion is then never called.
class UpdateNotifier : public QObject {
    Q_OBJECT
public:
    struct Result {
        std::optional<Updates::Failure::Case> failure;
        std::optional<Updates::Release> release; // the newer release, when the check succeeded
    };
    using Completion = std::function<void(const Result&)>;
    using LogLine = std::function<void(const std::string&)>;

    // `http` defaults to a poster that cancels on destruction and caps the answer at Updates::maxFeedBytes.
    UpdateNotifier(std::shared_ptr<QSettings> defaults, std::string currentVersion, LogLine log = {},
        std::shared_ptr<HTTPPosting> http = nullptr, QObject* parent = nullptr);
    ~UpdateNotifier() override;

    // The user default "UpdateFeedURL" when it is an https address or a local file, else `builtIn` (the
    // build's feed) when that is https, else none.
    static std::optional<std::string> feedAddress(const QSettings& defaults, const std::string& builtIn);
    std::optional<std::string> feed() const;
    bool hasFeed() const { return feed().has_value(); }

    // With a feed: an hourly due test, and one 15 s from now.
    void start();
    // Does nothing (and never calls `completion`) without a feed or while a check runs.
    void check(Completion completion = {});
    bool busy() const { return m_busy; }
    const std::optional<Updates::Release>& available() const { return m_available; }

signals:
    void availableChanged();

private:
    void checkIfDue();
    void finish(const Result& result, const Completion& completion);

    std::shared_ptr<QSettings> m_defaults;
    std::string m_current;
    LogLine m_log;
    std::shared_ptr<HTTPPosting> m_http;
    std::function<void()> m_cancel;
    std::optional<Updates::Release> m_available;
    bool m_busy = false;
    QTimer m_timer;
    SerialQueue m_queue { "vardel.updates" };
};

} // namespace vardel
