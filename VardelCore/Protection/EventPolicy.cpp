#include "EventPolicy.h"

#include "Settings.h"

#include <algorithm>

namespace vardel {

EventPolicy::EventPolicy(int sensitivity_, int triggerFrames_, double cooldown_, double warmup_)
    : sensitivity(sensitivity_)
    , triggerFrames(triggerFrames_)
    , cooldown(cooldown_)
    , warmup(warmup_)
{
}

EventPolicy::EventPolicy(const Settings& settings)
    : EventPolicy(settings.sensitivity, settings.triggerFrames, static_cast<double>(settings.cooldown), 4.0)
{
}

double EventPolicy::minArea(int sensitivity) { return (11 - std::clamp(sensitivity, 1, 10)) / 100.0; }

bool EventPolicy::count(double level, double now, std::optional<double> armedSince)
{
    if (!armedSince || now - *armedSince < warmup || now < suppressedUntil) {
        hits = 0;
        return false;
    }
    hits = level >= minArea() ? hits + 1 : 0;
    return true;
}

bool EventPolicy::evaluate(double level, double now, std::optional<double> armedSince)
{
    if (!isCandidate(level, now, armedSince))
        return false;
    commit(now);
    return true;
}

bool EventPolicy::isCandidate(double level, double now, std::optional<double> armedSince)
{
    if (!count(level, now, armedSince))
        return false;
    // A run shorter than one frame would let a still picture raise events, so one frame is the least.
    return hits >= std::max(1, triggerFrames) && now - lastEvent >= cooldown;
}

void EventPolicy::commit(double now)
{
    lastEvent = now;
    hits = 0;
}

void EventPolicy::holdOff(double until)
{
    suppressedUntil = std::max(suppressedUntil, until);
    hits = 0;
}

void EventPolicy::releaseHoldOff()
{
    suppressedUntil = kNever;
    hits = 0;
}

} // namespace vardel
