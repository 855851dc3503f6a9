#pragma once

#include <optional>
#include <string>

namespace vardel {

// Watches the camera's frame flow: a stall (no frame for `stallTimeout`), an interruption by another
// application, and when to reopen the camera. Fed by the application model on the main thread
// (capture events and the periodic tick); times are passed in, never read from a clock. A failure is
// reported as new once and cleared by the next frame. Failure texts are in the current language.
class HealthMonitor {
public:
    struct Report {
        std::optional<std::string> failure; // status line text
        bool shouldRestart = false;
        bool newlyFailed = false;
        bool operator==(const Report&) const = default;
    };

    static constexpr double kFreshWindow = 3.0;
    // An interruption by another application is waited out this long before the camera is reopened.
    static constexpr double kInterruptionRestart = 15.0;

    explicit HealthMonitor(double stallTimeout = 15.0);

    void cameraDidStart(double at);
    void cameraDidStop();
    // True when this frame ends a reported failure (the camera is back).
    bool frameArrived(double at);
    void interruptionBegan(double at);
    void interruptionEnded(double at);

    bool isFresh(double now) const;
    Report check(double now);
    std::string currentStallText() const;

    double stallTimeout() const { return m_stallTimeout; }
    std::optional<double> cameraStarted() const { return m_cameraStarted; }
    double lastFrame() const { return m_lastFrame; }
    std::optional<double> interruptedSince() const { return m_interruptedSince; }
    std::optional<double> failureSince() const { return m_failureSince; }

private:
    double m_stallTimeout;
    std::optional<double> m_cameraStarted;
    double m_lastFrame = 0;
    std::optional<double> m_interruptedSince;
    std::optional<double> m_failureSince;
};

} // namespace vardel
