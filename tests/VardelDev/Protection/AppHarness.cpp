#include "AppHarness.h"
#include "FakeBotApi.h"
#include "FileCameraSource.h"
#include "MemorySecretStore.h"
#include "Outbox.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTimer>

#include <algorithm>
#include <fstream>

namespace vardel::test {

namespace fs = std::filesystem;

DataFolder::DataFolder(DetectionMode mode)
    : root(scratch.root())
    , paths(root / "data")
{
    paths.prepare();
    settings.chatID = 4242;
    settings.chatLabel = "Home";
    settings.chatConfirmed = true;
    settings.detectionMode = mode;
    settings.sensitivity = 10;
    settings.preSeconds = 2;
    settings.postSeconds = 3;
    writeSettings(settings);
}

void DataFolder::writeSettings(const Settings& value) const
{
    std::ofstream(paths.config()) << value.encode();
}

std::vector<fs::path> DataFolder::eventFiles(const std::string& extension) const
{
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(paths.events()))
        if (entry.path().extension() == extension)
            found.push_back(entry.path());
    return found;
}

std::vector<std::string> DataFolder::outboxItems() const
{
    std::vector<std::string> items;
    for (const auto& item : Outbox(paths.outbox()).pending())
        items.push_back(read(item));
    return items;
}

std::vector<std::string> textsSent(const FakeBotApi& api)
{
    std::vector<std::string> texts;
    for (const auto& call : api.callsOf("sendMessage"))
        texts.push_back(call.fields.at("text"));
    return texts;
}

bool runUntil(const std::function<bool()>& done, double seconds)
{
    QDeadlineTimer deadline(static_cast<qint64>(seconds * 1000));
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

double HurriedClock::now() const
{
    std::lock_guard guard(m_mutex);
    return SystemClock().now() + aheadLocked();
}

void HurriedClock::hurry(double seconds, double over)
{
    std::lock_guard guard(m_mutex);
    m_ahead = aheadLocked();
    m_extra = seconds;
    m_over = over;
    m_since = std::chrono::steady_clock::now();
}

double HurriedClock::aheadLocked() const
{
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - m_since;
    return m_ahead + m_extra * std::min(1.0, spent.count() / m_over);
}

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

Model::Options appOptions(const DataFolder& folder, const std::string& endpoint, const fs::path& video,
    std::shared_ptr<const Clock> clock)
{
    Model::Options options;
    options.paths = folder.paths;
    options.camera = std::make_unique<FileCameraSource>(video.string());
    options.secrets = std::make_shared<MemorySecretStore>(FakeBotApi::kToken);
    options.endpoint = endpoint;
    options.clock = std::move(clock);
    return options;
}

} // namespace vardel::test
