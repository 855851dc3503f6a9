#include "ModeMachine.h"

#include "AlertSink.h"
#include "CameraControl.h"
#include "Captions.h"
#include "Clock.h"
#include "L.h"
#include "PowerControl.h"
#include "RecordingControl.h"

namespace vardel {

namespace {
    // How long leaving protection waits for the last clip before the "protection off" text goes out.
    constexpr double kStopTextTimeout = 20.0;
}

ModeMachine::ModeMachine(CameraControl& camera, PowerControl& power, AlertSink& alerts,
    Blocker monitorBlocker, RecordingControl* recorder, Now now)
    : m_camera(camera)
    , m_power(power)
    , m_alerts(alerts)
    , m_monitorBlocker(std::move(monitorBlocker))
    , m_recorder(recorder)
    , m_now(std::move(now))
{
    if (!m_now)
        m_now = [] { return SystemClock().now(); };
}

Mode ModeMachine::apply(bool previewOn, bool monitoringOn)
{
    m_lastRefusal.reset();

    Mode target;
    if (monitoringOn && m_mode != Mode::monitor) {
        auto reason = m_monitorBlocker ? m_monitorBlocker() : std::nullopt;
        if (reason) {
            m_lastRefusal = L::t(K::ntNotStarted, { *reason });
            target = previewOn ? Mode::preview : m_mode;
        } else {
            target = Mode::monitor;
        }
    } else if (monitoringOn) {
        target = Mode::monitor;
    } else {
        target = previewOn ? Mode::preview : Mode::off;
    }

    if (target == m_mode)
        return m_mode;

    if (m_mode == Mode::off)
        m_camera.startCamera();

    if (target == Mode::monitor) {
        m_power.preventSleep();
        if (m_recorder)
            m_recorder->startRecording();
        m_monitorSince = m_now();
        m_alerts.enqueueText(protectionText(true));
    }

    if (m_mode == Mode::monitor) {
        if (m_recorder)
            m_recorder->stopRecording();
        m_power.allowSleep();
        m_monitorSince.reset();
        std::string text = protectionText(false);
        if (m_recorder) {
            // The "off" text follows the last clip, or goes out after the time-out if the recorder hangs.
            std::weak_ptr<int> alive = m_alive;
            AlertSink* alerts = &m_alerts;
            m_recorder->whenIdle(kStopTextTimeout, [alive, alerts, text] {
                if (alive.lock())
                    alerts->enqueueText(text);
            });
        } else {
            m_alerts.enqueueText(text);
        }
    }

    if (target == Mode::off)
        m_camera.stopCamera();

    m_mode = target;
    return m_mode;
}

std::string ModeMachine::protectionText(bool started) const
{
    return Captions::brandAndTime(started ? K::tgStarted : K::tgStopped, m_now());
}

} // namespace vardel
