#pragma once

#include <filesystem>
#include <string_view>
#include <sys/types.h>

namespace vardel {

// Durable replacement of a whole file: the bytes go to a hidden temporary file in the same folder whose
// name never carries the final extension (".<stem>.XXXXXX.tmp"), which is given `mode`, flushed with
// fsync, renamed over the target, and the folder is fsync'ed. Readers see either the old or the new file,
// never a mix, also after a crash. Thread-safe; blocking.
struct AtomicFile {
    // Throws std::system_error (with the path in its message) on any failure; the temporary file is
    // removed then and the old file is left as it was. The folder must exist.
    static void write(const std::filesystem::path& path, std::string_view bytes, mode_t mode = 0600);

    // True for the name of a temporary file that `write` creates (and leaves behind only on a crash).
    static bool isTemporary(const std::filesystem::path& path);

    // Removes such leftovers directly inside `folder`; returns how many. Missing folder: 0. Never throws.
    static int removeLeftovers(const std::filesystem::path& folder);
};

} // namespace vardel
