#pragma once

#include <filesystem>

namespace vardel {

// Where the application keeps its data: one data folder and fixed names inside it.
// A plain value; `standard()` resolves the user's folder ($XDG_DATA_HOME, else ~/.local/share, then the
// application id), tests construct one over a temporary root. Safe to share between threads.
class Paths {
public:
    explicit Paths(std::filesystem::path data);

    // The user's data folder for this application. Does not create anything.
    static Paths standard();

    const std::filesystem::path& data() const { return m_data; }
    std::filesystem::path config() const { return m_data / "config.json"; }
    std::filesystem::path outbox() const { return m_data / "outbox"; }
    std::filesystem::path outboxFailed() const { return outbox() / "failed"; }
    std::filesystem::path events() const { return m_data / "events"; }
    std::filesystem::path logs() const { return m_data / "logs"; }
    std::filesystem::path logFile() const { return logs() / "app.log"; }
    std::filesystem::path previousLogFile() const { return logs() / "app.log.1"; }
    std::filesystem::path run() const { return m_data / "run"; }
    std::filesystem::path appState() const { return run() / "app-state.json"; }
    std::filesystem::path clipsTmp() const { return run() / "clips"; }
    // Fallback store of the bot token when the session offers no Secret Service.
    std::filesystem::path secrets() const { return m_data / "secrets"; }

    // Creates data, outbox, outbox/failed, events, logs, run and run/clips with mode 0700. Each folder is
    // attempted on its own and failures are ignored: the components writing there report their own.
    void prepare() const;

private:
    std::filesystem::path m_data;
};

} // namespace vardel
