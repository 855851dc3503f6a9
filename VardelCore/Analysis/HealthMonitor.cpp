#include "HealthMonitor.h"

#include "Captions.h"
#include "L.h"

#include <algorithm>

namespace vardel {

namespace {

    // A failure line with the time it began, as hour and minute in the current language.
    std::string failureText(K key, double since)
    {
        const AppLanguage language = L::language();
        const std::string time = Captions::hourMinute(since, language);
        return L::t(key, language, { time });
    }

} // namespace

HealthMonitor::HealthMonitor(double stallTimeout)
    : m_stallTimeout(stallTimeout)
{
}

void HealthMonitor::cameraDidStart(double at) { m_cameraStarted = at; }

void HealthMonitor::cameraDidStop()
{
    m_cameraStarted.reset();
    m_interruptedSince.reset();
    m_failureSince.reset();
}

bool HealthMonitor::frameArrived(double at)
{
    m_lastFrame = at;
    m_interruptedSince.reset();
    if (!m_failureSince)
        return false;
    m_failureSince.reset();
    return true;
}

void HealthMonitor::interruptionBegan(double at)
{
    if (!m_interruptedSince)
        m_interruptedSince = at;
}

void HealthMonitor::interruptionEnded(double at)
{
    m_interruptedSince.reset();
    m_cameraStarted = at;
}

bool HealthMonitor::isFresh(double now) const
{
    return m_cameraStarted && m_lastFrame > *m_cameraStarted && now - m_lastFrame < kFreshWindow;
}

HealthMonitor::Report HealthMonitor::check(double now)
{
    Report report;
    if (!m_cameraStarted)
        return report;

    if (m_interruptedSince) {
        const double since = *m_interruptedSince;
        if (!m_failureSince) {
            m_failureSince = since;
            report.newlyFailed = true;
        }
        report.failure = failureText(K::failInterrupted, since);
        report.shouldRestart = now - since > kInterruptionRestart;
        return report;
    }

    const double reference = std::max(m_lastFrame, *m_cameraStarted);
    if (now - reference > m_stallTimeout) {
        if (!m_failureSince) {
            m_failureSince = m_lastFrame > 0 ? m_lastFrame : *m_cameraStarted;
            report.newlyFailed = true;
        }
        report.failure = currentStallText();
        report.shouldRestart = true;
        return report;
    }

    if (m_failureSince)
        report.failure = currentStallText();
    return report;
}

std::string HealthMonitor::currentStallText() const
{
    return failureText(K::failNoImage, m_failureSince.value_or(m_lastFrame));
}

} // namespace vardel
