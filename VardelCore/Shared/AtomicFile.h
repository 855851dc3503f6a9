#pragma once

#include <filesystem>
#include <functional>
#include <string_view>
#include <sys/types.h>

namespace vardel {

// Durable whole-file writes: the bytes go to a hidden temporary file in the same folder whose name never
// carries the final extension (".<stem>.XXXXXX.tmp"), which is given `mode` and flushed with fsync before
// it takes its final name; the folder is fsync'ed after. Readers see either no file (or the old one) or
// the whole new one, also after a crash. Thread-safe; blocking.
struct AtomicFile {
    // Replaces `path`. Throws std::system_error (with the path in its message) on any failure; the
    // temporary file is removed then and the old file is left as it was. The folder must exist.
    static void write(const std::filesystem::path& path, std::string_view bytes, mode_t mode = 0600);

    // Creates a new file and never replaces one: the bytes are written once, then given the name
    // `name(0)`, or `name(1)`, `name(2)`, ... while the previous name is taken (also by another process).
    // All names must be in one folder. Returns the name taken; throws std::system_error like `write`.
    static std::filesystem::path create(
        std::string_view bytes, mode_t mode, const std::function<std::filesystem::path(int attempt)>& name);

    // True for the name of a temporary file that `write` or `create` makes (left behind only by a crash).
    static bool isTemporary(const std::filesystem::path& path);

    // Removes such leftovers directly inside `folder`; returns how many. Missing folder: 0. Never throws.
    static int removeLeftovers(const std::filesystem::path& folder);

    // The start-up clean-up: removes leftovers in `dataFolder` and in every folder up to two levels below
    // it (outbox and outbox/failed, the events day folders, the secrets folder, ...). Symbolic links are
    // not followed. Run it before anything writes. Returns how many; never throws.
    static int removeAllLeftovers(const std::filesystem::path& dataFolder);
};

} // namespace vardel
