#pragma once

#include "Clock.h"
#include "SerialQueue.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace vardel {

// The application log: "logs/app.log" plus one older generation "app.log.1", each line
// "yyyy-MM-dd HH:mm:ss message". `info` may be called from any thread: the line is scrubbed of the bot
// token at once, sent to the system log, and appended to the file on the log's own "vardel.log" queue, so
// lines land in call order. Logging never fails its caller. Destruction writes every pending line.
class Log {
public:
    // The file rotates when it is larger than this before a line is appended.
    static constexpr std::uintmax_t kRotateAbove = 1'000'000;

    // `logsFolder` is `Paths::logs()`; it is not created here (`Paths::prepare` does that).
    explicit Log(std::filesystem::path logsFolder, std::shared_ptr<const Clock> clock = nullptr);
    ~Log();

    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Writes "Vardel: <text>" to the system log and "<stamp> <text>" to app.log.
    void info(const std::string& message);

    // Writes the message, scrubbed, to the system log only; callers include their own "Vardel…" prefix.
    static void system(const std::string& message);

    // Blocks until every line queued before this call is on disk (quit, tests).
    void flush();

    // The process-wide bot token removed from every log line; set by the token holder.
    static void setSecret(std::optional<std::string> secret);
    static std::optional<std::string> secret();

    // `message` with the current secret and anything shaped like a bot token masked.
    static std::string scrub(const std::string& message);

private:
    void append(const std::string& line);

    std::filesystem::path m_folder;
    std::shared_ptr<const Clock> m_clock;
    SerialQueue m_queue { "vardel.log" };
};

} // namespace vardel
