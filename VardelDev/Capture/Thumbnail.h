#pragma once

#include <cstdint>
#include <optional>
#include <vector>

struct SwsContext;

namespace vardel {

class Frame;

// Scales luma to the 96x54 thumbnail the motion detector reads (5184 bytes, rows of 96), averaging
// areas so that each thumbnail pixel is the mean of the pixels it covers. Keeps its scaler between calls
// while the source size stays the same; use one instance per thread.
class Thumbnail {
public:
    static constexpr int kWidth = 96;
    static constexpr int kHeight = 54;

    // The layouts `scale` reads: a plane of luma bytes, or packed Y0 U Y1 V (YUYV).
    enum class Source { luma, yuyv };

    Thumbnail() = default;
    ~Thumbnail();
    Thumbnail(const Thumbnail&) = delete;
    Thumbnail& operator=(const Thumbnail&) = delete;

    // Absent for an empty frame or when scaling fails.
    std::optional<std::vector<std::uint8_t>> make(const Frame& frame);
    // Writes into `out` (resized to 5184); false when scaling fails or the frame does not decode. A
    // camera picture's own thumbnail is used as it is.
    bool make(const Frame& frame, std::vector<std::uint8_t>& out);
    // The thumbnail of a `width` x `height` picture at `data`, rows `stride` bytes apart. The luma
    // values are averaged as they are, without range conversion.
    bool scale(const std::uint8_t* data, int stride, int width, int height, Source source,
        std::vector<std::uint8_t>& out);

private:
    SwsContext* m_scaler = nullptr;
};

} // namespace vardel
