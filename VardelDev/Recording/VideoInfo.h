#pragma once

#include <filesystem>
#include <optional>

namespace vardel {

// Reads the duration and the encoded frame size of a finished MPEG-4 clip (FFmpeg's MP4 demuxer).
// Synchronous on the calling thread and bounded in time: every blocking step is interrupted once the
// time-out has passed. Never throws; anything unreadable is none.
struct VideoInfo {
    struct Info {
        double seconds = 0; // finite, above 0
        int width = 0; // of the first video stream, as encoded (no rotation applied)
        int height = 0;
        bool operator==(const Info&) const = default;
    };

    static std::optional<Info> read(const std::filesystem::path& file, double timeoutSeconds = 10);
};

} // namespace vardel
