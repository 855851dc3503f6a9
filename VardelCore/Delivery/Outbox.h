#pragma once

#include "Clock.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vardel {

// The on-disk outbox: one small JSON file per pending alert, named "<stamp>-<kind>.json" where the
// stamp is the enqueue time in nanoseconds, strictly increasing within one instance. `enqueue` may be
// called from any thread (serialized by an internal lock) and writes each item durably and atomically,
// so `pending`, which takes no lock, sees either no file or a whole one, also after a crash.
class Outbox {
public:
    explicit Outbox(std::filesystem::path directory,
        std::shared_ptr<const Clock> clock = std::make_shared<SystemClock>());

    const std::filesystem::path& directory() const { return m_directory; }

    // Writes one item and returns its path. Throws std::system_error when it cannot be written
    // (no item remains then), nlohmann::json errors when the text cannot be serialized (invalid UTF-8),
    // and vardel::Error for a kind that is not a plain word (it becomes part of the file name).
    std::filesystem::path enqueue(const std::string& kind, const std::optional<std::string>& text,
        const std::optional<std::string>& path);

    // The item files now in the folder, oldest first; empty when the folder cannot be listed.
    std::vector<std::filesystem::path> pending() const;

    // Deletes temporary files that a crash in the middle of a write left behind. Called at start-up,
    // before anyone enqueues. Returns how many were removed.
    int removeTemporaries() const;

private:
    std::filesystem::path m_directory;
    std::shared_ptr<const Clock> m_clock;
    std::mutex m_lock;
    std::uint64_t m_lastStamp = 0;
};

} // namespace vardel
