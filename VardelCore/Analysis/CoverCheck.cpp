#include "CoverCheck.h"

#include <cmath>
#include <cstdlib>

namespace vardel {

CoverCheck::Stats CoverCheck::stats(std::span<const std::uint8_t> luma, int width)
{
    if (luma.empty() || width < 2)
        return {};

    const std::size_t count = luma.size();
    const std::size_t rowWidth = static_cast<std::size_t>(width);
    std::uint64_t sum = 0;
    std::uint64_t squares = 0;
    std::uint64_t differences = 0;
    std::size_t pairs = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned value = luma[i];
        sum += value;
        squares += value * value;
        if (i % rowWidth != 0) {
            differences += static_cast<unsigned>(std::abs(static_cast<int>(value) - luma[i - 1]));
            ++pairs;
        }
    }

    Stats result;
    result.mean = static_cast<double>(sum) / static_cast<double>(count);
    // E[x²] − mean² from exact integer sums; clamp the rounding residue of a flat picture.
    const double variance
        = static_cast<double>(squares) / static_cast<double>(count) - result.mean * result.mean;
    result.spread = variance > 0 ? std::sqrt(variance) : 0;
    result.detail = pairs ? static_cast<double>(differences) / static_cast<double>(pairs) : 0;
    return result;
}

bool CoverCheck::looksCovered(const Stats& stats)
{
    return stats.mean < 18 || (stats.detail < 1.5 && stats.spread < 25);
}

bool CoverCheck::Tracker::observe(bool covered, double at)
{
    if (covered == m_covered) {
        m_since.reset();
        return m_covered;
    }
    if (!m_since)
        m_since = at;
    const double hold = covered ? kToCovered : kToUncovered;
    if (at - *m_since >= hold) {
        m_covered = covered;
        m_since.reset();
    }
    return m_covered;
}

void CoverCheck::Tracker::reset()
{
    m_covered = false;
    m_since.reset();
}

} // namespace vardel
