#pragma once

#include <QObject>

#include <filesystem>
#include <functional>
#include <string>

class QLocalServer;

namespace vardel {

// Keeps one running application per data folder, so that two processes never drain one outbox: an
// exclusive lock (flock) on "instance.lock" in `folder`, held for the life of this object, plus a local
// socket "instance.sock" beside it on which a later start asks the running one to show itself. Works
// without a desktop session or a session bus. Main thread.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    enum class Result {
        owner, // this process holds the lock and listens for requests
        running, // another process holds it; it was asked to show itself when it answered
        failed, // the lock file cannot be created (see `error`)
    };

    explicit SingleInstance(std::filesystem::path folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    Result acquire();
    // Why `acquire` failed, or whether the running process answered.
    const std::string& error() const { return m_error; }
    bool answered() const { return m_answered; }

    // Main thread: another start asked this one to show its window.
    std::function<void()> onShowRequested;

private:
    void readRequests();

    std::filesystem::path m_folder;
    int m_fd = -1;
    std::string m_error;
    bool m_answered = false;
    QLocalServer* m_server = nullptr;
};

} // namespace vardel
