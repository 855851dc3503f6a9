#include "PersonGate.h"

namespace vardel {

void PersonGate::open(double at)
{
    candidateSince = at;
    frames = 0;
    persistentFrames = 0;
    lastCheck = kNever;
}

bool PersonGate::matches(const PersonBox& box, const ROI& roi) const
{
    // Written so that a NaN confidence never counts.
    if (!(box.confidence >= minConfidence))
        return false;
    return box.overlaps(roi, kMinOverlap);
}

PersonGate::Outcome PersonGate::step(
    double now, double compensatedLevel, double minArea, const ROI& roi, const PeopleSource& people)
{
    if (!candidateSince)
        return Outcome::discarded();

    ++frames;
    if (compensatedLevel >= minArea)
        ++persistentFrames;

    if (now - lastCheck >= checkInterval) {
        lastCheck = now;
        ++checks;
        std::vector<PersonBox> kept;
        if (people) {
            for (const PersonBox& box : people())
                if (matches(box, roi))
                    kept.push_back(box);
        }
        if (!kept.empty()) {
            lastMatch = std::move(kept);
            candidateSince.reset();
            return Outcome::confirmed(EventKind::person);
        }
    }

    if (now - *candidateSince < confirmWindow)
        return Outcome::pending();

    candidateSince.reset();
    lastMatch.clear();
    const double share = static_cast<double>(persistentFrames) / (frames > 1 ? frames : 1);
    if (share >= persistFraction)
        return Outcome::confirmed(EventKind::unconfirmedMotion);
    return Outcome::discarded();
}

} // namespace vardel
