#include "FormatReclaimer.h"

#include <cmath>

namespace vardel {

bool FormatReclaimer::update(double aspect, double now)
{
    // A size without height says nothing about the format; leave the episode as it is.
    if (!std::isfinite(aspect))
        return false;
    if (std::abs(aspect - 16.0 / 9.0) <= 0.01) {
        if (attempts > 0) {
            status = Status::recovered;
            recoveredAt = now;
        } else if (status != Status::recovered) {
            status = Status::normal;
        }
        offSince.reset();
        attempts = 0;
        return false;
    }
    if (status == Status::gaveUp)
        return false;
    if (status == Status::recovered && recoveredAt && now - *recoveredAt < conflictWindow) {
        status = Status::gaveUp;
        return false;
    }
    if (!offSince)
        offSince = now;
    if (attempts < maxAttempts) {
        status = Status::waiting;
        if (now - *offSince < waitBeforeAttempt || now - lastAttempt < attemptSpacing)
            return false;
        ++attempts;
        lastAttempt = now;
        return true;
    }
    if (now - lastAttempt >= attemptSpacing)
        status = Status::gaveUp;
    return false;
}

} // namespace vardel
