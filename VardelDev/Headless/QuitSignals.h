#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace vardel {

// Turns SIGINT and SIGTERM into a call of `onQuit` on the main thread, through a pipe written by the
// signal handler (the only async-signal-safe way into the event loop). One per process; the handlers
// stay installed after destruction and then do nothing.
class QuitSignals final : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

    // False when the pipe or the handlers could not be set up.
    bool installed() const { return m_notifier != nullptr; }

    std::function<void()> onQuit;

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace vardel
