#pragma once

#include "SerialQueue.h"
#include "Settings.h"

#include <cstdint>
#include <filesystem>
#include <functional>

namespace vardel {

// Keeps the settings in one JSON file and never caches: `load` reads the file on the caller's thread,
// `update` is a read-modify-write run synchronously on the store's own queue "vardel.settings", so
// updates from any thread are serialised. Writes are atomic, so a concurrent `load` sees the old or
// the new file whole. The folder must exist; the store never creates it. Both calls touch the disk, so the
// application's main thread only loads at start and leaves updates to a queue of its own.
class SettingsStore {
public:
    // Files larger than this are not settings; they load as the defaults.
    static constexpr std::uintmax_t maximumFileSize = 1 << 20;

    explicit SettingsStore(std::filesystem::path path);
    virtual ~SettingsStore() = default;

    const std::filesystem::path& path() const { return m_path; }

    // The stored settings, or the defaults when the file is missing, unreadable, not a regular file,
    // too large, or does not decode. Never throws.
    virtual Settings load() const;

    // Loads as `load` does, applies `change`, writes the result (mode 0600) and returns it. Throws what
    // `change` throws, or std::system_error when writing fails; the old file then stays as it was.
    virtual Settings update(const std::function<void(Settings&)>& change);

private:
    std::filesystem::path m_path;
    SerialQueue m_queue;
};

} // namespace vardel
