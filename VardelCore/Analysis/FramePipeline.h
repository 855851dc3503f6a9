#pragma once

#include "DetectionMode.h"
#include "EventKind.h"
#include "EventPolicy.h"
#include "FrameFormatGuard.h"
#include "MotionDetector.h"
#include "PersonBox.h"
#include "PersonGate.h"
#include "ROI.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vardel {

// Turns one analysed frame (its 96 × 54 luma thumbnail, its size and time) into at most one detection
// event: notices format changes, waits for the picture to settle after a start or a format change,
// measures motion in the watched area and, in person mode, confirms candidates through the person gate
// with a detector callback. Pure logic, owned by the analyzer and called on its queue only.
class FramePipeline {
public:
    struct Result {
        std::optional<double> level; // absent when the detector seeded its background
        std::optional<EventKind> kind;
        bool formatChanged = false; // this frame's size differs from the previous frame's
        std::vector<PersonBox> people; // the confirmed people of a person event

        bool event() const { return kind.has_value(); }
        bool operator==(const Result&) const = default;
    };

    using PeopleSource = PersonGate::PeopleSource;

    FramePipeline(const ROI& referenceROI, const EventPolicy& policy, int pixelThreshold);

    // `luma`: the thumbnail (exactly MotionDetector::thumbnailSize bytes); `width` × `height`: the full
    // camera frame; `armedSince`: when monitoring was armed, absent while only previewing; `people`:
    // the detector for this frame, called at most once and only in person mode.
    // Throws std::invalid_argument, changing nothing, for a thumbnail of another size or a frame
    // without pixels.
    Result process(std::span<const std::uint8_t> luma, int width, int height, double now,
        std::optional<double> armedSince, const PeopleSource& people);

    // Stores an area drawn on the current frame (converted to reference coordinates) and returns it.
    ROI setROIFromCurrentFrame(const ROI& current);
    const ROI& referenceROI() const { return m_referenceROI; }
    void setReferenceROI(const ROI& roi);
    // The watched area mapped onto the current format.
    ROI currentROI() const;

    DetectionMode mode() const { return m_mode; }
    // A different mode closes an open person candidate and clears the policy's streak.
    void setMode(DetectionMode mode);

    const EventPolicy& policy() const { return m_policy; }
    void setPolicy(const EventPolicy& policy) { m_policy = policy; }
    void setPixelThreshold(int threshold) { m_detector.setPixelThreshold(static_cast<float>(threshold)); }

    const PersonGate& gate() const { return m_gate; }
    void setGate(const PersonGate& gate) { m_gate = gate; }
    const FrameFormatGuard& format() const { return m_format; }
    const MotionDetector& detector() const { return m_detector; }

    double settleMin() const { return m_settleMin; }
    double settleQuiet() const { return m_settleQuiet; }
    double settleMax() const { return m_settleMax; }
    bool isSettling() const { return m_settlingSince.has_value(); }
    int discardedCandidates() const { return m_discardedCandidates; }

    // The camera (re)started: the next frame counts as the first one and starts settling.
    void cameraDidStart() { m_format = FrameFormatGuard {}; }

private:
    void applyROI() { m_detector.setRoi(currentROI()); }
    void settle(std::span<const std::uint8_t> luma, const std::optional<double>& level, double now);
    Result personStep(
        Result result, double now, std::optional<double> armedSince, const PeopleSource& people);

    MotionDetector m_detector;
    EventPolicy m_policy;
    double m_settleMin = 3.0;
    double m_settleQuiet = 1.0;
    double m_settleMax = 10.0;
    FrameFormatGuard m_format;
    std::optional<double> m_settlingSince;
    std::optional<double> m_quietSince;
    DetectionMode m_mode = DetectionMode::motion;
    PersonGate m_gate;
    int m_discardedCandidates = 0;
    ROI m_referenceROI;
};

} // namespace vardel
