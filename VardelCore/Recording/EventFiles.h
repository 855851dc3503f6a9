#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace vardel {

// Names and places event photos and clips: <root>/<yyyy-MM-dd>/<yyyy-MM-dd_HH-mm-ss>.<ext>, from the
// event's local time in the process's time zone, with Gregorian dates and ASCII digits whatever the
// user's locale. Folders are created 0700, files end 0600, writes are durable (fsync of file and folder).
// Stateless; callable from any thread. File-system failures throw std::system_error (often its
// std::filesystem::filesystem_error form) and nothing is retried.
class EventFiles {
public:
    EventFiles() = delete;

    // `at` is seconds since 1970; fractions of a second are cut off.
    static std::string dayName(double at);
    static std::string stamp(double at);

    static std::filesystem::path url(const std::filesystem::path& root, double at, const std::string& ext);
    static std::filesystem::path photoURL(const std::filesystem::path& root, double at);
    static std::filesystem::path clipURL(const std::filesystem::path& root, double at);

    // Creates the folder that will hold `url`, and any missing folders above it, with mode 0700.
    static void makeDay(const std::filesystem::path& url);

    // Writes the photo atomically (a photo of the same second is replaced) and returns its path.
    static std::filesystem::path writePhoto(
        std::span<const std::uint8_t> bytes, const std::filesystem::path& root, double at);

    // Moves a finished clip into place (replacing one of the same second) and returns its path.
    // On failure the source file stays where it was.
    static std::filesystem::path moveClip(
        const std::filesystem::path& from, const std::filesystem::path& root, double at);
};

} // namespace vardel
