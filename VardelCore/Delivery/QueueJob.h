#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vardel {

// One alert as the alert queue hands it to a transport: what is sent, its text or caption, and the
// media file to upload (absent for text jobs). A plain value; safe to copy between threads.
struct QueueJob {
    enum class Kind { text, photo, video };

    Kind kind = Kind::text;
    std::string text;
    std::optional<std::filesystem::path> file;

    bool operator==(const QueueJob&) const = default;

    // The raw words "text", "photo", "video" (case-sensitive); any other word gives no kind.
    static std::optional<Kind> kindFromRaw(std::string_view raw);
    static std::string_view rawValue(Kind kind);
};

} // namespace vardel
