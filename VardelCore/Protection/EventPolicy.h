#pragma once

#include <limits>
#include <optional>

namespace vardel {

struct Settings;

// Turns per-frame change levels into detection events: a warm-up after arming, a run of consecutive
// qualifying frames, a cool-down between events and a hold-off window. A value owned by the frame
// pipeline and touched only on its queue. Times are seconds on one clock chosen by the caller.
struct EventPolicy {
    static constexpr double kNever = -std::numeric_limits<double>::infinity();

    int sensitivity = 6;
    int triggerFrames = 3;
    double cooldown = 60;
    double warmup = 4.0;
    int hits = 0;
    double lastEvent = kNever;
    double suppressedUntil = kNever;

    EventPolicy() = default;
    EventPolicy(int sensitivity, int triggerFrames, double cooldown, double warmup);
    // Sensitivity, trigger frames and cool-down from the settings; a 4 s warm-up.
    explicit EventPolicy(const Settings& settings);

    // Fraction of the watched area that must change: (11 - sensitivity clamped to 1...10) / 100.
    static double minArea(int sensitivity);
    double minArea() const { return minArea(sensitivity); }

    // Counts the frame and commits an event when one is due (motion mode).
    bool evaluate(double level, double now, std::optional<double> armedSince);
    // Counts the frame and says whether an event would be due, without committing (person mode).
    bool isCandidate(double level, double now, std::optional<double> armedSince);
    void commit(double now);
    void resetStreak() { hits = 0; }
    // Nothing counts before `until`; never shortens an existing hold-off.
    void holdOff(double until);
    void releaseHoldOff();

    bool operator==(const EventPolicy&) const = default;

private:
    bool count(double level, double now, std::optional<double> armedSince);
};

} // namespace vardel
