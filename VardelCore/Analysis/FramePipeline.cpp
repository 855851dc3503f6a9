#include "FramePipeline.h"

#include "FrameGeometry.h"

#include <stdexcept>
#include <string>

namespace vardel {

FramePipeline::FramePipeline(const ROI& referenceROI, const EventPolicy& policy, int pixelThreshold)
    : m_detector(referenceROI, pixelThreshold)
    , m_policy(policy)
    , m_referenceROI(referenceROI)
{
}

ROI FramePipeline::currentROI() const
{
    if (m_format.height < 1)
        return m_referenceROI;
    return FrameGeometry::roi(m_referenceROI, m_format.aspect(), FrameGeometry::referenceAspect);
}

void FramePipeline::setReferenceROI(const ROI& roi)
{
    m_referenceROI = roi;
    applyROI();
}

ROI FramePipeline::setROIFromCurrentFrame(const ROI& current)
{
    m_referenceROI = FrameGeometry::referenceROI(current, m_format.aspect(), FrameGeometry::referenceAspect);
    applyROI();
    return m_referenceROI;
}

void FramePipeline::setMode(DetectionMode mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    m_gate.cancel();
    m_policy.resetStreak();
}

FramePipeline::Result FramePipeline::process(std::span<const std::uint8_t> luma, int width, int height,
    double now, std::optional<double> armedSince, const PeopleSource& people)
{
    // Checked here, before the format guard moves, so that a bad call leaves no trace.
    if (luma.size() != MotionDetector::thumbnailSize)
        throw std::invalid_argument("thumbnail of " + std::to_string(luma.size()) + " bytes");
    if (width < 1 || height < 1)
        throw std::invalid_argument("frame of " + std::to_string(width) + "x" + std::to_string(height));

    Result result;
    const auto change = m_format.observe(width, height);
    result.formatChanged = change == FrameFormatGuard::Change::changed;
    if (change != FrameFormatGuard::Change::same) {
        applyROI();
        m_detector.reset();
        m_gate.cancel();
        m_settlingSince = now;
        m_quietSince.reset();
        m_policy.holdOff(now + m_settleMax);
    }

    result.level = m_detector.process(luma);

    if (m_settlingSince) {
        settle(luma, result.level, now);
        return result;
    }
    if (!result.level)
        return result;

    if (m_mode == DetectionMode::motion) {
        if (m_policy.evaluate(*result.level, now, armedSince))
            result.kind = EventKind::motion;
        return result;
    }
    return personStep(std::move(result), now, armedSince, people);
}

void FramePipeline::settle(std::span<const std::uint8_t> luma, const std::optional<double>& level, double now)
{
    // Re-seed on every settling frame: the next level then measures the change between two consecutive
    // frames rather than against a background taken while the camera was still adjusting.
    m_detector.reset();
    m_detector.process(luma);

    if (level && *level < m_policy.minArea()) {
        if (!m_quietSince)
            m_quietSince = now;
    } else {
        m_quietSince.reset();
    }
    const bool quietEnough = m_quietSince && now - *m_quietSince >= m_settleQuiet;
    const double elapsed = now - *m_settlingSince;
    if ((elapsed >= m_settleMin && quietEnough) || elapsed >= m_settleMax) {
        m_settlingSince.reset();
        m_quietSince.reset();
        m_policy.releaseHoldOff();
    }
}

FramePipeline::Result FramePipeline::personStep(
    Result result, double now, std::optional<double> armedSince, const PeopleSource& people)
{
    if (!armedSince) {
        m_gate.cancel();
        return result;
    }
    if (!m_gate.isOpen()) {
        if (!m_policy.isCandidate(*result.level, now, armedSince))
            return result;
        m_gate.open(now);
    }

    const auto outcome
        = m_gate.step(now, m_detector.lightCompensatedLevel(), m_policy.minArea(), currentROI(), people);
    switch (outcome.type) {
    case PersonGate::Outcome::Type::pending:
        break;
    case PersonGate::Outcome::Type::confirmed:
        m_policy.commit(now);
        result.kind = outcome.kind;
        if (outcome.kind == EventKind::person)
            result.people = m_gate.lastMatch;
        break;
    case PersonGate::Outcome::Type::discarded:
        ++m_discardedCandidates;
        m_policy.resetStreak();
        break;
    }
    return result;
}

} // namespace vardel
