#pragma once

#include "EventKind.h"
#include "PersonBox.h"
#include "ROI.h"

#include <functional>
#include <limits>
#include <optional>
#include <vector>

namespace vardel {

// The state of one motion candidate in person mode: opened when the event policy sees lasting motion,
// it asks the person detector at most every `checkInterval`, confirms a person whose box matches the
// watched area, and after `confirmWindow` without a person either confirms lasting motion or discards
// the candidate. A value owned by the frame pipeline on the analysis queue.
struct PersonGate {
    static constexpr double kNever = -std::numeric_limits<double>::infinity();
    // Share of a box's surface that must lie inside the area when its centre does not.
    static constexpr double kMinOverlap = 0.2;
    // Least confidence of a box that counts; the detector keeps its body boxes from the same value, so
    // that nothing it reports is silently ignored here.
    static constexpr double kMinConfidence = 0.5;

    struct Outcome {
        enum class Type { confirmed, pending, discarded };
        Type type = Type::pending;
        std::optional<EventKind> kind; // present only when confirmed

        static Outcome confirmed(EventKind kind) { return { Type::confirmed, kind }; }
        static Outcome pending() { return { Type::pending, std::nullopt }; }
        static Outcome discarded() { return { Type::discarded, std::nullopt }; }
        bool operator==(const Outcome&) const = default;
    };

    using PeopleSource = std::function<std::vector<PersonBox>()>;

    double confirmWindow = 2.0;
    double checkInterval = 0.2;
    double minConfidence = kMinConfidence;
    double persistFraction = 0.7;
    std::optional<double> candidateSince;
    int checks = 0; // detector consultations over the gate's life
    std::vector<PersonBox> lastMatch;
    double lastCheck = kNever;
    int frames = 0;
    int persistentFrames = 0;

    bool isOpen() const { return candidateSince.has_value(); }
    // Starts a candidate; the first step consults the detector whatever `checkInterval` is.
    void open(double at);
    void cancel() { candidateSince.reset(); }

    // One frame of the open candidate. `minArea` is the sensitivity threshold, `roi` the watched area in
    // current-frame coordinates, `people` the detector for this frame (called at most once).
    Outcome step(
        double now, double compensatedLevel, double minArea, const ROI& roi, const PeopleSource& people);

    // A box counts when it is confident enough and its centre, or a fifth of its surface, is in the area.
    bool matches(const PersonBox& box, const ROI& roi) const;

    bool operator==(const PersonGate&) const = default;
};

} // namespace vardel
