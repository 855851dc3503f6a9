#pragma once

#include "CommandLine.h"
#include "Model.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

namespace vardel {

class BriskoService;
class QuitSignals;
class SingleInstance;
class UpdateNotifier;

// What a front end over the model leaves running: whatever it must keep alive (windows, tray) and how a
// request from elsewhere shows its window.
struct FrontEnd {
    std::shared_ptr<QObject> keep;
    std::function<void()> showWindow;
};

// Starts the application for one data folder: checks the camera file, takes the folder's single-instance
// lock, builds the model, and (in `run`) adds the session-bus service, the update check, the status lines
// on standard error and the orderly quit on SIGINT and SIGTERM. Main thread; the application object must
// exist first.
class AppRunner {
public:
    explicit AppRunner(CommandLine line);
    ~AppRunner();

    // Builds the model; the process's exit code when it cannot run (the reason is already said).
    std::optional<int> open();
    Model& model() { return *m_model; }
    // The release check; made before the front end so the menus can offer a newer release.
    UpdateNotifier* updates() const { return m_updates.get(); }

    // The ordered shut-down, then the event loop's end. Idempotent.
    // A signal (systemd stopping the service, the session ending) is `system`: protection that is on
    // comes back at the next start. Quitting from the program is the user's and it does not.
    void quit(Model::EndReason reason = Model::EndReason::user);
    // Called when a quit begins (a signal, or `quit`), before the shut-down.
    std::function<void()> onQuit;
    // Quits and runs the event loop until the shut-down is complete (at once when it already is).
    void quitAndWait();

    // Runs the event loop with the front end made by `frontEnd` (none: headless) until `quit`; returns
    // the exit code.
    using FrontEndMaker = std::function<FrontEnd(Model&, std::function<void()> quit)>;
    int run(const FrontEndMaker& frontEnd);

private:
    void reportStartState();

    CommandLine m_line;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<Model> m_model;
    std::unique_ptr<QObject> m_serviceHost;
    std::unique_ptr<UpdateNotifier> m_updates;
    std::unique_ptr<QuitSignals> m_signals;
    bool m_quitting = false;
    bool m_stopped = false;
};

} // namespace vardel
