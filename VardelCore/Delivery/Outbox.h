#pragma once

#include "Clock.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vardel {

// The on-disk outbox: one small JSON file per pending alert, named "<stamp>-<kind>.json" where the
// stamp is the enqueue time in nanoseconds, strictly increasing within one instance and never reusing a
// name that exists (another process writing into the same folder takes the next stamp, not the file).
// `enqueue` may be called from any thread and writes each item durably and atomically, so readers see
// either no file or a whole one, also after a crash.
//
// Listing is served from an in-memory ordered index kept current by inotify (changes by anyone, this
// process or another) with a full rescan on overflow, when the folder is replaced, and once a minute; when
// inotify is unavailable every listing rescans the folder. The index is built at the first listing.
// Listing members are thread-safe and never fail.
class Outbox {
public:
    explicit Outbox(std::filesystem::path directory,
        std::shared_ptr<const Clock> clock = std::make_shared<SystemClock>());
    ~Outbox();

    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    const std::filesystem::path& directory() const { return m_directory; }

    // Writes one item and returns its path. Throws std::system_error when it cannot be written
    // (no item remains then), nlohmann::json errors when the text cannot be serialized (invalid UTF-8),
    // and vardel::Error for a kind that is not a plain word (it becomes part of the file name).
    std::filesystem::path enqueue(const std::string& kind, const std::optional<std::string>& text,
        const std::optional<std::string>& path);

    // The item files now in the folder, oldest first; empty when the folder cannot be listed.
    std::vector<std::filesystem::path> pending() const;
    // The oldest item whose file name is not in `skipping`; none when there is none.
    std::optional<std::filesystem::path> oldest(const std::set<std::string>& skipping = {}) const;
    // How many items `pending` would list, without building the list.
    std::size_t count() const;

    // Called after every successful `enqueue`, on the enqueuing thread, outside the write lock; it must
    // not block. Replaces any previous listener; an empty function removes it. Returns only when no call
    // of the previous listener is running any more.
    void setEnqueueListener(std::function<void()> listener);

private:
    void refresh() const;
    void rescan() const;
    void watch() const;
    void readEvents() const;

    std::filesystem::path m_directory;
    std::shared_ptr<const Clock> m_clock;
    std::mutex m_lock;
    std::uint64_t m_lastStamp = 0;

    std::mutex m_listenerLock;
    std::function<void()> m_listener;

    // The index; everything below is guarded by m_indexLock.
    mutable std::mutex m_indexLock;
    mutable std::set<std::string> m_items;
    mutable int m_inotify = -1;
    mutable int m_watch = -1;
    mutable bool m_stale = true;
    mutable std::chrono::steady_clock::time_point m_lastScan;
};

} // namespace vardel
