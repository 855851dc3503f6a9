#pragma once

#include "Mode.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vardel {

class AlertSink;
class CameraControl;
class PowerControl;
class RecordingControl;

// The only code that switches between camera off, live preview and protection. Every switch drives the
// camera, power, recording and alert interfaces in a fixed order and queues the protection on/off texts.
// Main thread only. The recorder's idle callback must arrive on the main thread too; it is ignored once
// the machine is gone. The interfaces must outlive the machine.
class ModeMachine {
public:
    using Blocker = std::function<std::optional<std::string>()>;
    using Now = std::function<double()>;

    ModeMachine(CameraControl& camera, PowerControl& power, AlertSink& alerts, Blocker monitorBlocker,
        RecordingControl* recorder, Now now = {});

    // Switches to the mode the two requests ask for (protection wins over preview) and returns the
    // resulting mode. A start of protection that the blocker refuses sets `lastRefusal`.
    Mode apply(bool previewOn, bool monitoringOn);

    Mode mode() const { return m_mode; }
    std::optional<double> monitorSince() const { return m_monitorSince; }
    const std::optional<std::string>& lastRefusal() const { return m_lastRefusal; }

private:
    std::string protectionText(bool started) const;

    CameraControl& m_camera;
    PowerControl& m_power;
    AlertSink& m_alerts;
    Blocker m_monitorBlocker;
    RecordingControl* m_recorder;
    Now m_now;

    Mode m_mode = Mode::off;
    std::optional<double> m_monitorSince;
    std::optional<std::string> m_lastRefusal;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace vardel
