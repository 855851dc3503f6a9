#pragma once

#include "ROI.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vardel {

// Measures per frame how much of the watched area differs from a slowly adapting background, on a
// 96 × 54 luma thumbnail: the plain level and a light-compensated level that ignores a uniform change
// of brightness. Owned by the frame pipeline and used on its analysis queue only; not thread-safe.
// Steady-state processing allocates nothing.
class MotionDetector {
public:
    static constexpr int width = 96;
    static constexpr int height = 54;
    static constexpr std::size_t thumbnailSize = static_cast<std::size_t>(width) * height;
    static constexpr float adaptRate = 0.05f;

    // `roi` in current-frame coordinates (they map directly onto the thumbnail).
    MotionDetector(const ROI& roi, int pixelThreshold);

    // The share of area pixels that changed by more than the threshold, in [0, 1]; nothing for the
    // frame that seeds the background. Throws std::invalid_argument, before touching any state, when
    // `luma` is not exactly `thumbnailSize` bytes.
    std::optional<double> process(std::span<const std::uint8_t> luma);

    // Drops the background; the next frame seeds it again.
    void reset();

    const ROI& roi() const { return m_roi; }
    // A different area recomputes the covered pixels and drops the background; the same area changes nothing.
    void setRoi(const ROI& roi);

    float pixelThreshold() const { return m_pixelThreshold; }
    void setPixelThreshold(float threshold) { m_pixelThreshold = threshold; }

    // Light-compensated level of the latest frame; 0 after a reset.
    double lightCompensatedLevel() const { return m_lightCompensatedLevel; }
    bool hasBackground() const { return m_hasBackground; }
    const std::vector<int>& indices() const { return m_indices; }

    // Grid positions (row × width + column) covered by `roi`, row-major; always at least one. Areas that
    // reach outside the grid (or hold NaN) are clamped onto it, so every index is inside the grid.
    static std::vector<int> indices(const ROI& roi, int gridWidth, int gridHeight);

private:
    // One run of covered pixels inside a row.
    struct Span {
        int start;
        int length;
    };

    void rebuild();

    ROI m_roi;
    float m_pixelThreshold;
    std::vector<int> m_indices;
    std::vector<Span> m_spans;
    std::vector<float> m_background;
    std::vector<float> m_scratch;
    bool m_hasBackground = false;
    double m_lightCompensatedLevel = 0;
};

} // namespace vardel
