#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

namespace vardel {

// One H.264 (libx264, High profile, 2 Mbit/s average, key frame at least every 20 frames) MPEG-4 file
// with a single video track on a 1/600 s time scale and its index at the front. Frames are given as
// BGRA pictures of the file's size with their presentation time; each sample lasts until the next one,
// the last as long as the one before it, so the track's duration is exact. Not thread-safe: one owner
// thread. Destroying an unfinished writer closes the file as it is (incomplete); the owner deletes it.
class Mp4Writer {
public:
    static constexpr int kTimeScale = 600;
    static constexpr int kBitRate = 2'000'000;
    static constexpr int kKeyFrameInterval = 20;

    // Throws vardel::Error: code 10 when the encoder or the track cannot be set up, code 11 when the
    // file cannot be started.
    Mp4Writer(const std::filesystem::path& path, int width, int height);
    ~Mp4Writer();

    Mp4Writer(const Mp4Writer&) = delete;
    Mp4Writer& operator=(const Mp4Writer&) = delete;

    int width() const;
    int height() const;
    int framesWritten() const;

    // Encodes one BGRA picture of width × height at `ticks` (1/600 s from the start of the file).
    // A time not after the previous one is dropped (returns false), as is a frame after a failure.
    bool append(const std::uint8_t* bgra, int stride, std::int64_t ticks);

    // Drains the encoder and completes the file. Throws vardel::Error (code 12) when the file could not
    // be completed. Call once.
    void finish();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace vardel
