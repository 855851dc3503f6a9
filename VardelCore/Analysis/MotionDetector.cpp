#include "MotionDetector.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace vardel {

namespace {
    // Start and end (exclusive) of the cells covered by [start, start + length] on an axis of `cells`.
    // The start truncates, the end rounds half to even; both are kept inside the grid and the span
    // holds at least one cell.
    std::pair<int, int> coveredCells(double start, double length, int cells)
    {
        const double first = std::trunc(start * cells);
        const double last = std::nearbyint((start + length) * cells); // default rounding: ties to even
        const int low = first > 0 ? static_cast<int>(std::min(first, static_cast<double>(cells - 1))) : 0;
        int high = last > 0 ? static_cast<int>(std::min(last, static_cast<double>(cells))) : 0;
        high = std::max(high, low + 1);
        return { low, high };
    }
}

MotionDetector::MotionDetector(const ROI& roi, int pixelThreshold)
    : m_roi(roi)
    , m_pixelThreshold(static_cast<float>(pixelThreshold))
{
    rebuild();
}

std::vector<int> MotionDetector::indices(const ROI& roi, int gridWidth, int gridHeight)
{
    if (gridWidth <= 0 || gridHeight <= 0)
        return {};
    const auto [x0, x1] = coveredCells(roi.x, roi.w, gridWidth);
    const auto [y0, y1] = coveredCells(roi.y, roi.h, gridHeight);
    std::vector<int> result;
    result.reserve(static_cast<std::size_t>(x1 - x0) * static_cast<std::size_t>(y1 - y0));
    for (int row = y0; row < y1; ++row) {
        for (int column = x0; column < x1; ++column)
            result.push_back(row * gridWidth + column);
    }
    return result;
}

void MotionDetector::rebuild()
{
    m_indices = indices(m_roi, width, height);
    // The covered pixels of each row are contiguous; working on row spans keeps the loops linear.
    m_spans.clear();
    for (std::size_t i = 0; i < m_indices.size();) {
        std::size_t j = i + 1;
        while (j < m_indices.size() && m_indices[j] == m_indices[j - 1] + 1)
            ++j;
        m_spans.push_back({ m_indices[i], static_cast<int>(j - i) });
        i = j;
    }
    m_background.assign(m_indices.size(), 0.0f);
    m_scratch.assign(m_indices.size(), 0.0f);
    reset();
}

void MotionDetector::reset()
{
    m_hasBackground = false;
    m_lightCompensatedLevel = 0;
}

void MotionDetector::setRoi(const ROI& roi)
{
    if (roi == m_roi)
        return;
    m_roi = roi;
    rebuild();
}

std::optional<double> MotionDetector::process(std::span<const std::uint8_t> luma)
{
    if (luma.size() != thumbnailSize)
        throw std::invalid_argument("motion thumbnail must be " + std::to_string(thumbnailSize)
            + " bytes, got " + std::to_string(luma.size()));

    float* const values = m_scratch.data();
    std::size_t at = 0;
    for (const Span& span : m_spans) {
        const std::uint8_t* row = luma.data() + span.start;
        for (int i = 0; i < span.length; ++i)
            values[at + static_cast<std::size_t>(i)] = static_cast<float>(row[i]);
        at += static_cast<std::size_t>(span.length);
    }

    const std::size_t count = m_scratch.size();
    float* const background = m_background.data();
    if (!m_hasBackground) {
        std::copy(values, values + count, background);
        m_hasBackground = true;
        return std::nullopt;
    }

    const float threshold = m_pixelThreshold;
    std::size_t changed = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const float difference = values[i] - background[i];
        changed += std::fabs(difference) > threshold ? 1 : 0;
        background[i] += difference * adaptRate;
        values[i] = difference;
    }

    // Several partial sums break the addition chain so that the loop vectorises.
    constexpr std::size_t kLanes = 8;
    float partial[kLanes] = {};
    std::size_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        for (std::size_t lane = 0; lane < kLanes; ++lane)
            partial[lane] += values[i + lane];
    }
    float sum = 0;
    for (; i < count; ++i)
        sum += values[i];
    for (float lanePart : partial)
        sum += lanePart;
    const float mean = sum / static_cast<float>(count);

    std::size_t compensatedChanged = 0;
    for (std::size_t k = 0; k < count; ++k)
        compensatedChanged += std::fabs(values[k] - mean) > threshold ? 1 : 0;

    const double total = static_cast<double>(count);
    m_lightCompensatedLevel = static_cast<double>(compensatedChanged) / total;
    return static_cast<double>(changed) / total;
}

} // namespace vardel
