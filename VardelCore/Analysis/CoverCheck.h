#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace vardel {

// Tells whether a luma thumbnail looks like a covered or blacked-out lens: a dark picture, or a flat
// one without texture. Pure functions; `Tracker` debounces the per-frame answer over time and is owned
// by the application model on the main thread.
class CoverCheck {
public:
    struct Stats {
        double mean = 0;
        double spread = 0; // population standard deviation
        double detail = 0; // average horizontal neighbour difference
        bool operator==(const Stats&) const = default;
    };

    // Keeps `covered` until the opposite answer has held for a while: 1 s to become covered (a hand
    // passing by is not a cover), 0.5 s to become uncovered.
    class Tracker {
    public:
        bool observe(bool covered, double at);
        void reset();
        bool covered() const { return m_covered; }
        std::optional<double> since() const { return m_since; }

    private:
        bool m_covered = false;
        std::optional<double> m_since;
    };

    static constexpr double kToCovered = 1.0;
    static constexpr double kToUncovered = 0.5;

    static Stats stats(std::span<const std::uint8_t> luma, int width);
    static bool looksCovered(const Stats& stats);
};

} // namespace vardel
